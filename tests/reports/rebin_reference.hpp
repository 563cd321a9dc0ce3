#pragma once

// The report re-binning as the literal channel-by-channel loop, kept as the reference that the
// fast re-binning is compared with (tests) and measured against (benchmarks).

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/rounding.hpp"
#include "reports/rebin.hpp"

namespace kestrova::reports {

// The re-binning written as the channel-by-channel loop it replaces; the fast version must give
// the very same rows.
inline RebinResult reference_rebin(const ActivityRows& rows, int bin) {
  RebinResult result;
  const std::size_t n = rows.size();
  std::int32_t last = rows.last_time();
  const int bins = common::round_to_int(static_cast<double>(last) / bin);
  if (n == 0 || bins <= 0) return result;
  const bool irregular = rows_irregular(rows);
  const std::size_t slots = std::max<std::size_t>(bins, n) + 1;
  std::vector<std::vector<double>> total(kChannels, std::vector<double>(slots, 0.0));
  std::vector<double> temperature(slots, 0.0);
  for (int c = 0; c < kChannels; ++c) {
    if (!irregular) {
      const double d = static_cast<double>(last) / static_cast<double>(n);
      std::size_t rp = 0;
      int bp = 0;
      double row_clock = 0, bin_clock = 0;
      while (bp <= bins && rp < n) {
        total[c][bp] += static_cast<double>(rows.row(rp)[c]) / (d * 50);
        if (rows.temperature[rp] >= 1) temperature[bp] = rows.temperature[rp];
        if (row_clock >= d) {
          ++rp;
          row_clock = 0;
        }
        if (bin_clock >= bin) {
          ++bp;
          bin_clock = 0;
        }
        row_clock += 0.02;
        bin_clock += 0.02;
      }
    } else {
      std::int64_t bp = 0;
      for (std::size_t r = 0; r < n; ++r) {
        if (bp > last) break;
        total[c][bp] += rows.row(r)[c];
        if (rows.temperature[r] >= 1) temperature[bp] = rows.temperature[r];
        const std::int64_t whole =
            static_cast<std::int64_t>(std::floor(double(rows.time[r]) / bin));
        if (whole > bp || rows.time[r] - whole * bin >= bin) ++bp;
      }
    }
  }
  ActivityRows out;
  out.resize(bins);
  for (int i = 0; i < bins; ++i) {
    out.time[i] = bin * (i + 1);
    out.temperature[i] = common::round_to_int(temperature[i]);
    for (int c = 0; c < kChannels; ++c)
      out.row(i)[c] = common::round_to_int(total[c][i]);
  }
  const double f = (last - std::floor(double(last) / bin) * bin) * 100 / bin;
  if (f >= 75 && f < 100) {
    for (int c = 0; c < kChannels; ++c)
      out.row(bins - 1)[c] = common::round_to_int(out.row(bins - 1)[c] * (1 + (100 - f) / 100));
    last = bins * bin;
  } else if (f > 0 && f < 75) {
    last = last / bin * bin;
  }
  const int used = common::round_to_int(static_cast<double>(last) / bin);
  if (used <= 0) return result;
  out.time.resize(used);
  out.temperature.resize(used);
  out.counts.resize(static_cast<std::size_t>(used) * kChannels);
  result.rows = out;
  result.last_time = last;
  return result;
}

} // namespace kestrova::reports
