#include "reports/report_bin.hpp"

#include "store/record_file.hpp"

namespace kestrova::reports {

const std::vector<int>& bin_size_entries() {
  static const std::vector<int> kEntries = {15, 30, 60, 120, 180, 240, 360, 480, 720, 1440};
  return kEntries;
}

ReportBinChoice read_report_bin_choice(const std::filesystem::path& data_folder) {
  ReportBinChoice choice;
  auto reader = store::RecordReader::open(data_folder / kReportSettingsFile);
  if (!reader) return choice;
  std::string header;
  int user_defined = 0;
  int bin = 0;
  if (!reader->read(header, user_defined, bin)) return choice;
  choice.user_defined = user_defined == 1;
  if (bin >= 2 && bin <= 1440) choice.bin = bin;
  return choice;
}

} // namespace kestrova::reports
