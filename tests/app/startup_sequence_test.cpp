#include "app/startup_sequence.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <stdexcept>

#include "app/leaving.hpp"
#include "app/project_loading.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeEventPump;
using testing::FakeShell;
using testing::TempDir;
using testing::write_file;

using reports::read_report_bin_choice;

// Records what the loader asks of the windows; the start-up timer fires on the next wait for
// events.
class RecordingView final : public StartupView {
public:
  std::vector<std::string> log;
  std::string news;
  StartupSequence* sequence = nullptr;
  bool timer_armed = false;
  int throw_at_bin_list = 0;

  void show_test_menu() override { log.push_back("test menu"); }
  void set_rest_controls() override { log.push_back("rest controls"); }
  void show_start_screen(bool enabled) override {
    log.push_back(enabled ? "start screen enabled" : "start screen disabled");
  }
  void enable_startup_timer() override { timer_armed = true; }
  void fire_timer() {
    if (!timer_armed) return;
    timer_armed = false;
    const PhaseAction a = sequence->on_timer();
    if (a.status) {
      news = *a.status;
      log.push_back("news " + news);
    }
    if (a.repaint) log.push_back("repaint");
  }
  void apply_setup() override { log.push_back("apply setup"); }
  void apply_light_temperature() override { log.push_back("light/temperature"); }
  void fill_bin_list(const reports::ReportBinChoice& c) override {
    if (throw_at_bin_list) throw std::runtime_error("bin list");
    log.push_back("bins " + std::to_string(c.bin) + (c.user_defined ? " user" : " default"));
  }
  void show_project(const std::string& caption) override { log.push_back("project " + caption); }
  void prepare_display() override { log.push_back("display"); }
  void show_news(const std::string& text) override { news = text; }
  void show_main_window() override { log.push_back("main window"); }
};

class StartupSequenceTest : public ::testing::Test {
protected:
  void SetUp() override { state_.project.app_folder = tmp_.path(); }

  void write_config(const std::string& numbers) {
    write_file(
        tmp_ / "config.dat",
        "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n" +
            numbers + "\r\n");
  }

  LoadOutcome run(bool autorun) {
    StartupSequence seq(
        state_, services_, view_, load_current_project_step(),
        [](const AppState& s) { return read_report_bin_choice(s.project.app_folder); });
    view_.sequence = &seq;
    pump_.hook = [this](int) { view_.fire_timer(); };
    const LoadOutcome out = seq.load(autorun);
    armed_after_ = view_.timer_armed;
    return out;
  }

  static ProjectLoadStep load_current_project_step() {
    return [](AppState& s, const std::function<void(const std::string&)>& news) {
      FakeDialogs quiet;
      load_current_project(s, quiet, news);
    };
  }

  TempDir tmp_;
  AppState state_;
  FakeDialogs dialogs_;
  FakeEventPump pump_;
  FakeClock clock_;
  FakeShell shell_;
  Services services_{dialogs_, pump_, clock_, shell_};
  RecordingView view_;
  bool armed_after_ = false;
};

TEST_F(StartupSequenceTest, OrderAndStatusTexts) {
  write_config("0,0,4,0");
  EXPECT_EQ(run(false), LoadOutcome::Ready);
  const std::vector<std::string> expected = {
      "test menu",
      "rest controls",
      "start screen disabled",
      "news STARTING........... Reading Configuration...",
      "repaint",
      "news STARTING........... Configuration OK...",
      "repaint",
      "apply setup",
      "light/temperature",
      "bins 30 default",
      "project 0_Default",
      "news status = not connected yet",
      "repaint",
      "display",
      "repaint",
      "start screen enabled",
  };
  EXPECT_EQ(view_.log, expected);
  EXPECT_EQ(state_.startup.load_stage, 9);
  EXPECT_EQ(state_.startup.phase, 4);
  EXPECT_FALSE(armed_after_) << "no phase 5 without autorun";
  EXPECT_EQ(state_.channels.raw.size(), 385u * 500 + 1);
  EXPECT_EQ(state_.channels.running_min[384], 2040);
  EXPECT_EQ(state_.channels.display_high[0], 75);
  EXPECT_TRUE(clock_.sleeps().empty());
}

TEST_F(StartupSequenceTest, MissingConfigShowsOnlyItsMessage) {
  EXPECT_EQ(run(false), LoadOutcome::ConfigMissing);
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{"Config file not found: Check correct software installation"});
  EXPECT_EQ(view_.log, (std::vector<std::string>{"test menu", "rest controls"}));
  EXPECT_EQ(state_.startup.load_stage, 0);
}

TEST_F(StartupSequenceTest, ProjectWithoutFolderStartsOnProjectZero) {
  write_config("12,12,4,0");
  EXPECT_EQ(run(false), LoadOutcome::Ready);
  EXPECT_EQ(state_.project.config.Actual_Project_Number, 0);
  EXPECT_EQ(state_.project.project_folder, tmp_.path());
  EXPECT_NE(std::find(view_.log.begin(), view_.log.end(), "project 0_Default"), view_.log.end());
}

TEST_F(StartupSequenceTest, FailureAfterProjectLoadNamesTheStage) {
  write_config("0,0,4,0");
  view_.throw_at_bin_list = 1;
  EXPECT_EQ(run(false), LoadOutcome::Failed);
  EXPECT_EQ(dialogs_.messages().back(), "Error loading INIT parameters #ERROR:5");
  EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "start screen enabled"), 0);
}

TEST_F(StartupSequenceTest, AutorunWaitsThenStartsPhaseFive) {
  write_config("0,0,4,0");
  EXPECT_EQ(run(true), LoadOutcome::Ready);
  EXPECT_EQ(clock_.sleeps(), (std::vector<int>{500, 500}));
  EXPECT_GE(pump_.calls, 1);
  EXPECT_EQ(state_.startup.phase, 5);
  EXPECT_TRUE(armed_after_);
  // Phases 5 and 6 act only in autorun and never set the phase-done flag.
  EXPECT_TRUE(phase_action(5, true).show_main_and_connect);
  EXPECT_FALSE(phase_action(5, false).show_main_and_connect);
  EXPECT_TRUE(phase_action(6, true).show_main_and_start);
  EXPECT_FALSE(phase_action(6, true).done);
}

TEST_F(StartupSequenceTest, UserDefinedBinFromReportSettings) {
  write_config("0,0,4,0");
  write_file(tmp_ / "repoconf.dat",
             "\"<User_defined>, <Bin>, ...\"\r\n1,45,0,\",\",1,0,1,0,0,1,18,0\r\n");
  run(false);
  EXPECT_NE(std::find(view_.log.begin(), view_.log.end(), "bins 45 user"), view_.log.end());
  write_file(tmp_ / "repoconf.dat", "\"h\"\r\n0,1,0,\",\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_EQ(read_report_bin_choice(tmp_.path()).bin, 30) << "a bin of 1 is out of range";
  write_file(tmp_ / "repoconf.dat", "\"h\"\r\n");
  EXPECT_FALSE(read_report_bin_choice(tmp_.path()).user_defined);
}

class LeavingTest : public StartupSequenceTest {};

TEST_F(LeavingTest, ExitNoKeepsEverything) {
  state_.link.connected = true;
  dialogs_.script_answer(common::Answer::No);
  int closes = 0;
  EXPECT_FALSE(confirm_quit(state_, services_, [&] { ++closes; }));
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Sure to Quit?"});
  EXPECT_EQ(closes, 0);
  EXPECT_FALSE(state_.ended);

  dialogs_.script_answer(common::Answer::Yes);
  EXPECT_TRUE(confirm_quit(state_, services_, [&] { ++closes; }));
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(clock_.sleeps(), std::vector<int>{100});
  EXPECT_TRUE(state_.ended);
}

TEST_F(LeavingTest, MainWindowExitAsksOnlyOnline) {
  state_.project.config.Actual_Project_Number = 3;
  state_.project.setup.Name = "Worms";
  int saves = 0;
  int closes = 0;
  state_.link.offline = true;
  leave_from_main(
      state_, services_, [&] { ++saves; }, [&] { ++closes; });
  EXPECT_TRUE(dialogs_.texts().empty());
  EXPECT_EQ(closes, 0);
  EXPECT_TRUE(state_.ended);

  state_.link.offline = false;
  dialogs_.script_answer(common::Answer::Yes);
  leave_from_main(
      state_, services_, [&] { ++saves; }, [&] { ++closes; });
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{"Update values to project 3_Worms before Exit?"});
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(clock_.sleeps(), (std::vector<int>{300, 300}));

  dialogs_.script_answer(common::Answer::No);
  leave_from_main(
      state_, services_, [&] { ++saves; }, [&] { ++closes; });
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(closes, 2);
}

} // namespace
} // namespace kestrova::app
