// The channel calibration console's rules against a scripted instrument line, a virtual clock
// and real files.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "acquisition/channel_console.hpp"
#include "device/fake_serial.hpp"
#include "store/record_file.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using common::Answer;

TEST(ConsoleRules, SettingBytesAndGridPositions) {
  EXPECT_EQ(split_setting(229), (GainPower{7, 5}));
  EXPECT_EQ(split_setting(95), (GainPower{2, 7})); // power 31 is shown as 7
  EXPECT_EQ(split_setting(0), (GainPower{0, 0}));
  EXPECT_EQ(console_setting(7, 3), 227);
  EXPECT_EQ(console_channel(2, 2), 18); // row C, column 2
  EXPECT_EQ(console_channel(0, 1), 0);
  EXPECT_EQ(console_channel(15, 24), 383);
  EXPECT_EQ(beam_name(18), "C2");
  EXPECT_EQ(ChannelConsole::beam_at(150, 250), (std::pair<int, int>{1, 2}));
  EXPECT_EQ(ChannelConsole::beam_at(-60, 5000), (std::pair<int, int>{0, 15}));
}

TEST(ConsoleRules, CalibrationBand) {
  EXPECT_EQ(calibration_band(80).lower, 1536);
  EXPECT_EQ(calibration_band(80).upper, 1741);
  EXPECT_EQ(calibration_band(50).lower, 922);  // 921.6
  EXPECT_EQ(calibration_band(50).upper, 1126); // 1126.4
}

TEST(ConsoleRules, SetValueFromBoxText) {
  struct Case {
    const char* text;
    int max;
    SetValue expected;
  };
  for (const Case& k :
       {Case{"3", 7, {3, false}}, Case{" 5.9", 7, {5, false}}, Case{"9", 7, {0, true}},
        Case{"8", 8, {8, false}}, Case{"8", 7, {0, true}}, Case{"-1", 7, {0, true}},
        Case{"-0.5", 7, {0, false}}, Case{"abc", 7, {0, true}}, Case{"", 7, {0, true}}}) {
    const SetValue v = set_value_from_text(k.text, k.max);
    EXPECT_EQ(v.value, k.expected.value) << k.text;
    EXPECT_EQ(v.reset, k.expected.reset) << k.text;
  }
}

// ---------------------------------------------------------------------------------------------
// multitsk.dat

std::string multitask_text(int in_use_port) {
  std::string s;
  for (int p = 1; p <= 15; ++p)
    s += std::to_string(p) + "," + (p == in_use_port || p == 9 ? "#TRUE#" : "#FALSE#") + "\r\n";
  return s;
}

TEST(Multitask, ExitFreesTheCurrentPortAndKeepsTheOthers) {
  testing::TempDir dir;
  testing::FakeClock clock;
  std::ofstream(dir.path() / "multitsk.dat", std::ios::binary) << multitask_text(4);
  ASSERT_TRUE(ReleaseMultitaskPort(dir.path(), 4, clock));
  EXPECT_EQ(clock.sleeps(), std::vector<int>{50});
  EXPECT_EQ(*store::read_file_bytes(dir.path() / "multitsk.dat"), multitask_text(0));
}

TEST(Multitask, AFileThatCannotBeReadWholeIsLeftAlone) {
  testing::TempDir dir;
  testing::FakeClock clock;
  EXPECT_FALSE(ReleaseMultitaskPort(dir.path(), 4, clock)); // missing
  EXPECT_FALSE(fs::exists(dir.path() / "multitsk.dat"));
  const std::string short_file = "1,#FALSE#\r\n4,#TRUE#\r\n";
  std::ofstream(dir.path() / "multitsk.dat", std::ios::binary) << short_file;
  EXPECT_FALSE(ReleaseMultitaskPort(dir.path(), 4, clock));
  EXPECT_EQ(*store::read_file_bytes(dir.path() / "multitsk.dat"), short_file);
}

// ---------------------------------------------------------------------------------------------
// The console on a scripted line

struct RecordingView final : ConsoleView {
  void set_output(std::string_view s) override { outputs.emplace_back(s); }
  void set_channel_status(bool e) override { enabled = e; }
  std::vector<std::string> outputs;
  bool enabled = true;
};

class ConsoleOnLine : public ::testing::Test {
protected:
  ConsoleOnLine() {
    io_.present = {2};
    io_.CommOpen(2, "COM2", "");
    link_.port = 2;
    link_.connected = true;
    console_.set_view(&view_);
  }

  // An instrument that echoes writes (except to `deaf` channels' addresses of bank `deaf_bank`)
  // and answers blocks with every value = `level`; the block at `short_block` comes a byte short.
  void instrument(int level, int deaf_address = -1, int deaf_bank = -1, int short_block = -1) {
    io_.respond = [=](int, std::string_view f) -> std::string {
      const int q = static_cast<unsigned char>(f[1]);
      const int code = static_cast<unsigned char>(f[2]);
      if (q == 0x80 || q == 0x81) {
        if (code == deaf_address && q - 0x80 == deaf_bank) return std::string(1, char(code + 1));
        return std::string(1, static_cast<char>(code));
      }
      if (q == 0 && code == 0x30) {
        std::string block;
        for (int i = 0; i < 96; ++i) {
          block.push_back(static_cast<char>(level >> 8));
          block.push_back(static_cast<char>(level & 0xFF));
        }
        if (static_cast<unsigned char>(f[3]) == short_block) block.pop_back();
        return block;
      }
      if (code == 0x21) return std::string(1, char(90));
      if (code == 0x11) return std::string(1, f[3]);
      return {};
    };
  }

  testing::TempDir dir_;
  testing::FakeSerialIo io_;
  testing::FakeClock clock_;
  testing::FakeDialogs dialogs_;
  device::LinkState link_;
  device::DeviceProtocol protocol_{io_, link_, clock_, dialogs_};
  store::ProjectState project_;
  RecordingView view_;
  ChannelConsole console_{{project_, link_, protocol_, dialogs_, clock_}};
};

TEST_F(ConsoleOnLine, ChannelTwoHundredIsWrittenThroughBankOne) {
  instrument(1000);
  ASSERT_TRUE(console_.write_verified(200, 0x65));
  const std::string frame{char(255), char(129), char(72), char(0x65), char(240)};
  EXPECT_EQ(io_.frames(), std::vector<std::string>(9, frame));
  EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(ConsoleOnLine, AnUnacknowledgedWriteTriesThreeRoundsThenSaysSo) {
  instrument(1000, 72, 1);
  EXPECT_FALSE(console_.write_verified(200, 0x65));
  EXPECT_EQ(io_.frames().size(), 9u + 2 * (1 + 9));
  // Round two and three: 100 ms, the temperature query, 100 ms, then 50 ms after each try.
  std::vector<int> round{100, 100, 50, 50, 50, 50, 50, 50, 50, 50, 50};
  std::vector<int> expected = round;
  expected.insert(expected.end(), round.begin(), round.end());
  EXPECT_EQ(clock_.sleeps(), expected);
  EXPECT_EQ(
      dialogs_.messages(),
      std::vector<std::string>{"Ops...Data Writing ERROR: reg(200)... Check COM and Try again"});
}

TEST_F(ConsoleOnLine, ScrollWritesOnlyWhileOnlineAndShowEveryReply) {
  instrument(1000);
  console_.select_channel(5);
  console_.write_selected(3, 4);
  EXPECT_TRUE(io_.frames().empty());
  console_.go_online();
  console_.write_selected(3, 4);
  EXPECT_EQ(io_.frames().size(), 9u);
  EXPECT_EQ(view_.outputs, std::vector<std::string>(9, "5"));
}

TEST_F(ConsoleOnLine, GreyMapShowsEachBeamAtAnEighthOfItsValue) {
  instrument(2000);
  testing::FakeCanvas grid;
  console_.set_canvases(&grid, nullptr, nullptr);
  console_.load();
  console_.go_online();
  grid.calls.clear();
  console_.tick();
  EXPECT_EQ(grid.count("box"), 2 * 384);
  EXPECT_TRUE(grid.contains("box 0,0-100,100 (250,250,250) filled")) << grid.calls[0];
  EXPECT_EQ(console_.interval_ms(), kConsoleTickMs);
}

TEST_F(ConsoleOnLine, EnableAndDisableAskFirst) {
  console_.select_channel(40);
  dialogs_.script_answer(Answer::No);
  console_.toggle_enabled();
  EXPECT_TRUE(project_.channels.enabled[40]);
  dialogs_.script_answer(Answer::Yes);
  console_.toggle_enabled();
  EXPECT_FALSE(project_.channels.enabled[40]);
  EXPECT_EQ(project_.channels.status[40], 0);
  EXPECT_FALSE(view_.enabled);
  dialogs_.script_answer(Answer::Yes);
  console_.toggle_enabled();
  EXPECT_TRUE(project_.channels.enabled[40]);
  EXPECT_EQ(dialogs_.messages(), (std::vector<std::string>{"Do you like to Disable Channel 40?",
                                                           "Do you like to Disable Channel 40?",
                                                           "Do you like to Enable Channel 40?"}));
}

TEST_F(ConsoleOnLine, ThresholdFeedsTheDetectionTrace) {
  instrument(1000);
  console_.select_channel(7);
  console_.set_threshold(10);
  EXPECT_EQ(project_.channels.threshold[7], 10);
  console_.go_online();
  console_.tick();
  EXPECT_EQ(console_.sample(7, 0), 1000);
  EXPECT_EQ(console_.trace(7, 0), 900);
  EXPECT_EQ(console_.trace(8, 0), 970); // default threshold 3
}

void run(ChannelConsole& console, testing::FakeClock& clock) {
  for (int i = 0; i < 100000 && console.timer_enabled() && console.job() != ConsoleJob::Live; ++i) {
    clock.advance_ms(console.interval_ms());
    console.tick();
  }
}

TEST_F(ConsoleOnLine, CalibrationStopsWhenABlockFailsThreeTimes) {
  instrument(1600, -1, -1, 32);
  ASSERT_TRUE(console_.start_calibration(80, kModeMaxGain));
  run(console_, clock_);
  EXPECT_EQ(console_.last_end(), ConsoleEnd::ReadFailed);
  EXPECT_FALSE(console_.timer_enabled());
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Ops...Data Sending ERROR reg(32)... Try again"});
  EXPECT_EQ(std::count(clock_.sleeps().begin(), clock_.sleeps().end(), 200), 2);
  // Block 32 was asked three times, block 64 never.
  int asked_32 = 0;
  int asked_64 = 0;
  for (const std::string& f : io_.frames()) {
    if (f[2] == 0x30 && f[3] == 32) ++asked_32;
    if (f[2] == 0x30 && f[3] == 64) ++asked_64;
  }
  EXPECT_EQ(asked_32, 3);
  EXPECT_EQ(asked_64, 0);
}

TEST_F(ConsoleOnLine, GainTestStopsOnAShortBlockAndKeepsOnlyWholeEntries) {
  project_.app_folder = dir_.path();
  instrument(1000);
  // The first setting's 23 read cycles answer whole; a block of the second comes short.
  auto whole = io_.respond;
  int blocks = 0;
  io_.respond = [whole, &blocks](int port, std::string_view f) -> std::string {
    std::string reply = whole(port, f);
    if (f[2] == 0x30 && ++blocks == 23 * 4 + 10) reply.pop_back();
    return reply;
  };
  console_.go_online();
  ASSERT_TRUE(console_.start_gain_test());
  run(console_, clock_);
  EXPECT_EQ(console_.last_end(), ConsoleEnd::ReadFailed);
  EXPECT_FALSE(console_.online());
  EXPECT_FALSE(console_.timer_enabled()); // no live loop after a COM error
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"COM Error"});
  const auto raw = store::read_file_bytes(dir_.path() / kGainTestRawFile);
  const auto mean = store::read_file_bytes(dir_.path() / kGainTestMeanFile);
  ASSERT_TRUE(raw && mean);
  EXPECT_EQ(std::count(raw->begin(), raw->end(), '\n'), 22);
  EXPECT_TRUE(raw->starts_with("p=0,g=0\r\n[0] 1000 1000 "));
  EXPECT_EQ(
      *mean, "[p0,g0]" + [] {
        std::string s;
        for (int c = 0; c < 384; ++c)
          s += " 1000";
        return s;
      }() + "\r\n");
}

TEST_F(ConsoleOnLine, GainTestStopsWhenTheInstrumentIgnoresSetAll) {
  project_.app_folder = dir_.path();
  instrument(1000);
  auto echo = io_.respond;
  io_.respond = [echo](int port, std::string_view f) -> std::string {
    return f[2] == 0x11 ? std::string{} : echo(port, f);
  };
  ASSERT_TRUE(console_.start_gain_test());
  run(console_, clock_);
  EXPECT_EQ(console_.last_end(), ConsoleEnd::WriteFailed);
  EXPECT_EQ(
      dialogs_.messages(),
      std::vector<std::string>{"Communication error. Check COM PORT and equipment connection."});
  EXPECT_FALSE(fs::exists(dir_.path() / kGainTestMeanFile));
}

TEST_F(ConsoleOnLine, ZoomBrightnessAndDotSizeStayInTheirRanges) {
  for (int i = 0; i < 12; ++i)
    console_.zoom_in();
  EXPECT_EQ(console_.zoom(), 10);
  for (int i = 0; i < 12; ++i)
    console_.zoom_out();
  EXPECT_EQ(console_.zoom(), 0);
  for (int i = 0; i < 20; ++i)
    console_.brighter();
  EXPECT_EQ(console_.brightness(), 255);
  for (int i = 0; i < 20; ++i)
    console_.darker();
  EXPECT_EQ(console_.brightness(), 0);
  for (int i = 0; i < 40; ++i)
    console_.larger_dots();
  EXPECT_EQ(console_.dot_size(), 30);
  for (int i = 0; i < 40; ++i)
    console_.smaller_dots();
  EXPECT_EQ(console_.dot_size(), 1);
}

} // namespace
} // namespace kestrova::acquisition
