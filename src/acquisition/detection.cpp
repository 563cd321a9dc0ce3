#include "acquisition/detection.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "acquisition/detection_lanes.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

using detail::kS;
using detail::Lanes;

constexpr int kGroupChunks = 4; // eight channels per group
constexpr int kSingleChunks = 1;

// True when the group is a full run of neighbouring channels, side by side in every row.
template <int C> bool contiguous(const int* channels, int used) {
  if (used != Lanes<C>::kLanes || C % 4 != 0) return false;
  for (int j = 1; j < used; ++j)
    if (channels[j] != channels[0] + j) return false;
  return true;
}

#if defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
// Neighbouring samples of a row into the lanes, eight at a time, and back.
template <int C> void load_row(const std::int16_t* p, detail::D<C>& out) {
  for (int g = 0; g < C; g += 4, p += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
    out.c[g] = _mm_cvtepi32_pd(lo);
    out.c[g + 1] = _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0x0E));
    out.c[g + 2] = _mm_cvtepi32_pd(hi);
    out.c[g + 3] = _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0x0E));
  }
}
template <int C> void store_row(const detail::D<C>& in, std::int16_t* p) {
  for (int g = 0; g < C; g += 4, p += 8) {
    const __m128i a = _mm_unpacklo_epi64(_mm_cvttpd_epi32(in.c[g]), _mm_cvttpd_epi32(in.c[g + 1]));
    const __m128i b =
        _mm_unpacklo_epi64(_mm_cvttpd_epi32(in.c[g + 2]), _mm_cvttpd_epi32(in.c[g + 3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(a, b));
  }
}
#endif

// Lanes beyond `used` repeat the first channel, so every lane holds a real signal.
template <int C>
void load_lanes(Lanes<C>& w, const RawBlock& block, const int* channels, int used) {
  const int positions = std::min(block.positions(), kS);
  int lane_channel[Lanes<C>::kLanes];
  for (int j = 0; j < Lanes<C>::kLanes; ++j)
    lane_channel[j] = channels[j < used ? j : 0];
  int k = 0;
#if defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
  if constexpr (C % 4 == 0) {
    if (contiguous<C>(channels, used))
      for (; k < positions; ++k)
        load_row<C>(&block.at(channels[0], k), w.x[k]);
  }
#endif
  for (; k < positions; ++k) {
    const std::int16_t* row = &block.at(0, k);
    for (int j = 0; j < Lanes<C>::kLanes; ++j)
      w.x[k].set(j, row[lane_channel[j]]);
  }
  for (k = std::max(positions, 0); k < kS; ++k)
    w.x[k] = detail::splat<C>(0.0);
}

template <int C>
void store_lanes(const Lanes<C>& w, const RawBlock& block, const int* channels, int used) {
  const int positions = std::min(block.positions(), kS);
  int k = 0;
#if defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
  if constexpr (C % 4 == 0) {
    if (contiguous<C>(channels, used))
      for (; k < positions; ++k)
        store_row<C>(w.x[k], &block.at(channels[0], k));
  }
#endif
  for (; k < positions; ++k)
    for (int j = 0; j < used; ++j)
      block.at(channels[j], k) = static_cast<std::int16_t>(w.x[k][j]);
}

// Publishes what the signal views read: marks of every lane, line and flags of the last one.
template <int C>
void publish(const Lanes<C>& w, int used, int method, std::array<std::int16_t, kTraceLength>& line,
             std::array<std::int16_t, kTraceLength>& marks, std::array<char, kS>& flags) {
  const int last = used - 1;
  for (int u = 0; u < kS; ++u)
    flags[u] = w.hit[u][last] ? '1' : '0';
  if (method != 2) {
    for (int u = 0; u < kS; ++u) {
      bool any = false;
      for (int j = 0; j < used; ++j)
        any = any || w.hit[u][j];
      if (any) marks[u] = -1;
    }
  }
  if (method == 2) {
    detail::motility_line(w, last, line.data());
  } else {
    for (int u = 0; u < kS; ++u)
      line[u] = static_cast<std::int16_t>(w.line[u][last]);
  }
}

} // namespace

struct ActivityDetector::Workspace {
  Lanes<kSingleChunks> single;
  Lanes<kGroupChunks> group;
};

ActivityDetector::ActivityDetector() : work_(std::make_unique<Workspace>()) { flags_.fill('0'); }

ActivityDetector::~ActivityDetector() = default;

std::int16_t ActivityDetector::detect_activity(RawBlock block, int channel, double threshold,
                                               std::int16_t method, std::int32_t export_flag,
                                               const std::string& export_folder,
                                               std::int32_t time) {
  if (channel < 0 || channel >= kChannelSlots) return 0;
  Lanes<kSingleChunks>& w = work_->single;
  load_lanes(w, block, &channel, 1);
  if (detail::count_lanes(w, threshold, method)) {
    publish(w, 1, method, line_, marks_, flags_);
  } else {
    flags_.fill('0');
  }
  store_lanes(w, block, &channel, 1);
  if (export_flag == 1) append_raw_export(export_folder, channel, time, flags_);
  return static_cast<std::int16_t>(w.count[0]);
}

void ActivityDetector::detect_channels(RawBlock block, std::span<const int> channels,
                                       double threshold, std::int16_t method,
                                       std::span<std::int16_t> counts) {
  detect_channels(block, channels, threshold, method, counts, {});
}

void ActivityDetector::detect_channels(
    RawBlock block, std::span<const int> channels, double threshold, std::int16_t method,
    std::span<std::int16_t> counts,
    std::span<std::array<std::int16_t, kTraceLength>> channel_marks) {
  Lanes<kGroupChunks>& w = work_->group;
  constexpr int kLanes = Lanes<kGroupChunks>::kLanes;
  std::size_t i = 0;
  while (i < channels.size()) {
    // A group holds distinct channels in range, so each lane sees the block as it would if
    // the channels were counted one after the other.
    int group[kLanes];
    std::size_t index[kLanes];
    int used = 0;
    for (; i < channels.size() && used < kLanes; ++i) {
      const int c = channels[i];
      if (c < 0 || c >= kChannelSlots) {
        if (i < counts.size()) counts[i] = 0;
        if (i < channel_marks.size()) channel_marks[i].fill(0);
        continue;
      }
      if (std::find(group, group + used, c) != group + used) break;
      group[used] = c;
      index[used] = i;
      ++used;
    }
    if (used == 0) continue;
    load_lanes(w, block, group, used);
    const bool counted = detail::count_lanes(w, threshold, method);
    if (counted) {
      publish(w, used, method, line_, marks_, flags_);
    } else {
      flags_.fill('0');
    }
    store_lanes(w, block, group, used);
    for (int j = 0; j < used; ++j) {
      if (index[j] < counts.size()) counts[index[j]] = static_cast<std::int16_t>(w.count[j]);
      if (index[j] >= channel_marks.size()) continue;
      auto& m = channel_marks[index[j]];
      m.fill(0);
      if (counted && method != 2)
        for (int u = 0; u < kS; ++u)
          if (w.hit[u][j]) m[u] = -1;
    }
  }
}

int ActivityDetector::body_bend_histogram(RawBlock block, int channel,
                                          std::span<std::int16_t, kBodyBendBins> histogram,
                                          double threshold) {
  std::fill(histogram.begin(), histogram.end(), std::int16_t{0});
  if (channel < 0 || channel >= kChannelSlots) return 1;
  const int positions = std::min(block.positions(), kS);
  std::int32_t x[kS];
  for (int k = 0; k < kS; ++k)
    x[k] = k < positions ? block.at(channel, k) : 0;

  const std::int64_t h = common::round_to_int(threshold);
  std::int64_t y[kS], e[kS];
  std::int32_t sum = x[1] + x[2] + x[3] + x[4] + x[5];
  for (int a = 3; a <= 496; ++a) {
    y[a] = static_cast<std::int64_t>(detail::round_even(sum / 5.0));
    sum += x[a + 3] - x[a - 2];
  }
  y[0] = y[1] = y[2] = y[3];
  y[497] = y[498] = y[499] = y[496];

  // Noisy signals make these tests unpredictable, so they are written without branches.
  std::int64_t peak = y[0];
  for (int i = 1; i <= 498; ++i) {
    const bool top = (y[i] > y[i - 1]) & (y[i] > y[i + 1]);
    peak = top ? y[i] : peak;
    e[i] = std::max<std::int64_t>((peak - y[i]) - h, 0);
  }
  e[0] = e[1];
  e[499] = e[498];
  int last = 0;
  int counts[kBodyBendBins + kDetectionSamples] = {};
  for (int i = 1; i <= 498; ++i) {
    const bool bend = (e[i] > e[i - 1]) & (e[i] > e[i + 1]);
    const int distance = i - last;
    counts[bend ? distance : 0] += 1;
    last = bend ? i : last;
  }
  for (int d = 2; d <= 49; ++d)
    histogram[d] = static_cast<std::int16_t>(counts[d]);
  return 1;
}

bool append_raw_export(const std::string& folder, int channel, std::int32_t time,
                       std::span<const char, kDetectionSamples> flags) {
  if (folder.empty()) return false;
  const std::filesystem::path file =
      std::filesystem::path(folder) / ("ch" + std::to_string(channel) + ".raw");
  std::string line = std::to_string(time);
  line += ' ';
  line.append(flags.begin(), flags.end());
  line += "\r\n";
  std::FILE* f = std::fopen(file.c_str(), "ab");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  return (std::fclose(f) == 0) && ok;
}

} // namespace kestrova::acquisition
