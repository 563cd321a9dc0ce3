#pragma once

// The group table computed literally, in two passes over the records: the largest time stamp
// first, then the walk over the records with the current column and bin end. Tests compare the
// single-pass table against it.

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "browser/group_table.hpp"
#include "common/rounding.hpp"

namespace kestrova::browser::testing {

inline GroupActivity literal_group_activity(std::span<const char> counts,
                                            const ChannelGroups& groups, int bin,
                                            bool time_resolved) {
  constexpr std::size_t kRecord = acquisition::kCountsRecordBytes;
  const std::size_t records = counts.size() / kRecord;
  const auto decode = [&](std::size_t r) {
    std::array<std::byte, kRecord> bytes;
    std::memcpy(bytes.data(), counts.data() + r * kRecord, kRecord);
    return acquisition::decode_counts_record(bytes);
  };
  // Record times made monotonic across midnight.
  std::vector<std::int64_t> times(records);
  std::int64_t day = 0;
  for (std::size_t r = 0; r < records; ++r) {
    times[r] = day * 1440 + decode(r).minutes;
    if (r > 0 && times[r] < times[r - 1] - 1000) {
      ++day;
      times[r] += 1440;
    }
  }
  std::int64_t last = 0;
  for (std::size_t r = 0; r < records; ++r)
    last = r == 0 ? times[r] : std::max(last, times[r]);
  const int n = time_resolved ? std::max(1, common::round_to_int(double(last) / bin) + 1) : 1;
  std::vector<double> sums(static_cast<std::size_t>(n) * kGroupRows, 0);
  int c = 1;
  std::int64_t end = bin;
  bool reached = false;
  for (std::size_t r = 0; r < records; ++r) {
    const auto record = decode(r);
    for (int k = 0; k < store::kChannelCount; ++k) {
      const int g = groups[static_cast<std::size_t>(k)];
      const int row = g >= 0 && g < store::kChannelCount ? g : kFreeRow;
      sums[static_cast<std::size_t>(c - 1) * kGroupRows + static_cast<std::size_t>(row)] +=
          record.slots[static_cast<std::size_t>(k)];
    }
    if (!time_resolved) continue;
    const bool at_last = times[r] == last && !reached;
    if (times[r] >= last) reached = true;
    if (times[r] >= end - 1 || at_last) {
      if (c < n) ++c;
      end += bin;
    }
  }
  const auto per_group = channels_per_group(groups);
  GroupActivity t;
  t.reset(n);
  t.bin = bin;
  double largest = 0;
  for (int m = 1; m <= n; ++m) {
    for (int g = 0; g < store::kChannelCount; ++g) {
      const int channels = per_group[static_cast<std::size_t>(g)];
      if (channels == 0) continue;
      const double average =
          sums[static_cast<std::size_t>(m - 1) * kGroupRows + static_cast<std::size_t>(g)] /
          channels;
      largest = std::max(largest, average);
      t.cell(g, m) = common::round_half_even(average);
    }
    t.cell(kFreeRow, m) =
        sums[static_cast<std::size_t>(m - 1) * kGroupRows + static_cast<std::size_t>(kFreeRow)];
  }
  t.maximum = common::round_to_int(largest);
  return t;
}

} // namespace kestrova::browser::testing
