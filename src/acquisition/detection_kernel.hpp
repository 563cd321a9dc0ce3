#pragma once

// Internal to detection: the counting kernels, one per instruction set, behind one interface.
// ActivityDetector picks the kernel for groups of channels at run time; every kernel gives the
// same results.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "acquisition/detection.hpp"

namespace kestrova::acquisition::detail {

// What a count leaves for the signal views (see ActivityDetector).
struct Published {
  std::array<std::int16_t, kTraceLength>& line;
  std::array<std::int16_t, kTraceLength>& marks;
  std::array<char, kDetectionSamples>& flags;
  // When set: bit j of entry u is set where lane j counted at sample u (all clear when the
  // group counted nothing).
  std::array<std::uint64_t, kDetectionSamples>* lane_hits = nullptr;
};

// Counts groups of channels of a raw block side by side, with its own working memory.
class LaneKernel {
public:
  // Defined in detection.cpp, which thereby holds the only copy of the class's own tables: the
  // kernels' translation units are built for other instruction sets.
  virtual ~LaneKernel();
  // Kernels hold their working memory (up to a megabyte and more) in themselves. It comes
  // straight from the system, page aligned, and on one huge page where the system offers them,
  // so a new detector's first count costs a page fault or two rather than hundreds. It comes
  // zeroed, so the make_*_kernel functions create kernels without clearing them again.
  static void* operator new(std::size_t size);
  static void operator delete(void* memory, std::size_t size) noexcept;
  // The most channels count_group takes at once.
  virtual int group_lanes() const = 0;
  // Counts `used` (1..group_lanes()) distinct channels in range side by side and lowers their
  // clipped samples in the block; counts[j] receives the count of channels[j]. The marks are
  // those of all of them, line and flags the last one's.
  virtual void count_group(const RawBlock& block, const int* channels, int used, double threshold,
                           int method, const Published& out, std::int16_t* counts) = 0;
};

// Counts one channel at a time, with its own working memory.
class ChannelKernel {
public:
  virtual ~ChannelKernel(); // in detection.cpp, as above
  // Counts one channel in range (0..384) and lowers its clipped samples in the block.
  virtual std::int16_t count_one(const RawBlock& block, int channel, double threshold, int method,
                                 const Published& out) = 0;
};

// One channel fills a single vector of any width, so wider ones only add work: every detector
// counts single channels with the baseline kernel.
std::unique_ptr<ChannelKernel> make_channel_kernel();
std::unique_ptr<LaneKernel> make_baseline_kernel();
#if defined(KESTROVA_DETECTION_X86_KERNELS)
std::unique_ptr<LaneKernel> make_avx2_kernel();
std::unique_ptr<LaneKernel> make_avx512_kernel();
#endif

} // namespace kestrova::acquisition::detail
