#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "sim/sim_test_util.hpp"
#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {
namespace {

using testing::bytes_of;
using testing::frame;
using testing::scan;

// Counts dips of a sample series below a line a few noise deviations under its upper level,
// one count per downward crossing; the noise is estimated from successive differences.
int count_dips(const std::vector<int>& x) {
  double diff = 0.0;
  for (std::size_t i = 1; i < x.size(); ++i)
    diff += std::abs(x[i] - x[i - 1]);
  const double noise = diff / static_cast<double>(x.size() - 1) / 1.128;
  std::vector<int> sorted = x;
  std::sort(sorted.begin(), sorted.end());
  const double line = sorted[sorted.size() * 9 / 10] - 6.0 * noise;
  int count = 0;
  bool below = false;
  for (int v : x) {
    if (v < line && !below) ++count;
    below = v < line;
  }
  return count;
}

// Detection on a 96-well plate with a column of empty wells: over a minute of scans the
// occupied wells show dips and the empty ones never do.
TEST(VirtualInstrumentOrganisms, DipsInOccupiedWellsOnly) {
  InstrumentOptions options;
  options.seed = 7;
  options.empty_wells = {0, 1, 2, 3, 4, 5, 6, 7}; // column 1
  VirtualInstrument vi(options);
  std::map<int, int> dips_of_well;
  for (int buffer = 0; buffer < 4; ++buffer) {
    std::vector<std::vector<int>> series(kChannelCount);
    for (int s = 0; s < 500; ++s) {
      const auto v = scan(vi);
      for (int c = 0; c < kChannelCount; ++c)
        series[c].push_back(v[c]);
    }
    for (int c = 0; c < kChannelCount; ++c) {
      const int well = options.plate.well_of_channel[c];
      if (well >= 0) dips_of_well[well] += count_dips(series[c]);
    }
  }
  int active = 0;
  for (int w = 0; w < 96; ++w) {
    if (w < 8) {
      EXPECT_EQ(dips_of_well[w], 0) << "empty well " << w;
    } else if (dips_of_well[w] > 0) {
      ++active;
    }
  }
  EXPECT_GT(active, 88 * 7 / 10);
  EXPECT_NEAR(vi.sim_time(), 2000 * options.scan_seconds, 1e-6);
}

TEST(VirtualInstrumentOrganisms, ShadowsFallOnBeamsOfTheirOwnWellOnly) {
  InstrumentOptions options;
  options.seed = 3;
  options.organisms_per_well = 2;
  options.empty_wells = {10, 11, 12};
  VirtualInstrument vi(options);
  EXPECT_EQ(vi.organisms().size(), 2u * (96 - 3));
  std::array<double, kChannelCount> deepest{};
  deepest.fill(1.0);
  for (int step = 0; step < 600; ++step) {
    vi.advance(0.1);
    for (int c = 0; c < kChannelCount; ++c) {
      deepest[c] = std::min(deepest[c], vi.beam_level(c) / vi.clear_level(c));
    }
  }
  int dimmed = 0;
  for (int c = 0; c < kChannelCount; ++c) {
    const int well = options.plate.well_of_channel[c];
    if (well < 0 || (well >= 10 && well <= 12)) {
      EXPECT_EQ(deepest[c], 1.0) << "channel " << c << " well " << well;
    } else if (deepest[c] < 0.85) {
      ++dimmed;
    }
  }
  EXPECT_GT(dimmed, 186 / 2); // of 186 beams in occupied wells, within a minute
  for (const auto& o : vi.organisms())
    EXPECT_TRUE(o.well < 10 || o.well > 12);
}

struct PlantCase {
  const char* name;
  int outputs;
  int direction; // +1 warmer, -1 colder, 0 stays at ambient
};

TEST(VirtualInstrumentTemperature, PlantFollowsTheOutputBits) {
  const std::vector<PlantCase> cases = {
      {"heat with power", 3, +1},
      {"cool with power", 1, -1},
      {"direction without power", 2, 0},
      {"all off", 0, 0},
  };
  for (const auto& c : cases) {
    InstrumentOptions options;
    options.ambient_c = 22.0;
    options.organisms_per_well = 0;
    VirtualInstrument vi(options);
    const int raw_before = bytes_of(vi.feed(frame(0, 0x21, 0)))[0];
    vi.feed(frame(0, 0x10, c.outputs));
    vi.advance(300.0);
    const int raw_after = bytes_of(vi.feed(frame(0, 0x21, 0)))[0];
    const double t = vi.temperature_c();
    if (c.direction > 0) {
      EXPECT_GT(t, 30.0) << c.name;
      EXPECT_GT(raw_after, raw_before + 30) << c.name;
    } else if (c.direction < 0) {
      EXPECT_LT(t, 16.0) << c.name;
      EXPECT_LT(raw_after, raw_before - 20) << c.name;
    } else {
      EXPECT_NEAR(t, 22.0, 0.01) << c.name;
      EXPECT_EQ(raw_after, raw_before) << c.name;
    }
    // The program's conversion with the factory calibration reads the true temperature.
    EXPECT_NEAR(raw_after * 0.219 + 1.2, t, 0.219) << c.name;
    // Switching the power off lets the plate drift back to the room.
    vi.feed(frame(0, 0x10, 0));
    vi.advance(3000.0);
    EXPECT_NEAR(vi.temperature_c(), 22.0, 0.1) << c.name;
  }
}

TEST(VirtualInstrumentTemperature, LightWarmsThePlateSlightly) {
  InstrumentOptions options;
  options.organisms_per_well = 0;
  VirtualInstrument vi(options);
  vi.feed(frame(0, 0x10, 4));
  vi.advance(600.0);
  EXPECT_GT(vi.temperature_c(), 22.5);
  EXPECT_LT(vi.temperature_c(), 23.5);
}

// The factory record as the connection manager checks it: offset = reg132 / 10 (negated when
// reg131 is 1), slope = (reg134 x 256 + reg133) / 1000, each within its accepted range.
bool record_passes(const std::array<std::uint8_t, 8>& r) {
  if (r[0] != 0 || r[1] < 1 || r[1] > 12 || r[2] > 99 || r[3] > 1 || r[5] < 1) return false;
  const double offset = (r[3] == 1 ? -1.0 : 1.0) * r[4] / 10.0;
  const double slope = (r[6] * 256 + r[5]) / 1000.0;
  return offset >= -10 && offset <= 10 && slope >= 0.1 && slope <= 0.45;
}

TEST(VirtualInstrumentFactoryRecord, KindsReadThroughRegisters128To135) {
  struct Case {
    FactoryRecordKind kind;
    std::array<std::uint8_t, 8> explicit_bytes;
    bool passes;
  };
  const std::vector<Case> cases = {
      {FactoryRecordKind::kValid, {}, true},
      {FactoryRecordKind::kInvalid, {}, false},
      {FactoryRecordKind::kBlank, {}, false},
      {FactoryRecordKind::kExplicit, {0, 12, 99, 1, 100, 194, 1, 7}, true}, // -10.0, 0.45
      {FactoryRecordKind::kExplicit, {0, 3, 25, 0, 12, 244, 1, 0}, false},  // slope 0.5
  };
  for (const auto& c : cases) {
    InstrumentOptions options;
    options.factory = c.kind;
    options.factory_bytes = c.explicit_bytes;
    VirtualInstrument vi(options);
    std::array<std::uint8_t, 8> read{};
    for (int i = 0; i < 8; ++i) {
      const auto reply = bytes_of(vi.feed(frame(0, 0x20, 128 + i)));
      ASSERT_EQ(reply.size(), 1u);
      read[i] = static_cast<std::uint8_t>(reply[0]);
    }
    EXPECT_EQ(read, vi.factory_record());
    EXPECT_EQ(record_passes(read), c.passes) << static_cast<int>(c.kind);
    if (c.kind == FactoryRecordKind::kBlank) {
      EXPECT_TRUE(std::all_of(read.begin(), read.end(), [](int b) { return b == 0xFF; }));
    }
    if (c.kind == FactoryRecordKind::kExplicit) {
      EXPECT_EQ(read, c.explicit_bytes);
    }
  }
}

TEST(VirtualInstrumentPlates, BuiltInMaps) {
  const auto w96f = PlateMap::w96f();
  EXPECT_EQ(w96f.well_count, 96);
  EXPECT_EQ(w96f.well_of_channel[0], 0);
  EXPECT_EQ(w96f.well_of_channel[16], 0);
  EXPECT_EQ(w96f.well_of_channel[2], 1);
  EXPECT_EQ(w96f.well_of_channel[18], 1);
  EXPECT_EQ(w96f.well_of_channel[32], 8);
  EXPECT_EQ(w96f.well_of_channel[48], 8);
  EXPECT_EQ(w96f.well_of_channel[1], -1);
  const auto w96u = PlateMap::w96u();
  EXPECT_EQ(w96u.well_count, 96);
  EXPECT_EQ(w96u.well_of_channel[2], 1);
  EXPECT_EQ(w96u.well_of_channel[32], 8);
  EXPECT_EQ(w96u.well_of_channel[16], -1);
  const auto w384 = PlateMap::w384();
  EXPECT_EQ(w384.well_count, 384);
  EXPECT_EQ(w384.well_of_channel[17], 17);
  EXPECT_FALSE(PlateMap::builtin("w24").has_value());
  EXPECT_TRUE(PlateMap::builtin("w384").has_value());
}

TEST(VirtualInstrumentPlates, EveryBeamOfA384PlateSeesItsOrganism) {
  InstrumentOptions options;
  options.plate = PlateMap::w384();
  options.seed = 11;
  VirtualInstrument vi(options);
  ASSERT_EQ(vi.organisms().size(), 384u);
  int dimmed = 0;
  std::array<bool, kChannelCount> seen{};
  for (int step = 0; step < 300; ++step) {
    vi.advance(0.1);
    for (int c = 0; c < kChannelCount; ++c)
      seen[c] = seen[c] || vi.beam_level(c) < 0.85 * vi.clear_level(c);
  }
  for (bool s : seen)
    dimmed += s ? 1 : 0;
  EXPECT_GT(dimmed, 384 * 9 / 10);
}

} // namespace
} // namespace kestrova::sim
