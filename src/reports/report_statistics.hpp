#pragma once

// The statistics step of a report: per bin the rows, temperature, channel, well and group
// values, and for body-bend recordings the interval histograms.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/dialogs.hpp"
#include "reports/report_data.hpp"
#include "reports/report_settings.hpp"

namespace kestrova::reports {

inline constexpr int kHistogramClasses = 50; // interval classes 0..49 kept per bin
inline constexpr int kReportedClasses = 31;  // classes 0..30 written

// The numbers of one report. Bins are 1..bins; index 0 is unused.
struct ReportNumbers {
  int bins = 1;
  int bin = 30;               // R, minutes
  std::int32_t last_time = 0; // T
  bool basal = false;
  int wells = 0;  // greatest well + 1
  int groups = 0; // largest group + 1

  std::vector<char> has_data;
  std::vector<std::int64_t> rows_in_bin;
  std::vector<std::int64_t> temperature;   // tenths of a degree
  std::vector<std::int64_t> channel_value; // (bins + 1) x 384
  std::vector<std::int64_t> well_value;    // (bins + 1) x wells
  std::vector<std::int64_t> group_mean;    // (bins + 1) x groups
  std::vector<std::int64_t> group_deviation;
  std::vector<std::int64_t> wells_in_group; // per group

  // Body-bend layout only: (bins + 1) x 50 classes x (384 channels | wells | groups).
  std::vector<std::int64_t> channel_histogram;
  std::vector<std::int64_t> well_histogram;
  std::vector<std::int64_t> group_histogram;
  double sample_period = 0; // seconds per raw sample, of the last histogram file read

  std::int64_t channel(int b, int c) const { return channel_value[b * kChannels + c]; }
  std::int64_t well(int b, int w) const { return well_value[b * wells + w]; }
  std::int64_t mean(int b, int g) const { return group_mean[b * groups + g]; }
  std::int64_t deviation(int b, int g) const { return group_deviation[b * groups + g]; }
  std::int64_t well_hist(int b, int k, int w) const {
    return well_histogram[(static_cast<std::size_t>(b) * kHistogramClasses + k) * wells + w];
  }
  std::int64_t group_hist(int b, int k, int g) const {
    return group_histogram[(static_cast<std::size_t>(b) * kHistogramClasses + k) * groups + g];
  }
  // Bin time of bin b: the smaller of R x b and T.
  std::int64_t bin_time(int b) const {
    return std::min<std::int64_t>(static_cast<std::int64_t>(bin) * b, last_time);
  }
};

// Runs the statistics step on re-binned rows for bins of `bin` minutes up to `last_time`. For
// the histogram layout it reads the folder's histo*.bin files; without any it shows
// "Error getting Histogram.bin data" and returns nullopt.
std::optional<ReportNumbers>
compute_report_numbers(const ActivityRows& rows, std::int32_t last_time, int bin, bool basal,
                       const AcquisitionLayout& layout, ReportLayout output,
                       const std::filesystem::path& folder, common::Dialogs& dialogs);

} // namespace kestrova::reports
