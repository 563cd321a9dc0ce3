#include <gtest/gtest.h>

#include "sim/sim_options.hpp"
#include "sim/sim_test_util.hpp"
#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {
namespace {

using testing::bytes_of;
using testing::frame;
using testing::scan;

TEST(VirtualInstrumentFaults, SilentForNFramesThenAnswers) {
  VirtualInstrument vi;
  vi.faults().silent.count = 2;
  vi.feed(frame(0, 0x10, 4)); // swallowed: the outputs stay off
  EXPECT_EQ(vi.outputs(), 0);
  EXPECT_EQ(vi.feed(frame(0, 0, 0)), "");
  EXPECT_EQ(bytes_of(vi.feed(frame(0, 0, 0))), (std::vector<int>{0, 42}));
  ASSERT_EQ(vi.frames().size(), 3u);
  EXPECT_TRUE(vi.frames()[0].ignored);
  EXPECT_FALSE(vi.frames()[2].ignored);
}

// An instrument that answers only for half 0 of the set-all command.
TEST(VirtualInstrumentFaults, SilenceLimitedToOneCommandAndQualifier) {
  VirtualInstrument vi;
  vi.faults().silent = Fault{Fault::kAlways, kCodeSetHalf, 1};
  EXPECT_EQ(vi.feed(frame(0, 0x11, 50)).size(), 1u);
  EXPECT_EQ(vi.feed(frame(1, 0x11, 50)), "");
  EXPECT_EQ(vi.feed(frame(1, 0x11, 50)), "");
  EXPECT_EQ(vi.feed(frame(1, 0x20, 3)).size(), 1u);
  EXPECT_EQ(vi.channel_setting(0), 50);
  EXPECT_NE(vi.channel_setting(200), 50);
}

TEST(VirtualInstrumentFaults, ShortRepliesLoseTheirLastByte) {
  VirtualInstrument vi;
  vi.faults().short_reply.count = Fault::kAlways;
  EXPECT_EQ(vi.feed(frame(0, 0x30, 0)).size(), 191u);
  EXPECT_EQ(bytes_of(vi.feed(frame(0, 0, 0))), std::vector<int>{0}); // serial 0 x 255: rejected
  EXPECT_EQ(vi.feed(frame(0, 0x21, 0)), "");
  vi.faults().short_reply = Fault{1, kCodeReadBlock, -1};
  EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u);
  EXPECT_EQ(vi.feed(frame(0, 0x30, 32)).size(), 191u);
  EXPECT_EQ(vi.feed(frame(0, 0x30, 32)).size(), 192u);
}

TEST(VirtualInstrumentFaults, HighByteAbove15InABlock) {
  VirtualInstrument vi;
  vi.faults().high_byte.count = 1;
  const std::string bad = vi.feed(frame(0, 0x30, 64));
  ASSERT_EQ(bad.size(), 192u);
  EXPECT_EQ(static_cast<std::uint8_t>(bad[0]), 16);
  const std::string good = vi.feed(frame(0, 0x30, 64));
  for (int i = 0; i < 192; i += 2)
    EXPECT_LE(static_cast<std::uint8_t>(good[i]), 15);
}

// Nine wrong echoes spoil the first pass of the write ladder; the next pass is acknowledged.
TEST(VirtualInstrumentFaults, WrongEchoForNTriesLeavesTheSettingUnchanged) {
  VirtualInstrument vi;
  vi.faults().bad_echo.count = 9;
  const std::uint8_t before = vi.channel_setting(200);
  for (int i = 0; i < 9; ++i) {
    const auto reply = bytes_of(vi.feed(frame(0x81, 72, 77)));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_NE(reply[0], 72);
  }
  EXPECT_EQ(vi.channel_setting(200), before);
  EXPECT_EQ(bytes_of(vi.feed(frame(0x81, 72, 77))), std::vector<int>{72});
  EXPECT_EQ(vi.channel_setting(200), 77);
}

TEST(VirtualInstrumentFaults, UnplugAndReplugAtSimulatedTimes) {
  InstrumentOptions options;
  options.scan_seconds = 0.1;
  options.faults.unplug_at = 0.99; // during the tenth scan's last block
  options.faults.replug_at = 5.0;
  VirtualInstrument vi(options);
  int scans = 0;
  while (vi.plugged() && scans < 100) {
    scan(vi);
    ++scans;
  }
  EXPECT_EQ(scans, 10);
  EXPECT_EQ(vi.feed(frame(0, 0, 0)), "");
  EXPECT_EQ(scan(vi)[0], -1);
  EXPECT_NEAR(vi.sim_time(), 1.0, 1e-9); // no scan happened while unplugged
  vi.advance(3.9);
  EXPECT_FALSE(vi.plugged());
  vi.advance(0.2);
  EXPECT_TRUE(vi.plugged());
  EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u);
}

TEST(VirtualInstrumentFaults, UnplugWithoutReplugStaysDead) {
  InstrumentOptions options;
  options.faults.unplug_at = 0.0;
  VirtualInstrument vi(options);
  vi.advance(600.0);
  EXPECT_FALSE(vi.plugged());
  EXPECT_EQ(vi.feed(frame(0, 0, 0)), "");
}

struct SpecCase {
  const char* fault_text;
  bool ok;
};

TEST(SimOptions, FaultSpecifications) {
  const std::vector<SpecCase> cases = {
      {"silent", true},
      {"silent=3", true},
      {"silent=3@0x30", true},
      {"short", true},
      {"short@48", true},
      {"highbyte=2", true},
      {"bad-echo=9", true},
      {"unplug-at=12.5", true},
      {"replug-at=20", true},
      {"silent=0", false},
      {"silent=x", false},
      {"loud", false},
      {"bad-echo=9@0x1FF", false},
      {"unplug-at", false},
      {"unplug-at=-1", false},
      {"replug-at=5@0x30", false},
      {"", false},
  };
  for (const auto& c : cases) {
    FaultSchedule faults;
    std::string error;
    EXPECT_EQ(apply_fault_text(c.fault_text, faults, error), c.ok) << c.fault_text;
    EXPECT_EQ(error.empty(), c.ok) << c.fault_text;
  }
  FaultSchedule faults;
  std::string error;
  ASSERT_TRUE(apply_fault_text("silent=3@0x30", faults, error));
  EXPECT_EQ(faults.silent.count, 3);
  EXPECT_EQ(faults.silent.code, 0x30);
  ASSERT_TRUE(apply_fault_text("short", faults, error));
  EXPECT_EQ(faults.short_reply.count, Fault::kAlways);
  ASSERT_TRUE(apply_fault_text("unplug-at=12.5", faults, error));
  EXPECT_EQ(faults.unplug_at, 12.5);
}

TEST(SimOptions, WellListsFactoryKindsAndPacing) {
  std::vector<int> wells;
  std::string error;
  ASSERT_TRUE(parse_well_list("0,5,10-12", wells, error));
  EXPECT_EQ(wells, (std::vector<int>{0, 5, 10, 11, 12}));
  ASSERT_TRUE(parse_well_list("", wells, error));
  EXPECT_TRUE(wells.empty());
  for (const char* bad : {"1,,2", "5-3", "a", "-1", "384", "1-"}) {
    EXPECT_FALSE(parse_well_list(bad, wells, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  FactoryRecordKind kind{};
  EXPECT_TRUE(parse_factory_kind("blank", kind));
  EXPECT_EQ(kind, FactoryRecordKind::kBlank);
  EXPECT_FALSE(parse_factory_kind("Valid", kind));
  Pacing pacing{};
  EXPECT_TRUE(parse_pacing("line", pacing));
  EXPECT_EQ(pacing, Pacing::kLine);
  EXPECT_FALSE(parse_pacing("fast", pacing));
}

} // namespace
} // namespace kestrova::sim
