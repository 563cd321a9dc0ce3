#pragma once

// Internal to the detection kernels: the kernel of one instruction set, built from the lane
// routines. Each detection_kernel_<set>.cpp includes it once, after choosing its set.

#include <algorithm>
#include <memory>

#include "acquisition/detection_kernel.hpp"
#include "acquisition/detection_lanes.hpp"

namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

// True when the group is a full run of neighbouring channels, side by side in every row.
template <int C> bool contiguous(const int* channels, int used) {
  if (used != Lanes<C>::kLanes || Lanes<C>::kLanes % 8 != 0) return false;
  for (int j = 1; j < used; ++j)
    if (channels[j] != channels[0] + j) return false;
  return true;
}

// Lanes beyond `used` repeat the first channel, so every lane holds a real signal.
template <int C>
void load_lanes(Lanes<C>& w, const RawBlock& block, const int* channels, int used) {
  const int positions = std::min(block.positions(), kS);
  int k = 0;
  if constexpr (Lanes<C>::kLanes % 8 == 0) {
    if (contiguous<C>(channels, used))
      for (; k < positions; ++k) {
        const std::int16_t* p = &block.at(channels[0], k);
        for (int i = 0; i < C; i += 8 / kWidth, p += 8)
          load8(p, &w.x[k].c[i]);
      }
  }
  if (used == 1) {
    for (; k < positions; ++k)
      w.x[k] = splat<C>(block.at(channels[0], k));
  }
  if (k < positions) {
    int lane_channel[Lanes<C>::kLanes];
    for (int j = 0; j < Lanes<C>::kLanes; ++j)
      lane_channel[j] = channels[j < used ? j : 0];
    if constexpr (Lanes<C>::kLanes % 8 == 0) {
      // Gathered into a row of 16-bit samples first and widened eight at a time: writing the
      // lanes of a vector one by one costs a store and a reload each.
      alignas(64) std::int16_t gathered[Lanes<C>::kLanes];
      for (; k < positions; ++k) {
        const std::int16_t* row = &block.at(0, k);
        for (int j = 0; j < Lanes<C>::kLanes; ++j)
          gathered[j] = row[lane_channel[j]];
        for (int i = 0, j = 0; i < C; i += 8 / kWidth, j += 8)
          load8(gathered + j, &w.x[k].c[i]);
      }
    } else {
      for (; k < positions; ++k) {
        const std::int16_t* row = &block.at(0, k);
        for (int j = 0; j < Lanes<C>::kLanes; ++j)
          w.x[k].set(j, row[lane_channel[j]]);
      }
    }
  }
  for (k = std::max(positions, 0); k < kS; ++k)
    w.x[k] = splat<C>(0.0);
}

// Writes back the clipped samples. Rows where clipping lowered nothing hold what was read and
// are left alone, which spares writing most of the block.
template <int C>
void store_lanes(const Lanes<C>& w, const RawBlock& block, const int* channels, int used) {
  const int positions = std::min(block.positions(), kS);
  bool rows = false;
  if constexpr (Lanes<C>::kLanes % 8 == 0) rows = contiguous<C>(channels, used);
  for (int k = 0; k < positions; ++k) {
    if (!w.lowered[k]) continue;
    if (rows) {
      std::int16_t* p = &block.at(channels[0], k);
      for (int i = 0; i < C; i += 8 / kWidth, p += 8)
        store8(&w.x[k].c[i], p);
    } else {
      for (int j = 0; j < used; ++j)
        block.at(channels[j], k) = static_cast<std::int16_t>(w.x[k][j]);
    }
  }
}

// Publishes what the signal views read: marks of every lane, line and flags of the last one.
template <int C> void publish(const Lanes<C>& w, int used, int method, const Published& out) {
  const int last = used - 1;
  const std::uint64_t lanes = used >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << used) - 1;
  for (int u = 0; u < kS; ++u) {
    const std::uint64_t hit = w.hit[u].bits();
    out.flags[u] = (hit >> last) & 1 ? '1' : '0';
    if (out.lane_hits) (*out.lane_hits)[u] = hit & lanes;
    if (method != 2 && (hit & lanes) != 0) out.marks[u] = -1;
  }
  if (method == 2) {
    motility_line(w, last, out.line.data());
  } else {
    for (int u = 0; u < kS; ++u)
      out.line[u] = static_cast<std::int16_t>(w.line[u][last]);
  }
}

// Loads, counts, publishes and stores back one set of lanes.
template <int C>
void count_set(Lanes<C>& w, const RawBlock& block, const int* channels, int used, double threshold,
               int method, const Published& out) {
  load_lanes(w, block, channels, used);
  if (count_lanes(w, threshold, method)) {
    publish(w, used, method, out);
  } else {
    out.flags.fill('0');
    if (out.lane_hits) out.lane_hits->fill(0);
  }
  store_lanes(w, block, channels, used);
}

// Groups of channels in GroupVectors vectors.
template <int GroupVectors> class Kernel final : public LaneKernel {
public:
  int group_lanes() const override { return Lanes<GroupVectors>::kLanes; }

  void count_group(const RawBlock& block, const int* channels, int used, double threshold,
                   int method, const Published& out, std::int16_t* counts) override {
    count_set(lanes_, block, channels, used, threshold, method, out);
    for (int j = 0; j < used; ++j)
      counts[j] = static_cast<std::int16_t>(lanes_.count[j]);
  }

private:
  Lanes<GroupVectors> lanes_;
};

} // namespace kestrova::acquisition::detail::KESTROVA_LANES_NS
