// Beam levels as the calibration sees them: sensor noise of a chosen amplitude, slow drift and
// flooded beams that saturate.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/sim_test_util.hpp"
#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {
namespace {

using testing::calibrate;
using testing::recalibrate;
using testing::scan;
using testing::write_setting;

constexpr int kBandLow = 1638;
constexpr int kBandHigh = 1843;
constexpr int kSaturationLevel = 1945;

std::vector<int> beams_in_wells(const PlateMap& plate) {
  std::vector<int> channels;
  for (int c = 0; c < kChannelCount; ++c) {
    if (plate.well_of_channel[c] >= 0) channels.push_back(c);
  }
  return channels;
}

// Average of each channel over one buffer of 500 scans, as the acquisition cycle judges a beam.
std::vector<double> buffer_average(VirtualInstrument& vi) {
  std::vector<double> sum(kChannelCount, 0.0);
  for (int s = 0; s < 500; ++s) {
    const auto v = scan(vi);
    for (int c = 0; c < kChannelCount; ++c)
      sum[c] += v[c];
  }
  for (double& x : sum)
    x /= 500.0;
  return sum;
}

struct NoiseCase {
  double scale;
};

// The deviation of the samples around the noise-free level is the chosen multiple of the normal
// amount (2 counts + 0.4 % of the level); 0 gives the level itself. Whatever the noise, a seed
// gives the same organisms.
TEST(VirtualInstrumentBeams, NoiseAmplitudeFollowsItsScale) {
  for (const NoiseCase c : {NoiseCase{0.0}, NoiseCase{0.5}, NoiseCase{1.0}, NoiseCase{4.0}}) {
    InstrumentOptions options;
    options.organisms_per_well = 0;
    options.noise_scale = c.scale;
    VirtualInstrument vi(options);
    double sum_z2 = 0.0;
    int n = 0;
    bool exact = true;
    for (int s = 0; s < 300; ++s) {
      const auto v = scan(vi);
      for (int ch = 0; ch < kChannelCount; ++ch) {
        const double level = vi.clear_level(ch);
        const double z = (v[ch] - level) / (2.0 + 0.004 * level);
        sum_z2 += z * z;
        ++n;
        exact = exact && v[ch] == std::lround(level);
      }
    }
    const double deviation = std::sqrt(sum_z2 / n);
    if (c.scale == 0.0) {
      EXPECT_TRUE(exact);
    } else {
      EXPECT_NEAR(deviation, c.scale, 0.04 * c.scale + 0.02) << c.scale;
    }

    InstrumentOptions with_organisms;
    with_organisms.seed = 5;
    with_organisms.noise_scale = c.scale;
    VirtualInstrument noisy(with_organisms);
    with_organisms.noise_scale = 1.0;
    VirtualInstrument normal(with_organisms);
    for (int s = 0; s < 100; ++s) {
      scan(noisy);
      scan(normal);
    }
    for (std::size_t i = 0; i < normal.organisms().size(); ++i) {
      ASSERT_EQ(noisy.organisms()[i].x_mm, normal.organisms()[i].x_mm) << c.scale;
      ASSERT_EQ(noisy.organisms()[i].y_mm, normal.organisms()[i].y_mm) << c.scale;
    }
  }
}

struct DriftCase {
  double percent_per_min;
  double low_factor;  // the light after ten minutes, at the slowest beam's rate (0.75 x)
  double high_factor; // and at the fastest (1.25 x)
};

// Ten minutes of drift change each beam by its own share of the rate; the settings stay.
TEST(VirtualInstrumentBeams, DriftChangesEachBeamAtItsOwnRate) {
  const std::vector<DriftCase> cases = {
      {3.0, std::pow(1.03, 7.5), std::pow(1.03, 12.5)},
      {-3.0, std::pow(0.97, 12.5), std::pow(0.97, 7.5)},
      {0.0, 1.0, 1.0},
  };
  for (const auto& c : cases) {
    InstrumentOptions options;
    options.organisms_per_well = 0;
    options.drift_percent_per_min = c.percent_per_min;
    VirtualInstrument vi(options);
    std::vector<double> before(kChannelCount);
    for (int ch = 0; ch < kChannelCount; ++ch)
      before[ch] = vi.clear_level(ch);
    vi.advance(600.0);
    double lowest = 1e9;
    double highest = 0.0;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      // The receiver's dark output does not drift, so the ratio lies a little nearer to 1.
      const double ratio = vi.clear_level(ch) / before[ch];
      EXPECT_GE(ratio, std::min(c.low_factor * 0.99, 1.0)) << c.percent_per_min << " ch " << ch;
      EXPECT_LE(ratio, std::max(c.high_factor * 1.01, 1.0)) << c.percent_per_min << " ch " << ch;
      lowest = std::min(lowest, ratio);
      highest = std::max(highest, ratio);
    }
    if (c.percent_per_min == 0.0) {
      EXPECT_EQ(lowest, 1.0);
      EXPECT_EQ(highest, 1.0);
    } else {
      EXPECT_GT(highest - lowest, 0.05) << "every beam drifts alike at " << c.percent_per_min;
    }
  }
}

// Calibrated beams that drift upwards reach the saturation level on a buffer's average, and the
// step rule from their present settings brings them back into the band.
TEST(VirtualInstrumentBeams, UpwardDriftLeadsToARecalibrationThatSucceeds) {
  InstrumentOptions options;
  options.seed = 17;
  options.organisms_per_well = 0;
  VirtualInstrument vi(options);
  calibrate(vi, options.plate);
  const auto beams = beams_in_wells(options.plate);
  auto average = buffer_average(vi);
  for (int c : beams)
    ASSERT_LT(average[c], kSaturationLevel) << c;

  vi.set_drift(3.0);
  vi.advance(720.0);
  vi.set_drift(0.0);
  average = buffer_average(vi);
  for (int c : beams)
    EXPECT_GE(average[c], kSaturationLevel) << c;

  EXPECT_LT(recalibrate(vi, beams), 20);
  for (int c : beams) {
    EXPECT_GE(vi.clear_level(c), kBandLow / 1.07) << c; // at worst one step below the band
    EXPECT_LE(vi.clear_level(c), kBandHigh + 15) << c;
  }
}

// Flooded beams read 4095 from their time on, the others keep their level; stepping a flooded
// beam's setting down ends in the band, or at the darkest setting when that is still too bright.
TEST(VirtualInstrumentBeams, FloodedBeamsSaturateAndStepDownAsFarAsTheSettingAllows) {
  InstrumentOptions options;
  options.seed = 23;
  options.organisms_per_well = 0;
  VirtualInstrument vi(options);
  calibrate(vi, options.plate);
  const auto beams = beams_in_wells(options.plate);
  const std::vector<int> flooded(beams.begin(), beams.begin() + 48);
  const std::vector<int> others(beams.begin() + 48, beams.end());
  vi.set_saturation({flooded, vi.sim_time() + 1.0});

  auto average = buffer_average(vi); // 15 s, the flood comes 1 s in
  const auto v = scan(vi);
  for (int c : flooded) {
    EXPECT_GT(average[c], 3800) << c;
    EXPECT_GE(v[c], 4000) << c;
  }
  int at_top = 0;
  for (int s = 0; s < 100; ++s) {
    const auto w = scan(vi);
    for (int c : flooded)
      at_top += w[c] == 4095 ? 1 : 0;
  }
  EXPECT_GT(at_top, 100 * 48 * 9 / 10);
  for (int c : others)
    EXPECT_LT(average[c], kSaturationLevel) << c;

  recalibrate(vi, flooded);
  int recovered = 0;
  for (int c : flooded) {
    const double level = vi.clear_level(c);
    if (level <= kBandHigh + 15) {
      EXPECT_GE(level, kBandLow / 1.07) << c;
      ++recovered;
    } else {
      EXPECT_EQ(vi.channel_setting(c), setting_byte(1, 0)) << c << " stopped above the band";
    }
  }
  EXPECT_GE(recovered, 48 / 4);
}

// The beam patterns a device check relies on: every beam lit well above 1638 at gain 7 / power 7
// and dark well below 1024 at gain 0 / power 0, with organisms in the wells; a fixed beam reads
// its level at both; a channel with the write fault never echoes and keeps its setting.
TEST(VirtualInstrumentBeams, FullAndZeroSettingsFixedBeamsAndUnacknowledgedWrites) {
  InstrumentOptions options;
  options.noise_scale = 0.0;
  options.fixed_beams = {{37, 1100.0}, {300, 15.0}};
  VirtualInstrument vi(options);
  vi.faults().bad_echo = channel_write_fault(200);
  const std::array<int, 2> settings{setting_byte(7, 7), setting_byte(0, 0)};
  for (int setting : settings) {
    for (int c = 0; c < kChannelCount; ++c)
      if (c != 200) {
        ASSERT_EQ(write_setting(vi, c, setting), c < 128 ? c : c - 128) << c;
      }
    const auto values = scan(vi);
    for (int c = 0; c < kChannelCount; ++c) {
      if (c == 37 || c == 300 || c == 200) continue;
      if (setting == settings[0])
        EXPECT_GE(values[c], 1639) << c;
      else
        EXPECT_LE(values[c], 1024) << c;
    }
    EXPECT_EQ(values[37], 1100);
    EXPECT_EQ(values[300], 15);
  }
  const std::uint8_t before = vi.channel_setting(200);
  EXPECT_NE(write_setting(vi, 200, setting_byte(7, 7)), 72);
  EXPECT_NE(write_setting(vi, 200, setting_byte(7, 7)), 72);
  EXPECT_EQ(vi.channel_setting(200), before);
  EXPECT_EQ(write_setting(vi, 72, setting_byte(7, 7)), 72); // the same register of bank 0 works
}

// One beam at a time, while running: fixed at a level, dark, released; the others keep theirs.
TEST(VirtualInstrumentBeams, OneBeamFixedDarkOrReleased) {
  InstrumentOptions options;
  options.noise_scale = 0.0;
  options.fixed_beams = {{37, 1100.0}};
  VirtualInstrument vi(options);
  const auto before = scan(vi);
  vi.set_beam_level(5, 1600.0);
  vi.set_beam_dark(200);
  auto values = scan(vi);
  EXPECT_EQ(values[5], 1600);
  EXPECT_EQ(values[200], 15);
  EXPECT_EQ(values[37], 1100);
  EXPECT_EQ(values[6], before[6]);
  vi.release_beam(5);
  vi.release_beam(200);
  values = scan(vi);
  EXPECT_EQ(values[5], before[5]);
  EXPECT_EQ(values[200], before[200]);
  EXPECT_EQ(values[37], 1100);
}

} // namespace
} // namespace kestrova::sim
