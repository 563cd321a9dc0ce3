// The instrument on a clock time source: temperature, organisms and scheduled faults move with
// the clock while nothing scans; a fake clock keeps it deterministic.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/pty_server.hpp"
#include "sim/serial_client.hpp"
#include "sim/sim_test_util.hpp"
#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {
namespace {

using testing::bytes_of;
using testing::frame;
using testing::scan;

InstrumentOptions on_clock(const double& now) {
  InstrumentOptions options;
  options.time_mode = TimeMode::kClock;
  options.time_source = [&now] { return now; };
  return options;
}

TEST(ClockTime, TemperatureMovesWhileNothingScans) {
  double now = 1000.0; // any origin
  InstrumentOptions options = on_clock(now);
  options.organisms_per_well = 0;
  VirtualInstrument vi(options);
  const int raw_before = bytes_of(vi.feed(frame(0, 0x21, 0)))[0];
  vi.feed(frame(0, 0x10, 3)); // heat, power on
  now += 300.0;
  const int raw_after = bytes_of(vi.feed(frame(0, 0x21, 0)))[0];
  EXPECT_GT(raw_after, raw_before + 30);
  EXPECT_NEAR(vi.sim_time(), 300.0, 1e-6);
  EXPECT_GT(vi.temperature_c(), 30.0);

  // Block reads take no time of their own: only the clock moves it.
  for (int i = 0; i < 50; ++i)
    scan(vi);
  EXPECT_NEAR(vi.sim_time(), 300.0, 1e-6);
  // advance() puts the clock ahead for good.
  vi.advance(60.0);
  EXPECT_NEAR(vi.sim_time(), 360.0, 1e-6);
  now += 10.0;
  vi.update();
  EXPECT_NEAR(vi.sim_time(), 370.0, 1e-6);
}

struct ScheduleCase {
  const char* name;
  bool cable; // the cable is pulled (node kept), else the device node goes
};

TEST(ClockTime, ScheduledFaultsFollowTheClock) {
  for (const auto& c : {ScheduleCase{"unplug", false}, ScheduleCase{"cable", true}}) {
    double now = 0.0;
    InstrumentOptions options = on_clock(now);
    (c.cable ? options.faults.cable_out_at : options.faults.unplug_at) = 10.0;
    (c.cable ? options.faults.cable_in_at : options.faults.replug_at) = 20.0;
    VirtualInstrument vi(options);
    now = 9.9;
    EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u) << c.name;
    now = 15.0;
    vi.update();
    EXPECT_EQ(vi.plugged(), c.cable) << c.name;
    EXPECT_EQ(vi.cable_connected(), !c.cable) << c.name;
    EXPECT_EQ(vi.feed(frame(0, 0, 0)), "") << c.name;
    now = 20.0;
    EXPECT_EQ(vi.feed(frame(0, 0, 0)).size(), 2u) << c.name;
  }
}

TEST(ClockTime, SameSeedAndSameClockSameReplies) {
  double now = 0.0;
  InstrumentOptions options = on_clock(now);
  options.seed = 77;
  VirtualInstrument a(options);
  VirtualInstrument b(options);
  for (int i = 0; i < 40; ++i) {
    now += 0.037;
    ASSERT_EQ(scan(a), scan(b)) << i;
  }
  EXPECT_EQ(a.organisms()[3].x_mm, b.organisms()[3].x_mm);
}

// Served on a pty, the instrument's clock moves while nobody asks anything: a scheduled unplug
// closes the line and the replug serves a new one with no frame sent in between.
TEST(ClockTime, ServerFollowsTheClockWithoutFrames) {
  std::atomic<double> now{0.0};
  InstrumentOptions options;
  options.time_mode = TimeMode::kClock;
  options.time_source = [&now] { return now.load(); };
  options.faults.unplug_at = 10.0;
  options.faults.replug_at = 20.0;
  PtyServer server(options);
  ASSERT_TRUE(server.start());
  const auto eventually = [](auto pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!pred() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pred();
  };
  {
    testing::SerialClient port(server.slave_path());
    ASSERT_EQ(port.query(0, 0, 0, 2).size(), 2u);
    now = 15.0;
    ASSERT_TRUE(eventually([&] { return !server.plugged(); }));
  }
  now = 25.0;
  ASSERT_TRUE(eventually([&] { return server.plugged() && !server.slave_path().empty(); }));
  testing::SerialClient port(server.slave_path());
  EXPECT_EQ(port.query(0, 0, 0, 2).size(), 2u);
  EXPECT_EQ(server.with_instrument([](VirtualInstrument& vi) { return vi.frames().size(); }), 2u);
}

} // namespace
} // namespace kestrova::sim
