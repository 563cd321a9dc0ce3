// Detection of arbitrary samples with arbitrary thresholds and methods: defined results, and the
// library's routines (one channel at a time, and grouped with every kernel the processor runs)
// agree with the literal ones.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acquisition/detection.hpp"
#include "acquisition/detection_reference.hpp"

using namespace kestrova::acquisition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 12) return 0;
  double threshold;
  std::memcpy(&threshold, data, sizeof threshold);
  const auto method = static_cast<std::int16_t>(static_cast<std::int8_t>(data[8]) % 6);
  const int first = data[9] % 378;         // a run of eight neighbouring channels
  const bool repeat = (data[10] & 1) != 0; // or a list with a repeated channel
  const int positions = 1 + (data[11] % 4 == 0 ? data[11] % 501 : 500);
  data += 12;
  size -= 12;

  std::vector<std::int16_t> block(static_cast<std::size_t>(positions) * kChannelSlots, 0);
  std::size_t at = 0;
  for (std::size_t i = 0; i < block.size() && size >= 2; ++i, at = (at + 2) % (size - 1))
    block[i] = static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));

  std::vector<int> channels;
  for (int j = 0; j < 8; ++j)
    channels.push_back(first + j);
  if (repeat) channels[5] = channels[2];

  // Literal routines on a zero-padded copy of 501 positions.
  std::vector<std::int16_t> padded(501 * kChannelSlots, 0);
  std::copy(block.begin(), block.end(), padded.begin());
  reference::Trace trace;
  std::vector<std::int16_t> expected;
  for (int c : channels)
    expected.push_back(
        reference::detect_activity(padded.data(), positions, c, threshold, method, trace));

  std::vector<std::int16_t> single = block;
  ActivityDetector one;
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const auto count =
        one.detect_activity(RawBlock{single}, channels[i], threshold, method, 0, "", 0);
    if (count != expected[i]) __builtin_trap();
  }
  if (!std::equal(single.begin(), single.end(), padded.begin())) __builtin_trap();
  if (one.detection_line() != trace.line || one.detection_marks() != trace.marks ||
      one.detection_flags() != trace.flags)
    __builtin_trap();

  // Grouped, with every kernel the processor runs.
  for (DetectionKernel kernel :
       {DetectionKernel::Baseline, DetectionKernel::Avx2, DetectionKernel::Avx512}) {
    if (!detection_kernel_available(kernel)) continue;
    std::vector<std::int16_t> grouped = block;
    ActivityDetector many(kernel);
    std::vector<std::int16_t> counts(channels.size());
    many.detect_channels(RawBlock{grouped}, channels, threshold, method, counts);
    if (counts != expected || grouped != single) __builtin_trap();
    if (many.detection_line() != trace.line || many.detection_marks() != trace.marks ||
        many.detection_flags() != trace.flags)
      __builtin_trap();
  }

  std::array<std::int16_t, kBodyBendBins> hist{}, expected_hist{};
  one.body_bend_histogram(RawBlock{single}, channels[0], hist, threshold);
  reference::body_bend_histogram(padded.data(), positions, channels[0], expected_hist, threshold);
  if (hist != expected_hist) __builtin_trap();
  return 0;
}
