#include "reports/report_bin.hpp"

#include "reports/report_settings.hpp"

namespace kestrova::reports {

const std::vector<int>& bin_size_entries() {
  static const std::vector<int> kEntries = {15, 30, 60, 120, 180, 240, 360, 480, 720, 1440};
  return kEntries;
}

ReportBinChoice read_report_bin_choice(const std::filesystem::path& data_folder) {
  ReportBinChoice choice;
  const ReportSettingsRead read =
      read_report_settings_file(data_folder / kReportSettingsFile, current_list_separator());
  if (read.fields_read < 2) return choice;
  choice.user_defined = read.user_defined == 1;
  choice.bin = read.settings.Bin;
  return choice;
}

} // namespace kestrova::reports
