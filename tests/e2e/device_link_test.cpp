// The real serial driver, protocol and connection manager against the virtual instrument
// served on a pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "device/connection.hpp"
#include "device/protocol.hpp"
#include "device/recording_status.hpp"
#include "device/serial_ports.hpp"
#include "sim/pty_server.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::device {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Short driver time-outs keep a read that stays short (five tries) near 100 ms.
CommTimeouts test_timeouts() {
  CommTimeouts t;
  t.read_interval_ms = 5;
  t.read_total_constant_ms = 15;
  return t;
}

// Forwards to the real driver and keeps every open request. A literal log reads every reply
// as CommRead does, waiting out the retries for a second byte.
class OpenLog final : public SerialIo {
public:
  explicit OpenLog(SerialIo& inner, bool literal = false) : inner_(inner), literal_(literal) {}
  int CommOpen(int port, std::string_view name, std::string_view settings) override {
    tried.push_back(port);
    const int rc = inner_.CommOpen(port, name, settings);
    if (rc == 0) opened.push_back(port);
    return rc;
  }
  int CommClose(int port) override { return inner_.CommClose(port); }
  int CommFlush(int port) override { return inner_.CommFlush(port); }
  int CommWrite(int port, std::string_view d) override { return inner_.CommWrite(port, d); }
  int CommRead(int port, std::string& d, int n) override { return inner_.CommRead(port, d, n); }
  int CommReadReply(int port, std::string& d, int n, int complete) override {
    return literal_ ? inner_.CommRead(port, d, n) : inner_.CommReadReply(port, d, n, complete);
  }
  int CommSetLine(int port, int line, bool s) override { return inner_.CommSetLine(port, line, s); }
  std::vector<int> tried, opened;

private:
  SerialIo& inner_;
  bool literal_;
};

class DeviceLinkE2E : public ::testing::Test {
protected:
  DeviceLinkE2E() { ports.set_timeouts(test_timeouts()); }

  // Serves an instrument on DATA/ports/COM<port>.
  sim::PtyServer& serve(int port, sim::InstrumentOptions options = {}) {
    servers.push_back(std::make_unique<sim::PtyServer>(std::move(options)));
    std::string error;
    EXPECT_TRUE(servers.back()->start(&error)) << error;
    EXPECT_TRUE(servers.back()->link(data / "ports" / ("COM" + std::to_string(port)), &error))
        << error;
    return *servers.back();
  }
  // Opens the port as the connect action leaves it.
  void open(int port) {
    link.port = static_cast<std::int16_t>(port);
    ASSERT_EQ(ports.CommOpen(port, "COM" + std::to_string(port), kLineSettings), 0)
        << ports.last_error().source << ": " << ports.last_error().description;
  }
  std::vector<sim::FrameRecord> frames(sim::PtyServer& s) {
    return s.with_instrument([](sim::VirtualInstrument& vi) { return vi.frames(); });
  }

  testing::TempDir data;
  std::vector<std::unique_ptr<sim::PtyServer>> servers;
  testing::FakeClock clock;
  SerialPorts ports{PortMap(data.path(), {}), clock};
  OpenLog io{ports};
  LinkState link;
  testing::FakeDialogs dialogs;
  testing::FakeEventPump pump;
  testing::RecordingStatus status;
  testing::RecordingConfig config;
  DeviceProtocol protocol{io, link, clock, dialogs};
  ConnectionManager manager{io, protocol, link, clock, dialogs, pump, status, config};
};

TEST_F(DeviceLinkE2E, ConnectsToTheConfiguredPortAndReadsTheFactoryRecord) {
  sim::InstrumentOptions opt;
  opt.serial_number = 42;
  serve(4, opt);
  link.port = 4;
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(io.tried, (std::vector<int>{4, 4}));
  EXPECT_EQ(status.opening_texts(), std::vector<std::string>{"Opening Port [4]"});
  EXPECT_TRUE(ports.is_open(4));
  EXPECT_EQ(link.serial, 42);
  EXPECT_TRUE(link.connected);
  EXPECT_FALSE(link.offline);
  EXPECT_TRUE(link.factory_valid);
  EXPECT_EQ(link.cal_month, 6);
  EXPECT_EQ(link.cal_year, 24);
  EXPECT_DOUBLE_EQ(link.temperature_offset, 1.2);
  EXPECT_DOUBLE_EQ(link.temperature_slope, 0.219);
  EXPECT_EQ(status.checked, 4);
  EXPECT_TRUE(dialogs.transcript().empty());

  manager.Disconnect();
  EXPECT_FALSE(ports.is_open(4));
  EXPECT_EQ(protocol.ReadTemperatureRaw(), -1); // every exchange fails after Disconnect
}

TEST_F(DeviceLinkE2E, ScanOpensPortsOneToSevenInTurn) {
  serve(7);
  link.port = 4;
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(io.tried, (std::vector<int>{4, 1, 2, 3, 4, 5, 6, 7, 7}));
  EXPECT_EQ(io.opened, (std::vector<int>{7, 7}));
  EXPECT_EQ(status.news, std::vector<std::string>{"Status = Connected on COM[ 7 ]"});
  EXPECT_EQ(status.checked, 7);
  EXPECT_EQ(link.port, 7);
  EXPECT_TRUE(ports.is_open(7));
}

TEST_F(DeviceLinkE2E, NoInstrumentAsksForAPortThenGoesOffline) {
  link.port = 4;
  dialogs.script_input("");
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Offline);
  EXPECT_EQ(io.tried.size(), 16u);
  EXPECT_EQ(
      dialogs.texts(),
      (std::vector<std::string>{"COM(15) PORT ERROR. Type New Port number or <Enter> to go Offline",
                                "PORT NOT FOUND"}));
  EXPECT_TRUE(link.offline);
  EXPECT_FALSE(link.connected);
  EXPECT_EQ(status.start_screens, 1);
  EXPECT_EQ(status.autochannel[status.autochannel.size() - 2], "Equipment not found");
}

TEST_F(DeviceLinkE2E, SingleByteProbeAnswerIsRejected) {
  sim::InstrumentOptions opt;
  opt.serial_number = 3060;                                           // 0x0C, 0x00 ...
  opt.faults.short_reply = {sim::Fault::kAlways, sim::kCodeProbe, 0}; // ... and only 0x0C comes
  serve(2, opt);
  open(2);
  EXPECT_EQ(manager.Probe(2), 3060);
  ports.CommClose(2);

  link.port = 2;
  dialogs.script_input("");
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Offline);
  EXPECT_EQ(link.serial, 0);
  EXPECT_FALSE(ports.is_open(2));
}

TEST_F(DeviceLinkE2E, TypedPortIsProbedAndKeptOpen) {
  link.port = 4;
  // The instrument appears on port 9 after the scan passed it (at the pause before port 15).
  int pauses = 0;
  clock.on_sleep = [&](int ms) {
    if (ms == 100 && ++pauses == 16) serve(9);
  };
  dialogs.script_input("9");
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(link.port, 9);
  EXPECT_EQ(link.serial, 42);
  EXPECT_EQ(config.saved, std::vector<int>{9});
  EXPECT_TRUE(ports.is_open(9));
  EXPECT_TRUE(link.factory_valid);
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{});
}

struct FactoryE2ECase {
  const char* name;
  sim::FactoryRecordKind kind;
  std::array<std::uint8_t, 8> bytes;
  bool valid;
  double offset;
  double slope;
};

class FactoryE2E : public DeviceLinkE2E, public ::testing::WithParamInterface<FactoryE2ECase> {};

TEST_P(FactoryE2E, Record) {
  const FactoryE2ECase& c = GetParam();
  sim::InstrumentOptions opt;
  opt.factory = c.kind;
  opt.factory_bytes = c.bytes;
  serve(3, opt);
  link.port = 3;
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(link.factory_valid, c.valid);
  EXPECT_DOUBLE_EQ(link.temperature_offset, c.offset);
  EXPECT_DOUBLE_EQ(link.temperature_slope, c.slope);
  EXPECT_TRUE(dialogs.transcript().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FactoryE2E,
    ::testing::Values(
        FactoryE2ECase{"valid", sim::FactoryRecordKind::kValid, {}, true, 1.2, 0.219},
        FactoryE2ECase{"slope_half",
                       sim::FactoryRecordKind::kExplicit,
                       {0, 6, 24, 0, 12, 0xF4, 0x01, 0},
                       false,
                       0.0,
                       0.219},
        FactoryE2ECase{"month_13", sim::FactoryRecordKind::kInvalid, {}, false, 0.0, 0.219},
        FactoryE2ECase{"erased", sim::FactoryRecordKind::kBlank, {}, false, 0.0, 0.219}),
    [](const auto& info) { return std::string(info.param.name); });

struct LadderE2ECase {
  const char* name;
  int bad_echoes; // write frames answered with a wrong echo
  int result;
  std::size_t write_frames;
};

class LadderE2E : public DeviceLinkE2E, public ::testing::WithParamInterface<LadderE2ECase> {};

TEST_P(LadderE2E, ChannelWrite) {
  const LadderE2ECase& c = GetParam();
  sim::InstrumentOptions opt;
  opt.faults.bad_echo = {c.bad_echoes, -1, 0x81};
  sim::PtyServer& s = serve(5, opt);
  // Every frame is answered, so each read ends at its reply gap; a read time-out far beyond any
  // scheduling delay keeps an echo that comes late on a loaded machine from becoming a retry.
  CommTimeouts patient = test_timeouts();
  patient.read_total_constant_ms = 20000;
  ports.set_timeouts(patient);
  open(5);
  const int setting = 4 * 32 + 17;
  EXPECT_EQ(protocol.WriteChannelSetting(200, 17, 4), c.result);
  std::size_t writes = 0;
  for (const auto& f : frames(s)) {
    if (f.qualifier() != 0x81) continue;
    ++writes;
    EXPECT_EQ(f.bytes, (std::array<std::uint8_t, 5>{0xFF, 0x81, 72, setting, 0xF0}));
  }
  EXPECT_EQ(writes, c.write_frames);
  // Every echo ended its read at the reply gap: the driver never paused for a retry.
  EXPECT_EQ(std::count(clock.sleeps().begin(), clock.sleeps().end(), 5), 0);
  const auto setting_now =
      s.with_instrument([](sim::VirtualInstrument& vi) { return vi.channel_setting(200); });
  if (c.result == 1) {
    EXPECT_EQ(setting_now, setting);
    EXPECT_TRUE(dialogs.transcript().empty());
  } else {
    EXPECT_EQ(
        dialogs.messages(),
        std::vector<std::string>{"Ops...Data Writing ERROR: reg(200)... Check COM and Try again"});
  }
}

INSTANTIATE_TEST_SUITE_P(Passes, LadderE2E,
                         ::testing::Values(LadderE2ECase{"pass1", 0, 1, 9},
                                           LadderE2ECase{"pass3", 18, 1, 27},
                                           LadderE2ECase{"never", sim::Fault::kAlways, -1, 36}),
                         [](const auto& info) { return std::string(info.param.name); });

// The same exchanges once with every reply read as CommRead reads it (waiting out the retries
// for a second byte) and once ending at the reply gap: the results and the frames on the line
// agree. The connect meets a silent first register read, so the bare probe that follows leaves
// its reply waiting on the line for the next reads.
TEST_F(DeviceLinkE2E, RepliesEndingAtTheGapKeepEveryOutcome) {
  struct Run {
    std::vector<double> results;
    std::vector<std::array<std::uint8_t, 5>> frames;
  };
  const auto run = [&](int port, bool literal) {
    sim::InstrumentOptions opt;
    opt.faults.silent = {3, sim::kCodeReadRegister, 0};
    opt.faults.bad_echo = {9, -1, 0x81};
    sim::PtyServer& s = serve(port, opt);
    testing::FakeClock run_clock;
    // Long pauses give the line a moment of real time, so replies land before the next frame.
    run_clock.on_sleep = [](int ms) {
      if (ms >= 100) std::this_thread::sleep_for(10ms);
    };
    SerialPorts run_ports{PortMap(data.path(), {}), run_clock};
    run_ports.set_timeouts(test_timeouts());
    OpenLog run_io{run_ports, literal};
    LinkState run_link;
    run_link.port = static_cast<std::int16_t>(port);
    DeviceProtocol run_protocol{run_io, run_link, run_clock, dialogs};
    ConnectionManager run_manager{run_io,  run_protocol, run_link, run_clock,
                                  dialogs, pump,         status,   config};
    Run r;
    r.results.push_back(run_manager.Connect() == ConnectOutcome::Connected);
    r.results.insert(r.results.end(),
                     {static_cast<double>(run_link.serial), run_link.factory_valid ? 1.0 : 0.0,
                      static_cast<double>(run_link.cal_month),
                      static_cast<double>(run_link.cal_year), run_link.temperature_offset,
                      run_link.temperature_slope});
    r.results.push_back(run_protocol.WriteChannelSetting(200, 17, 4));
    s.with_instrument([](sim::VirtualInstrument& vi) {
      vi.faults().silent = {sim::Fault::kAlways, sim::kCodeSetHalf, 1};
    });
    r.results.push_back(run_protocol.SetAllChannels(3, 2));
    r.results.push_back(run_protocol.ReadRegister(5, 1));
    r.results.push_back(run_protocol.ReadTemperatureRaw());
    for (const auto& f : frames(s))
      r.frames.push_back(f.bytes);
    return r;
  };
  const Run literal = run(5, true);
  const Run fast = run(6, false);
  ASSERT_EQ(literal.results.size(), 11u);
  EXPECT_EQ(literal.results[0], 1.0);
  EXPECT_EQ(literal.results[2], 1.0); // the factory record was read whole
  EXPECT_EQ(literal.results[7], 1.0); // acknowledged in pass 2
  EXPECT_EQ(literal.results[8], -1.0);
  EXPECT_EQ(fast.results, literal.results);
  EXPECT_EQ(fast.frames, literal.frames);
}

TEST_F(DeviceLinkE2E, BlocksGoodShortAndBad) {
  sim::InstrumentOptions opt;
  sim::PtyServer& s = serve(6, opt);
  open(6);
  std::vector<std::int16_t> channels(store::kChannelSlots, -1);
  for (int k : kBlockStarts) {
    const ParsedBlock b = protocol.ReadIntensityBlock(k);
    ASSERT_TRUE(b.good()) << k << " got " << b.received;
    distribute_block(k, b.values, channels);
  }
  for (int ch = 0; ch < store::kChannelCount; ++ch) {
    EXPECT_GE(channels[ch], 0) << ch;
    EXPECT_LE(channels[ch], 4095) << ch;
  }
  EXPECT_EQ(channels[store::kChannelCount], -1);

  s.with_instrument([](sim::VirtualInstrument& vi) { vi.faults().short_reply = {1, 0x30, -1}; });
  const ParsedBlock short_block = protocol.ReadIntensityBlock(32);
  EXPECT_EQ(short_block.received, 191);
  EXPECT_FALSE(short_block.good());
  EXPECT_TRUE(protocol.ReadIntensityBlock(32).good()); // the next frame starts clean

  s.with_instrument([](sim::VirtualInstrument& vi) { vi.faults().high_byte = {1, 0x30, -1}; });
  const ParsedBlock high = protocol.ReadIntensityBlock(64, BlockRead::Whole);
  EXPECT_EQ(high.received, 192);
  EXPECT_TRUE(high.high_clipped);
  EXPECT_FALSE(high.good());
}

TEST_F(DeviceLinkE2E, ScanAtLinePaceArrivesWhole) {
  sim::InstrumentOptions opt;
  opt.pacing = sim::Pacing::kLine;
  serve(6, opt);
  open(6);
  ports.set_timeouts({}); // the table's time-outs: a block trickles in within them
  ports.CommClose(6);
  open(6);
  const auto start = std::chrono::steady_clock::now();
  for (int k : kBlockStarts)
    EXPECT_TRUE(protocol.ReadIntensityBlock(k).good()) << k;
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::duration<double>(sim::line_seconds(4 * kBlockBytes)) * 0.95);
}

TEST_F(DeviceLinkE2E, SilentInstrumentTimesOut) {
  sim::InstrumentOptions opt;
  opt.faults.silent = {sim::Fault::kAlways, -1, -1};
  serve(6, opt);
  open(6);
  EXPECT_EQ(protocol.ReadTemperatureRaw(), -1);
  EXPECT_EQ(protocol.ReadRegister(130, 0), -1);
  const ParsedBlock b = protocol.ReadIntensityBlock(0);
  EXPECT_EQ(b.received, 0);
  // Each exchange gave up after five empty device reads, 5 ms apart: the temperature query, the
  // three register reads 1 ms apart, the two halves of the block.
  std::vector<int> pauses;
  for (const int before : {0, 0, 1, 1, 0, 0}) {
    if (before > 0) pauses.push_back(before);
    pauses.insert(pauses.end(), 5, 5);
  }
  EXPECT_EQ(clock.sleeps(), pauses);
}

TEST_F(DeviceLinkE2E, SetAllChannelsWithASilentHalf) {
  sim::InstrumentOptions opt;
  opt.faults.silent = {sim::Fault::kAlways, 0x11, 1};
  sim::PtyServer& s = serve(6, opt);
  open(6);
  EXPECT_EQ(protocol.SetAllChannels(3, 2), -1);
  std::vector<int> halves;
  for (const auto& f : frames(s))
    if (f.code() == 0x11) halves.push_back(f.qualifier());
  EXPECT_EQ(halves, (std::vector<int>{0, 1, 1}));
  s.with_instrument([](sim::VirtualInstrument& vi) { vi.faults().silent = {}; });
  EXPECT_EQ(protocol.SetAllChannels(3, 2), 1);
  EXPECT_EQ(s.with_instrument([](sim::VirtualInstrument& vi) { return vi.channel_setting(300); }),
            3 * 32 + 2);
}

TEST_F(DeviceLinkE2E, UnplugWhileOpenIsAFailure) {
  sim::PtyServer& s = serve(6);
  open(6);
  EXPECT_GE(protocol.ReadTemperatureRaw(), 0);
  s.unplug();
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (s.plugged() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(s.plugged());
  EXPECT_EQ(protocol.ReadTemperatureRaw(), -1);
  EXPECT_FALSE(protocol.ReadIntensityBlock(0).good());
  EXPECT_EQ(protocol.SetOutputs(4), -1);
  EXPECT_FALSE(ports.last_error().source.empty());
  EXPECT_EQ(ports.CommClose(6), 0);
  // The port's link is gone: a new connect finds nothing.
  link.port = 6;
  dialogs.script_input("");
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Offline);
}

} // namespace
} // namespace kestrova::device
