#pragma once

// "Generate...": the whole report of one acquisition folder, from its activity file to the
// report file (and workbook) in that folder. The report window, the end of an acquisition and
// the kestrova-report tool all call generate_report.

#include <filesystem>
#include <optional>
#include <string>

#include "common/cancellation.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"
#include "reports/report_data.hpp"
#include "reports/report_settings.hpp"

namespace kestrova::reports {

// One report to make.
struct GenerateRequest {
  std::filesystem::path acquisition_folder; // holds counts.bin, setup.dat, groups, histo*.bin
  std::filesystem::path data_folder;        // holds the plate format files and scratch space
  ReportSettings settings;                  // Bin, spacer, statistics boxes
  ReportFileType file_type = ReportFileType::Csv;
  ReportLayout layout = ReportLayout::Rows;
  std::string basal_choice;                // the basal acquisition entry, "" or "-" for none
  std::optional<std::string> setting_text; // kept from a re-analysis; else read from setup.dat
  std::optional<ActivityRows> rows;        // counts of a re-analysis; else read from counts.bin
  bool autoreport = false; // automatic report: nothing is opened and no workbook made
  bool open_result = true; // open the report (or workbook) with the desktop afterwards
};

// The side effects a report needs.
struct ReportServices {
  common::Dialogs& dialogs;
  common::Shell& shell;
  common::EventPump& pump;
  common::Clock& clock;
  // Read between the blocks of the work; once set, the report ends before any file changes.
  const common::Cancellation* cancel = nullptr;
};

// How a report ended.
struct GenerateResult {
  bool ok = false;
  std::filesystem::path report;   // the CSV or text report written
  std::filesystem::path workbook; // the workbook, for the workbook type
  int bin = 0;                    // the bin used (shown back in the bin-size list)
  bool cancelled = false;         // stopped through ReportServices::cancel, nothing written
  // The file to hand to the operator: the workbook when one was made, else the report.
  const std::filesystem::path& result() const { return workbook.empty() ? report : workbook; }
};

// Runs the whole report: inputs, bin adjustment, re-binning, basal normalisation, statistics,
// the report file, the copy under the acquisition's title, the workbook conversion and the
// opening. Every failure is shown through `services.dialogs` and leaves no report file behind.
// A workbook is made before the report is written, so a stop during its conversion (or at any
// earlier block) leaves every file of the folder as it was.
GenerateResult generate_report(const GenerateRequest& request, ReportServices& services);

} // namespace kestrova::reports
