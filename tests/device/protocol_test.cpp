#include "device/protocol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "device/fake_serial.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"

namespace kestrova::device {
namespace {

using testing::bytes;

TEST(Frame, HoldsMarksAndMiddleBytes) {
  EXPECT_EQ(make_frame(0x81, 72, 0x65), bytes({0xFF, 0x81, 72, 0x65, 0xF0}));
  EXPECT_EQ(make_frame(0, 0x30, 96), bytes({0xFF, 0, 0x30, 96, 0xF0}));
  EXPECT_TRUE(make_frame(0, 0x11, 256).empty());
  EXPECT_TRUE(make_frame(-1, 0, 0).empty());
}

TEST(SerialNumber, FirstByteTimes255PlusSecond) {
  EXPECT_EQ(serial_from_reply(bytes({0, 42})), 42);
  EXPECT_EQ(serial_from_reply(bytes({1, 2})), 257);
  EXPECT_EQ(serial_from_reply(bytes({0x0C})), 3060); // single byte: second counts as 0
  EXPECT_EQ(serial_from_reply(""), -1);
}

TEST(Block, ParseCases) {
  std::string full;
  for (int i = 0; i < kBlockValues; ++i) {
    full.push_back(static_cast<char>(i % 16));
    full.push_back(static_cast<char>(255 - i));
  }
  const ParsedBlock good = parse_block(full);
  EXPECT_TRUE(good.good());
  EXPECT_EQ(good.values[0], 0 * 256 + 255);
  EXPECT_EQ(good.values[95], 15 * 256 + 160);

  const ParsedBlock short_block = parse_block(full.substr(0, 191));
  EXPECT_FALSE(short_block.good());
  EXPECT_EQ(short_block.received, 191);
  EXPECT_EQ(short_block.values[94], good.values[94]);

  std::string high = full;
  high[10] = 16;
  const ParsedBlock clipped = parse_block(high);
  EXPECT_FALSE(clipped.good());
  EXPECT_TRUE(clipped.high_clipped);
  EXPECT_EQ(clipped.values[5], 15 * 256 + static_cast<unsigned char>(full[11]));

  EXPECT_EQ(parse_block(full + "xx").received, 194); // longer replies are not good blocks
  EXPECT_FALSE(parse_block(full + "xx").good());
}

TEST(Block, FourBlocksCoverEveryChannelOnce) {
  std::vector<int> hits(store::kChannelCount, 0);
  for (int k : kBlockStarts)
    for (int i = 0; i < kBlockValues; ++i)
      ++hits.at(block_channel(k, i));
  EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
  EXPECT_EQ(block_channel(0, 0), 0);
  EXPECT_EQ(block_channel(0, 1), 128);
  EXPECT_EQ(block_channel(0, 2), 256);
  EXPECT_EQ(block_channel(32, 4), 32 + 1 + 128);
  EXPECT_EQ(block_channel(96, 95), 96 + 31 + 256);

  std::array<int, kBlockValues> values{};
  for (int i = 0; i < kBlockValues; ++i)
    values[i] = 1000 + i;
  std::vector<std::int16_t> channels(store::kChannelSlots, -1);
  distribute_block(64, values, channels);
  EXPECT_EQ(channels[64], 1000);
  EXPECT_EQ(channels[64 + 128], 1001);
  EXPECT_EQ(channels[65 + 256], 1005);
  EXPECT_EQ(channels[0], -1);
  EXPECT_EQ(channels[store::kChannelCount], -1);
}

TEST(Temperature, RawTimesSlopePlusOffset) {
  EXPECT_DOUBLE_EQ(temperature_celsius(100, 0.219, 0.0), 21.9);
  EXPECT_DOUBLE_EQ(temperature_celsius(100, 0.2, -1.5), 18.5);
}

// A protocol on a fake line, with virtual time.
class ProtocolTest : public ::testing::Test {
protected:
  ProtocolTest() {
    io.present = {4};
    link.port = 4;
    io.CommOpen(4, "COM4", kLineSettings);
  }
  testing::FakeSerialIo io;
  LinkState link;
  testing::FakeClock clock;
  testing::FakeDialogs dialogs;
  DeviceProtocol protocol{io, link, clock, dialogs};
};

TEST_F(ProtocolTest, QueryReturnsFirstByteOrMinusOne) {
  io.respond = [](int, std::string_view f) {
    return f[2] == kCodeTemperature ? bytes({77}) : std::string();
  };
  EXPECT_EQ(protocol.ReadTemperatureRaw(), 77);
  EXPECT_EQ(protocol.DeviceQuery(kCodeReadRegister, 3, 0), -1);
  link.port = 5; // not open
  EXPECT_EQ(protocol.DeviceQuery(kCodeTemperature, 0, 0), -1);
  EXPECT_EQ(protocol.DeviceSend(kCodeSetOutputs, 5, 0), -1);
}

TEST_F(ProtocolTest, ReadRegisterTriesThreeTimesOneMillisecondApart) {
  int asked = 0;
  io.respond = [&](int, std::string_view) { return ++asked == 2 ? bytes({9}) : std::string(); };
  EXPECT_EQ(protocol.ReadRegister(130, 0), 9);
  EXPECT_EQ(io.frames().back(), bytes({0xFF, 0, 0x20, 130, 0xF0}));
  EXPECT_EQ(clock.sleeps(), std::vector<int>{1});

  asked = 10;
  io.written.clear();
  EXPECT_EQ(protocol.ReadRegister(5, 1), -1);
  EXPECT_EQ(io.written.size(), 3u);
}

// The instrument starts acknowledging at pass `from_pass` (0 = never); the pass is known
// from the temperature queries of the recovery steps.
struct LadderCase {
  const char* name;
  int channel;
  int from_pass;
  int result;
  std::size_t frames; // write frames and temperature queries
  long long slept_ms;
  int flushes;
  std::string first_frame; // the frame of the first try (gain 3, power 5)
};

class LadderTest : public ProtocolTest, public ::testing::WithParamInterface<LadderCase> {};

TEST_P(LadderTest, AcknowledgeLadder) {
  const LadderCase& c = GetParam();
  int pass = 1;
  io.respond = [&](int, std::string_view f) {
    if (static_cast<unsigned char>(f[2]) == kCodeTemperature && f[1] == 0) {
      ++pass;
      return bytes({50});
    }
    const int echo = static_cast<unsigned char>(f[2]);
    return c.from_pass != 0 && pass >= c.from_pass ? bytes({echo}) : bytes({echo + 1});
  };
  EXPECT_EQ(protocol.WriteChannelSetting(c.channel, 5, 3), c.result);
  EXPECT_EQ(io.written.size(), c.frames);
  EXPECT_EQ(clock.total_slept_ms(), c.slept_ms);
  EXPECT_EQ(io.flushes, c.flushes);
  EXPECT_EQ(io.frames().front(), c.first_frame);
  if (c.result == -1) {
    EXPECT_EQ(dialogs.messages(),
              std::vector<std::string>{"Ops...Data Writing ERROR: reg(" +
                                       std::to_string(c.channel) + ")... Check COM and Try again"});
  } else {
    EXPECT_TRUE(dialogs.messages().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Passes, LadderTest,
                         ::testing::Values(
                             // pass 1: 9 tries, no pauses
                             LadderCase{"pass1", 200, 1, 1, 9, 0, 0,
                                        bytes({0xFF, 0x81, 0x48, 0x65, 0xF0})},
                             // passes 2 and 3: each 150 + query + 150 + 9 x (try + 100)
                             LadderCase{"pass3", 7, 3, 1, 9 + 2 * 10, 2 * (300 + 900), 0,
                                        bytes({0xFF, 0x80, 0x07, 0x65, 0xF0})},
                             // pass 4 starts with a flush
                             LadderCase{"pass4", 383, 4, 1, 9 + 3 * 10, 3 * (300 + 900), 1,
                                        bytes({0xFF, 0x81, 0xFF, 0x65, 0xF0})},
                             LadderCase{"never", 127, 0, -1, 9 + 3 * 10, 3 * (300 + 900), 1,
                                        bytes({0xFF, 0x80, 0x7F, 0x65, 0xF0})}),
                         [](const auto& info) { return std::string(info.param.name); });

// The frame that writes a channel's setting, byte for byte, on both sides of the bank border
// between channels 127 and 128; the instrument echoes the third byte.
TEST_F(ProtocolTest, ChannelWriteFramesAcrossTheBankBorder) {
  struct Case {
    int channel, power, gain;
    std::string frame;
  } cases[] = {
      {0, 0, 0, bytes({0xFF, 0x80, 0x00, 0x00, 0xF0})},
      {126, 31, 7, bytes({0xFF, 0x80, 0x7E, 0xFF, 0xF0})},
      {127, 5, 3, bytes({0xFF, 0x80, 0x7F, 0x65, 0xF0})},
      {128, 5, 3, bytes({0xFF, 0x81, 0x00, 0x65, 0xF0})},
      {129, 1, 0, bytes({0xFF, 0x81, 0x01, 0x01, 0xF0})},
      {383, 0, 7, bytes({0xFF, 0x81, 0xFF, 0xE0, 0xF0})},
  };
  io.respond = [](int, std::string_view f) { return std::string(1, f[2]); };
  for (const Case& c : cases) {
    io.written.clear();
    EXPECT_EQ(protocol.WriteChannelSetting(c.channel, c.power, c.gain), 1) << c.channel;
    EXPECT_EQ(io.frames(), std::vector<std::string>(9, c.frame)) << c.channel;
  }
}

TEST_F(ProtocolTest, OnlyTheLastTryOfAPassCounts) {
  // Echoes every try but the ninth of each pass, and the ninth only from pass 2 on.
  int tries = 0;
  io.respond = [&](int, std::string_view f) {
    if (static_cast<unsigned char>(f[2]) == kCodeTemperature) return bytes({50});
    ++tries;
    const bool ninth_of_first = tries == 9;
    return ninth_of_first ? std::string() : bytes({static_cast<unsigned char>(f[2])});
  };
  EXPECT_EQ(protocol.WriteChannelSetting(10, 1, 1), 1);
  EXPECT_EQ(tries, 18);
}

TEST_F(ProtocolTest, SetAllChannelsStopsAtTheFirstSilentHalf) {
  io.respond = [](int, std::string_view f) { return f[1] == 0 ? bytes({1}) : std::string(); };
  EXPECT_EQ(protocol.SetAllChannels(3, 2), -1);
  EXPECT_EQ(io.frames(), (std::vector<std::string>{bytes({0xFF, 0, 0x11, 98, 0xF0}),
                                                   bytes({0xFF, 1, 0x11, 98, 0xF0}),
                                                   bytes({0xFF, 1, 0x11, 98, 0xF0})}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{10, 10, 10}));

  io.respond = [](int, std::string_view) { return bytes({0}); };
  io.written.clear();
  EXPECT_EQ(protocol.SetAllChannels(0, 31), 1);
  EXPECT_EQ(io.written.size(), 2u);
}

TEST_F(ProtocolTest, BlockReadFlushesSendsAndJoinsTwoHalves) {
  std::string reply;
  for (int i = 0; i < kBlockBytes; ++i)
    reply.push_back(static_cast<char>(i % 2 == 0 ? 1 : i));
  io.respond = [&](int, std::string_view) { return reply; };
  const ParsedBlock b = protocol.ReadIntensityBlock(64);
  EXPECT_EQ(io.flushes, 1);
  EXPECT_EQ(io.frames(), std::vector<std::string>{bytes({0xFF, 0, 0x30, 64, 0xF0})});
  EXPECT_TRUE(b.good());
  EXPECT_EQ(b.values[95], 256 + 191);

  reply.pop_back();
  EXPECT_EQ(protocol.ReadIntensityBlock(0, BlockRead::Whole).received, 191);
  EXPECT_FALSE(protocol.ReadIntensityBlock(0).good());
}

TEST_F(ProtocolTest, InvalidArgumentsSendNothing) {
  EXPECT_EQ(protocol.WriteChannelSetting(384, 0, 0), -1);
  EXPECT_EQ(protocol.WriteChannelSetting(-1, 0, 0), -1);
  EXPECT_EQ(protocol.WriteChannelSetting(3, 0, 8), -1);
  EXPECT_EQ(protocol.WriteChannelSetting(3, 32, 0), -1); // would read as gain 1, power 0
  EXPECT_EQ(protocol.WriteChannelSetting(3, -1, 1), -1);
  EXPECT_EQ(protocol.SetAllChannels(9, 0), -1);
  EXPECT_EQ(protocol.SetAllChannels(0, 40), -1);
  EXPECT_TRUE(io.written.empty());
  EXPECT_TRUE(dialogs.transcript().empty());
}

} // namespace
} // namespace kestrova::device
