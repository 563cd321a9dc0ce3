// The device self-test through the real serial driver against the virtual instrument on a pty,
// with a virtual clock for the test's own pauses.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/self_test.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "sim/pty_server.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;

class SelfTestE2E : public ::testing::Test {
protected:
  SelfTestE2E() {
    device::CommTimeouts t;
    t.read_interval_ms = 5;
    t.read_total_constant_ms = 15;
    t.reply_gap_ms = 1; // the instrument answers at once: a complete reply ends quickly
    ports_.set_timeouts(t);
  }

  // Serves the instrument on COM3, opens it and runs the whole test; the report's lines.
  std::vector<std::string> run(sim::InstrumentOptions options) {
    server_ = std::make_unique<sim::PtyServer>(std::move(options));
    std::string error;
    EXPECT_TRUE(server_->start(&error)) << error;
    EXPECT_TRUE(server_->link(data_.path() / "ports" / "COM3", &error)) << error;
    link_.port = 3;
    link_.connected = true;
    EXPECT_EQ(ports_.CommOpen(3, "COM3", device::kLineSettings), 0);
    auto probe = [this] {
      std::string reply;
      if (protocol_.DeviceSend(device::kCodeProbe, 0, 0) != 0) return -1;
      ports_.CommReadReply(link_.port, reply, 2, 2);
      return device::serial_from_reply(reply);
    };
    SelfTest test({link_, ports_, protocol_, dialogs_, clock_, shell_, data_.path(), probe});
    EXPECT_TRUE(test.start(false));
    for (int i = 0; i < 200 && test.timer_enabled(); ++i) {
      clock_.advance_ms(test.interval_ms());
      test.tick();
    }
    EXPECT_EQ(test.end(), SelfTestEnd::Completed);
    EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + test.report_path().string()});
    std::ifstream in(test.report_path(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
      EXPECT_TRUE(!l.empty() && l.back() == '\r') << l;
      if (!l.empty()) l.pop_back();
      lines.push_back(l);
    }
    return lines;
  }

  testing::TempDir data_;
  testing::FakeClock clock_{{2026, 12, 11, 0, 45, 0, 0}};
  testing::FakeDialogs dialogs_;
  testing::FakeShell shell_;
  device::SerialPorts ports_{device::PortMap(data_.path(), {}), clock_};
  device::LinkState link_;
  device::DeviceProtocol protocol_{ports_, link_, clock_, dialogs_};
  std::unique_ptr<sim::PtyServer> server_;
};

// The low-setting section: one "CH[k] p%" line per channel, in order.
void expect_low_values(const std::vector<std::string>& lines, std::size_t from) {
  ASSERT_EQ(lines.size(), from + 384);
  for (int k = 0; k < 384; ++k) {
    const std::string& l = lines[from + static_cast<std::size_t>(k)];
    const std::string head = "CH[" + std::to_string(k) + "] ";
    ASSERT_EQ(l.rfind(head, 0), 0u) << l;
    const int percent = std::stoi(l.substr(head.size()));
    EXPECT_GT(percent, 0) << l;
    EXPECT_LT(percent, 100) << l;
    EXPECT_EQ(l.back(), '%') << l;
  }
}

TEST_F(SelfTestE2E, HealthyInstrumentPassesEverything) {
  sim::InstrumentOptions options;
  options.serial_number = 42;
  const auto lines = run(options);
  ASSERT_GE(lines.size(), 53u);
  std::vector<std::string> expected{"Serial:SN42 2026-12-11_00:45",   "", "Test_all_100%: OK PASS!",
                                    "Number of Channels > 80% = 384", "", "Test_all_0%: OK PASS!",
                                    "Number of Channels < 20% = 384", "", "Test_24_Columns:"};
  for (int c = 1; c <= 24; ++c)
    expected.push_back("Col[" + std::to_string(c) + "]: PASS!");
  expected.insert(expected.end(), {"", "Test_16_Rows:"});
  for (char r = 'A'; r <= 'P'; ++r)
    expected.push_back(std::string("Row[") + r + "]: PASS!");
  expected.insert(expected.end(), {"", "Gain/Power[2] Values:"});
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 53), expected);
  expect_low_values(lines, 53);
  // The instrument is left at the low setting everywhere.
  server_->with_instrument([](sim::VirtualInstrument& vi) {
    for (int c = 0; c < 384; ++c)
      ASSERT_EQ(vi.channel_setting(c), sim::setting_byte(2, 2)) << c;
  });
}

TEST_F(SelfTestE2E, BeamStuckAt1100FailsTheDarkPatterns) {
  sim::InstrumentOptions options;
  options.serial_number = 42;
  options.noise_scale = 0.0;
  options.fixed_beams = {{37, 1100.0}};
  const auto lines = run(options);
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[2], "Test_all_100%:  NEEDS REVISION!");
  EXPECT_EQ(lines[4], "Channels < 80%: CH37[53%], ");
  EXPECT_EQ(lines[6], "Test_all_0%:  NEEDS REVISION!");
  EXPECT_EQ(lines[7], "Number of Channels < 20% = 383");
  EXPECT_EQ(lines[8], "Channels > 20%: CH37[53%], ");
  EXPECT_EQ(lines[11], "Col[1]: NONPASS 16\tCH > 80% (NONOK:); 367CH < 20% (NONOK:CH37[53%], )");
  EXPECT_EQ(lines[13], "Col[3]: NONPASS 15\tCH > 80% (NONOK:CH37[53%], ); 368CH < 20% (NONOK:)");
}

} // namespace
} // namespace kestrova::acquisition
