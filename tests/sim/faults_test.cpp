#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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

struct TimingCase {
  const char* name;
  void (*setup)(FaultSchedule&);
  std::string input;
  std::vector<std::pair<double, std::size_t>> pieces; // pause in seconds, bytes
};

// Late and stalled replies as pieces with the pauses before them; feed() gives the same bytes
// without the pauses.
TEST(VirtualInstrumentFaults, LateAndStalledReplies) {
  const std::string block = frame(0, 0x30, 0);
  const std::string probe = frame(0, 0, 0);
  const std::vector<TimingCase> cases = {
      {"late block",
       [](FaultSchedule& f) {
         f.late = {Fault{Fault::kAlways, 0x30, -1}, 250.0};
       },
       block,
       {{0.25, 192}}},
      {"late blocks only: the probe answers at once",
       [](FaultSchedule& f) {
         f.late = {Fault{Fault::kAlways, 0x30, -1}, 250.0};
       },
       probe,
       {{0.0, 2}}},
      {"late once: the second block follows the first at once",
       [](FaultSchedule& f) {
         f.late = {Fault{1, -1, -1}, 100.0};
       },
       block + block,
       {{0.1, 384}}},
      {"stall with a pause",
       [](FaultSchedule& f) {
         f.stall = {Fault{Fault::kAlways, 0x30, -1}, 96, 500.0};
       },
       block,
       {{0.0, 96}, {0.5, 96}}},
      {"stall for good: the rest never comes",
       [](FaultSchedule& f) {
         f.stall = {Fault{Fault::kAlways, 0x30, -1}, 96, std::nullopt};
       },
       block,
       {{0.0, 96}}},
      {"stall never cuts a reply no longer than its cut",
       [](FaultSchedule& f) {
         f.stall = {Fault{Fault::kAlways, -1, -1}, 96, 500.0};
       },
       probe,
       {{0.0, 2}}},
      {"late and stalled",
       [](FaultSchedule& f) {
         f.late = {Fault{Fault::kAlways, -1, -1}, 100.0};
         f.stall = {Fault{Fault::kAlways, -1, -1}, 10, 300.0};
       },
       block,
       {{0.1, 10}, {0.3, 182}}},
      {"a short block stalls too",
       [](FaultSchedule& f) {
         f.short_reply = {Fault{Fault::kAlways, -1, -1}};
         f.stall = {Fault{Fault::kAlways, -1, -1}, 96, 500.0};
       },
       block,
       {{0.0, 96}, {0.5, 95}}},
      {"a silent frame has nothing to delay",
       [](FaultSchedule& f) {
         f.silent = {Fault{Fault::kAlways, -1, -1}};
         f.late = {Fault{Fault::kAlways, -1, -1}, 100.0};
       },
       block,
       {}},
  };
  for (const auto& c : cases) {
    VirtualInstrument timed;
    VirtualInstrument plain;
    c.setup(timed.faults());
    c.setup(plain.faults());
    std::vector<std::pair<double, std::size_t>> got;
    std::string joined;
    for (const auto& piece : timed.respond(c.input)) {
      got.emplace_back(piece.pause_s, piece.bytes.size());
      joined += piece.bytes;
    }
    EXPECT_EQ(got, c.pieces) << c.name;
    EXPECT_EQ(plain.feed(c.input).size(), joined.size()) << c.name;
  }
  // The frame log counts the bytes that reach the line.
  VirtualInstrument vi;
  vi.faults().stall = {Fault{1, 0x30, -1}, 96, std::nullopt};
  EXPECT_EQ(vi.feed(block).size(), 96u);
  EXPECT_EQ(vi.frames().back().reply_size, 96u);
  EXPECT_EQ(vi.feed(block).size(), 192u);
}

// The connection manager's read of a factory register: up to three attempts of two reads; the
// first attempt whose reads agree gives the value, otherwise there is none (-1).
int read_agreed(VirtualInstrument& vi, int address) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto first = bytes_of(vi.feed(frame(0, 0x20, address)));
    const auto second = bytes_of(vi.feed(frame(0, 0x20, address)));
    if (first.size() == 1 && first == second) return first[0];
  }
  return -1;
}

struct UnstableCase {
  const char* name;
  UnstableRegister unstable;
  int address;
  int expected;
};

TEST(VirtualInstrumentFaults, UnstableRegisterDefeatsTheAgreementRule) {
  const std::vector<UnstableCase> cases = {
      {"steady", {}, 129, 6},
      {"one wrong read: the second attempt agrees", {0, 129, 1}, 129, 6},
      {"two wrong reads: the third attempt agrees", {0, 129, 2}, 129, 6},
      {"three wrong reads: no attempt agrees", {0, 129, 3}, 129, -1},
      {"wrong for ever", {0, 129, Fault::kAlways}, 129, -1},
      {"other registers read steadily", {0, 129, Fault::kAlways}, 130, 24},
      {"the same address of bank 1 is another register", {1, 129, Fault::kAlways}, 129, 6},
  };
  for (const auto& c : cases) {
    VirtualInstrument vi;
    vi.faults().unstable = c.unstable;
    EXPECT_EQ(read_agreed(vi, c.address), c.expected) << c.name;
  }
  // The reads alternate, the true value first; the wrong one has its lowest bit flipped.
  VirtualInstrument vi;
  vi.faults().unstable = {0, 132, Fault::kAlways};
  std::vector<int> reads;
  for (int i = 0; i < 4; ++i)
    reads.push_back(bytes_of(vi.feed(frame(0, 0x20, 132)))[0]);
  EXPECT_EQ(reads, (std::vector<int>{12, 13, 12, 13}));
}

// A pulled cable swallows every frame without effect; once back, the instrument answers again.
TEST(VirtualInstrumentFaults, CableOutSwallowsEverythingUntilBackIn) {
  VirtualInstrument vi;
  vi.faults().cable_out = true;
  EXPECT_FALSE(vi.cable_connected());
  EXPECT_TRUE(vi.plugged());
  EXPECT_EQ(vi.feed(frame(0, 0, 0)), "");
  EXPECT_EQ(vi.feed(frame(0x80, 5, 77)), "");
  vi.feed(frame(0, 0x10, 4));
  EXPECT_EQ(vi.feed(frame(0, 0x30, 0)), "");
  EXPECT_EQ(vi.sim_time(), 0.0); // no block was read
  EXPECT_NE(vi.channel_setting(5), 77);
  EXPECT_EQ(vi.outputs(), 0);
  EXPECT_TRUE(vi.frames().back().ignored);
  vi.faults().cable_out = false;
  EXPECT_EQ(bytes_of(vi.feed(frame(0, 0, 0))), (std::vector<int>{0, 42}));
}

TEST(VirtualInstrumentFaults, CableOutAndInAtSimulatedTimes) {
  InstrumentOptions options;
  options.faults.cable_out_at = 1.0;
  options.faults.cable_in_at = 3.0;
  VirtualInstrument vi(options);
  vi.advance(0.9);
  EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u);
  vi.advance(0.2);
  EXPECT_EQ(vi.feed(frame(0, 0, 0)), "");
  vi.advance(1.8);
  EXPECT_FALSE(vi.cable_connected());
  vi.advance(0.2);
  EXPECT_TRUE(vi.cable_connected());
  EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u);
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
      {"late:250", true},
      {"late:250=3@0x30", true},
      {"late", false},
      {"late:x", false},
      {"late:250:3", false},
      {"stall:96", true},
      {"stall:96:500=2@0x30", true},
      {"stall:0:100", true},
      {"stall", false},
      {"stall:-1", false},
      {"stall:96:500:7", false},
      {"unstable:129", true},
      {"unstable:0x81=2", true},
      {"unstable:256", false},
      {"unstable:129=0", false},
      {"unstable:129@0x20", false},
      {"unstable", false},
      {"cable-out-at=2.5", true},
      {"cable-in-at=10", true},
      {"cable-out-at", false},
      {"cable-in-at=-3", false},
      {"silent:3", false},
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
  ASSERT_TRUE(apply_fault_text("late:250=3@0x30", faults, error));
  EXPECT_EQ(faults.late.delay_ms, 250.0);
  EXPECT_EQ(faults.late.when.count, 3);
  EXPECT_EQ(faults.late.when.code, 0x30);
  ASSERT_TRUE(apply_fault_text("stall:96:500=2@0x30", faults, error));
  EXPECT_EQ(faults.stall.after_bytes, 96);
  EXPECT_EQ(faults.stall.pause_ms, 500.0);
  EXPECT_EQ(faults.stall.when.count, 2);
  ASSERT_TRUE(apply_fault_text("stall:96", faults, error));
  EXPECT_FALSE(faults.stall.pause_ms.has_value());
  EXPECT_EQ(faults.stall.when.count, Fault::kAlways);
  ASSERT_TRUE(apply_fault_text("unstable:0x81=2", faults, error));
  EXPECT_EQ(faults.unstable.address, 129);
  EXPECT_EQ(faults.unstable.bank, 0);
  EXPECT_EQ(faults.unstable.wrong_reads, 2);
  ASSERT_TRUE(apply_fault_text("cable-out-at=2.5", faults, error));
  ASSERT_TRUE(apply_fault_text("cable-in-at=10", faults, error));
  EXPECT_EQ(faults.cable_out_at, 2.5);
  EXPECT_EQ(faults.cable_in_at, 10.0);
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
  TimeMode mode{};
  EXPECT_TRUE(parse_time_mode("clock", mode));
  EXPECT_EQ(mode, TimeMode::kClock);
  EXPECT_TRUE(parse_time_mode("scan", mode));
  EXPECT_EQ(mode, TimeMode::kPerScan);
  EXPECT_FALSE(parse_time_mode("wall", mode));
}

TEST(SimOptions, SaturatedChannelLists) {
  Saturation saturation;
  saturation.factor = 5.0;
  std::string error;
  ASSERT_TRUE(parse_saturation("34,40-42@60", saturation, error));
  EXPECT_EQ(saturation.channels, (std::vector<int>{34, 40, 41, 42}));
  EXPECT_EQ(saturation.at_seconds, 60.0);
  EXPECT_EQ(saturation.factor, 5.0);
  ASSERT_TRUE(parse_saturation("383", saturation, error));
  EXPECT_EQ(saturation.channels, std::vector<int>{383});
  EXPECT_EQ(saturation.at_seconds, 0.0);
  for (const char* bad : {"", "384", "5-3", "1,,2", "34@", "34@-1", "34@x", "@10"}) {
    EXPECT_FALSE(parse_saturation(bad, saturation, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(SimOptions, FixedBeamLists) {
  std::vector<FixedBeam> beams{{1, 2.0}};
  std::string error;
  ASSERT_TRUE(parse_fixed_beams("12:1600,40-41:15", beams, error));
  ASSERT_EQ(beams.size(), 3u);
  EXPECT_EQ(beams[0].channel, 12);
  EXPECT_EQ(beams[0].level, 1600.0);
  EXPECT_EQ(beams[2].channel, 41);
  EXPECT_EQ(beams[2].level, 15.0);
  ASSERT_TRUE(parse_fixed_beams("", beams, error));
  EXPECT_TRUE(beams.empty());
  beams = {{1, 2.0}};
  for (const char* bad : {"12", "12:", ":5", "384:5", "12:4096", "12:-1", "12:5,,3:1", "a:5"}) {
    EXPECT_FALSE(parse_fixed_beams(bad, beams, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_EQ(beams.size(), 1u) << bad; // left as it was
  }
}

} // namespace
} // namespace kestrova::sim
