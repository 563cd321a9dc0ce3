// The device self-test against a scripted instrument line and a virtual clock.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/self_test.hpp"
#include "device/fake_serial.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using common::Answer;
using testing::FakeCanvas;
using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeSerialIo;
using testing::FakeShell;
using testing::TempDir;

constexpr int kSettingOn = 7 * 32 + 7;
constexpr int kSettingOff = 0;
constexpr int kSettingLow = 2 * 32 + 2;

struct RecordingView final : SelfTestView {
  void set_temperature_label(std::string_view t) override { labels.emplace_back(t); }
  void set_banner(std::string_view t, bool visible) override {
    banner = std::string(t);
    banner_visible = visible;
  }
  void restore_live_display() override { ++restored; }
  std::vector<std::string> labels;
  std::string banner;
  bool banner_visible = false;
  int restored = 0;
};

// A scripted instrument: keeps every channel's setting from the write frames and answers block
// reads with a level per setting; single beams can read a fixed value or never acknowledge.
class SelfTestFixture : public ::testing::Test {
protected:
  SelfTestFixture() {
    settings_.fill(3 * 32 + 2);
    link_.port = 1;
    link_.connected = true;
    io_.present = {1};
    io_.CommOpen(1, "COM1", "");
    io_.respond = [this](int, std::string_view f) { return reply(f); };
    test_.set_view(&view_);
    test_.set_canvases(&grid_, &progress_);
  }

  std::string reply(std::string_view frame) {
    const int q = static_cast<unsigned char>(frame[1]);
    const int code = static_cast<unsigned char>(frame[2]);
    const int arg = static_cast<unsigned char>(frame[3]);
    if (q == 0x80 || q == 0x81) {
      const int channel = code + (q == 0x81 ? 128 : 0);
      if (deaf_.count(channel)) return std::string(1, static_cast<char>(code + 1));
      settings_[channel] = arg;
      return std::string(1, static_cast<char>(code));
    }
    if (q == 0 && code == 0x21) return std::string(1, static_cast<char>(100));
    if (q != 0 || code != 0x30) return {};
    ++blocks_;
    std::string out;
    for (int i = 0; i < 96; ++i) {
      if (short_after_ >= 0 && blocks_ > short_after_ && i == 95) break;
      const int v = level(device::block_channel(arg, i));
      out.push_back(static_cast<char>(v >> 8));
      out.push_back(static_cast<char>(v & 0xFF));
    }
    return out;
  }

  int level(int channel) const {
    const auto lit = lit_override_.find(channel);
    const auto dark = dark_override_.find(channel);
    switch (settings_[channel]) {
    case kSettingOn:
      return lit != lit_override_.end() ? lit->second : 3000;
    case kSettingOff:
      return dark != dark_override_.end() ? dark->second : 300;
    case kSettingLow:
      return 1000;
    default:
      return 700;
    }
  }

  // Runs ticks until the timer stops (or a limit, so a fault cannot loop for ever).
  void run() {
    for (int i = 0; i < 200 && test_.timer_enabled(); ++i) {
      clock_.advance_ms(test_.interval_ms());
      test_.tick();
    }
  }

  std::vector<std::string> report_lines() const {
    std::ifstream in(test_.report_path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
      const std::size_t end = text.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    return lines;
  }

  TempDir tmp_;
  device::LinkState link_;
  FakeSerialIo io_;
  FakeDialogs dialogs_;
  FakeClock clock_{{2026, 3, 4, 9, 7, 0, 0}};
  FakeShell shell_;
  FakeCanvas grid_;
  FakeCanvas progress_;
  RecordingView view_;
  device::DeviceProtocol protocol_{io_, link_, clock_, dialogs_};
  SelfTest test_{{link_, io_, protocol_, dialogs_, clock_, shell_, tmp_.path(), [] { return 42; }}};

  std::array<int, 384> settings_{};
  std::map<int, int> lit_override_;
  std::map<int, int> dark_override_;
  std::set<int> deaf_;
  int blocks_ = 0;
  int short_after_ = -1;
};

// The report of a healthy instrument, line by line; `low` is the percentage of the low setting.
std::vector<std::string> healthy_report(int low_percent) {
  std::vector<std::string> r{"Serial:SN42 2026-03-04_09:07",   "", "Test_all_100%: OK PASS!",
                             "Number of Channels > 80% = 384", "", "Test_all_0%: OK PASS!",
                             "Number of Channels < 20% = 384", "", "Test_24_Columns:"};
  for (int c = 1; c <= 24; ++c)
    r.push_back("Col[" + std::to_string(c) + "]: PASS!");
  r.push_back("");
  r.push_back("Test_16_Rows:");
  for (char row = 'A'; row <= 'P'; ++row)
    r.push_back(std::string("Row[") + row + "]: PASS!");
  r.push_back("");
  r.push_back("Gain/Power[2] Values:");
  for (int k = 0; k < 384; ++k)
    r.push_back("CH[" + std::to_string(k) + "] " + std::to_string(low_percent) + "%");
  return r;
}

TEST_F(SelfTestFixture, HealthyInstrumentPassesEveryPatternAndOpensTheReport) {
  ASSERT_TRUE(test_.start(false));
  EXPECT_EQ(test_.report_path(), tmp_.path() / "testdev42.txt");
  EXPECT_EQ(test_.interval_ms(), kSelfTestFirstTickMs);
  EXPECT_TRUE(view_.banner_visible);
  EXPECT_EQ(view_.banner, "Open and close Kestrova Door to see sensing changes");
  run();
  EXPECT_EQ(test_.end(), SelfTestEnd::Completed);
  EXPECT_EQ(test_.interval_ms(), kSelfTestTickMs);
  EXPECT_EQ(test_.step(), 111);
  EXPECT_EQ(report_lines(), healthy_report(1000 * 100 / 2048));
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + test_.report_path().string()});
  EXPECT_EQ(dialogs_.messages(),
            (std::vector<std::string>{
                "DEVICE TEST:\r\nLigth Microbeams will be adjusted to maximum and minimum.\r\n"
                "Please, remove any microplate from the slot\r\n and close Kestrova door",
                "Turning ON A1-D1", "Turning OFF A1-D1", "OK to proceed?"}));
  // Every channel is left at the low setting; the display is given back once.
  for (int s : settings_)
    ASSERT_EQ(s, kSettingLow);
  EXPECT_EQ(view_.restored, 1);
  EXPECT_FALSE(view_.banner_visible);
  ASSERT_FALSE(view_.labels.empty());
  EXPECT_EQ(view_.labels.front(), "SN42");
  EXPECT_EQ(view_.labels.back(), "T = __ °C");
  for (const char* verdict :
       {"[Test100%=PASS!]", "[Test0%=PASS!]", "Col[24]: PASS!", "Row[P]: PASS!", "[GAIN/POWER=2]"})
    EXPECT_NE(std::find(view_.labels.begin(), view_.labels.end(), verdict), view_.labels.end())
        << verdict;
  // Progress grows to 0.83 x 110; the grid's last cell is filled with the low level's grey.
  EXPECT_TRUE(progress_.contains("box 0,0-91.3,100 (0,0,255) filled"));
  EXPECT_TRUE(grid_.contains("box 2300,1500-2400,1600 (125,125,125) filled"));
}

// Replaces whole report lines that start with `prefix` (except those in `keep`).
void replace_lines(std::vector<std::string>& r, const std::string& prefix,
                   const std::function<std::string(const std::string&)>& with) {
  for (std::string& l : r)
    if (l.rfind(prefix, 0) == 0) l = with(l);
}

// Single beams at the edges of the thresholds: the report is the healthy one with the lines
// that beam changes.
TEST_F(SelfTestFixture, JudgementsAtTheirThresholds) {
  using Edit = std::function<void(std::vector<std::string>&)>;
  struct Case {
    const char* name;
    std::map<int, int> lit;  // channel -> level while set on
    std::map<int, int> dark; // channel -> level while set off
    Edit edit;
  };
  const auto all_off_fails = [](const std::string& list) {
    return [list](std::vector<std::string>& r) {
      r[5] = "Test_all_0%:  NEEDS REVISION!";
      r[6] = "Number of Channels < 20% = 383";
      r.insert(r.begin() + 7, "Channels > 20%: " + list);
    };
  };
  const std::vector<Case> cases = {
      {"dark beam reading 1100 (53 %)",
       {},
       {{37, 1100}},
       [&](std::vector<std::string>& r) {
         all_off_fails("CH37[53%], ")(r);
         // Channel 37 is in column 3, row F: every other column and row sees it too bright.
         for (int c = 1; c <= 24; ++c)
           if (c != 3)
             replace_lines(r, "Col[" + std::to_string(c) + "]: PASS!", [c](const std::string&) {
               return "Col[" + std::to_string(c) +
                      "]: NONPASS 16\tCH > 80% (NONOK:); 367CH < 20% (NONOK:CH37[53%], )";
             });
         for (char row = 'A'; row <= 'P'; ++row)
           if (row != 'F')
             replace_lines(r, std::string("Row[") + row + "]: PASS!", [row](const std::string&) {
               return std::string("Row[") + row +
                      "]: NONPASS 24\tCH > 80% (NONOK:); 359CH < 20% (NONOK:CH37[53%], )";
             });
       }},
      {"dark beam at exactly 1024 passes", {}, {{5, 1024}}, [](std::vector<std::string>&) {}},
      {"lit beam at exactly 1638 fails",
       {{0, 1638}},
       {},
       [](std::vector<std::string>& r) {
         r[2] = "Test_all_100%:  NEEDS REVISION!";
         r[3] = "Number of Channels > 80% = 383";
         r.insert(r.begin() + 4, "Channels < 80%: CH0[79%], ");
         replace_lines(r, "Col[1]: PASS!", [](const std::string&) {
           return "Col[1]: NONPASS 15\tCH > 80% (NONOK:CH0[79%], ); 368CH < 20% (NONOK:)";
         });
         replace_lines(r, "Row[A]: PASS!", [](const std::string&) {
           return "Row[A]: NONPASS 23\tCH > 80% (NONOK:CH0[79%], ); 360CH < 20% (NONOK:)";
         });
       }},
      {"lit beam at 1639 passes", {{0, 1639}}, {}, [](std::vector<std::string>&) {}},
      {"dark beam at 1025 in the last channel fails",
       {},
       {{383, 1025}},
       [&](std::vector<std::string>& r) {
         all_off_fails("CH383[50%], ")(r);
         for (int c = 1; c <= 23; ++c)
           replace_lines(r, "Col[" + std::to_string(c) + "]: PASS!", [c](const std::string&) {
             return "Col[" + std::to_string(c) +
                    "]: NONPASS 16\tCH > 80% (NONOK:); 367CH < 20% (NONOK:CH383[50%], )";
           });
         for (char row = 'A'; row <= 'O'; ++row)
           replace_lines(r, std::string("Row[") + row + "]: PASS!", [row](const std::string&) {
             return std::string("Row[") + row +
                    "]: NONPASS 24\tCH > 80% (NONOK:); 359CH < 20% (NONOK:CH383[50%], )";
           });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings_.fill(3 * 32 + 2);
    clock_.set({2026, 3, 4, 9, 7, 0, 0});
    lit_override_ = c.lit;
    dark_override_ = c.dark;
    ASSERT_TRUE(test_.start(false));
    run();
    EXPECT_EQ(test_.end(), SelfTestEnd::Completed);
    std::vector<std::string> expected = healthy_report(1000 * 100 / 2048);
    c.edit(expected);
    EXPECT_EQ(report_lines(), expected);
  }
}

// The ways out before the end: nothing is left half-done and the operator is told.
TEST_F(SelfTestFixture, SideExits) {
  {
    SCOPED_TRACE("acquisition under way");
    EXPECT_FALSE(test_.start(true));
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Stop acquisition before Testing"});
    EXPECT_TRUE(io_.written.empty());
    EXPECT_FALSE(fs::exists(tmp_.path() / "testdev42.txt"));
  }
  {
    SCOPED_TRACE("Cancel at the question");
    dialogs_.clear();
    dialogs_.script_answer(Answer::Cancel);
    EXPECT_FALSE(test_.start(false));
    EXPECT_EQ(test_.end(), SelfTestEnd::Cancelled);
    EXPECT_FALSE(test_.timer_enabled());
    EXPECT_EQ(view_.restored, 1);
    EXPECT_FALSE(view_.banner_visible);
    EXPECT_TRUE(io_.written.empty());
    EXPECT_FALSE(fs::exists(tmp_.path() / "testdev42.txt"));
  }
  {
    SCOPED_TRACE("No at OK to proceed");
    dialogs_.clear();
    view_.restored = 0;
    dialogs_.script_answer(Answer::Ok); // start question
    dialogs_.script_answer(Answer::Ok); // Turning ON
    dialogs_.script_answer(Answer::Ok); // Turning OFF
    dialogs_.script_answer(Answer::No); // OK to proceed?
    ASSERT_TRUE(test_.start(false));
    run();
    EXPECT_EQ(test_.end(), SelfTestEnd::Declined);
    EXPECT_EQ(test_.step(), 4);
    EXPECT_EQ(report_lines(), std::vector<std::string>{"Serial:SN42 2026-03-04_09:07"});
    EXPECT_EQ(view_.restored, 0); // the grid stays as it was
    EXPECT_EQ(settings_[0], kSettingOff);
    EXPECT_EQ(settings_[4], 3 * 32 + 2); // nothing beyond A1-D1 was written
  }
}

TEST_F(SelfTestFixture, ComErrorMidTestStopsWithoutRestoring) {
  ASSERT_TRUE(test_.start(false));
  short_after_ = 8 * 30; // the blocks of 30 ticks come whole, then one comes a byte short
  run();
  EXPECT_EQ(test_.end(), SelfTestEnd::ComError);
  EXPECT_FALSE(test_.timer_enabled());
  EXPECT_EQ(test_.step(), 30);
  EXPECT_EQ(dialogs_.messages().back(), "COM Error");
  EXPECT_EQ(view_.restored, 0);
  // The report holds what was judged before the error: the first line and the all-on block.
  const auto lines = report_lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Test_all_100%: OK PASS!");
}

TEST_F(SelfTestFixture, UnacknowledgedWriteEndsTheTestInItsTick) {
  deaf_ = {200}; // column 13, row I: lit at step 12 (row 8 on)
  ASSERT_TRUE(test_.start(false));
  run();
  EXPECT_EQ(test_.end(), SelfTestEnd::WriteFailed);
  EXPECT_EQ(test_.step(), 122);
  EXPECT_EQ(dialogs_.messages().back(),
            "Ops...Data Writing ERROR: reg(200)... Check COM and Try again");
  EXPECT_EQ(view_.restored, 1);
  EXPECT_FALSE(view_.banner_visible);
  EXPECT_EQ(view_.labels.back(), "T = __ °C");
  EXPECT_EQ(settings_[184], kSettingOn); // row I before channel 200 was switched on
  EXPECT_EQ(settings_[216], 3 * 32 + 2); // and nothing after it
  EXPECT_EQ(report_lines(), std::vector<std::string>{"Serial:SN42 2026-03-04_09:07"});
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(SelfTestFixture, ReportThatCannotBeWrittenStopsTheTest) {
  SelfTest test{{link_, io_, protocol_, dialogs_, clock_, shell_, tmp_.path() / "missing",
                 [] { return -1; }}};
  test.set_view(&view_);
  EXPECT_FALSE(test.start(false));
  EXPECT_EQ(test.end(), SelfTestEnd::ReportFailed);
  EXPECT_FALSE(test.timer_enabled());
  EXPECT_EQ(test.report_path(), tmp_.path() / "missing" / "testdev-1.txt");
  EXPECT_EQ(dialogs_.messages().back().rfind("The test report could not be written", 0), 0u);
  EXPECT_EQ(view_.restored, 1);
}

} // namespace
} // namespace kestrova::acquisition
