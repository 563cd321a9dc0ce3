// Activity detection of a full buffer (384 channels x 500 samples) by each method: the library's
// routines (grouped with each detection kernel the processor has, and one channel at a time)
// against the literal ones, with the speed-ups printed as ratios at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "acquisition/detection.hpp"
#include "acquisition/detection_reference.hpp"

namespace {

using namespace kestrova::acquisition;

constexpr int kPositions = 501;

// Beams at their own levels with noise, ripple, organisms' dips and the odd spike.
const std::vector<std::int16_t>& realistic_buffer() {
  static const std::vector<std::int16_t> block = [] {
    std::vector<std::int16_t> b(kPositions * kChannelSlots, 0);
    std::mt19937 rng(7);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int c = 0; c < kChannelCount; ++c) {
      std::vector<int> x(500);
      const int level = uniform(800, 3500), noise = uniform(2, 40);
      for (int& v : x)
        v = level + uniform(-noise, noise);
      for (int d = uniform(0, 20); d > 0; --d) {
        const int at = uniform(0, 499), width = uniform(2, 30), depth = uniform(50, level / 2);
        for (int u = at; u < std::min(500, at + width); ++u)
          x[u] -= depth;
      }
      for (int s = uniform(0, 3); s > 0; --s)
        x[uniform(0, 499)] = 4095;
      for (int k = 0; k < 500; ++k)
        b[k * kChannelSlots + c] = static_cast<std::int16_t>(x[k]);
    }
    return b;
  }();
  return block;
}

double threshold_of(int method) { return method == 3 ? 0.8 : 1.8; }

// Arguments of both: method, kernel (0 baseline, 1 AVX2, 2 AVX-512).
void BM_Library(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  const auto kernel = static_cast<DetectionKernel>(state.range(1));
  if (!detection_kernel_available(kernel)) {
    state.SkipWithError("the processor lacks this kernel's instructions");
    return;
  }
  ActivityDetector detector(kernel);
  std::vector<int> channels(kChannelCount);
  for (int c = 0; c < kChannelCount; ++c)
    channels[c] = c;
  std::vector<std::int16_t> counts(kChannelCount);
  for (auto _ : state) {
    std::vector<std::int16_t> block = realistic_buffer();
    detector.detect_channels(RawBlock{block}, channels, threshold_of(method),
                             static_cast<std::int16_t>(method), counts);
    benchmark::DoNotOptimize(counts.data());
    benchmark::ClobberMemory();
  }
}

void BM_LibraryPerChannel(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  const auto kernel = static_cast<DetectionKernel>(state.range(1));
  if (!detection_kernel_available(kernel)) {
    state.SkipWithError("the processor lacks this kernel's instructions");
    return;
  }
  ActivityDetector detector(kernel);
  for (auto _ : state) {
    std::vector<std::int16_t> block = realistic_buffer();
    int total = 0;
    for (int c = 0; c < kChannelCount; ++c)
      total += detector.detect_activity(RawBlock{block}, c, threshold_of(method),
                                        static_cast<std::int16_t>(method), 0, "", 0);
    benchmark::DoNotOptimize(total);
  }
}

void BM_Literal(benchmark::State& state) {
  const int method = static_cast<int>(state.range(0));
  reference::Trace trace;
  for (auto _ : state) {
    std::vector<std::int16_t> block = realistic_buffer();
    int total = 0;
    for (int c = 0; c < kChannelCount; ++c)
      total += reference::detect_activity(block.data(), kPositions, c, threshold_of(method),
                                          static_cast<std::int16_t>(method), trace);
    benchmark::DoNotOptimize(total);
  }
}

void BM_BodyBendLibrary(benchmark::State& state) {
  ActivityDetector detector;
  std::vector<std::int16_t> block = realistic_buffer();
  std::array<std::int16_t, kBodyBendBins> hist{};
  for (auto _ : state) {
    for (int c = 0; c < kChannelCount; ++c)
      detector.body_bend_histogram(RawBlock{block}, c, hist, 3.0);
    benchmark::DoNotOptimize(hist.data());
  }
}

void BM_BodyBendLiteral(benchmark::State& state) {
  std::vector<std::int16_t> block = realistic_buffer();
  std::array<std::int16_t, kBodyBendBins> hist{};
  for (auto _ : state) {
    for (int c = 0; c < kChannelCount; ++c)
      reference::body_bend_histogram(block.data(), kPositions, c, hist, 3.0);
    benchmark::DoNotOptimize(hist.data());
  }
}

BENCHMARK(BM_Library)
    ->ArgsProduct({{0, 1, 2, 3},
                   {static_cast<int>(DetectionKernel::Baseline),
                    static_cast<int>(DetectionKernel::Avx2),
                    static_cast<int>(DetectionKernel::Avx512)}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryPerChannel)
    ->ArgsProduct({{0, 1, 2, 3},
                   {static_cast<int>(DetectionKernel::Baseline),
                    static_cast<int>(DetectionKernel::Avx2),
                    static_cast<int>(DetectionKernel::Avx512)}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Literal)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyBendLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyBendLiteral)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps each benchmark's least CPU time per iteration over its repetitions
// (the least disturbed run) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations <= 0) continue;
      const double t = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      const std::string name = run.run_name.str();
      const auto it = times_.find(name);
      if (it == times_.end() || t < it->second) times_[name] = t;
    }
  }
  void print_ratios() const {
    std::printf("\nspeed-up over the literal routines (CPU time per 384-channel buffer):\n");
    for (int m = 0; m <= 3; ++m) {
      const std::string arg = "/" + std::to_string(m);
      for (const auto& [kernel, name] :
           {std::pair{0, "baseline"}, {1, "AVX2    "}, {2, "AVX-512 "}}) {
        const std::string args = arg + "/" + std::to_string(kernel);
        ratio("method " + std::to_string(m) + ", grouped,     " + name, "BM_Literal" + arg,
              "BM_Library" + args);
        ratio("method " + std::to_string(m) + ", per channel, " + name, "BM_Literal" + arg,
              "BM_LibraryPerChannel" + args);
      }
    }
    ratio("body-bend histogram       ", "BM_BodyBendLiteral", "BM_BodyBendLibrary");
  }

private:
  void ratio(const std::string& label, const std::string& literal, const std::string& mine) const {
    const auto a = times_.find(literal), b = times_.find(mine);
    if (a == times_.end() || b == times_.end() || b->second <= 0) return;
    std::printf("  %s literal %8.3f ms  library %8.3f ms  ratio %6.1fx\n", label.c_str(),
                a->second * 1e3, b->second * 1e3, a->second / b->second);
  }
  std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
