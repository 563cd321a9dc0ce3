// The simulated plate seen through the program's own detection: after calibration, a buffer of
// 500 scans counted with the default method shows activity in occupied wells only.

#include <gtest/gtest.h>

#include <vector>

#include "acquisition/detection.hpp"
#include "sim/sim_test_util.hpp"
#include "sim/virtual_instrument.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::sim {
namespace {

constexpr int kSlots = store::kChannelSlots;
constexpr int kBuffer = 500;

TEST(SimulatedPlateDetection, ActivityInOccupiedWellsOnly) {
  InstrumentOptions options;
  options.seed = 21;
  options.empty_wells = {0, 1, 2, 3, 4, 5, 6, 7, 88, 89, 90, 91, 92, 93, 94, 95};
  VirtualInstrument vi(options);
  testing::calibrate(vi, options.plate);

  acquisition::ActivityDetector detector;
  std::vector<int> counts_of_well(96, 0);
  for (int buffer = 0; buffer < 3; ++buffer) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kBuffer + 1) * kSlots, 0);
    for (int s = 0; s < kBuffer; ++s) {
      const auto v = testing::scan(vi);
      for (int c = 0; c < kChannelCount; ++c) {
        samples[static_cast<std::size_t>(s) * kSlots + c] = static_cast<std::int16_t>(v[c]);
      }
    }
    const acquisition::RawBlock block{samples};
    for (int c = 0; c < kChannelCount; ++c) {
      const int well = options.plate.well_of_channel[c];
      if (well < 0) continue;
      counts_of_well[well] +=
          detector.detect_activity(block, c, 1.8, acquisition::kMethodThresholdAverage, 0, "", 0);
    }
  }
  int active = 0;
  for (int w = 0; w < 96; ++w) {
    const bool empty = w < 8 || w >= 88;
    if (empty) {
      EXPECT_EQ(counts_of_well[w], 0) << "empty well " << w;
    } else if (counts_of_well[w] > 0) {
      ++active;
    }
  }
  EXPECT_GT(active, 80 * 7 / 10) << "of 80 occupied wells";
}

} // namespace
} // namespace kestrova::sim
