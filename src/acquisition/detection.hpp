#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "acquisition/activity_files.hpp"

namespace kestrova::acquisition {

// Samples of one channel that detection looks at (positions 0..499 of a block).
inline constexpr int kDetectionSamples = 500;
// Entries of the detection line and marks (positions 0..500).
inline constexpr int kTraceLength = 501;
// Entries of a body-bend histogram filled by `body_bend_histogram` (intervals 0..49).
inline constexpr int kBodyBendBins = 50;

// Detection methods, in the order of the method list.
enum DetectionMethod : std::int16_t {
  kMethodThresholdBinary = 0,
  kMethodThresholdAverage = 1,
  kMethodMotilityIndex = 2,
  kMethodDrosophila = 3,
};

// A raw sample block: positions x 385 channel slots of int16, channel fastest, as the
// acquisition buffer and the real-time files hold it. Detection reads positions 0..499 of a
// channel; positions the block does not have read as 0, and only positions it has are
// written back.
struct RawBlock {
  std::span<std::int16_t> samples;

  int positions() const { return static_cast<int>(samples.size() / kChannelSlots); }
  std::int16_t& at(int channel, int position) const {
    return samples[static_cast<std::size_t>(position) * kChannelSlots +
                   static_cast<std::size_t>(channel)];
  }
};

// Instruction sets the detection kernels are built for. Every kernel gives the same results;
// the wider ones count more channels at once.
enum class DetectionKernel { Baseline, Avx2, Avx512 };

// True when this build has the kernel and the processor runs it (Baseline always).
bool detection_kernel_available(DetectionKernel kernel);
// The kernel detectors use unless told otherwise: the widest available one, or the one last set
// with set_default_detection_kernel.
DetectionKernel default_detection_kernel();
// Makes `kernel` the default of detectors created from now on (for benchmarks and tests that
// compare kernels); an unavailable kernel is ignored and false returned.
bool set_default_detection_kernel(DetectionKernel kernel);

namespace detail {
class LaneKernel;
class ChannelKernel;
} // namespace detail

// Counts activity in raw sample blocks. It owns what the signal views read after a count: the
// detection line of the channel counted last, the detection marks (set to -1 where methods 0, 1
// and 3 counted; never cleared here) and the detection flags of the channel counted last. It
// also owns its working memory, so counting allocates nothing.
class ActivityDetector {
public:
  ActivityDetector();
  // With the given kernel for groups of channels; an unavailable one gives the baseline.
  explicit ActivityDetector(DetectionKernel kernel);
  ~ActivityDetector();
  ActivityDetector(const ActivityDetector&) = delete;
  ActivityDetector& operator=(const ActivityDetector&) = delete;

  // Counts the activity of one channel (0..384) of the block with one of the four methods and
  // lowers, in the block, the samples above the clip line. With export_flag 1 a line of the time
  // and the 500 detection flags is appended to export_folder/ch<channel>.raw; a folder that
  // cannot be written is skipped silently. A channel out of range counts 0 and changes nothing;
  // a method out of range clips and counts 0.
  std::int16_t detect_activity(RawBlock block, int channel, double threshold, std::int16_t method,
                               std::int32_t export_flag, const std::string& export_folder,
                               std::int32_t time);

  // Counts the listed channels as detect_activity would one after the other (no export), up to
  // group_lanes() channels at a time; counts[i] receives the count of channels[i].
  void detect_channels(RawBlock block, std::span<const int> channels, double threshold,
                       std::int16_t method, std::span<std::int16_t> counts);
  // The same, and channel_marks[i] receives the detection marks of channels[i] alone: what the
  // shared marks would hold had they been cleared before counting that channel by itself.
  void detect_channels(RawBlock block, std::span<const int> channels, double threshold,
                       std::int16_t method, std::span<std::int16_t> counts,
                       std::span<std::array<std::int16_t, kTraceLength>> channel_marks);

  // A detection mark of a listed channel: channels[index] counted at sample (0..499).
  struct ChannelMark {
    int index;
    int sample;
  };
  // The same, and `marked` is cleared, then receives every detection mark of every listed
  // channel (methods 0, 1 and 3), channel by channel counted alone as above, grouped by the
  // lanes counted together and within a group by sample. Marks are sparse, so this is the
  // cheaper form when only where they fall matters.
  void detect_channels(RawBlock block, std::span<const int> channels, double threshold,
                       std::int16_t method, std::span<std::int16_t> counts,
                       std::vector<ChannelMark>& marked);

  // Clears `histogram` and counts into entry d the intervals of d samples (2..49) between body
  // bends of the channel. Always returns 1.
  int body_bend_histogram(RawBlock block, int channel,
                          std::span<std::int16_t, kBodyBendBins> histogram, double threshold);

  DetectionKernel kernel() const { return kernel_; }
  // The most channels detect_channels counts at once with this detector's kernel (8, 16 or 32).
  int group_lanes() const;

  const std::array<std::int16_t, kTraceLength>& detection_line() const { return line_; }
  std::array<std::int16_t, kTraceLength>& detection_marks() { return marks_; }
  const std::array<std::int16_t, kTraceLength>& detection_marks() const { return marks_; }
  // '1' where the last channel counted was counted, else '0'.
  const std::array<char, kDetectionSamples>& detection_flags() const { return flags_; }

private:
  // Counts the listed channels in groups; after each group, `group_done` gets the index into
  // `channels` of each lane and, when `hits` is given, bit j of hits[u] is set where lane j
  // counted at sample u.
  void detect_groups(RawBlock block, std::span<const int> channels, double threshold,
                     std::int16_t method, std::span<std::int16_t> counts,
                     std::array<std::uint64_t, kDetectionSamples>* hits,
                     const std::function<void(const std::size_t* index, int used)>& group_done);

  DetectionKernel kernel_;
  std::array<std::int16_t, kTraceLength> line_{};
  std::array<std::int16_t, kTraceLength> marks_{};
  std::array<char, kDetectionSamples> flags_{};
  std::unique_ptr<detail::LaneKernel> lanes_;     // groups of channels
  std::unique_ptr<detail::ChannelKernel> single_; // one channel at a time
};

// Appends one raw export line ("<time> <500 flags>\r\n") to folder/ch<channel>.raw; false when
// the file cannot be written.
bool append_raw_export(const std::string& folder, int channel, std::int32_t time,
                       std::span<const char, kDetectionSamples> flags);

} // namespace kestrova::acquisition
