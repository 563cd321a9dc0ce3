#include "reports/rebin.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/rounding.hpp"

namespace kestrova::reports {

namespace {

// Steps of the regular spreading that share one row and one bin.
struct Segment {
  std::int32_t row;
  std::int32_t bin;
  std::int64_t steps;
};

// The bin totals (bins 0..bins-1, 384 channels each) and bin temperatures.
struct Totals {
  std::vector<double> sum;
  std::vector<double> temperature;
  Totals(std::size_t bins) : sum(bins * kChannels, 0.0), temperature(bins, 0.0) {}
  double* bin(std::size_t b) { return sum.data() + b * kChannels; }
};

Totals spread_regular(const ActivityRows& rows, int bin, std::int32_t last_time, int bins) {
  const std::size_t n = rows.size();
  const double duration = static_cast<double>(last_time) / static_cast<double>(n);
  Totals totals(static_cast<std::size_t>(bins) + 1);
  // Walk the two clocks once: which (row, bin) each 0.02-minute step lands in.
  std::vector<Segment> segments;
  std::size_t rp = 0;
  int bp = 0;
  double row_clock = 0.0;
  double bin_clock = 0.0;
  while (bp <= bins && rp < n) {
    if (!segments.empty() && segments.back().row == static_cast<std::int32_t>(rp) &&
        segments.back().bin == bp)
      ++segments.back().steps;
    else
      segments.push_back({static_cast<std::int32_t>(rp), bp, 1});
    if (rows.temperature[rp] >= 1) totals.temperature[bp] = rows.temperature[rp];
    if (row_clock >= duration) {
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
  // Replay the steps for all channels: each channel adds the same share the same number of
  // times in the same order, so its sum is bit for bit the one of a loop per channel.
  const double divisor = duration * 50;
  double share[kChannels];
  for (const Segment& s : segments) {
    const std::int32_t* counts = rows.row(static_cast<std::size_t>(s.row));
    for (int c = 0; c < kChannels; ++c)
      share[c] = static_cast<double>(counts[c]) / divisor;
    double* sum = totals.bin(static_cast<std::size_t>(s.bin));
    for (std::int64_t k = 0; k < s.steps; ++k)
      for (int c = 0; c < kChannels; ++c)
        sum[c] += share[c];
  }
  return totals;
}

Totals assign_irregular(const ActivityRows& rows, int bin, std::int32_t last_time, int bins) {
  const std::size_t n = rows.size();
  Totals totals(std::max<std::size_t>(static_cast<std::size_t>(bins), n) + 1);
  std::int64_t bp = 0;
  for (std::size_t r = 0; r < n && bp <= last_time; ++r) {
    const std::int32_t* counts = rows.row(r);
    double* sum = totals.bin(static_cast<std::size_t>(bp));
    for (int c = 0; c < kChannels; ++c)
      sum[c] += counts[c];
    if (rows.temperature[r] >= 1) totals.temperature[bp] = rows.temperature[r];
    const std::int64_t t = rows.time[r];
    const std::int64_t whole = static_cast<std::int64_t>(std::floor(static_cast<double>(t) / bin));
    if (whole > bp || t - whole * bin >= bin) ++bp;
  }
  return totals;
}

} // namespace

int adjust_report_bin(int requested_bin, std::int32_t last_time) {
  int bin = std::max(requested_bin, 1);
  if (last_time < bin) bin = last_time <= 30 ? last_time : last_time / 15 * 15;
  return std::max(bin, 1);
}

bool rows_irregular(const ActivityRows& rows) {
  if (rows.size() < 2) return false;
  std::int64_t previous = static_cast<std::int64_t>(rows.time[1]) - rows.time[0];
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (rows.time[r] < rows.time[r - 1]) continue;
    const std::int64_t d = static_cast<std::int64_t>(rows.time[r]) - rows.time[r - 1];
    if (d > 2 * previous && d != 0 && previous != 0) return true;
    previous = d;
  }
  return false;
}

RebinResult rebin_rows(const ActivityRows& rows, int bin) {
  RebinResult result;
  if (rows.size() == 0 || bin < 1) return result;
  std::int32_t last_time = rows.last_time();
  const int bins = common::round_to_int(static_cast<double>(last_time) / bin);
  if (bins <= 0) return result;
  Totals totals = rows_irregular(rows) ? assign_irregular(rows, bin, last_time, bins)
                                       : spread_regular(rows, bin, last_time, bins);

  ActivityRows out;
  out.resize(static_cast<std::size_t>(bins));
  for (int i = 0; i < bins; ++i) {
    out.time[i] = bin * (i + 1);
    const double* sum = totals.bin(static_cast<std::size_t>(i));
    std::int32_t* counts = out.row(static_cast<std::size_t>(i));
    for (int c = 0; c < kChannels; ++c)
      counts[c] = common::round_to_int(sum[c]);
    out.temperature[i] = common::round_to_int(totals.temperature[i]);
  }

  const std::int64_t whole = last_time / bin;
  const double part = static_cast<double>(last_time - whole * bin) * 100 / bin;
  if (part >= 75 && part < 100) {
    const double factor = 1 + (100 - part) / 100;
    std::int32_t* counts = out.row(static_cast<std::size_t>(bins - 1));
    for (int c = 0; c < kChannels; ++c)
      counts[c] = common::round_to_int(counts[c] * factor);
    last_time = bins * bin;
  } else if (part > 0 && part < 75) {
    last_time = static_cast<std::int32_t>(whole * bin);
  }
  const int used = common::round_to_int(static_cast<double>(last_time) / bin);
  if (used <= 0) return result;
  out.time.resize(static_cast<std::size_t>(used));
  out.temperature.resize(static_cast<std::size_t>(used));
  out.counts.resize(static_cast<std::size_t>(used) * kChannels);
  result.rows = std::move(out);
  result.last_time = last_time;
  return result;
}

} // namespace kestrova::reports
