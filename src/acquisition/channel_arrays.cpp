#include "acquisition/channel_arrays.hpp"

#include <algorithm>

namespace kestrova::acquisition {

void ChannelArrays::reset(int samples) {
  buffer_length = std::clamp(samples, 1, kMaxBufferLength);
  raw.assign(static_cast<std::size_t>(kChannelSlots) * buffer_length + 1, 0);
  running_min.assign(kChannelSlots, kRunningMinStart);
  running_max.assign(kChannelSlots, 0);
  running_mean.assign(kChannelSlots, 0.0);
  latest_counts.assign(kChannelSlots, 0);
}

void ChannelArrays::set_display_defaults() {
  display_low.assign(kChannelSlots, kDisplayLimitLow);
  display_high.assign(kChannelSlots, kDisplayLimitHigh);
}

} // namespace kestrova::acquisition
