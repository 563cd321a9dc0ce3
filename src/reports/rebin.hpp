#pragma once

// Re-binning of activity rows into report bins of R minutes.

#include <cstdint>

#include "reports/report_data.hpp"

namespace kestrova::reports {

// The report bin for a recording whose last time is `last_time`: the requested bin (at least
// 1); a recording shorter than the bin gets a bin of its own length up to 30 minutes, else its
// length rounded down to a multiple of 15. Never below 1.
int adjust_report_bin(int requested_bin, std::int32_t last_time);

// True when some row step is more than twice the step before it (both non-zero): the rows are
// then assigned to bins by their times instead of being spread over equal durations.
bool rows_irregular(const ActivityRows& rows);

// The outcome of a re-binning: one row per bin of `bin` minutes (times bin, 2 x bin, ...), the
// last partial bin scaled up (from 75 % on) or dropped, and the last time as it then stands.
struct RebinResult {
  ActivityRows rows; // the bins used: last_time / bin rounded of them
  std::int32_t last_time = 0;
  bool ok() const { return rows.size() > 0; }
};

// Re-bins `rows` (last time = their largest time) into bins of `bin` minutes. Regular rows
// spread every count evenly over its row's duration in steps of 0.02 minutes; irregular rows go
// whole into the bin of their time. The steps are computed once and replayed for all channels
// at a time, with the same floating-point sums for every channel as a channel-by-channel loop.
RebinResult rebin_rows(const ActivityRows& rows, int bin);

} // namespace kestrova::reports
