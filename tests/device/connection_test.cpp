#include "device/connection.hpp"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <tuple>
#include <vector>

#include "device/config_port_writer.hpp"
#include "device/fake_serial.hpp"
#include "device/recording_status.hpp"
#include "store/config.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::device {
namespace {

using testing::bytes;
using testing::RecordingConfig;
using testing::RecordingStatus;

// An instrument with serial `serial` on port `instrument_port` whose registers answer from
// `registers`; a register missing from the map is silent.
class ConnectionTest : public ::testing::Test {
protected:
  ConnectionTest() {
    io.respond = [this](int port, std::string_view f) -> std::string {
      if (port != instrument_port) return {};
      const int code = static_cast<unsigned char>(f[2]);
      const int arg = static_cast<unsigned char>(f[3]);
      if (code == kCodeProbe && f[1] == 0) return probe_reply;
      if (code == kCodeReadRegister && f[1] == 0) {
        const auto it = registers.find(arg);
        return it == registers.end() ? std::string() : bytes({it->second});
      }
      return {};
    };
  }
  void set_factory(std::array<int, 8> r) {
    for (int i = 0; i < 8; ++i)
      registers[128 + i] = r[i];
  }

  int instrument_port = 7;
  std::string probe_reply = bytes({0, 42});
  std::map<int, int> registers;
  testing::FakeSerialIo io;
  LinkState link;
  testing::FakeClock clock;
  testing::FakeDialogs dialogs;
  testing::FakeEventPump pump;
  RecordingStatus status;
  RecordingConfig config;
  DeviceProtocol protocol{io, link, clock, dialogs};
  ConnectionManager manager{io, protocol, link, clock, dialogs, pump, status, config};
};

TEST_F(ConnectionTest, ProbeRaisesAndLowersLinesAroundTheFrame) {
  io.present = {7};
  io.CommOpen(7, "COM7", kLineSettings);
  EXPECT_EQ(manager.Probe(7), 42);
  EXPECT_EQ(io.frames(), std::vector<std::string>{bytes({0xFF, 0, 0, 0, 0xF0})});
  EXPECT_EQ(io.lines,
            (std::vector<std::pair<int, bool>>{{3, true}, {2, true}, {3, false}, {2, false}}));
  EXPECT_EQ(clock.sleeps(), std::vector<int>{5});
  probe_reply = bytes({0x0C});
  EXPECT_EQ(manager.Probe(7), 3060);
  EXPECT_FALSE(ConnectionManager::accepted_serial(3060));
  probe_reply.clear();
  EXPECT_EQ(manager.Probe(7), -1);
}

// Where the probe that decides meets the instrument: the configured port, a port of the scan,
// or the port typed into the box after a scan that found nothing.
enum class ProbePath { Configured, Scanned, Typed };

struct ProbeCase {
  const char* name;
  std::string reply;
  int serial; // what the probe reads
  bool accepted;

  friend void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeLimitTest : public ConnectionTest,
                       public ::testing::WithParamInterface<std::tuple<ProbeCase, ProbePath>> {};

// Serial numbers 10 to 250 are taken on every path; anything else leaves the program offline.
TEST_P(ProbeLimitTest, SerialNumberRange) {
  const auto& [c, path] = GetParam();
  probe_reply = c.reply;
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  link.port = path == ProbePath::Configured ? 7 : 4;
  const int port = path == ProbePath::Typed ? 9 : 7;
  io.present = {port};
  if (path == ProbePath::Typed) {
    // Port 9 stays quiet during the scan; its instrument answers once the box was shown.
    io.respond = [this, scan_respond = io.respond](int p, std::string_view f) {
      instrument_port = dialogs.transcript().empty() ? 0 : 9;
      return scan_respond(p, f);
    };
  }
  dialogs.script_input(path == ProbePath::Typed ? "9" : "");
  const ConnectOutcome outcome = manager.Connect();
  EXPECT_EQ(outcome == ConnectOutcome::Connected, c.accepted);
  EXPECT_EQ(link.offline, !c.accepted);
  EXPECT_EQ(link.serial, c.accepted ? c.serial : 0);
  EXPECT_EQ(io.is_open(port), c.accepted);

  io.CommOpen(port, "COM" + std::to_string(port), kLineSettings);
  instrument_port = port;
  EXPECT_EQ(manager.Probe(port), c.serial);
}

std::string
probe_case_name(const ::testing::TestParamInfo<std::tuple<ProbeCase, ProbePath>>& info) {
  static constexpr std::array<const char*, 3> kPaths{"configured", "scanned", "typed"};
  return std::string(std::get<0>(info.param).name) + "_" +
         kPaths[static_cast<std::size_t>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ProbeLimitTest,
    ::testing::Combine(::testing::Values(ProbeCase{"serial_9", bytes({0, 9}), 9, false},
                                         ProbeCase{"serial_10", bytes({0, 10}), 10, true},
                                         ProbeCase{"serial_250", bytes({0, 250}), 250, true},
                                         ProbeCase{"serial_251", bytes({0, 251}), 251, false},
                                         ProbeCase{"serial_255", bytes({1, 0}), 255, false},
                                         ProbeCase{"one_byte", bytes({0x0C}), 3060, false}),
                       ::testing::Values(ProbePath::Configured, ProbePath::Scanned,
                                         ProbePath::Typed)),
    probe_case_name);

struct ScanCase {
  const char* name;
  int configured;
  int instrument; // port that answers; 0 = none
  std::vector<int> present;
  std::vector<int> opened; // CommOpen successes in order
  int opening_texts;
  bool news;
};

class ScanTest : public ConnectionTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, FindsTheInstrumentAndKeepsItsPortOpen) {
  const ScanCase& c = GetParam();
  link.port = static_cast<std::int16_t>(c.configured);
  instrument_port = c.instrument;
  io.present.insert(c.present.begin(), c.present.end());
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(io.opened, c.opened);
  EXPECT_EQ(status.opening_texts().size(), static_cast<std::size_t>(c.opening_texts));
  EXPECT_EQ(status.opening_texts().front(), "Opening Port [" + std::to_string(c.configured) + "]");
  EXPECT_EQ(link.port, c.instrument);
  EXPECT_TRUE(io.is_open(c.instrument));
  EXPECT_TRUE(link.connected);
  EXPECT_FALSE(link.offline);
  EXPECT_EQ(link.serial, 42);
  EXPECT_EQ(status.checked, c.instrument);
  if (c.news) {
    EXPECT_EQ(status.news, std::vector<std::string>{"Status = Connected on COM[ " +
                                                    std::to_string(c.instrument) + " ]"});
  } else {
    EXPECT_TRUE(status.news.empty());
  }
  EXPECT_TRUE(dialogs.transcript().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanTest,
    ::testing::Values(ScanCase{"configured_port_holds_it", 4, 4, {4}, {4, 4}, 1, false},
                      ScanCase{"instrument_on_7", 4, 7, {2, 7}, {2, 7, 7}, 8, true},
                      ScanCase{"configured_16", 16, 3, {3}, {3, 3}, 4, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The configured port gets one probe; a scanned port gets at most two, 10 ms before each.
TEST_F(ConnectionTest, ScanProbesTheConfiguredPortOnceAndOthersUpToTwice) {
  for (const int silent_probes : {2, 3}) {
    SCOPED_TRACE(silent_probes);
    testing::FakeSerialIo scan_io;
    testing::FakeClock scan_clock;
    testing::FakeDialogs scan_dialogs;
    RecordingStatus scan_status;
    LinkState scan_link;
    DeviceProtocol scan_protocol{scan_io, scan_link, scan_clock, scan_dialogs};
    ConnectionManager scan{scan_io,      scan_protocol, scan_link,   scan_clock,
                           scan_dialogs, pump,          scan_status, config};
    scan_io.present = {7};
    scan_link.port = 7;
    int probes = 0;
    scan_io.respond = [&](int, std::string_view f) {
      if (f[2] != kCodeProbe) return bytes({0});
      return ++probes > silent_probes ? bytes({0, 42}) : std::string();
    };
    scan_dialogs.script_input("");
    const bool found = scan.Connect() == ConnectOutcome::Connected;
    EXPECT_EQ(found, silent_probes == 2);
    EXPECT_EQ(probes, 3);
    // Configured port: opening pause, probe; ports 1-6: opening pause; port 7: two probes.
    const std::vector<int> scan_sleeps{100, 5, 100, 100, 100, 100, 100, 100, 100, 10, 5, 10, 5};
    ASSERT_GE(scan_clock.sleeps().size(), scan_sleeps.size());
    EXPECT_EQ(std::vector<int>(scan_clock.sleeps().begin(),
                               scan_clock.sleeps().begin() + scan_sleeps.size()),
              scan_sleeps);
    EXPECT_EQ(scan_status.news.size(), found ? 1u : 0u);
  }
}

TEST_F(ConnectionTest, ConnectShowsItsStepsInOrder) {
  io.present = {7};
  link.port = 7;
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  manager.Connect();
  EXPECT_EQ(status.autochannel, (std::vector<std::string>{"STARTING.....", "Opening Port [7]",
                                                          "Reading Factory Calibration...", ""}));
  EXPECT_EQ(status.autotext, (std::vector<std::string>{"CONNECTING:", ""}));
  EXPECT_EQ(status.progress, (std::vector<bool>{true, false}));
  EXPECT_EQ(pump.calls, 1 + 20);
}

struct InputCase {
  const char* name;
  std::optional<std::string> answer;
  std::vector<int> present; // beyond the scan, which finds nothing
  bool instrument_on_typed;
  std::vector<std::string> messages;
  std::vector<int> saved;
  bool connected;
};

class InputBoxTest : public ConnectionTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(InputBoxTest, OperatorAnswer) {
  const InputCase& c = GetParam();
  link.port = 4;
  io.present.insert(c.present.begin(), c.present.end());
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  // Port 9 stays quiet during the scan; its instrument answers once the box was shown.
  instrument_port = 0;
  io.respond = [this, &c, scan_respond = io.respond](int port, std::string_view f) {
    instrument_port = c.instrument_on_typed && !dialogs.transcript().empty() ? 9 : 0;
    return scan_respond(port, f);
  };
  dialogs.script_input(c.answer);
  const ConnectOutcome outcome = manager.Connect();
  ASSERT_FALSE(dialogs.transcript().empty());
  EXPECT_EQ(dialogs.transcript().front().text,
            "COM(15) PORT ERROR. Type New Port number or <Enter> to go Offline");
  EXPECT_EQ(dialogs.messages(), c.messages);
  EXPECT_EQ(config.saved, c.saved);
  EXPECT_EQ(outcome == ConnectOutcome::Connected, c.connected);
  EXPECT_EQ(link.connected, c.connected);
  EXPECT_EQ(link.offline, !c.connected);
  EXPECT_EQ(status.start_screens, c.connected ? 0 : 1);
  EXPECT_EQ(io.is_open(9), c.connected);
  EXPECT_EQ(link.serial, c.connected ? 42 : 0);
  ASSERT_GE(status.autochannel.size(), 2u);
  EXPECT_EQ(status.autochannel[status.autochannel.size() - 2],
            c.connected ? "Reading Factory Calibration..." : "Equipment not found");
  EXPECT_EQ(status.autochannel.back(), "");
  EXPECT_EQ(status.progress, (std::vector<bool>{true, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, InputBoxTest,
    ::testing::Values(InputCase{"enter", "", {}, false, {"PORT NOT FOUND"}, {}, false},
                      InputCase{"cancel", std::nullopt, {}, false, {"PORT NOT FOUND"}, {}, false},
                      InputCase{"sixteen", "16", {}, false, {"PORT NOT FOUND"}, {}, false},
                      InputCase{"not_a_number", "x7", {}, false, {"PORT NOT FOUND"}, {}, false},
                      InputCase{"absent_port",
                                "9",
                                {},
                                false,
                                {"Invalid Port Number. Offline Mode", "PORT NOT FOUND"},
                                {},
                                false},
                      InputCase{
                          "port_opens_silent", " 9 ", {9}, false, {"PORT NOT FOUND"}, {9}, false},
                      InputCase{"port_opens_answers", "9", {9}, true, {}, {9}, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct FactoryCase {
  const char* name;
  std::array<int, 8> registers; // -1: silent register
  bool valid;
  double offset;
  double slope;
  int month;
};

class FactoryTest : public ConnectionTest, public ::testing::WithParamInterface<FactoryCase> {};

TEST_P(FactoryTest, RecordChecks) {
  const FactoryCase& c = GetParam();
  for (int i = 0; i < 8; ++i)
    if (c.registers[i] >= 0) registers[128 + i] = c.registers[i];
  io.present = {7};
  link.port = 7;
  link.temperature_offset = 3.0; // a stale calibration never survives
  link.temperature_slope = 0.3;
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(link.factory_valid, c.valid);
  EXPECT_DOUBLE_EQ(link.temperature_offset, c.offset);
  EXPECT_DOUBLE_EQ(link.temperature_slope, c.slope);
  EXPECT_EQ(link.cal_month, c.month);
  EXPECT_TRUE(dialogs.transcript().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Records, FactoryTest,
    ::testing::Values(
        FactoryCase{"valid", {0, 6, 24, 0, 12, 219, 0, 0}, true, 1.2, 0.219, 6},
        FactoryCase{"negative_offset", {0, 1, 99, 1, 100, 194, 1, 0}, true, -10.0, 0.45, 1},
        FactoryCase{"slope_lowest", {0, 12, 0, 0, 0, 100, 0, 0}, true, 0.0, 0.1, 12},
        FactoryCase{"slope_half", {0, 6, 24, 0, 12, 0xF4, 1, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"month_13", {0, 13, 24, 0, 12, 219, 0, 0}, false, 0.0, 0.219, 0},
        FactoryCase{"offset_10_1", {0, 6, 24, 0, 101, 219, 0, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"marker_not_0", {1, 6, 24, 0, 12, 219, 0, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"sign_2", {0, 6, 24, 2, 12, 219, 0, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"year_silent", {0, 6, -1, 0, 12, 219, 0, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"slope_low_0", {0, 6, 24, 0, 12, 0, 1, 0}, false, 0.0, 0.219, 6},
        FactoryCase{"erased", {255, 255, 255, 255, 255, 255, 255, 255}, false, 0.0, 0.219, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectionTest, RegisterReadRetriesWithAProbeAfterNoReply) {
  io.present = {7};
  link.port = 7;
  io.CommOpen(7, "COM7", kLineSettings);
  int reads = 0;
  io.respond = [&](int, std::string_view f) {
    if (f[2] == kCodeProbe) return bytes({0, 42});
    // Register 128 is silent for its first three queries (one ReadRegister), then answers.
    return ++reads <= 3 ? std::string() : bytes({6});
  };
  registers.clear();
  manager.ReadFactoryRecord();
  const auto frames = io.frames();
  ASSERT_GE(frames.size(), 5u);
  EXPECT_EQ(frames[3], bytes({0xFF, 0, 0, 0, 0xF0})); // probe after the silent read
  // Then the register reads of every attempt agree.
  EXPECT_EQ(frames[4], bytes({0xFF, 0, 0x20, 128, 0xF0}));
  // Silent read (three queries 1 ms apart), 200 ms, probe, 200 ms; then two answered reads
  // that disagree, 200 ms; then two that agree, with no pause (an answered read leaves nothing
  // on the line to wait for).
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{1, 1, 200, 200, 200}));
  // The probe's own two-byte answer is what the next query reads, so the second attempt
  // disagrees (0 against 6) and the third one gives the value.
  ASSERT_GE(frames.size(), 9u);
  for (std::size_t i = 5; i <= 7; ++i)
    EXPECT_EQ(frames[i], bytes({0xFF, 0, 0x20, 128, 0xF0})) << i;
  EXPECT_EQ(frames[8], bytes({0xFF, 0, 0x20, 129, 0xF0}));
  EXPECT_FALSE(link.factory_valid); // register 128 answered 6, not the marker 0
}

TEST_F(ConnectionTest, DisconnectAndComMenu) {
  io.present = {7};
  link.port = 7;
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  manager.Connect();
  ASSERT_EQ(status.links.size(), 1u);
  EXPECT_TRUE(status.links.back().connected);
  EXPECT_EQ(status.links.back().port, 7);
  manager.SetLinkLost(true);
  ASSERT_EQ(status.links.size(), 2u);
  EXPECT_TRUE(status.links.back().lost);
  manager.SetLinkLost(true); // no change, nothing to tell
  EXPECT_EQ(status.links.size(), 2u);
  manager.Disconnect();
  EXPECT_FALSE(link.connected);
  EXPECT_FALSE(link.offline);
  EXPECT_FALSE(io.is_open(7));
  // The screen hears of the disconnect, and a lost link is not lost any more.
  ASSERT_EQ(status.links.size(), 3u);
  EXPECT_FALSE(status.links.back().connected);
  EXPECT_FALSE(status.links.back().lost);
  // A second connect reopens the port; connecting while connected closes it first.
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_TRUE(io.is_open(7));

  manager.ChooseComPort(3);
  EXPECT_EQ(status.checked, 3);
  EXPECT_EQ(link.port, 3);
  EXPECT_EQ(config.saved, std::vector<int>{3});
  manager.ChooseComPort(16);
  EXPECT_EQ(config.saved.size(), 1u);

  link.offline = true;
  link.port = 7;
  manager.Disconnect();
  EXPECT_TRUE(io.is_open(7)); // nothing happens in offline mode
}

// The COM menu changes the port number while port 7 is held open: disconnecting and
// reconnecting must still release port 7, or its own scan would find it "in use".
TEST_F(ConnectionTest, ComMenuWhileConnectedKeepsTheHeldPortReleasable) {
  io.present = {3, 7};
  link.port = 7;
  set_factory({0, 6, 24, 0, 12, 219, 0, 0});
  ASSERT_EQ(manager.Connect(), ConnectOutcome::Connected);
  manager.ChooseComPort(3);
  EXPECT_EQ(manager.Connect(), ConnectOutcome::Connected);
  EXPECT_EQ(link.port, 7);
  EXPECT_TRUE(io.is_open(7));
  EXPECT_FALSE(io.is_open(3));

  manager.ChooseComPort(3);
  manager.Disconnect();
  EXPECT_FALSE(io.is_open(7));
  EXPECT_FALSE(link.connected);
}

TEST(ConfigPortWriter, WritesSerialComToConfigDat) {
  testing::TempDir dir;
  testing::FakeDialogs dialogs;
  store::ProjectState state;
  state.app_folder = dir.path();
  state.config = {3, 7, 4, 0};
  ConfigPortWriter writer(state, dialogs);
  EXPECT_TRUE(writer.save_serial_port(9));
  EXPECT_EQ(state.config.Serial_COM, 9);
  store::ProjectState loaded;
  loaded.app_folder = dir.path();
  ASSERT_TRUE(store::LoadConfig(loaded, dialogs));
  EXPECT_EQ(loaded.config.Serial_COM, 9);
  EXPECT_EQ(loaded.config.Actual_Project_Number, 3);
}

TEST(PortAnswer, Parse) {
  EXPECT_EQ(parse_port_answer(" 12 "), 12);
  EXPECT_EQ(parse_port_answer("0"), 0);
  EXPECT_EQ(parse_port_answer(""), std::nullopt);
  EXPECT_EQ(parse_port_answer("3a"), std::nullopt);
  EXPECT_EQ(parse_port_answer("99999999999"), std::nullopt);
}

} // namespace
} // namespace kestrova::device
