#pragma once

// The channel trace of the live display (`Picreal`): the raw samples of one channel as an
// oscilloscope sweep, with the lower detection band over it. Between full redraws the trace is
// updated a few segments at a time behind the sweep cursor, with a white eraser ahead of it.

#include <array>
#include <cstdint>

#include "acquisition/cycle_interfaces.hpp"
#include "common/canvas.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::acquisition {

inline constexpr int kMaxTraceZoom = 10;
// Where a sample equal to its channel's baseline is drawn at a zoom above 0.
inline constexpr int kZoomBaselineY = 1750;

class ChannelTrace {
public:
  explicit ChannelTrace(common::Canvas& canvas) : canvas_(canvas) { baselines_.fill(0); }

  // The channel traced; -1 for none (nothing is drawn).
  void set_channel(int channel) { channel_ = channel; }
  int channel() const { return channel_; }
  int zoom() const { return zoom_; }
  bool band_green() const { return band_green_; }
  std::int16_t baseline(int channel) const { return baselines_[static_cast<std::size_t>(channel)]; }

  // Clears and draws the whole trace and band, leaving a gap around the sweep cursor.
  void full_redraw(const DisplayData& data);
  // The segments just behind the cursor and the eraser ahead of it.
  void incremental(const DisplayData& data);
  // "zoom+" / "zoom-": one step within 0..10; a zoom above 0 takes every channel's sample at the
  // cursor as its baseline. The caller redraws.
  void zoom_in(const DisplayData& data);
  void zoom_out(const DisplayData& data);
  // Every channel's baseline becomes its sample at the sweep cursor.
  void take_baselines(const DisplayData& data);
  // The band is drawn blue, or green after an odd number of flips.
  void flip_band_colour() { band_green_ = !band_green_; }

private:
  // The drawn height of a raw or band value at the current zoom.
  int zoomed(int value) const;
  void segment(const DisplayData& data, int i, bool incremental);

  common::Canvas& canvas_;
  int channel_ = -1;
  int zoom_ = 0;
  bool band_green_ = false;
  std::array<std::int16_t, store::kChannelSlots> baselines_{};
};

} // namespace kestrova::acquisition
