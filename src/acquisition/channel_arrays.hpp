#pragma once

#include <cstdint>
#include <vector>

#include "store/channel_grid.hpp"

namespace kestrova::acquisition {

using store::kChannelSlots;
using store::kMaxBufferLength;

// Running minimum a channel starts from (the middle of the 12-bit range, rounded down).
inline constexpr std::int16_t kRunningMinStart = 2040;
// Display limits each channel starts with.
inline constexpr std::int16_t kDisplayLimitLow = 50;
inline constexpr std::int16_t kDisplayLimitHigh = 75;

// The per-channel acquisition arrays prepared at start-up and on every activation of the
// main window while no acquisition runs: the raw buffer and the running envelope values.
struct ChannelArrays {
  int buffer_length = 0;         // samples per channel (setup RT_Buffer)
  std::vector<std::int16_t> raw; // kChannelSlots * buffer_length + 1 positions
  std::vector<std::int16_t> running_min;
  std::vector<std::int16_t> running_max;
  std::vector<double> running_mean;
  std::vector<std::int16_t> latest_counts;
  std::vector<std::int16_t> display_low;
  std::vector<std::int16_t> display_high;

  // Allocates for `samples` per channel (1 to kMaxBufferLength) and clears: running minimum 2040,
  // every other running value 0.
  void reset(int samples);
  // Puts the two display limits of every channel to 50 and 75.
  void set_display_defaults();
};

} // namespace kestrova::acquisition
