// The acquisition engine against a scripted serial line and a virtual clock.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/acquisition_log.hpp"
#include "acquisition/cycle_fixture.hpp"
#include "store/folder_lock.hpp"

namespace kestrova::acquisition {
namespace {

using namespace cycle_testing;

// The start refuses without a name, in project 0 and offline, each with its own message and
// nothing created.
TEST_F(CycleTest, StartRefusals) {
  struct Case {
    std::optional<std::string> name;
    int project;
    bool offline;
    StartOutcome outcome;
    std::string message;
    int setups;
  };
  const std::vector<Case> cases = {
      {std::nullopt, 1, false, StartOutcome::NoName, "Each Experiment Requires a name", 0},
      {"", 1, false, StartOutcome::NoName, "Each Experiment Requires a name", 0},
      {"x", 0, false, StartOutcome::ProjectZero,
       "Operation not allowed in Project #0:Default. Go to <Setup> and Save it with another name",
       1},
      {"x", 1, true, StartOutcome::Offline,
       "Acquisition not allowed in OFFLINE MODE. Connect the equipment and restart the program.",
       0},
  };
  for (const Case& c : cases) {
    dialogs_.clear();
    host_.setups = 0;
    project_.config.Actual_Project_Number = c.project;
    link_.offline = c.offline;
    dialogs_.script_input(c.name);
    EXPECT_EQ(cycle_->start({}), c.outcome);
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(host_.setups, c.setups);
    EXPECT_EQ(cycle_->state(), AcquisitionState::Stopped);
    EXPECT_FALSE(cycle_->timer_enabled());
    EXPECT_TRUE(fs::is_empty(project_.project_folder));
  }
}

TEST_F(CycleTest, NamePromptRemindsOfTheBlankWithoutAutoCalibration) {
  const std::string stars(49, '*');
  const std::string head =
      stars + "\r\n***   Enter a Name for this Experiment  ***\r\n" + stars + "\r\n";
  EXPECT_EQ(name_prompt(true, true), head);
  const std::string reminder =
      "Comments:\r\n~~~~~~~\r\n> Auto Calibration is OFF: Remember to read Blank.\r\n";
  EXPECT_EQ(name_prompt(true, false), head + reminder);
  EXPECT_EQ(name_prompt(false, true), head + reminder);
  start();
  EXPECT_EQ(dialogs_.transcript().front().title, "New Acquisition");
  EXPECT_EQ(dialogs_.transcript().front().text, head + reminder);
}

// The disk question: when it is asked and which warnings it carries.
TEST_F(CycleTest, DiskCheck) {
  struct Case {
    int lapse;
    long long free;
    int save_real;
    bool autorun;
    bool asked;
    bool low;
    bool not_enough;
  };
  const std::vector<Case> cases = {
      {60, 500, 1, false, true, true, false},       // 24 MB required
      {60, 100, 1, false, true, true, true},        //
      {3000, 100000, 1, false, true, false, false}, // 1200 MB required
      {30, 10, 1, false, false, false, false},      // short acquisitions are not checked
      {60, 100, 0, false, false, false, false},     // no real-time saving
      {60, 100, 1, true, false, false, false},      // autorun asks nothing
      {60, -1, 1, false, true, true, true},         // free space unknown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.lapse) + " min, " + std::to_string(c.free) + " MB");
    project_.setup.Aq_lapse = c.lapse;
    project_.setup.Save_real = c.save_real;
    free_mb_ = c.free;
    dialogs_.clear();
    dialogs_.script_input("Run");
    dialogs_.script_answer(Answer::No);
    StartRequest r;
    r.autorun = c.autorun;
    const StartOutcome outcome = cycle_->start(r);
    const auto messages = dialogs_.messages();
    ASSERT_EQ(messages.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(outcome, c.asked ? StartOutcome::DiskRefused : StartOutcome::Started);
    if (c.asked) {
      const std::string& m = messages[0];
      EXPECT_EQ(m.rfind("WARNING:\r\nProgrammed Acquisition lapse = " + std::to_string(c.lapse) +
                            "minutes & RealTime_recording=YES\r\n",
                        0),
                0u);
      EXPECT_NE(m.find("Current Disk Space=" + std::to_string(c.free) + "MB\r\n"),
                std::string::npos);
      EXPECT_EQ(m.find("LOW DISK SPACE") != std::string::npos, c.low);
      EXPECT_EQ(m.find("NOT ENOUGH DISK SPACE\r\n (Please, Increase Disk Space Availablility or "
                       "Deselect Realtime recording)") != std::string::npos,
                c.not_enough);
      EXPECT_TRUE(m.ends_with("PROCEED?"));
    }
    cycle_->stop();
  }
  EXPECT_EQ(disk_check(60, 500).required_mb, 24);
  EXPECT_EQ(disk_check(3000, 0).required_mb, 1200);
  EXPECT_EQ(disk_check(5, 0).required_mb, 2); // 2.0
  EXPECT_EQ(disk_check(25, 0).required_mb, 10);
}

// A start writes the folder's snapshot and index, and two starts in one minute share the
// folder, the second appending after the first.
// A start in the minute of an earlier run takes the next free minute's folder: each run keeps
// its own records on its own time axis from 0. The folder is locked while its run records.
TEST_F(CycleTest, StartWritesFolderAndASameMinuteRestartTakesTheNextFreeMinute) {
  clock_.set({2026, 3, 15, 9, 30, 5, 0});
  ASSERT_EQ(start(), StartOutcome::Started);
  EXPECT_EQ(cycle_->folder_name(), "20260315_0930");
  const fs::path first = folder();
  EXPECT_TRUE(fs::exists(first / "setup.dat"));
  EXPECT_TRUE(fs::exists(first / "subproj.dat"));
  EXPECT_TRUE(cycle_->timer_enabled());
  const auto holder = store::folder_lock_holder(first);
  ASSERT_TRUE(holder);
  EXPECT_NE(holder->find("acquisition \"Run 1\" started 2026-03-15 09:30"), std::string::npos)
      << *holder;
  ticks(2 * kB, 1500); // 30 s: the second buffer ends in minute 0 of the run
  EXPECT_EQ(cycle_->buffers_done(), 2);
  EXPECT_TRUE(cycle_->stop());
  EXPECT_FALSE(cycle_->stop()); // a second stop only repeats the clean-up
  EXPECT_EQ(cycle_->state(), AcquisitionState::Stopped);
  EXPECT_FALSE(cycle_->timer_enabled());
  EXPECT_FALSE(store::folder_lock_holder(first));
  EXPECT_EQ(size_of("counts.bin"), 2 * kCountsRecordBytes);

  clock_.set({2026, 3, 15, 9, 30, 50, 0});
  ASSERT_EQ(start("Run 2"), StartOutcome::Started);
  EXPECT_EQ(cycle_->folder_name(), "20260315_0931");
  ticks(kB);
  EXPECT_EQ(size_of("counts.bin"), kCountsRecordBytes);
  EXPECT_EQ(size_of("0.bin"), realtime_block_bytes(kB));
  const auto last = read_counts_record(folder() / "counts.bin", 0);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->minutes, 0);
  // Raw 100 at slope 0.219: 21.9 C.
  EXPECT_EQ(last->slots[kChannelCount], 219);
  EXPECT_EQ(counts_record_count(first / "counts.bin"), 2);
  EXPECT_EQ(testing::read_file(first / "subproj.dat").find("Run 2"), std::string::npos);
  cycle_->stop();

  // A folder of the start minute made by anything else is not taken over either.
  clock_.set({2026, 3, 15, 9, 32, 1, 0});
  fs::create_directories(project_.project_folder / "20260315_0932");
  ASSERT_EQ(start("Run 3"), StartOutcome::Started);
  EXPECT_EQ(cycle_->folder_name(), "20260315_0933");
}

// A bad block keeps the previous samples of its channels; the link supervision goes by the
// last block of a scan.
TEST_F(CycleTest, BadBlockKeepsPreviousSample) {
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(4);
  bad_block_ = 32;
  ticks(1);
  const int s = cycle_->sample_index() - 1;
  const auto raw = cycle_->raw();
  const auto at = [&](int pos, int ch) { return raw[pos * kChannelSlots + ch]; };
  EXPECT_EQ(at(s, 32), at(s - 1, 32)); // block 32
  EXPECT_NE(at(s, 0), at(s - 1, 0));   // block 0 was read anew
  EXPECT_EQ(cycle_->com_errors(), 0);  // the last block (96) was good
  bad_block_ = 96;
  ticks(1);
  EXPECT_EQ(cycle_->com_errors(), 1);
  bad_block_ = -1;
  ticks(1);
  EXPECT_EQ(cycle_->com_errors(), 0);
}

// A silent instrument: 20 quiet bad scans, then the alarm with the countdown 10..1, and at 0
// the relaunch with "/run" and the end of this instance.
TEST_F(CycleTest, ComErrorCountdownAndRelaunch) {
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(3);
  silent_ = true;
  ticks(20);
  EXPECT_TRUE(view_.autotext.empty());
  EXPECT_EQ(cycle_->com_errors(), 20);
  ticks(10);
  std::vector<std::string> countdown;
  for (int n = 10; n >= 1; --n)
    countdown.push_back("Restarting COM.." + std::to_string(n));
  EXPECT_EQ(view_.autochannel, countdown);
  EXPECT_TRUE(shell_.calls.empty());
  ticks(1);
  EXPECT_EQ(view_.autochannel.back(), "Restarting COM..0");
  EXPECT_EQ(view_.autotext.back(), "<COM ERROR>");
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"relaunch /run"});
  EXPECT_EQ(host_.ended, 1);
  EXPECT_FALSE(cycle_->timer_enabled());
  ticks(5);
  EXPECT_EQ(shell_.calls.size(), 1u);
}

// A relaunch the desktop refuses does not end the only instance: it keeps acquiring and
// counts down again.
TEST_F(CycleTest, FailedRelaunchKeepsThisInstance) {
  shell_.result = false;
  ASSERT_EQ(start(), StartOutcome::Started);
  silent_ = true;
  ticks(31);
  EXPECT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(host_.ended, 0);
  EXPECT_TRUE(cycle_->timer_enabled());
  EXPECT_EQ(view_.autochannel.back(), "VERIFY COM PORT!");
  ticks(11);
  EXPECT_EQ(shell_.calls.size(), 2u);
}

// Without automatic restart the alarm only asks to verify the port; a good scan clears the
// counter.
TEST_F(CycleTest, ComErrorWithoutAutoRestart) {
  ASSERT_EQ(start(), StartOutcome::Started);
  cycle_->switches().auto_restart = false;
  silent_ = true;
  ticks(25);
  EXPECT_EQ(cycle_->com_errors(), 20);
  EXPECT_EQ(view_.autochannel.back(), "VERIFY COM PORT!");
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_TRUE(cycle_->timer_enabled());
  silent_ = false;
  ticks(1);
  EXPECT_EQ(cycle_->com_errors(), 0);
}

// Pause with the time counter off shifts the completion by the paused time; with it on the
// acquisition completes during the pause.
TEST_F(CycleTest, PauseShiftsCompletionOnlyWhenTheCounterStops) {
  for (const bool stop_counter : {true, false}) {
    SCOPED_TRACE(stop_counter ? "Yes" : "No");
    make_cycle();
    dialogs_.clear();
    ASSERT_EQ(start(), StartOutcome::Started);
    const auto t0 = clock_.now();
    ticks(60, 1000); // one minute
    dialogs_.script_answer(stop_counter ? Answer::Yes : Answer::No);
    cycle_->pause_or_resume();
    EXPECT_EQ(cycle_->state(), AcquisitionState::Paused);
    EXPECT_EQ(view_.autotext.back(), "<< PAUSED >>");
    EXPECT_EQ(view_.autochannel.back(), stop_counter ? "Time Counter = OFF" : "Time Counter = ON");
    EXPECT_EQ(cycle_->timer_enabled(), !stop_counter);
    const auto buffers = cycle_->buffers_done();
    ticks(600, 1000); // ten minutes paused
    EXPECT_EQ(cycle_->buffers_done(), buffers);
    if (!stop_counter) {
      EXPECT_TRUE(cycle_->finished());
      EXPECT_EQ(cycle_->state(), AcquisitionState::Stopped);
      EXPECT_EQ(view_.notices.back(), "Acquisition finished");
      EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Pause Time Counter?"});
      continue;
    }
    EXPECT_FALSE(cycle_->finished());
    cycle_->pause_or_resume();
    EXPECT_EQ(cycle_->state(), AcquisitionState::Running);
    EXPECT_EQ(cycle_->elapsed_minutes(), 1);
    int guard = 0;
    while (!cycle_->finished() && ++guard < 1000)
      ticks(1, 1000);
    ASSERT_TRUE(cycle_->finished());
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(clock_.now() - t0);
    EXPECT_EQ(minutes.count(), 12); // 2 minutes of lapse + 10 paused
    EXPECT_EQ(view_.notices.back(), "Acquisition finished");
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Pause Time Counter?"});
  }
}

// Completion opens the report on the folder: with "User Defined BIN size" it writes it by
// itself and says nothing; otherwise its status line says "Acquisition finished". No box waits
// for anyone, and the host hears that the acquisition stopped.
TEST_F(CycleTest, CompletionHandsOverToTheReport) {
  for (const bool user_bin : {false, true}) {
    make_cycle();
    dialogs_.clear();
    report_ = {};
    view_ = {};
    ASSERT_EQ(start(), StartOutcome::Started);
    // The flag is read when the acquisition completes, not when it starts.
    report_.user_bin = user_bin;
    int guard = 0;
    while (cycle_->timer_enabled() && ++guard < 1000)
      ticks(1, 1000);
    EXPECT_TRUE(cycle_->finished());
    // The lapse is reached mid-buffer; completion waits for the next buffer start, so every
    // buffer read is recorded, the last one stamped with the lapse.
    EXPECT_EQ(cycle_->sample_index(), 0);
    const auto records = counts_record_count(folder() / "counts.bin");
    EXPECT_EQ(records, cycle_->buffers_done());
    ASSERT_GT(records, 0);
    EXPECT_EQ(read_counts_record(folder() / "counts.bin", 0)->minutes, 0);
    EXPECT_EQ(read_counts_record(folder() / "counts.bin", records - 1)->minutes, 2);
    EXPECT_EQ(report_.opened, 1);
    EXPECT_EQ(report_.folder, folder());
    EXPECT_EQ(report_.auto_report, user_bin);
    EXPECT_FALSE(report_.histogram_option);
    EXPECT_TRUE(dialogs_.messages().empty());
    EXPECT_EQ(!view_.notices.empty() && view_.notices.back() == "Acquisition finished", !user_bin);
    EXPECT_TRUE(view_.problems.empty());
    EXPECT_EQ(host_.main_shown, user_bin ? 1 : 0);
    EXPECT_EQ(host_.stopped, user_bin ? 2 : 1);
    // Outputs off at the end.
    EXPECT_FALSE(cycle_->outputs().light);
    EXPECT_FALSE(cycle_->outputs().power);
  }
}

TEST_F(CycleTest, ShowReportNeedsAnActivityFile) {
  cycle_->show_report();
  EXPECT_EQ(report_.opened, 0);
  EXPECT_TRUE(dialogs_.messages().empty());
  ASSERT_EQ(start(), StartOutcome::Started);
  cycle_->stop();
  cycle_->show_report(); // no buffer was completed
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Activity file not Found"});
  EXPECT_EQ(report_.opened, 0);
}

// A tick that lets events run (here a sink) cannot start another tick inside itself.
TEST_F(CycleTest, ReenteredTickReturnsAtOnce) {
  CountingSink sink;
  int nested = 0;
  bool in_sink = false;
  pump_.hook = [&](int) {
    if (in_sink) ++nested;
    cycle_->tick();
  };
  sink.inside = [&] {
    in_sink = true;
    pump_.process_events();
    in_sink = false;
  };
  cycle_->add_sink(&sink);
  ASSERT_EQ(start(), StartOutcome::Started);
  nested = 0;
  ticks(3 * kB);
  EXPECT_EQ(nested, 3);
  // Thirty samples read, no more: the ticks tried from inside did nothing.
  EXPECT_EQ(cycle_->tick_counter(), 3 * kB);
  EXPECT_EQ(cycle_->sample_index(), 0);
  EXPECT_EQ(cycle_->buffers_done(), 3);
  EXPECT_EQ(sink.seen, (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_EQ(size_of("counts.bin"), 3 * kCountsRecordBytes);
}

// The pause after the discarding scans that open a buffer lets window events run; a stop or a
// pause made meanwhile ends the tick before its sample is read.
TEST_F(CycleTest, DiscardPauseAnswersClicks) {
  ASSERT_EQ(start(), StartOutcome::Started);
  for (const bool pause : {false, true}) {
    SCOPED_TRACE(pause ? "pause" : "stop");
    if (cycle_->state() != AcquisitionState::Running) {
      cycle_->stop();
      ASSERT_EQ(start(), StartOutcome::Started);
    }
    const int scans_before = scans_;
    int clicks = 0;
    pump_.hook = [&](int) {
      if (clicks++ != 0) return;
      dialogs_.script_answer(Answer::No);
      if (pause) {
        cycle_->pause_or_resume();
      } else {
        cycle_->stop();
      }
    };
    ticks(1);
    pump_.hook = nullptr;
    EXPECT_GE(clicks, 1);
    EXPECT_EQ(cycle_->state(), pause ? AcquisitionState::Paused : AcquisitionState::Stopped);
    EXPECT_EQ(cycle_->sample_index(), 0);
    EXPECT_EQ(scans_ - scans_before, 4) << "only the discarding scan was read";
  }
}

// A failing consumer does not keep the buffer from the others; the operator is told without a
// box, once per run of failures.
TEST_F(CycleTest, FailingSinkDoesNotStopTheOthers) {
  CountingSink first;
  CountingSink second;
  first.fail = true;
  cycle_->add_sink(&first);
  cycle_->add_sink(&second);
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(2 * kB);
  EXPECT_EQ(second.seen.size(), 2u);
  EXPECT_EQ(size_of("counts.bin"), 2 * kCountsRecordBytes);
  EXPECT_TRUE(dialogs_.messages().empty());
  ASSERT_EQ(view_.problems.size(), 1u);
  EXPECT_NE(view_.problems[0].find("sink failed"), std::string::npos);
  first.fail = false;
  ticks(kB);
  first.fail = true;
  ticks(kB);
  EXPECT_EQ(view_.problems.size(), 2u);
  EXPECT_EQ(cycle_->buffers_lost(), 0);
}

// A full disk inside the ticks: no box; sampling and the thermostat go on (its frame is sent at
// every buffer end); the refused buffers are dropped whole and counted; writing resumes by
// itself when space returns, record r of counts.bin still matching real-time block r; the log
// says when and how much was lost.
TEST_F(CycleTest, FullDiskKeepsTheThermostatAndResumesWriting) {
  bool full = false;
  write_at_ = [&full](int fd, const void* data, std::size_t size, std::int64_t offset) -> long {
    if (full) {
      errno = ENOSPC;
      return -1;
    }
    return static_cast<long>(::pwrite(fd, data, size, static_cast<off_t>(offset)));
  };
  project_.setup.tool_settings[2] = {1, 250}; // heat towards 25.0 from 21.9: heating, power
  make_cycle();
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(kB);
  const std::string before = testing::read_file(folder() / "counts.bin");
  ASSERT_EQ(before.size(), kCountsRecordBytes);

  full = true;
  io_.written.clear();
  const int scans_before = scans_;
  ticks(3 * kB);
  EXPECT_EQ(output_bytes(io_), std::vector<int>(3, 3));
  EXPECT_GE(scans_ - scans_before, 3 * kB * 4);
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_TRUE(cycle_->timer_enabled());
  EXPECT_EQ(cycle_->buffers_lost(), 3);
  EXPECT_EQ(testing::read_file(folder() / "counts.bin"), before);
  EXPECT_EQ(size_of("0.bin"), realtime_block_bytes(kB));
  ASSERT_EQ(view_.problems.size(), 1u);
  EXPECT_NE(view_.problems[0].find(std::strerror(ENOSPC)), std::string::npos);
  EXPECT_EQ(view_.notices.back(), std::string("Recording error (") + std::strerror(ENOSPC) +
                                      "): 3 buffer(s) lost since minute 0");

  full = false;
  ticks(kB);
  const std::string after = testing::read_file(folder() / "counts.bin");
  ASSERT_EQ(after.size(), 2 * kCountsRecordBytes);
  EXPECT_EQ(after.substr(0, kCountsRecordBytes), before);
  const auto block = read_realtime_block(folder(), 1, kB);
  ASSERT_TRUE(block);
  EXPECT_TRUE(std::equal(block->begin(), block->end(), cycle_->raw().begin()));
  ASSERT_EQ(view_.problems.size(), 2u);
  EXPECT_EQ(view_.problems[1], "Writing resumed at minute 0: 3 buffer(s) lost since minute 0 (3 "
                               "in all)");
  const std::string log = read_acquisition_log(folder()).value_or("");
  EXPECT_NE(log.find("Recording error at minute 0: Cannot write"), std::string::npos) << log;
  EXPECT_NE(log.find("Writing resumed at minute 0: 3 buffer(s) lost"), std::string::npos) << log;
}

// The folder removed mid-run: the buffers are lost without a box, the acquisition goes on, and
// a folder that comes back is written again, its log first saying what it missed.
TEST_F(CycleTest, FolderRemovedMidRun) {
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(kB);
  fs::remove_all(folder());
  ticks(kB);
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(view_.problems.size(), 1u);
  EXPECT_EQ(cycle_->state(), AcquisitionState::Running);
  fs::create_directories(folder());
  ticks(kB);
  EXPECT_EQ(size_of("counts.bin") % kCountsRecordBytes, 0u);
  EXPECT_GT(size_of("counts.bin"), 0u);
  EXPECT_EQ(view_.problems.size(), 2u);
  const std::string log = read_acquisition_log(folder()).value_or("");
  EXPECT_NE(log.find("1 earlier log line(s) could not be written"), std::string::npos) << log;
  EXPECT_NE(log.find("Writing resumed"), std::string::npos) << log;
}

struct RecordingCalibration final : CalibrationHooks {
  bool fast_calibrate(double snr) override {
    calibrated_with = snr;
    return calibrate_ok;
  }
  bool can_lower(int channel) override { return channel != darkest; }
  void recalibrate(std::span<const bool> keep) override {
    last_keep.assign(keep.begin(), keep.end());
    ++recalibrations;
  }
  int darkest = -1; // a channel already at its darkest setting
  double calibrated_with = 0;
  bool calibrate_ok = true;
  std::vector<bool> last_keep;
  int recalibrations = 0;
};

// Saturated channels in wells are handed to the recalibration unless their setting cannot go
// darker; channels in no well keep count 0 and their threshold.
TEST_F(CycleTest, SaturatedChannelsAreRecalibrated) {
  RecordingCalibration calibration;
  cycle_->set_calibration(&calibration);
  project_.setup.tool_settings[0][1] = 1; // automatic calibration
  level_ = 1950;
  int outside = -1;
  std::vector<int> inside;
  for (int c = 0; c < kChannelCount; ++c) {
    if (project_.plate.map.well_of_channel[c] < 0) {
      if (outside < 0) outside = c;
    } else {
      inside.push_back(c);
    }
  }
  ASSERT_GE(outside, 0);
  ASSERT_GE(inside.size(), 2u);
  calibration.darkest = inside[0];
  project_.channels.threshold[outside] = 7.5;
  dialogs_.script_input("Run");
  StartRequest r;
  r.snr_text = "1,2";
  ASSERT_EQ(cycle_->start(r), StartOutcome::Started);
  EXPECT_DOUBLE_EQ(calibration.calibrated_with, 1.8);
  ticks(kB);
  ASSERT_EQ(calibration.recalibrations, 1);
  ASSERT_EQ(calibration.last_keep.size(), static_cast<std::size_t>(kChannelCount));
  EXPECT_TRUE(calibration.last_keep[inside[0]]); // saturated, but cannot go darker
  EXPECT_TRUE(calibration.last_keep[outside]);
  EXPECT_FALSE(calibration.last_keep[inside[1]]);
  EXPECT_EQ(cycle_->counts()[outside], 0);
  EXPECT_DOUBLE_EQ(project_.channels.threshold[outside], 7.5);
  EXPECT_NE(project_.channels.threshold[inside[1]], store::kDefaultThreshold);

  // A calibration that gives up stops the acquisition before its timer starts.
  cycle_->stop();
  calibration.calibrate_ok = false;
  clock_.advance_ms(60000);
  EXPECT_EQ(start("Run 2"), StartOutcome::CalibrationFailed);
  EXPECT_EQ(cycle_->state(), AcquisitionState::Stopped);
  EXPECT_FALSE(cycle_->timer_enabled());
}

// The daily schedule: the start sets the light from the hours; a buffer end in the "on" hour
// lights it and one in the "off" hour darkens it; regulation drives the other two bits.
TEST_F(CycleTest, LightScheduleSwitchesAtItsHours) {
  project_.setup.Aq_lapse = 30000;
  project_.setup.tool_settings[1] = {1, 9, 21, 0, 0, 0};
  project_.setup.tool_settings[2] = {1, 250}; // heat towards 25.0 from 21.9 (raw 100 x 0.219)
  clock_.set({2026, 1, 15, 8, 55, 0, 0});
  ASSERT_EQ(start(), StartOutcome::Started);
  EXPECT_DOUBLE_EQ(cycle_->set_point(), 25.0);
  EXPECT_EQ(output_bytes(io_), std::vector<int>{0});

  // 20 s a tick: a buffer end every 200 s; the first ones still fall before 09:00.
  io_.written.clear();
  ticks(12, 20000); // to 08:59
  EXPECT_FALSE(cycle_->outputs().light);
  ticks(10, 20000); // past 09:00
  EXPECT_TRUE(cycle_->outputs().light);
  const std::vector<int> sent = output_bytes(io_);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), 7); // light, heating, power
  EXPECT_EQ(sent.front(), 3);

  // Between the hours nothing changes the light; the "off" hour darkens it.
  clock_.set({2026, 1, 15, 20, 50, 0, 0});
  ticks(12, 20000);
  EXPECT_TRUE(cycle_->outputs().light);
  ticks(30, 20000);
  EXPECT_FALSE(cycle_->outputs().light);
  EXPECT_EQ(output_bytes(io_).back(), 3);

  // Stopping switches light and power off and sends it.
  cycle_->stop();
  EXPECT_EQ(output_bytes(io_).back(), 2);
}

// The pulse programme runs at the paced ticks on the elapsed minutes with their fractions:
// two cycles of 1 minute on and 2 off, after which the light keeps its last state.
TEST_F(CycleTest, PulseProgrammeFollowsTheElapsedMinutes) {
  project_.setup.Aq_lapse = 30000;
  project_.setup.tool_settings[1] = {1, 9, 21, 2, 10, 20};
  // The "on" hour begins during the programme's last dark phase.
  clock_.set({2026, 1, 15, 8, 55, 0, 0});
  ASSERT_EQ(start(), StartOutcome::Started);
  // 3 s a tick: the paced tick (sample index 0) comes every 30 s.
  struct Step {
    double until_min;
    bool light;
  };
  const std::vector<Step> steps = {{0.9, true}, {1.1, false}, {2.9, false}, {3.1, true},
                                   {3.9, true}, {4.1, false}, {6.1, false}, {9.0, false}};
  const auto start_time = clock_.now();
  for (const Step& s : steps) {
    if (s.until_min > 4.1) io_.written.clear();
    while (std::chrono::duration<double, std::ratio<60>>(clock_.now() - start_time).count() <
           s.until_min)
      ticks(1, 3000);
    EXPECT_EQ(cycle_->outputs().light, s.light) << s.until_min;
  }
  // The daily hours do not take over from the programme, not even in the "on" hour: nothing
  // sent since its last "off" lit the light.
  for (const int s : output_bytes(io_))
    EXPECT_EQ(s & 4, 0);
  cycle_->stop();
}

// The light at the start with the hours either way round, and the set-point from the panel.
TEST_F(CycleTest, StartSetsLightFromHoursAndSetPointFromPanel) {
  struct Case {
    int hour, on, off, pulses;
    int set_tenths;
    std::optional<double> panel;
    bool light;
    double set_point;
  };
  const std::vector<Case> cases = {
      {23, 21, 9, 0, 250, std::nullopt, true, 25.0},
      {12, 21, 9, 0, 250, 30.0, false, 30.0},
      {12, 9, 21, 0, 10, std::nullopt, true, 20.0},  // a setting of 1.0 degree counts as 20.0
      {12, 9, 21, 2, 10, std::nullopt, false, 20.0}, // the pulse programme owns the light
  };
  int run = 0;
  for (const Case& c : cases) {
    project_.setup.tool_settings[1] = {1, c.on, c.off, c.pulses, 10, 10};
    project_.setup.tool_settings[2] = {0, c.set_tenths};
    clock_.set({2026, 1, 15, c.hour, 0, 0, 0});
    clock_.advance_ms(60000LL * ++run);
    io_.written.clear();
    dialogs_.script_input("Run " + std::to_string(run));
    StartRequest r;
    r.set_point = c.panel;
    ASSERT_EQ(cycle_->start(r), StartOutcome::Started);
    EXPECT_EQ(cycle_->outputs().light, c.light) << c.hour;
    EXPECT_EQ(output_bytes(io_), std::vector<int>{c.light ? 4 : 0}) << c.hour;
    EXPECT_DOUBLE_EQ(cycle_->set_point(), c.set_point);
    cycle_->stop();
  }
}

// An operator change while the acquisition runs shows at once and is sent by the next paced
// tick only; without a running acquisition it is sent at once.
TEST_F(CycleTest, OperatorOutputChangesWaitForThePacedTick) {
  struct ShownView final : CycleView {
    void show_outputs(int s) override { shown.push_back(s); }
    std::vector<int> shown;
  } shown;
  cycle_->set_view(&shown);
  cycle_->press_output(OutputButton::Light);
  EXPECT_EQ(output_bytes(io_), std::vector<int>{4});
  EXPECT_EQ(shown.shown, std::vector<int>{4});
  cycle_->press_output(OutputButton::Light);

  project_.setup.Aq_lapse = 30000;
  ASSERT_EQ(start(), StartOutcome::Started);
  ticks(3); // sample index 3: away from a paced tick
  io_.written.clear();
  shown.shown.clear();
  cycle_->press_output(OutputButton::Light);
  EXPECT_EQ(shown.shown, std::vector<int>{4});
  EXPECT_TRUE(output_bytes(io_).empty());
  EXPECT_TRUE(cycle_->output_refresh_requested());
  while (output_bytes(io_).empty())
    ticks(1);
  // The tick that wraps the buffer: the buffer end's send, then the refresh at index 0.
  EXPECT_EQ(cycle_->sample_index(), 0);
  EXPECT_EQ(output_bytes(io_), (std::vector<int>{4, 4}));
  EXPECT_FALSE(cycle_->output_refresh_requested());
  cycle_->stop();
}

TEST(CycleRules, LightTemperatureAndTime) {
  EXPECT_TRUE(light_by_hours(23, 21, 9));
  EXPECT_FALSE(light_by_hours(12, 21, 9));
  EXPECT_TRUE(light_by_hours(9, 9, 21));
  EXPECT_FALSE(light_by_hours(21, 9, 21));
  EXPECT_FALSE(light_by_hours(5, 7, 7));

  struct Reg {
    double t;
    bool enabled;
    bool heating;
    bool power;
  };
  // Too warm cools (the heating bit clear), too cold heats; the byte sent carries bit 2 only
  // when heating.
  for (const Reg& r : std::vector<Reg>{{20.0, true, false, false},
                                       {20.55, true, false, false},
                                       {20.6, true, false, true},
                                       {19.45, true, true, false},
                                       {19.4, true, true, true},
                                       {39.0, true, false, false},
                                       {25.0, false, false, false}}) {
    Outputs o;
    regulate(o, r.t, 20.0, r.enabled);
    EXPECT_EQ(o.heating, r.heating) << r.t;
    EXPECT_EQ(o.code() & 2, r.heating ? 2 : 0) << r.t;
    EXPECT_EQ(o.power, r.power) << r.t;
  }

  // P = 2, on 1 min, off 2 min: on during 0-1 and 3-4, off during 1-3 and 4-6, then ended.
  for (const auto& [m, on] : std::vector<std::pair<double, bool>>{
           {0.5, true}, {1.5, false}, {3.2, true}, {4.5, false}, {5.9, false}}) {
    EXPECT_EQ(pulse_light(m, 2, 1.0, 2.0), std::optional<bool>(on)) << m;
  }
  EXPECT_EQ(pulse_light(6.0, 2, 1.0, 2.0), std::nullopt);

  using std::chrono::milliseconds;
  EXPECT_EQ(elapsed_text(milliseconds((26 * 3600 + 5 * 60 + 7) * 1000LL)), "02:05:07 [1d]");
  EXPECT_EQ(elapsed_whole_minutes(milliseconds(119999)), 1);
  EXPECT_EQ(elapsed_whole_minutes(milliseconds(100000LL * 60000)), 32767);
  EXPECT_DOUBLE_EQ(snr_from_text("1,2"), 1.8);
  EXPECT_DOUBLE_EQ(snr_from_text("2,5"), 2.5);
  EXPECT_DOUBLE_EQ(snr_from_text("x"), 1.8);
  EXPECT_EQ(filesystem_free_mb("/nonexistent/folder"), -1); // both disk warnings follow
}

} // namespace
} // namespace kestrova::acquisition
