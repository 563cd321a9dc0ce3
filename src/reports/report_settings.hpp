#pragma once

// The report settings and their file repoconf.dat in the data folder: how a report is cut into
// bins, which statistics it holds, its layout, file type and separator, and where the raw-data
// re-analysis starts from.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/dialogs.hpp"

namespace kestrova::reports {

// File of the report settings in the data folder.
inline constexpr const char* kReportSettingsFile = "repoconf.dat";
inline constexpr std::string_view kReportSettingsHeader =
    "<User_defined>, <Bin>, <filetype>, <spacer>, <stdError>, <stdDev>, <n>, <out_format>, "
    "<organism>, <method>, <threshold>, <rawexport>";
inline constexpr std::string_view kSettingsLoadError =
    "Error loading repoconf.dat -> Using Default values";
inline constexpr std::string_view kSettingsWriteError =
    "Error Writing Report Configuration (repoconf.dat)";

// Report file types. Workbook exists only as a choice of the report window and the tools; the
// file stores CSV or text.
enum class ReportFileType { Csv = 0, Text = 1, Workbook = 2 };

// Layouts of the per-well sections (index of Option_output).
enum class ReportLayout { Rows = 0, List = 1, WArray = 2, ChArray = 3, Histogram = 4 };

// The settings of every report. User_defined is not kept here: it goes with the file.
struct ReportSettings {
  int Bin = 30;       // minutes, 2..1440
  int filetype = 0;   // 0 CSV, 1 text (2 workbook is never stored)
  std::string spacer; // field separator; the list separator by default
  int stdError = 1;   // write the standard error section
  int stdDev = 0;     // write the standard deviation section
  int n = 1;          // write the number-of-wells section
  int out_format = 0; // layout 0..3 (4, the histogram layout, is never stored)
  int organism = 0;   // organism preset 0..3
  int method = 1;     // detection method 0..2
  int threshold = 18; // signal-to-noise ratio x 10, 5..30
  int rawexport = 0;  // export raw detection flags during re-analysis

  friend bool operator==(const ReportSettings&, const ReportSettings&) = default;
};

// The list separator of the current locale (see common::list_separator_for), as text.
std::string current_list_separator();

// The defaults, with `list_separator` as the spacer.
ReportSettings default_report_settings(std::string_view list_separator);

// Sets every field to its default, the spacer to the current list separator.
void reset_report_settings(ReportSettings& settings);

// The bytes of repoconf.dat: the header record, then the twelve values.
std::string report_settings_text(const ReportSettings& settings, int user_defined);

// Why `separator` would make a report unreadable (empty, holding a line break or a double quote,
// which quotes the labels), as a message; nullopt for a usable separator.
std::optional<std::string> separator_problem(std::string_view separator);

// What a reading of repoconf.dat found: the values in file order up to the first that could not
// be read (`fields_read` of 12), each numeric field out of its range replaced by its default.
struct ReportSettingsRead {
  bool opened = false;
  int fields_read = 0;
  int user_defined = 0;
  ReportSettings settings;
  bool complete() const { return opened && fields_read == 12; }
};

// Reads repoconf.dat without showing anything or writing; `list_separator` fills a spacer that
// was not read.
ReportSettingsRead read_report_settings_file(const std::filesystem::path& file,
                                             std::string_view list_separator);

// Writes repoconf.dat of `data_folder` (atomically) with `user_defined`; on failure shows
// kSettingsWriteError and returns false.
bool save_report_settings(const std::filesystem::path& data_folder, const ReportSettings& settings,
                          int user_defined, common::Dialogs& dialogs);

// With a repoconf.dat and `flag` not 0: reads it into `settings` (each out-of-range field takes
// its default) and returns its User_defined. Otherwise applies the defaults, writes the file
// with User_defined = flag and returns 0. A damaged file shows kSettingsLoadError, applies the
// defaults, rewrites the file with User_defined 0 and returns 0.
int load_report_settings(const std::filesystem::path& data_folder, int flag,
                         ReportSettings& settings, common::Dialogs& dialogs);

} // namespace kestrova::reports
