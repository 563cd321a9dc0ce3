#include "acquisition/detection.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "acquisition/detection_kernel.hpp"
#include "common/rounding.hpp"
#include "common/safe_file.hpp"

static_assert(FLT_EVAL_METHOD == 0, "detection needs strict double evaluation");

namespace kestrova::acquisition {

namespace {

constexpr int kS = kDetectionSamples;

bool processor_has(DetectionKernel kernel) {
#if defined(KESTROVA_DETECTION_X86_KERNELS)
  __builtin_cpu_init();
  if (kernel == DetectionKernel::Avx2) return __builtin_cpu_supports("avx2");
  // The AVX-512 kernel also uses AVX2 instructions; a processor (or virtual machine) that
  // reports AVX-512 without AVX2 gets a narrower kernel.
  if (kernel == DetectionKernel::Avx512)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
#endif
  return kernel == DetectionKernel::Baseline;
}

DetectionKernel widest_kernel() {
  for (DetectionKernel k : {DetectionKernel::Avx512, DetectionKernel::Avx2})
    if (processor_has(k)) return k;
  return DetectionKernel::Baseline;
}

std::atomic<DetectionKernel>& chosen_kernel() {
  static std::atomic<DetectionKernel> chosen{widest_kernel()};
  return chosen;
}

std::unique_ptr<detail::LaneKernel> make_kernel(DetectionKernel kernel) {
#if defined(KESTROVA_DETECTION_X86_KERNELS)
  if (kernel == DetectionKernel::Avx512) return detail::make_avx512_kernel();
  if (kernel == DetectionKernel::Avx2) return detail::make_avx2_kernel();
#endif
  (void)kernel;
  return detail::make_baseline_kernel();
}

// Half-to-even rounding of |v| < 2^51 by the FPU's round-to-nearest-even mode; gives exactly
// what common::round_half_even gives for such values, without a library call.
double round_even(double v) {
  constexpr double kMagic = 6755399441055744.0; // 1.5 * 2^52
  return (v + kMagic) - kMagic;
}

} // namespace

detail::LaneKernel::~LaneKernel() = default;

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The mapping of a kernel of `size` bytes: whole huge pages for the larger kernels.
std::size_t kernel_mapping(std::size_t size) {
  const std::size_t unit = size >= kHugePage / 4 ? kHugePage : std::size_t{4096};
  return (size + unit - 1) / unit * unit;
}

} // namespace

void* detail::LaneKernel::operator new(std::size_t size) {
#if defined(__linux__)
  const std::size_t length = kernel_mapping(size);
  const std::size_t align = length % kHugePage == 0 ? kHugePage : 0;
  // Mapped with room to spare, then trimmed to an aligned start.
  void* mapped =
      ::mmap(nullptr, length + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = align ? (start + align - 1) / align * align : start;
  if (aligned > start) ::munmap(mapped, aligned - start);
  if (const std::size_t tail = start + length + align - (aligned + length); tail > 0)
    ::munmap(reinterpret_cast<void*>(aligned + length), tail);
#if defined(MADV_HUGEPAGE)
  if (align) (void)::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
#else
  void* memory = ::operator new (size, std::align_val_t{64});
  std::memset(memory, 0, size);
  return memory;
#endif
}

void detail::LaneKernel::operator delete(void* memory, std::size_t size) noexcept {
  if (memory == nullptr) return;
#if defined(__linux__)
  ::munmap(memory, kernel_mapping(size));
#else
  ::operator delete (memory, size, std::align_val_t{64});
#endif
}
detail::ChannelKernel::~ChannelKernel() = default;

bool detection_kernel_available(DetectionKernel kernel) { return processor_has(kernel); }

DetectionKernel default_detection_kernel() { return chosen_kernel().load(); }

bool set_default_detection_kernel(DetectionKernel kernel) {
  if (!processor_has(kernel)) return false;
  chosen_kernel().store(kernel);
  return true;
}

ActivityDetector::ActivityDetector() : ActivityDetector(default_detection_kernel()) {}

ActivityDetector::ActivityDetector(DetectionKernel kernel)
    : kernel_(processor_has(kernel) ? kernel : DetectionKernel::Baseline),
      lanes_(make_kernel(kernel_)), single_(detail::make_channel_kernel()) {
  flags_.fill('0');
}

ActivityDetector::~ActivityDetector() = default;

int ActivityDetector::group_lanes() const { return lanes_->group_lanes(); }

std::int16_t ActivityDetector::detect_activity(RawBlock block, int channel, double threshold,
                                               std::int16_t method, std::int32_t export_flag,
                                               const std::string& export_folder,
                                               std::int32_t time) {
  if (channel < 0 || channel >= kChannelSlots) return 0;
  const std::int16_t count =
      single_->count_one(block, channel, threshold, method, {line_, marks_, flags_});
  if (export_flag == 1) append_raw_export(export_folder, channel, time, flags_);
  return count;
}

void ActivityDetector::detect_channels(RawBlock block, std::span<const int> channels,
                                       double threshold, std::int16_t method,
                                       std::span<std::int16_t> counts) {
  detect_channels(block, channels, threshold, method, counts, {});
}

void ActivityDetector::detect_groups(
    RawBlock block, std::span<const int> channels, double threshold, std::int16_t method,
    std::span<std::int16_t> counts, std::array<std::uint64_t, kDetectionSamples>* hits,
    const std::function<void(const std::size_t* index, int used)>& group_done) {
  constexpr int kMaxLanes = 64;
  const int lanes = std::min(lanes_->group_lanes(), kMaxLanes);
  std::size_t i = 0;
  while (i < channels.size()) {
    // A group holds distinct channels in range, so each lane sees the block as it would if
    // the channels were counted one after the other.
    int group[kMaxLanes];
    std::size_t index[kMaxLanes];
    int used = 0;
    for (; i < channels.size() && used < lanes; ++i) {
      const int c = channels[i];
      if (c < 0 || c >= kChannelSlots) {
        if (i < counts.size()) counts[i] = 0;
        group_done(&i, -1);
        continue;
      }
      if (std::find(group, group + used, c) != group + used) break;
      group[used] = c;
      index[used] = i;
      ++used;
    }
    if (used == 0) continue;
    std::int16_t got[kMaxLanes];
    detail::Published out{line_, marks_, flags_};
    out.lane_hits = hits;
    lanes_->count_group(block, group, used, threshold, method, out, got);
    for (int j = 0; j < used; ++j)
      if (index[j] < counts.size()) counts[index[j]] = got[j];
    group_done(index, used);
  }
}

void ActivityDetector::detect_channels(
    RawBlock block, std::span<const int> channels, double threshold, std::int16_t method,
    std::span<std::int16_t> counts,
    std::span<std::array<std::int16_t, kTraceLength>> channel_marks) {
  // Which lanes counted at each sample, kept only when the caller wants each channel's marks.
  std::array<std::uint64_t, kDetectionSamples> hits{};
  detect_groups(block, channels, threshold, method, counts, channel_marks.empty() ? nullptr : &hits,
                [&](const std::size_t* index, int used) {
                  if (used < 0) { // a channel out of range: no marks
                    if (*index < channel_marks.size()) channel_marks[*index].fill(0);
                    return;
                  }
                  for (int j = 0; j < used; ++j)
                    if (index[j] < channel_marks.size()) channel_marks[index[j]].fill(0);
                  if (method == 2 || channel_marks.empty()) return;
                  // Marks are sparse: only the lanes set at each sample are visited.
                  for (int u = 0; u < kDetectionSamples; ++u)
                    for (std::uint64_t set = hits[u]; set != 0; set &= set - 1) {
                      const int j = std::countr_zero(set);
                      if (j < used && index[j] < channel_marks.size())
                        channel_marks[index[j]][u] = -1;
                    }
                });
}

void ActivityDetector::detect_channels(RawBlock block, std::span<const int> channels,
                                       double threshold, std::int16_t method,
                                       std::span<std::int16_t> counts,
                                       std::vector<ChannelMark>& marked) {
  marked.clear();
  std::array<std::uint64_t, kDetectionSamples> hits{};
  detect_groups(block, channels, threshold, method, counts, &hits,
                [&](const std::size_t* index, int used) {
                  if (used <= 0 || method == 2) return;
                  for (int u = 0; u < kDetectionSamples; ++u)
                    for (std::uint64_t set = hits[u]; set != 0; set &= set - 1) {
                      const int j = std::countr_zero(set);
                      if (j < used) marked.push_back({static_cast<int>(index[j]), u});
                    }
                });
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
    y[a] = static_cast<std::int64_t>(round_even(sum / 5.0));
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
  return common::append_to_file(file, line);
}

} // namespace kestrova::acquisition
