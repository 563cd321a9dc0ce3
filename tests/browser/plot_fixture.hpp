#pragma once

// Small recorded acquisitions for the plot tests: counts.bin records and real-time files.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "browser/group_table.hpp"

namespace kestrova::browser::testing {

// counts.bin of `records` records: record r has time `minutes(r)` and channel k counts
// `count(r, k)`.
std::string counts_bytes(int records, const std::function<std::int32_t(int)>& minutes,
                         const std::function<std::int16_t(int, int)>& count);
void write_counts(const std::filesystem::path& folder, int records,
                  const std::function<std::int32_t(int)>& minutes,
                  const std::function<std::int16_t(int, int)>& count);

// Real-time files "0.bin" ... holding `blocks` blocks of `positions` x 385 samples in all (11 per
// file); sample (block b, position p, channel c) is `sample(b, p, c)`.
void write_realtime(const std::filesystem::path& folder, int blocks,
                    const std::function<std::int16_t(int, int, int)>& sample, int positions = 501);

// Groups: channel k in group k / 16 (one beam column per group) for the first `used` groups,
// the other channels free.
ChannelGroups column_groups(int used);

} // namespace kestrova::browser::testing
