#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "reports/report_settings.hpp"

namespace kestrova::reports {

inline constexpr int kDefaultReportBin = 30;

// What the main window's bin-size list and its "User Defined BIN size" item show.
struct ReportBinChoice {
  bool user_defined = false;
  int bin = kDefaultReportBin; // minutes, 2..1440
};

// The fixed entries of combo_minutes, in order.
const std::vector<int>& bin_size_entries();

// Reads the user-defined flag and the bin size from repoconf.dat (second record, first two
// values). A missing or damaged file, or a bin outside 2..1440, gives the defaults for the
// field concerned. Only reads: the report settings code owns writing the file.
ReportBinChoice read_report_bin_choice(const std::filesystem::path& data_folder);

} // namespace kestrova::reports
