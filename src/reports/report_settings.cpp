#include "reports/report_settings.hpp"

#include "common/number_format.hpp"
#include "store/record_file.hpp"

namespace kestrova::reports {

namespace {

// Keeps `value` when it lies in [low, high], else `fallback`.
int in_range(int value, int low, int high, int fallback) {
  return value >= low && value <= high ? value : fallback;
}

} // namespace

std::string current_list_separator() {
  return std::string(1, common::list_separator_for(common::locale_decimal_separator()));
}

ReportSettings default_report_settings(std::string_view list_separator) {
  ReportSettings s;
  s.spacer = std::string(list_separator);
  return s;
}

void reset_report_settings(ReportSettings& settings) {
  settings = default_report_settings(current_list_separator());
}

std::string report_settings_text(const ReportSettings& s, int user_defined) {
  store::RecordWriter w;
  w.record({std::string(kReportSettingsHeader)});
  w.record({user_defined, s.Bin, s.filetype, s.spacer, s.stdError, s.stdDev, s.n, s.out_format,
            s.organism, s.method, s.threshold, s.rawexport});
  return w.text();
}

std::optional<std::string> separator_problem(std::string_view separator) {
  if (separator.empty()) return "The report separator cannot be empty";
  if (separator.find_first_of("\r\n") != std::string_view::npos)
    return "The report separator cannot hold a line break";
  if (separator.find('"') != std::string_view::npos)
    return "The report separator cannot hold a double quote (\")";
  return std::nullopt;
}

ReportSettingsRead read_report_settings_file(const std::filesystem::path& file,
                                             std::string_view list_separator) {
  ReportSettingsRead result;
  result.settings = default_report_settings(list_separator);
  auto reader = store::RecordReader::open(file);
  if (!reader) return result;
  result.opened = true;
  if (!reader->read_string()) return result;

  const ReportSettings d = default_report_settings(list_separator);
  ReportSettings& s = result.settings;
  // Each value in file order; reading stops at the first one that fails.
  auto next_int = [&](int& field, int low, int high, int fallback) {
    if (reader->failed()) return;
    if (auto v = reader->read_integer()) {
      field = in_range(*v, low, high, fallback);
      ++result.fields_read;
    }
  };
  next_int(result.user_defined, -32768, 32767, 0);
  next_int(s.Bin, 2, 1440, d.Bin);
  next_int(s.filetype, 0, 1, d.filetype);
  if (!reader->failed()) {
    if (auto v = reader->read_string()) {
      // A separator that would make every report unreadable takes the default, like a number
      // out of its range.
      s.spacer = separator_problem(*v) ? d.spacer : *v;
      ++result.fields_read;
    }
  }
  next_int(s.stdError, 0, 1, d.stdError);
  next_int(s.stdDev, 0, 1, d.stdDev);
  next_int(s.n, 0, 1, d.n);
  next_int(s.out_format, 0, 3, d.out_format);
  next_int(s.organism, 0, 3, d.organism);
  next_int(s.method, 0, 2, d.method);
  next_int(s.threshold, 5, 30, d.threshold);
  next_int(s.rawexport, 0, 1, d.rawexport);
  return result;
}

bool save_report_settings(const std::filesystem::path& data_folder, const ReportSettings& settings,
                          int user_defined, common::Dialogs& dialogs) {
  if (store::save_file_atomically(data_folder / kReportSettingsFile,
                                  report_settings_text(settings, user_defined)))
    return true;
  dialogs.message(kSettingsWriteError);
  return false;
}

int load_report_settings(const std::filesystem::path& data_folder, int flag,
                         ReportSettings& settings, common::Dialogs& dialogs) {
  const std::filesystem::path file = data_folder / kReportSettingsFile;
  if (flag != 0 && store::FileExists(file)) {
    ReportSettingsRead read = read_report_settings_file(file, current_list_separator());
    if (read.complete()) {
      settings = read.settings;
      return read.user_defined;
    }
    dialogs.message(kSettingsLoadError);
    reset_report_settings(settings);
    save_report_settings(data_folder, settings, 0, dialogs);
    return 0;
  }
  reset_report_settings(settings);
  save_report_settings(data_folder, settings, flag, dialogs);
  return 0;
}

} // namespace kestrova::reports
