#include "sim/virtual_instrument.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/sim_test_util.hpp"

namespace kestrova::sim {
namespace {

using testing::block_value;
using testing::bytes_of;
using testing::frame;
using testing::scan;
using testing::write_setting;

struct CommandCase {
  const char* name;
  int qualifier, code, argument;
  std::vector<int> reply; // exact reply bytes
};

// Every command of the table with its exact reply, from a fresh instrument.
TEST(VirtualInstrumentCommands, RepliesOfTheCommandTable) {
  InstrumentOptions options;
  options.serial_number = 42;
  options.initial_setting = setting_byte(2, 3); // 98
  const std::vector<CommandCase> cases = {
      {"probe", 0, 0x00, 0, {0, 42}},
      {"set outputs: no reply", 0, 0x10, 7, {}},
      {"read register bank 0, channel 5", 0, 0x20, 5, {98}},
      {"read register bank 1, channel 200", 1, 0x20, 72, {98}},
      {"factory marker", 0, 0x20, 128, {0}},
      {"factory month", 0, 0x20, 129, {6}},
      {"factory year", 0, 0x20, 130, {24}},
      {"factory sign", 0, 0x20, 131, {0}},
      {"factory offset x10", 0, 0x20, 132, {12}},
      {"factory slope low", 0, 0x20, 133, {219}},
      {"factory slope high", 0, 0x20, 134, {0}},
      {"factory unused", 0, 0x20, 135, {0}},
      {"temperature: 22 C on the sensor", 0, 0x21, 0, {95}}, // (22 - 1.2) / 0.219
      {"write channel 10: echo 10", 0x80, 10, 99, {10}},
      {"write channel 200: echo 72", 0x81, 72, 99, {72}},
      {"set half 0: one byte", 0, 0x11, 33, {33}},
      {"set half 1: one byte", 1, 0x11, 33, {33}},
      {"unknown code: silence", 0, 0x55, 0, {}},
      {"block beyond channel 383: silence", 0, 0x30, 97, {}},
      {"read of bank 2: silence", 2, 0x20, 0, {}},
  };
  for (const auto& c : cases) {
    VirtualInstrument vi(options);
    EXPECT_EQ(bytes_of(vi.feed(frame(c.qualifier, c.code, c.argument))), c.reply) << c.name;
  }
}

TEST(VirtualInstrumentCommands, ProbeSplitsTheSerialNumberBy255) {
  for (const auto& [serial, b1, b2] : std::vector<std::array<int, 3>>{
           {10, 0, 10}, {250, 0, 250}, {255, 1, 0}, {300, 1, 45}, {3060, 12, 0}}) {
    InstrumentOptions options;
    options.serial_number = serial;
    VirtualInstrument vi(options);
    EXPECT_EQ(bytes_of(vi.feed(frame(0, 0, 0))), (std::vector<int>{b1, b2})) << serial;
  }
}

TEST(VirtualInstrumentCommands, BlockRepliesAre192BytesOf12BitValues) {
  VirtualInstrument vi;
  for (int k : {0, 32, 64, 96}) {
    const std::string reply = vi.feed(frame(0, 0x30, k));
    ASSERT_EQ(reply.size(), 192u);
    for (int i = 0; i < 192; i += 2)
      EXPECT_LE(static_cast<std::uint8_t>(reply[i]), 15) << i;
  }
}

TEST(VirtualInstrumentCommands, WritesChangeSettingsAndRegisterReadsSeeThem) {
  VirtualInstrument vi;
  EXPECT_EQ(write_setting(vi, 5, setting_byte(7, 1)), 5);
  EXPECT_EQ(write_setting(vi, 200, setting_byte(4, 6)), 72);
  EXPECT_EQ(write_setting(vi, 383, 255), 255);
  EXPECT_EQ(vi.channel_setting(5), setting_byte(7, 1));
  EXPECT_EQ(vi.channel_setting(200), setting_byte(4, 6));
  EXPECT_EQ(vi.channel_setting(383), 255);
  EXPECT_EQ(bytes_of(vi.feed(frame(0, 0x20, 5))), std::vector<int>{setting_byte(7, 1)});
  EXPECT_EQ(bytes_of(vi.feed(frame(1, 0x20, 72))), std::vector<int>{setting_byte(4, 6)});

  // The factory window's register writes land in the record.
  EXPECT_EQ(bytes_of(vi.feed(frame(0x80, 132, 31))), std::vector<int>{132});
  EXPECT_EQ(vi.factory_record()[4], 31);
  EXPECT_EQ(bytes_of(vi.feed(frame(0, 0x20, 132))), std::vector<int>{31});
}

TEST(VirtualInstrumentCommands, SetHalfCoversOneRegisterBank) {
  VirtualInstrument vi;
  vi.feed(frame(0, 0x11, 40));
  EXPECT_EQ(vi.channel_setting(0), 40);
  EXPECT_EQ(vi.channel_setting(127), 40);
  EXPECT_NE(vi.channel_setting(128), 40);
  vi.feed(frame(1, 0x11, 41));
  EXPECT_EQ(vi.channel_setting(128), 41);
  EXPECT_EQ(vi.channel_setting(383), 41);
  EXPECT_EQ(vi.channel_setting(127), 40);
}

TEST(VirtualInstrumentCommands, OutputBits) {
  VirtualInstrument vi;
  vi.feed(frame(0, 0x10, 6));
  EXPECT_TRUE(vi.light_on());
  EXPECT_TRUE(vi.heating());
  EXPECT_FALSE(vi.temperature_power());
  vi.feed(frame(0, 0x10, 1));
  EXPECT_EQ(vi.outputs(), 1);
}

TEST(VirtualInstrumentFraming, FramesSplitJoinedOrAfterNoise) {
  VirtualInstrument vi;
  const std::string probe = frame(0, 0, 0);
  // Split in two feeds.
  EXPECT_EQ(vi.feed(probe.substr(0, 3)), "");
  EXPECT_EQ(bytes_of(vi.feed(probe.substr(3))), (std::vector<int>{0, 42}));
  // Two frames in one feed answer in order.
  EXPECT_EQ(bytes_of(vi.feed(probe + frame(0, 0x20, 129))), (std::vector<int>{0, 42, 6}));
  // Noise and a stray 0xFF before a frame are skipped.
  const std::string noisy = std::string("\x01\x02\xFF", 3) + probe;
  EXPECT_EQ(bytes_of(vi.feed(noisy)), (std::vector<int>{0, 42}));
  EXPECT_EQ(vi.skipped_bytes(), 3u);
  // A frame whose end mark is wrong is not taken.
  EXPECT_EQ(vi.feed(std::string("\xFF\x00\x00\x00\x00", 5)), "");
  ASSERT_EQ(vi.frames().size(), 4u);
  EXPECT_EQ(vi.frames()[2].code(), 0x20);
  EXPECT_EQ(vi.frames()[2].argument(), 129);
}

// Value 3m + r of the block that starts at k belongs to channel k + m + 128 r: light one
// channel to saturation with every other channel dark, and find it at exactly that place.
TEST(VirtualInstrumentBlocks, ValuesComeInThe3mPlusROrder) {
  for (int channel : {0, 1, 31, 32, 95, 127, 128, 200, 255, 256, 300, 383}) {
    InstrumentOptions options;
    options.initial_setting = 0;
    options.organisms_per_well = 0;
    VirtualInstrument vi(options);
    vi.set_channel_setting(channel, setting_byte(31, 7));
    const int k = (channel % 128) / 32 * 32;
    const int m = channel % 128 - k;
    const int r = channel / 128;
    for (int block = 0; block <= 96; block += 32) {
      const std::string reply = vi.feed(frame(0, 0x30, block));
      ASSERT_EQ(reply.size(), 192u);
      for (int i = 0; i < 96; ++i) {
        const bool lit = block == k && i == 3 * m + r;
        if (lit) {
          EXPECT_EQ(block_value(reply, i), 4095) << "channel " << channel;
        } else {
          EXPECT_LT(block_value(reply, i), 1000)
              << "channel " << channel << " block " << block << " value " << i;
        }
      }
    }
  }
}

TEST(VirtualInstrumentBeams, BrighterWithPowerAndGainAndSaturating) {
  InstrumentOptions options;
  options.organisms_per_well = 0;
  VirtualInstrument vi(options);
  const int channel = 34; // a beam in a well of the 96-well plate
  double previous = 0.0;
  // The calibration's order from dark to bright: power x 8 + gain.
  for (int power = 0; power <= 7; ++power) {
    for (int gain = 0; gain <= 7; ++gain) {
      vi.set_channel_setting(channel, setting_byte(power, gain));
      const double level = vi.clear_level(channel);
      if (level < 4095.0) {
        EXPECT_GT(level, previous) << power << "," << gain;
      }
      previous = level;
    }
  }
  vi.set_channel_setting(channel, setting_byte(31, 7));
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(scan(vi)[channel], 4095);
  vi.set_channel_setting(channel, setting_byte(1, 0));
  const int dark = scan(vi)[channel];
  EXPECT_GT(dark, 0);
  EXPECT_LT(dark, 1638);
}

TEST(VirtualInstrumentWorld, SameSeedSameRepliesOtherSeedOtherReplies) {
  InstrumentOptions options;
  options.seed = 1234;
  VirtualInstrument a(options);
  VirtualInstrument b(options);
  options.seed = 1235;
  VirtualInstrument c(options);
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    const auto sa = scan(a);
    EXPECT_EQ(sa, scan(b));
    differs = differs || sa != scan(c);
    a.feed(frame(0, 0x10, 3));
    b.feed(frame(0, 0x10, 3));
    c.feed(frame(0, 0x10, 3));
  }
  EXPECT_TRUE(differs);
  EXPECT_EQ(a.temperature_c(), b.temperature_c());
}

TEST(VirtualInstrumentWorld, SimulatedTimeAdvancesPerScanOnly) {
  InstrumentOptions options;
  options.scan_seconds = 0.030;
  VirtualInstrument vi(options);
  for (int i = 0; i < 10; ++i)
    vi.feed(frame(0, 0, 0) + frame(0, 0x21, 0) + frame(0, 0x20, 3));
  EXPECT_EQ(vi.sim_time(), 0.0);
  for (int i = 0; i < 100; ++i)
    scan(vi);
  EXPECT_NEAR(vi.sim_time(), 3.0, 1e-9);
  vi.advance(2.0);
  EXPECT_NEAR(vi.sim_time(), 5.0, 1e-9);
}

// The fast calibration's step rule, as the program runs it, must bring every beam that lies in
// a well into the target band on the simulated plate.
TEST(VirtualInstrumentWorld, CalibrationReachesTheTargetBand) {
  constexpr int kLow = 1638;
  constexpr int kHigh = 1843;
  InstrumentOptions options;
  options.seed = 99;
  VirtualInstrument vi(options);
  const int iterations = testing::calibrate(vi, options.plate);
  EXPECT_LT(iterations, 40);
  // An organism on a beam while it was calibrated pushes it up a step or two; the rest must sit
  // in the band (judged on the noise-free level, without the organisms' shadows).
  int in_band = 0, wells = 0;
  for (int c = 0; c < kChannelCount; ++c) {
    if (options.plate.well_of_channel[c] < 0) continue;
    ++wells;
    const double level = vi.clear_level(c);
    EXPECT_GT(level, kLow * 0.85) << c;
    EXPECT_LT(level, kHigh * 1.6) << c;
    if (level >= kLow - 30 && level <= kHigh + 30) ++in_band;
  }
  EXPECT_GT(in_band, wells * 8 / 10);
}

// Frames taken in one feed: their replies travel as one piece, and the log still gives each
// frame its own reply length.
TEST(VirtualInstrumentCommands, FramesInOneFeedKeepTheirOwnReplyLengths) {
  VirtualInstrument vi{InstrumentOptions{}};
  const std::string two = std::string("\xFF\x00\x20\x80\xF0\xFF\x00\x00\x00\xF0", 10);
  std::size_t replied = 0;
  for (const auto& piece : vi.respond(two))
    replied += piece.bytes.size();
  ASSERT_EQ(vi.frames().size(), 2u);
  EXPECT_EQ(vi.frames()[0].reply_size, 1u); // register read
  EXPECT_EQ(vi.frames()[1].reply_size, 2u); // probe
  EXPECT_EQ(replied, 3u);
}

} // namespace
} // namespace kestrova::sim
