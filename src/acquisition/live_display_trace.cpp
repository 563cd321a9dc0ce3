#include "acquisition/live_display_trace.hpp"

#include <algorithm>

namespace kestrova::acquisition {

namespace {

constexpr common::Rgb kTraceRed{255, 0, 0};
constexpr common::Rgb kBandBlue{0, 0, 255};
constexpr common::Rgb kBandGreen{0, 255, 0};
constexpr common::Rgb kWhite{255, 255, 255};

int sample(std::span<const std::int16_t> table, int position, int channel) {
  const std::size_t i = static_cast<std::size_t>(position) * store::kChannelSlots + channel;
  return i < table.size() ? table[i] : 0;
}

} // namespace

int ChannelTrace::zoomed(int value) const {
  if (zoom_ == 0) return value;
  return (value - baselines_[static_cast<std::size_t>(channel_)]) * zoom_ + kZoomBaselineY;
}

// The trace and band segment from position i - 1 to i.
void ChannelTrace::segment(const DisplayData& data, int i, bool incremental) {
  int y0 = zoomed(sample(data.raw, i - 1, channel_));
  int y1 = zoomed(sample(data.raw, i, channel_));
  if (incremental && zoom_ > 0) {
    y0 = std::max(y0, 6);
    y1 = std::max(y1, 6);
  }
  canvas_.line(i - 1, y0, i, y1, kTraceRed);

  const int b0 = sample(data.lower_band, i - 1, channel_);
  const int b1 = sample(data.lower_band, i, channel_);
  const common::Rgb colour = band_green_ ? kBandGreen : kBandBlue;
  if (zoom_ == 0) {
    if (b1 >= (incremental ? 1 : 6)) canvas_.line(i - 1, b0, i, b1, colour);
    return;
  }
  const int z0 = zoomed(b0);
  const int z1 = zoomed(b1);
  if (z0 > 5 && z1 > 5) canvas_.line(i - 1, z0, i, z1, colour);
}

void ChannelTrace::full_redraw(const DisplayData& data) {
  canvas_.clear(kWhite);
  canvas_.set_world(0, 2100, data.buffer_length + 20, 0);
  canvas_.set_draw_width(1);
  if (channel_ < 0 || channel_ >= store::kChannelCount) return;
  const int c = data.cursor;
  for (int i = 1; i < data.buffer_length; ++i) {
    if (i >= c - 1 && i <= c + 1) continue;
    segment(data, i, false);
  }
}

void ChannelTrace::incremental(const DisplayData& data) {
  const int c = data.cursor;
  if (c < 3) return;
  canvas_.set_draw_width(1);
  if (c >= 6 && channel_ >= 0 && channel_ < store::kChannelCount)
    for (int i = c - 3; i <= c - 1; ++i)
      segment(data, i, true);
  canvas_.box(c, 21, c + 6, 2048, kWhite, true);
}

void ChannelTrace::take_baselines(const DisplayData& data) {
  for (int ch = 0; ch < store::kChannelSlots; ++ch)
    baselines_[static_cast<std::size_t>(ch)] =
        static_cast<std::int16_t>(sample(data.raw, data.cursor, ch));
}

void ChannelTrace::zoom_in(const DisplayData& data) {
  zoom_ = std::min(kMaxTraceZoom, zoom_ + 1);
  take_baselines(data);
}

void ChannelTrace::zoom_out(const DisplayData& data) {
  zoom_ = std::max(0, zoom_ - 1);
  if (zoom_ != 0) take_baselines(data);
}

} // namespace kestrova::acquisition
