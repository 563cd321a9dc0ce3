#include "acquisition/detection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "acquisition/detection_reference.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

constexpr int kPositions = 501;

// A block of 501 positions x 385 slots; `set` writes the samples of one channel.
struct Block {
  std::vector<std::int16_t> samples = std::vector<std::int16_t>(kPositions * kChannelSlots);
  RawBlock view() { return RawBlock{samples}; }
  std::int16_t& at(int channel, int k) { return samples[k * kChannelSlots + channel]; }
  void set(int channel, const std::vector<int>& x) {
    for (int k = 0; k < static_cast<int>(x.size()) && k < kPositions; ++k)
      at(channel, k) = static_cast<std::int16_t>(x[k]);
  }
};

std::vector<int> constant(int level) { return std::vector<int>(500, level); }

// The detection kernels this processor runs; the baseline always.
std::vector<DetectionKernel> available_kernels() {
  std::vector<DetectionKernel> kernels;
  for (DetectionKernel k :
       {DetectionKernel::Baseline, DetectionKernel::Avx2, DetectionKernel::Avx512})
    if (detection_kernel_available(k)) kernels.push_back(k);
  return kernels;
}

const char* name_of(DetectionKernel kernel) {
  switch (kernel) {
  case DetectionKernel::Avx512:
    return "AVX-512";
  case DetectionKernel::Avx2:
    return "AVX2";
  case DetectionKernel::Baseline:
    break;
  }
  return "baseline";
}

// Production and literal reference agree on the count, the clipped block, the detection line,
// the marks and the flags.
void expect_same(const Block& input, int channel, double thr, int method) {
  Block mine = input, theirs = input;
  ActivityDetector detector;
  reference::Trace trace;
  const auto count = detector.detect_activity(mine.view(), channel, thr,
                                              static_cast<std::int16_t>(method), 0, "", 0);
  const auto expected = reference::detect_activity(theirs.samples.data(), kPositions, channel, thr,
                                                   static_cast<std::int16_t>(method), trace);
  ASSERT_EQ(count, expected) << "method " << method << " thr " << thr;
  ASSERT_EQ(mine.samples, theirs.samples) << "method " << method;
  ASSERT_EQ(detector.detection_line(), trace.line) << "method " << method;
  ASSERT_EQ(detector.detection_marks(), trace.marks) << "method " << method;
  ASSERT_EQ(detector.detection_flags(), trace.flags) << "method " << method;
}

int count_of(const std::vector<int>& x, int method, double thr, ActivityDetector& detector) {
  Block block;
  block.set(7, x);
  return detector.detect_activity(block.view(), 7, thr, static_cast<std::int16_t>(method), 0, "",
                                  0);
}

TEST(Detection, ConstantSignalCountsNothingAndLineLiesJustUnderTheLevel) {
  for (int level : {0, 1, 2000, 4095}) {
    for (int method = 0; method <= 3; ++method) {
      Block block;
      block.set(3, constant(level));
      const Block before = block;
      ActivityDetector detector;
      // Method 3 takes its threshold as a fraction of the envelope.
      const double thr = method == 3 ? 0.8 : 1.8;
      EXPECT_EQ(detector.detect_activity(block.view(), 3, thr, method, 0, "", 0), 0)
          << "level " << level << " method " << method;
      EXPECT_EQ(block.samples, before.samples) << "a constant signal is never clipped";
      expect_same(before, 3, thr, method);
    }
    ActivityDetector detector;
    Block block;
    block.set(3, constant(level));
    detector.detect_activity(block.view(), 3, 1.8, 1, 0, "", 0);
    for (int u = 0; u < 500; ++u) {
      EXPECT_LE(detector.detection_line()[u], level);
      EXPECT_GE(detector.detection_line()[u], level * 0.98 - 1);
    }
  }
}

TEST(Detection, MethodZeroCountsOncePerThirtySampleWindowAndNeverAfter480) {
  ActivityDetector detector;
  std::vector<int> x = constant(2000);
  for (int u = 15; u < 500; u += 30)
    x[u - 1] = x[u] = 500; // one dip in every window
  Block block;
  block.set(0, x);
  EXPECT_EQ(detector.detect_activity(block.view(), 0, 1.8, 0, 0, "", 0), 16);
  for (int u = 0; u < 500; ++u)
    EXPECT_EQ(detector.detection_marks()[u], (u % 30 == 0 && u >= 30 && u <= 480) ? -1 : 0) << u;
  expect_same(
      [&] {
        Block b;
        b.set(0, x);
        return b;
      }(),
      0, 1.8, 0);

  std::vector<int> late = constant(2000);
  late[490] = late[491] = 500;
  ActivityDetector fresh;
  EXPECT_EQ(count_of(late, 0, 1.8, fresh), 0);
}

// Flat-bottomed dips have no strict local minimum, so the envelopes and the line stay those of
// the baseline; the converged line value then lets a dip reach it exactly.
TEST(Detection, CrossingMethodsCountDownwardCrossingsAndIgnoreTouchingTheLine) {
  ActivityDetector probe;
  count_of(constant(2000), 1, 1.8, probe);
  const int line = probe.detection_line()[250];
  ASSERT_EQ(probe.detection_line()[200], line);
  ASSERT_LT(line, 2000);

  struct Case {
    const char* name;
    std::vector<std::array<int, 3>> dips; // start, width, value
    int expected;
  };
  const std::vector<Case> cases = {
      {"exactly to the line", {{200, 6, line}}, 0},
      {"one below the line", {{200, 6, line - 1}}, 1},
      {"long dip", {{150, 200, 1000}}, 1},
      {"back to the line, then down again",
       {{200, 6, line - 50}, {206, 6, line}, {212, 6, line - 50}},
       1},
      {"above the line, then down again",
       {{200, 6, line - 50}, {206, 6, 1999}, {212, 6, line - 50}},
       2},
  };
  for (const Case& c : cases) {
    std::vector<int> x = constant(2000);
    for (auto [start, width, value] : c.dips)
      for (int u = start; u < start + width; ++u)
        x[u] = value;
    ActivityDetector detector;
    EXPECT_EQ(count_of(x, 1, 1.8, detector), c.expected) << c.name;
    EXPECT_EQ(detector.detection_line()[203], line) << c.name;
    Block block;
    block.set(9, x);
    expect_same(block, 9, 1.8, 1);
  }
}

TEST(Detection, MethodThreeComparesTwoSampleMeansWithAFractionOfTheEnvelope) {
  // Envelope 2000 everywhere, so the line is 2000 x 0.8 = 1600 from the first sample.
  struct Case {
    std::vector<std::pair<int, int>> dips;
    int expected;
  };
  const std::vector<Case> cases = {
      {{{100, 1600}}, 0},
      {{{100, 1599}}, 1},
      {{{100, 1500}, {110, 1600}, {120, 1500}}, 1},
      {{{100, 1500}, {110, 1700}, {120, 1500}}, 2},
  };
  for (const Case& c : cases) {
    std::vector<int> x = constant(2000);
    for (auto [start, value] : c.dips)
      for (int u = start; u < start + 10; ++u)
        x[u] = value;
    ActivityDetector detector;
    EXPECT_EQ(count_of(x, 3, 0.8, detector), c.expected);
    EXPECT_EQ(detector.detection_line()[50], 1600);
    Block block;
    block.set(1, x);
    expect_same(block, 1, 0.8, 3);
  }
}

// Worked by hand: values exactly halfway between two whole numbers go to the even one.
TEST(Detection, HalvesInTheDetectionLineRoundToTheEvenNeighbour) {
  struct Case {
    const char* name;
    int method;
    double thr;
    std::vector<int> x;
    std::vector<std::pair<int, int>> line; // position, value
  };
  std::vector<int> peak = constant(2000);
  peak[16] = 2001; // the envelope is 2000 up to sample 15, then 2001
  const std::vector<Case> cases = {
      // 2001 x 0.5 = 1000.5 -> 1000; then (3 x 1000 + 1000.5) / 4 = 1000.125 -> 1000.
      {"fraction of an odd level", 3, 0.5, constant(2001), {{0, 1000}, {3, 1000}, {4, 1000}}},
      // 2003 x 0.5 = 1001.5 -> 1002; then (3 x 1002 + 1001.5) / 4 = 1001.875 -> 1002.
      {"fraction of the next odd level", 3, 0.5, constant(2003), {{0, 1002}, {4, 1002}}},
      // U[1..30] averages 2000.5 -> 2000, so l[0] = 0.980925 x 2000 = 1961.85 -> 1962 (half up
      // would give 2001 and 1963); U[2..31] averages 2000.53 -> 2001 and l[1] = 1963.
      {"30-value envelope average of x.5", 1, 1.8, peak, {{0, 1962}, {1, 1963}}},
  };
  for (const Case& c : cases) {
    Block block;
    block.set(4, c.x);
    const Block before = block;
    ActivityDetector detector;
    detector.detect_activity(block.view(), 4, c.thr, static_cast<std::int16_t>(c.method), 0, "", 0);
    for (auto [u, value] : c.line)
      EXPECT_EQ(detector.detection_line()[u], value) << c.name << " at " << u;
    expect_same(before, 4, c.thr, c.method);
  }
}

TEST(Detection, SpikesAboveTheClipLineAreLoweredInTheCallersBlock) {
  // Small ripple, so the upper envelope follows the signal and drops back after a spike.
  std::vector<int> x(500);
  for (int u = 0; u < 500; ++u)
    x[u] = 2000 + 10 * (u % 2);
  for (int u = 20; u < 500; u += 47)
    x[u] = 4095;
  Block block;
  block.set(5, x);
  const Block before = block;
  ActivityDetector detector;
  detector.detect_activity(block.view(), 5, 1.8, 1, 0, "", 0);
  for (int u = 0; u < 500; ++u) {
    if (x[u] == 4095) {
      EXPECT_LT(block.at(5, u), 4095) << u;
      EXPECT_GE(block.at(5, u), 2010) << u;
    } else {
      EXPECT_EQ(block.at(5, u), x[u]) << u;
    }
  }
  for (int c = 0; c < kChannelSlots; ++c) {
    if (c == 5) continue;
    EXPECT_EQ(block.at(c, 100), before.samples[100 * kChannelSlots + c]);
  }
  for (int method = 0; method <= 3; ++method)
    expect_same(before, 5, 1.8, method);
}

TEST(Detection, MotilityIndexCountsTenSampleRunsDeeperThanTheAmplitude) {
  // A small ripple with two slow descents of 300 over 30 samples.
  std::vector<int> x(500);
  for (int u = 0; u < 500; ++u)
    x[u] = 2000 + (u % 3 == 0 ? 3 : 0);
  for (int start : {100, 300})
    for (int u = start; u < start + 100; ++u)
      x[u] -= std::min(300, 10 * (u - start));
  ActivityDetector detector;
  EXPECT_GT(count_of(x, 2, 1.8, detector), 0);
  EXPECT_EQ(count_of(constant(3000), 2, 1.8, detector), 0);
  Block block;
  block.set(2, x);
  expect_same(block, 2, 1.8, 2);
  // Values above the running minimum's start of 9999.
  block.set(2, constant(12000));
  expect_same(block, 2, 1.8, 2);
}

TEST(Detection, AnyInputGivesADefinedCount) {
  const std::vector<std::vector<int>> signals = {
      constant(32767),
      constant(-32768),
      constant(-1),
      [] {
        std::vector<int> x(500);
        for (int u = 0; u < 500; ++u)
          x[u] = u % 2 ? 32767 : -32768;
        return x;
      }(),
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& x : signals) {
    for (double thr : {1.8, 0.0, -5.0, 1e9, nan, inf, -inf}) {
      for (int method : {0, 1, 2, 3, 4, -1}) {
        Block block;
        block.set(0, x);
        expect_same(block, 0, thr, method);
      }
    }
  }
  ActivityDetector detector;
  Block block;
  block.set(0, constant(2000));
  EXPECT_EQ(detector.detect_activity(block.view(), 385, 1.8, 1, 0, "", 0), 0);
  EXPECT_EQ(detector.detect_activity(block.view(), -1, 1.8, 1, 0, "", 0), 0);
  // A block shorter than 500 positions reads zeros beyond its end and writes only inside.
  std::vector<std::int16_t> short_block(100 * kChannelSlots, 3000);
  std::vector<std::int16_t> padded(kPositions * kChannelSlots, 0);
  std::copy(short_block.begin(), short_block.end(), padded.begin());
  reference::Trace trace;
  const auto expected = reference::detect_activity(padded.data(), 100, 4, 1.8, 1, trace);
  EXPECT_EQ(detector.detect_activity(RawBlock{short_block}, 4, 1.8, 1, 0, "", 0), expected);
  for (int k = 0; k < 100; ++k)
    EXPECT_EQ(short_block[k * kChannelSlots + 4], padded[k * kChannelSlots + 4]);
}

TEST(Detection, RawExportAppendsOneLinePerCallAndAnUnwritableFolderIsSkipped) {
  testing::TempDir dir;
  std::vector<int> x = constant(2000);
  for (int u = 15; u < 500; u += 30)
    x[u - 1] = x[u] = 500;
  Block block;
  block.set(12, x);
  ActivityDetector detector;
  const int first = detector.detect_activity(block.view(), 12, 1.8, 0, 1, dir.path().string(), 42);
  detector.detect_activity(block.view(), 12, 1.8, 0, 1, dir.path().string(), 43);
  const std::string text = testing::read_file(dir / "ch12.raw");
  ASSERT_EQ(text.size(), 2 * (3 + 500 + 2));
  EXPECT_EQ(text.substr(0, 3), "42 ");
  EXPECT_EQ(text.substr(503, 2), "\r\n");
  EXPECT_EQ(text.substr(505, 3), "43 ");
  const std::string flags = text.substr(3, 500);
  EXPECT_EQ(static_cast<int>(std::count(flags.begin(), flags.end(), '1')), first);
  EXPECT_EQ(flags.find_first_not_of("01"), std::string::npos);
  EXPECT_EQ(flags[30], '1');

  Block again;
  again.set(12, x);
  EXPECT_EQ(detector.detect_activity(again.view(), 12, 1.8, 0, 1, (dir / "missing").string(), 1),
            first);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(BodyBendHistogram, CountsIntervalsBetweenBendsOnlyFrom2To49) {
  struct Case {
    int period;
    int bin; // -1: nothing counted
  };
  for (const Case& c : std::vector<Case>{{20, 20}, {8, 8}, {49, 49}, {50, -1}, {60, -1}}) {
    std::vector<int> x(500);
    for (int u = 0; u < 500; ++u)
      x[u] =
          2000 + static_cast<int>(std::lround(600 * std::sin(2 * std::numbers::pi * u / c.period)));
    Block block;
    block.set(0, x);
    ActivityDetector detector;
    std::array<std::int16_t, 50> hist;
    hist.fill(77);
    EXPECT_EQ(detector.body_bend_histogram(block.view(), 0, hist, 3.0), 1);
    std::array<std::int16_t, 50> expected{};
    reference::body_bend_histogram(block.samples.data(), kPositions, 0, expected, 3.0);
    EXPECT_EQ(hist, expected) << "period " << c.period;
    EXPECT_EQ(hist[0], 0);
    EXPECT_EQ(hist[1], 0);
    int total = 0;
    for (int b = 0; b < 50; ++b)
      total += hist[b];
    if (c.bin < 0) {
      EXPECT_LE(total, 1) << "period " << c.period << ": at most the interval from sample 0";
    } else {
      EXPECT_GE(hist[c.bin], 500 / c.period - 2) << "period " << c.period;
      EXPECT_GE(hist[c.bin], total - 2) << "period " << c.period;
    }
  }
}

// V-shaped dips at samples 20 and 40 smooth to a depth of 9 below the level, 8 beside the
// centre: with h = 8 each centre is a bend 20 samples after the last, with h = 9 none is.
TEST(BodyBendHistogram, TheThresholdIsRoundedHalfToEven) {
  std::vector<int> x = constant(2000);
  for (int centre : {20, 40})
    for (int k = -2; k <= 2; ++k)
      x[centre + k] = 1985 + 5 * std::abs(k);
  struct Case {
    double threshold;
    int bends; // entry 20
  };
  for (const Case& c : std::vector<Case>{{8.0, 2}, {8.5, 2}, {7.5, 2}, {8.6, 0}, {9.0, 0}}) {
    Block block;
    block.set(6, x);
    ActivityDetector detector;
    std::array<std::int16_t, 50> hist{}, expected{};
    detector.body_bend_histogram(block.view(), 6, hist, c.threshold);
    EXPECT_EQ(hist[20], c.bends) << c.threshold;
    EXPECT_EQ(std::count(hist.begin(), hist.end(), 0), c.bends ? 49 : 50) << c.threshold;
    reference::body_bend_histogram(block.samples.data(), kPositions, 6, expected, c.threshold);
    EXPECT_EQ(hist, expected) << c.threshold;
  }
}

// ---------------------------------------------------------------------------------------------
// Randomised comparison with the literal reference.

// Realistic beams (level, noise, organisms' dips, spikes, saturation) and adversarial ones.
std::vector<int> random_signal(std::mt19937& rng, int kind) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<int> x(500);
  switch (kind) {
  case 0:
  case 1:
  case 2: {
    const int level = uniform(200, 4000), noise = uniform(0, kind == 0 ? 3 : 60);
    for (int& v : x)
      v = level + uniform(-noise, noise);
    const int dips = uniform(0, 30);
    for (int d = 0; d < dips; ++d) {
      const int at = uniform(0, 499), width = uniform(1, 40), depth = uniform(1, level);
      for (int u = at; u < std::min(500, at + width); ++u)
        x[u] -= depth;
    }
    if (uniform(0, 3) == 0)
      for (int s = uniform(1, 8); s > 0; --s)
        x[uniform(0, 499)] = 4095;
    for (int& v : x)
      v = std::clamp(v, 0, 4095);
    break;
  }
  case 3:
    for (int& v : x)
      v = uniform(-32768, 32767);
    break;
  case 4:
    for (int& v : x)
      v = uniform(0, 3);
    break;
  case 5: {
    const int period = uniform(2, 120), lo = uniform(0, 2000), hi = lo + uniform(0, 2000);
    for (int u = 0; u < 500; ++u)
      x[u] = (u / period) % 2 ? hi : lo;
    break;
  }
  case 6:
    for (int& v : x)
      v = uniform(9990, 10010);
    break;
  default: {
    const int level = uniform(0, 4095);
    for (int& v : x)
      v = uniform(0, 40) == 0 ? level + uniform(-1, 1) : level;
    break;
  }
  }
  return x;
}

double random_threshold(std::mt19937& rng) {
  static const double kFixed[] = {1.8, 2.8, 0.8, 0.0, 1.0, -2.0, 250.0, 0.5};
  const int pick = std::uniform_int_distribution<int>(0, 11)(rng);
  if (pick < 8) return kFixed[pick];
  return std::uniform_real_distribution<double>(0.0, 5.0)(rng);
}

TEST(Detection, MatchesTheLiteralRoutinesOnRandomBlocks) {
  constexpr int kBlocks = 500;
  constexpr int kChannelsPerBlock = 10;
  std::mt19937 rng(20240315);
  ActivityDetector fast;
  std::vector<std::unique_ptr<ActivityDetector>> batches; // grouped, one per kernel
  for (DetectionKernel kernel : available_kernels())
    batches.push_back(std::make_unique<ActivityDetector>(kernel));
  reference::Trace trace;
  for (int n = 0; n < kBlocks; ++n) {
    const int method = n % 4;
    const double thr = method == 3 && n % 3 ? 0.8 : random_threshold(rng);
    Block block;
    std::vector<int> channels;
    for (int i = 0; i < kChannelsPerBlock; ++i) {
      const int channel = std::uniform_int_distribution<int>(0, 384)(rng);
      channels.push_back(channel);
      block.set(channel, random_signal(rng, static_cast<int>(rng() % 8)));
    }
    Block mine = block, theirs = block;
    std::vector<Block> grouped(batches.size(), block);
    std::vector<std::vector<std::int16_t>> counts(batches.size(),
                                                  std::vector<std::int16_t>(channels.size()));
    for (std::size_t b = 0; b < batches.size(); ++b)
      batches[b]->detect_channels(grouped[b].view(), channels, thr,
                                  static_cast<std::int16_t>(method), counts[b]);
    for (std::size_t i = 0; i < channels.size(); ++i) {
      const int c = channels[i];
      const auto expected = reference::detect_activity(theirs.samples.data(), kPositions, c, thr,
                                                       static_cast<std::int16_t>(method), trace);
      const auto got =
          fast.detect_activity(mine.view(), c, thr, static_cast<std::int16_t>(method), 0, "", 0);
      ASSERT_EQ(got, expected) << "block " << n << " channel " << c << " method " << method;
      for (std::size_t b = 0; b < batches.size(); ++b)
        ASSERT_EQ(counts[b][i], expected)
            << "block " << n << " channel " << c << " grouped, " << name_of(batches[b]->kernel());
      ASSERT_EQ(fast.detection_line(), trace.line) << "block " << n << " channel " << c;
      ASSERT_EQ(fast.detection_flags(), trace.flags) << "block " << n << " channel " << c;

      std::array<std::int16_t, 50> hist{}, expected_hist{};
      // Channel thresholds are percentages; halves check the rounding of the threshold.
      const double h = n % 5 == 0 ? 0.5 + std::uniform_int_distribution<int>(-3, 8)(rng)
                                  : std::uniform_real_distribution<double>(-5.0, 300.0)(rng);
      fast.body_bend_histogram(mine.view(), c, hist, h);
      reference::body_bend_histogram(theirs.samples.data(), kPositions, c, expected_hist, h,
                                     &trace);
      ASSERT_EQ(hist, expected_hist) << "block " << n << " channel " << c << " h " << h;
    }
    ASSERT_EQ(mine.samples, theirs.samples) << "block " << n;
    ASSERT_EQ(fast.detection_marks(), trace.marks) << "block " << n;
    for (std::size_t b = 0; b < batches.size(); ++b) {
      SCOPED_TRACE(name_of(batches[b]->kernel()));
      ASSERT_EQ(grouped[b].samples, theirs.samples) << "block " << n;
      ASSERT_EQ(batches[b]->detection_marks(), trace.marks) << "block " << n;
      ASSERT_EQ(batches[b]->detection_line(), trace.line) << "block " << n;
      ASSERT_EQ(batches[b]->detection_flags(), trace.flags) << "block " << n;
    }
  }
  // The signals must have met exact halves wherever a value is rounded, or the comparison says
  // nothing about half-to-even rounding there.
  for (int site = 0; site < reference::kRoundingSites; ++site) {
    EXPECT_GT(trace.halves[site], 0) << "rounding site " << site;
  }
}

// The acquisition cycle counts a whole buffer at once; neighbouring channels take the library's
// row-wise path. Also with a buffer shorter than the 500 samples detection reads. Every kernel
// the processor runs.
TEST(Detection, AWholeBufferCountedInGroupsMatchesTheLiteralRoutine) {
  std::mt19937 rng(1937);
  for (int positions : {501, 21}) {
    std::vector<std::int16_t> block(static_cast<std::size_t>(positions) * kChannelSlots, 0);
    std::vector<std::int16_t> padded(kPositions * kChannelSlots, 0);
    for (int c = 0; c < kChannelCount; ++c) {
      const std::vector<int> x = random_signal(rng, c % 3);
      for (int k = 0; k < std::min(positions, 500); ++k)
        block[k * kChannelSlots + c] = padded[k * kChannelSlots + c] =
            static_cast<std::int16_t>(x[k]);
    }
    std::vector<int> channels(kChannelCount);
    for (int c = 0; c < kChannelCount; ++c)
      channels[c] = c;
    for (int method = 0; method <= 3; ++method) {
      const double thr = method == 3 ? 0.8 : 1.8;
      std::vector<std::int16_t> theirs = padded;
      reference::Trace trace;
      std::vector<std::int16_t> expected(kChannelCount);
      for (int c = 0; c < kChannelCount; ++c)
        expected[c] = reference::detect_activity(theirs.data(), positions, c, thr,
                                                 static_cast<std::int16_t>(method), trace);
      for (DetectionKernel kernel : available_kernels()) {
        SCOPED_TRACE(name_of(kernel));
        std::vector<std::int16_t> mine = block;
        std::vector<std::int16_t> counts(kChannelCount);
        ActivityDetector detector(kernel);
        detector.detect_channels(RawBlock{mine}, channels, thr, static_cast<std::int16_t>(method),
                                 counts);
        for (int c = 0; c < kChannelCount; ++c)
          ASSERT_EQ(counts[c], expected[c])
              << "channel " << c << " method " << method << " positions " << positions;
        ASSERT_TRUE(std::equal(mine.begin(), mine.end(), theirs.begin())) << method;
        ASSERT_EQ(detector.detection_line(), trace.line) << method;
        ASSERT_EQ(detector.detection_marks(), trace.marks) << method;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Every kernel against the literal routines where the lanes meet their edge paths.

// Lists of n neighbouring channels from `first`.
std::vector<int> run_of(int first, int n) {
  std::vector<int> channels(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j)
    channels[static_cast<std::size_t>(j)] = first + j;
  return channels;
}

// The line value a constant 2000 settles at with method 1 and threshold 1.8.
int settled_line() {
  std::vector<std::int16_t> block(kPositions * kChannelSlots, 0);
  for (int k = 0; k < 500; ++k)
    block[k * kChannelSlots] = 2000;
  reference::Trace trace;
  reference::detect_activity(block.data(), kPositions, 0, 1.8, 1, trace);
  return trace.line[250];
}

TEST(DetectionKernels, EveryKernelMatchesTheLiteralRoutinesOnEdgeCases) {
  enum Signals {
    kRandom,       // a different realistic or adversarial beam in every lane
    kTouchingLine, // dips to the settled line in even lanes, one below it in odd ones
    kOddLevels,    // constant odd levels: method 3 lines at exact halves
    kExtremes,     // the 16-bit limits and swings between them
    kAboveStart,   // levels above the running minimum's start of 9999
  };
  struct Case {
    const char* name;
    std::vector<int> channels; // as listed, repeats and channels out of range included
    int method;
    double thr;
    Signals signals;
    int positions = kPositions;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<int> scattered = {3, 40, 41, 90, 200, 201, 202, 380, 384, 0, 17};
  const std::vector<Case> cases = {
      // Lane counts around the vector widths (2, 4, 8) and group sizes (8, 16, 32).
      {"one channel", {5}, 1, 1.8, kRandom},
      {"three neighbours", run_of(10, 3), 0, 1.8, kRandom},
      {"seven neighbours", run_of(10, 7), 3, 0.8, kRandom},
      {"nine neighbours", run_of(10, 9), 1, 1.8, kRandom},
      {"seventeen neighbours", run_of(100, 17), 2, 1.8, kRandom},
      {"thirty-three neighbours", run_of(100, 33), 1, 2.8, kRandom},
      {"forty-seven neighbours", run_of(0, 47), 0, 1.8, kRandom},
      {"whole groups up to the last slot", run_of(321, 64), 1, 1.8, kRandom},
      {"scattered channels", scattered, 3, 0.8, kRandom},
      {"repeats and channels out of range", {7, 8, 385, 9, 7, -1, 8, 10, 11}, 1, 1.8, kRandom},
      // Thresholds at their edges: exact line touches, the clamp of T at 1, halves.
      {"dips exactly to the line and one below", run_of(50, 21), 1, 1.8, kTouchingLine},
      {"dips to the line, windows of method 0", run_of(50, 21), 0, 1.8, kTouchingLine},
      {"threshold 0: T exactly 1", run_of(60, 12), 1, 0.0, kRandom},
      {"negative threshold: T clamped to 1", run_of(60, 12), 0, -2.0, kRandom},
      {"method 3 lines at exact halves", run_of(70, 19), 3, 0.5, kOddLevels},
      {"method 3 with fraction 1", run_of(70, 19), 3, 1.0, kRandom},
      // Saturation of the lines and of the samples.
      {"16-bit extremes, method 0", run_of(200, 18), 0, 1.8, kExtremes},
      {"16-bit extremes, method 2", run_of(200, 18), 2, 1.8, kExtremes},
      {"16-bit extremes, method 3", run_of(200, 18), 3, 0.8, kExtremes},
      {"lines beyond 16 bits", run_of(200, 18), 1, 1e9, kRandom},
      {"lines far below -32768", run_of(200, 18), 3, -1e6, kRandom},
      {"threshold not a number", run_of(200, 10), 1, nan, kRandom},
      {"infinite threshold", run_of(200, 10), 0, inf, kRandom},
      {"levels above 9999, method 2", run_of(30, 20), 2, 1.8, kAboveStart},
      // Methods out of range clip and count nothing.
      {"method 4", run_of(90, 13), 4, 1.8, kRandom},
      {"method -1", run_of(90, 13), -1, 1.8, kRandom},
      // Short blocks: rows beyond the end read as 0 and are never written.
      {"21 positions", run_of(0, 40), 1, 1.8, kRandom, 21},
      {"one position", run_of(0, 9), 0, 1.8, kRandom, 1},
      {"499 positions", run_of(340, 45), 3, 0.8, kRandom, 499},
  };
  const int line = settled_line();
  const std::vector<DetectionKernel> kernels = available_kernels();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(static_cast<unsigned>(c.channels.size() * 7919 + c.method + 5));
    std::vector<std::int16_t> block(static_cast<std::size_t>(c.positions) * kChannelSlots, 0);
    std::vector<std::int16_t> padded(kPositions * kChannelSlots, 0);
    for (std::size_t i = 0; i < c.channels.size(); ++i) {
      const int channel = c.channels[i];
      if (channel < 0 || channel >= kChannelSlots) continue;
      const int lane = static_cast<int>(i);
      std::vector<int> x;
      switch (c.signals) {
      case kRandom:
        x = random_signal(rng, static_cast<int>(rng() % 8));
        break;
      case kTouchingLine:
        x = constant(2000);
        for (int u = 100 + 7 * lane; u < 106 + 7 * lane; ++u)
          x[u] = lane % 2 ? line - 1 : line;
        break;
      case kOddLevels:
        x = constant(2001 + 2 * lane);
        break;
      case kExtremes:
        x = lane % 3 == 0 ? constant(lane % 2 ? 32767 : -32768) : random_signal(rng, 3);
        if (lane % 3 == 1)
          for (int u = 0; u < 500; u += 2)
            x[u] = u % 4 ? 32767 : -32768;
        break;
      case kAboveStart:
        x = random_signal(rng, 6);
        for (int& v : x)
          v += 2000 * (lane % 4);
        break;
      }
      for (int k = 0; k < 500; ++k) {
        padded[static_cast<std::size_t>(k) * kChannelSlots + channel] =
            static_cast<std::int16_t>(x[k]);
        if (k < c.positions)
          block[static_cast<std::size_t>(k) * kChannelSlots + channel] =
              static_cast<std::int16_t>(x[k]);
      }
    }
    const auto method = static_cast<std::int16_t>(c.method);

    // The literal routine, one listed channel after the other.
    std::vector<std::int16_t> theirs = padded;
    reference::Trace trace;
    std::vector<std::int16_t> expected;
    for (int channel : c.channels)
      expected.push_back(
          reference::detect_activity(theirs.data(), c.positions, channel, c.thr, method, trace));
    const auto same_block = [&](const std::vector<std::int16_t>& mine) {
      return std::equal(mine.begin(), mine.end(), theirs.begin());
    };

    for (DetectionKernel kernel : kernels) {
      SCOPED_TRACE(name_of(kernel));
      ActivityDetector grouped(kernel), single(kernel);
      ASSERT_EQ(grouped.kernel(), kernel);
      std::vector<std::int16_t> by_group = block, by_channel = block;
      std::vector<std::int16_t> counts(c.channels.size(), -7);
      grouped.detect_channels(RawBlock{by_group}, c.channels, c.thr, method, counts);
      for (std::size_t i = 0; i < c.channels.size(); ++i) {
        EXPECT_EQ(counts[i], expected[i]) << "grouped, listed channel " << i;
        EXPECT_EQ(
            single.detect_activity(RawBlock{by_channel}, c.channels[i], c.thr, method, 0, "", 0),
            expected[i])
            << "one at a time, listed channel " << i;
      }
      EXPECT_TRUE(same_block(by_group)) << "grouped: clipped samples";
      EXPECT_TRUE(same_block(by_channel)) << "one at a time: clipped samples";
      for (const ActivityDetector* d : {&grouped, &single}) {
        EXPECT_EQ(d->detection_line(), trace.line);
        EXPECT_EQ(d->detection_marks(), trace.marks);
        EXPECT_EQ(d->detection_flags(), trace.flags);
      }
    }
  }
}

} // namespace
} // namespace kestrova::acquisition
