#pragma once

// "Report" and "Advanced_calculation" of the browser: what the report window is opened with for
// the current acquisition, read from its folder and from the browser's list.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/dialogs.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kActivityNotFound = "Activity file not Found";

struct ReportOpening {
  std::filesystem::path folder; // `Txt_inputfile`
  std::string caption;          // the acquisition's title
  // `cmbbasal`: "-" (selected), then the project's acquisitions from the list.
  std::vector<std::string> basal;
  // A histo*.bin in the folder: `Option_output(4)` shown and selected; else `Option_output(0)`.
  bool histogram = false;
};

// The acquisition folder name an acquisition line of the list stands for, without station
// suffix: "  > 2021.0316_s2<TAB> ACQ14:05 ..." gives "20210316_1405". Nothing for a line
// without the year, date, "ACQ" hour or ":" minute it is rebuilt from.
std::optional<std::string> basal_name_of_line(std::string_view line);

// The report window's opening for the acquisition in `folder` titled `title`, `lines` being the
// browser list and `selected` its selected line: the basal choices are the acquisitions of the
// project the selected line belongs to (from the project line, "+" first, above it, up to the
// next project line), once per list line. Nothing when no acquisition is current (empty
// folder); "Activity file not Found" and nothing when the folder has no counts.bin.
std::optional<ReportOpening> report_opening(const std::filesystem::path& folder,
                                            std::string_view title,
                                            std::span<const std::string> lines, int selected,
                                            common::Dialogs& dialogs);

} // namespace kestrova::browser
