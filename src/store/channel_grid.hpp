#pragma once

// The instrument's beam grid: 384 microbeams (channels) in 24 beam columns of 16 beam rows,
// channel = column * 16 + row. Per-channel arrays keep one slot more (385): slot 384 is never
// measured and carries the temperature in activity records.

namespace kestrova::store {

inline constexpr int kBeamRows = 16;
inline constexpr int kBeamColumns = 24;
inline constexpr int kChannelCount = kBeamRows * kBeamColumns; // 384
inline constexpr int kChannelSlots = kChannelCount + 1;        // 385

// Longest real-time buffer in samples per channel: the setup stores it as a 16-bit integer, so
// a damaged file cannot make the program reserve gigabytes.
inline constexpr int kMaxBufferLength = 32767;

// Channel number of a beam (column 0..23, row 0..15).
constexpr int channel_of_beam(int column, int row) { return column * kBeamRows + row; }
constexpr int beam_column(int channel) { return channel / kBeamRows; }
constexpr int beam_row(int channel) { return channel % kBeamRows; }

} // namespace kestrova::store
