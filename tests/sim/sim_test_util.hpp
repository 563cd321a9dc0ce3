#pragma once

// Frame and scan helpers shared by the virtual instrument tests.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/virtual_instrument.hpp"

namespace kestrova::sim::testing {

inline std::string frame(int qualifier, int code, int argument) {
  return {static_cast<char>(0xFF), static_cast<char>(qualifier), static_cast<char>(code),
          static_cast<char>(argument), static_cast<char>(0xF0)};
}

inline std::vector<int> bytes_of(const std::string& reply) {
  std::vector<int> out;
  for (char c : reply)
    out.push_back(static_cast<std::uint8_t>(c));
  return out;
}

// Value i of a block reply (high byte first).
inline int block_value(const std::string& reply, int i) {
  return static_cast<std::uint8_t>(reply[2 * i]) * 256 +
         static_cast<std::uint8_t>(reply[2 * i + 1]);
}

// One full scan (blocks 0, 32, 64, 96) distributed to channels; -1 for a bad block.
inline std::array<int, kChannelCount> scan(VirtualInstrument& vi) {
  std::array<int, kChannelCount> values{};
  values.fill(-1);
  for (int k = 0; k <= 96; k += 32) {
    const std::string reply = vi.feed(frame(0, kCodeReadBlock, k));
    if (reply.size() != kBlockBytes) continue;
    for (int i = 0; i < kBlockValues; ++i)
      values[k + i / 3 + 128 * (i % 3)] = block_value(reply, i);
  }
  return values;
}

// Writes a channel setting with the write frame of its bank; returns the echo or -1.
inline int write_setting(VirtualInstrument& vi, int channel, int setting) {
  const int q = channel < 128 ? kQualifierWriteBank0 : kQualifierWriteBank1;
  const int r = channel < 128 ? channel : channel - 128;
  const std::string reply = vi.feed(frame(q, r, setting));
  return reply.size() == 1 ? static_cast<std::uint8_t>(reply[0]) : -1;
}

// The calibration's step rule for one channel with fresh value v (band 1638..1843, settings
// ordered by power x 8 + gain, power 1..7). Returns true when the channel is finished; otherwise
// the setting to write is left in power / gain.
inline bool step_rule(int v, int& power, int& gain, int& dir) {
  constexpr int kLow = 1638;
  constexpr int kHigh = 1843;
  const bool low = v < kLow;
  const bool high = v > kHigh;
  if (!low && !high) return true;
  if (low && dir != -1) {
    dir = 1;
    if (gain < 7) {
      ++gain;
    } else if (power < 7) {
      gain = 0;
      ++power;
    } else {
      return true;
    }
  } else if (high && dir != 1) {
    dir = -1;
    if (gain > 0) {
      --gain;
    } else if (power > 1) {
      gain = 7;
      --power;
    } else {
      return true;
    }
  } else if (low) {
    return true; // stepped down past the band
  } else {
    dir = 0; // overshot after a step up: written unchanged, steps down next time
  }
  return false;
}

// The recalibration of flagged channels: the step rule from each channel's present setting,
// one scan per iteration, until every flagged channel is finished. Returns the iterations used.
inline int recalibrate(VirtualInstrument& vi, const std::vector<int>& channels,
                       int max_iterations = 80) {
  std::array<int, kChannelCount> dir{};
  std::vector<int> open = channels;
  int iterations = 0;
  for (; !open.empty() && iterations < max_iterations; ++iterations) {
    const auto v = scan(vi);
    std::vector<int> still_open;
    for (int c : open) {
      int power = vi.channel_setting(c) & 31;
      int gain = vi.channel_setting(c) >> 5;
      if (step_rule(v[c], power, gain, dir[c])) continue;
      write_setting(vi, c, setting_byte(power, gain));
      still_open.push_back(c);
    }
    open = still_open;
  }
  return iterations;
}

// The fast calibration's step rule as the program runs it (band 1638..1843, settings ordered by
// power x 8 + gain, power 1..7): every beam in a well is stepped until it lies in the band, at
// the end of the range, or just below the band after a step down. Returns the iterations used.
inline int calibrate(VirtualInstrument& vi, const PlateMap& plate, int max_iterations = 60) {
  std::array<int, kChannelCount> power{}, gain{}, dir{};
  std::array<bool, kChannelCount> done{};
  for (int c = 0; c < kChannelCount; ++c) {
    done[c] = plate.well_of_channel[c] < 0;
    power[c] = done[c] ? 0 : 2;
    gain[c] = done[c] ? 0 : 3;
    write_setting(vi, c, setting_byte(power[c], gain[c]));
  }
  int iterations = 0;
  for (bool writes = true; writes && iterations < max_iterations; ++iterations) {
    writes = false;
    const auto v = scan(vi);
    for (int c = 0; c < kChannelCount; ++c) {
      if (done[c]) continue;
      done[c] = step_rule(v[c], power[c], gain[c], dir[c]);
      if (!done[c]) {
        write_setting(vi, c, setting_byte(power[c], gain[c]));
        writes = true;
      }
    }
  }
  return iterations;
}

} // namespace kestrova::sim::testing
