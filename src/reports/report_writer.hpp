#pragma once

// The report file: its text for every layout, its name in the acquisition folder and the copy
// under the acquisition's title.

#include <filesystem>
#include <optional>
#include <string>

#include "common/clock.hpp"
#include "reports/report_data.hpp"
#include "reports/report_settings.hpp"
#include "reports/report_statistics.hpp"

namespace kestrova::reports {

// What the report file shows besides the numbers.
struct ReportHeading {
  std::string date;         // the date-time text of the report
  std::string folder;       // the acquisition folder
  std::string title;        // the acquisition's title
  std::string setting;      // the setting text
  std::string basal_choice; // written with the basal flag
};

// How the report is written.
struct ReportFormat {
  ReportLayout layout = ReportLayout::Rows;
  std::string separator = ",";
  char decimal_separator = '.';
  bool std_error = true;
  bool std_dev = false;
  bool wells_per_group = true;
};

// The date-time text of a report: the locale's short date and long time ("%x %X"), the date
// alone at exactly midnight.
std::string report_date_text(const common::CivilTime& time);

// The whole text of a report file; every line ends with CR LF.
std::string report_file_text(const ReportNumbers& numbers, const AcquisitionLayout& layout,
                             const ReportHeading& heading, const ReportFormat& format);

// Saves `text` as "report" + extension in `folder`, or "report_1", "report_2", ... when that name
// cannot be written; each try is atomic (temporary file, then rename), so a failed or
// interrupted write never leaves a partial report. The path written, or nullopt.
std::optional<std::filesystem::path> save_report_file(const std::filesystem::path& folder,
                                                      std::string_view extension,
                                                      std::string_view text);

// A title made safe as a file name: spaces become "_", path separators and control characters
// "_"; empty for a title that is empty or only dots.
std::string title_file_name(std::string_view title);

} // namespace kestrova::reports
