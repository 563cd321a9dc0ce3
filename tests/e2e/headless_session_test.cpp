// The program's core without any window: start-up and connect against the virtual instrument
// through the real serial driver. This test program links no Qt.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/acquisition_log.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/detection.hpp"
#include "store/config.hpp"
#include "store/plate_format.hpp"

#include "app/headless.hpp"
#include "app/main_display.hpp"
#include "browser/joint_report.hpp"
#include "e2e/program_on_pty.hpp"
#include "reports/report_settings.hpp"
#include "sim/pty_server.hpp"
#include "store/data_template.hpp"
#include "store/project_files.hpp"
#include "store/record_file.hpp"
#include "store/tags.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeShell;
using testing::TempDir;

class HeadlessSession : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(testing::write_fresh_data_folder(tmp_.path())); }

  AppOptions options(bool autorun) const {
    return testing::pty_program_options(tmp_.path(), autorun);
  }

  void serve(int port) { ASSERT_TRUE(testing::serve_on(server_, tmp_.path(), port)); }

  // Project 1 with a short buffer, a one-minute lapse and no start-up calibration.
  void prepare_project(Session& session, int buffer_length, const std::string& plate) {
    auto& project = session.state().project;
    project.config.Actual_Project_Number = 1;
    project.project_folder = store::project_folder_path(tmp_.path(), 1);
    std::filesystem::create_directories(project.project_folder);
    project.setup.Plate_format = plate;
    project.plate = *store::BuiltInPlateFormat(plate);
    project.setup.RT_Buffer = buffer_length;
    project.setup.DSP_Interval = 5;
    project.setup.Aq_lapse = 1;
    project.setup.Save_real = 1;
    project.setup.tool_settings[0][1] = 0;
    project.setup.tool_settings[0][2] = 0;
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  sim::PtyServer server_;
};

// "/run": the start-up loads the default project, shows the main window, connects to the
// instrument on its configured port, then goes on to start the acquisition.
TEST_F(HeadlessSession, AutorunLoadsAndConnects) {
  serve(1);
  HeadlessProgram program(options(true), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  EXPECT_EQ(session.state().startup.phase, 5);
  // Phase 5 runs when the program next lets events run.
  program.pump().process_events();
  const auto& link = session.state().link;
  EXPECT_TRUE(link.connected);
  EXPECT_FALSE(link.offline);
  EXPECT_EQ(link.port, 1);
  EXPECT_EQ(link.serial, sim::InstrumentOptions().serial_number);
  EXPECT_TRUE(program.main_window_shown());
  EXPECT_EQ(program.link_status(), "Connected: COM1, instrument " + std::to_string(link.serial));
  EXPECT_EQ(session.state().startup.phase, 6);
  // Phase 6 starts the acquisition without questions; project 0 cannot record, which the
  // status line says since nobody is there to close a box.
  program.pump().process_events();
  EXPECT_TRUE(dialogs_.texts().empty());
  const std::string refusal = "Operation not allowed in Project #0:Default. Go to <Setup> and "
                              "Save it with another name";
  EXPECT_EQ(program.notice(), refusal);
  const auto& h = program.history();
  EXPECT_NE(std::find(h.begin(), h.end(), "problem " + refusal), h.end());
  EXPECT_FALSE(session.acquisition_timer_enabled());

  session.disconnect();
  EXPECT_FALSE(session.state().link.connected);
  EXPECT_EQ(program.link_status(), "Not connected (COM1)");
  EXPECT_EQ(program.news(), "status = not connected yet");
}

// An acquisition of a few buffers in body-bends mode through the real driver: every buffer
// reaches counts.bin, the real-time files and the histogram file, and counting the recorded
// blocks again gives the recorded counts. The blocks hold the samples as counting left them
// (lowered to the clip line), and a count depends only on those clipped samples; so where
// counting the recorded block changes none of a channel's samples, its count must be the one
// recorded.
TEST_F(HeadlessSession, AcquisitionRecordsBuffersThatCountAgainTheSame) {
  constexpr int kB = 40;
  serve(1);
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  const auto& project = session.state().project;
  prepare_project(session, kB, "w96u");
  session.acquisition().switches().body_bends = true;

  // Let each timer tick stand for 300 ms of virtual time, so the minute passes in few ticks.
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };
  dialogs_.script_input("e2e");
  ASSERT_EQ(session.start_acquisition("comments"), acquisition::StartOutcome::Started);
  const long long ticks = program.run_acquisition_until_done(5000);
  EXPECT_LT(ticks, 5000);
  const auto& cycle = session.acquisition();
  EXPECT_TRUE(cycle.finished());
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(program.notice(), "Acquisition finished");
  EXPECT_FALSE(session.state().acquisition.running);

  const auto folder = cycle.folder();
  const std::int64_t buffers = cycle.buffers_done();
  ASSERT_GE(buffers, 3);
  EXPECT_EQ(acquisition::counts_record_count(folder / "counts.bin"), buffers);
  const auto block_bytes = acquisition::realtime_block_bytes(kB);
  std::uintmax_t realtime = 0;
  for (std::int64_t n = 0; n * acquisition::kBlocksPerRealtimeFile < buffers; ++n)
    realtime += std::filesystem::file_size(folder / acquisition::realtime_file_name(n));
  EXPECT_EQ(realtime, buffers * block_bytes);
  EXPECT_EQ(acquisition::histogram_record_count(folder / "histo0000.bin"),
            std::min<std::int64_t>(buffers, acquisition::kBlocksPerRealtimeFile));

  std::vector<int> wells;
  for (int c = 0; c < acquisition::kChannelCount; ++c)
    if (project.plate.map.well_of_channel[c] >= 0) wells.push_back(c);
  acquisition::ActivityDetector detector;
  std::int64_t active = 0;
  std::int64_t checked = 0;
  for (std::int64_t b = 0; b < buffers; ++b) {
    auto block = acquisition::read_realtime_block(folder, b, kB);
    const auto record = acquisition::read_counts_record(folder / "counts.bin", b);
    ASSERT_TRUE(block && record) << b;
    const std::vector<std::int16_t> recorded = *block;
    std::vector<std::int16_t> counts(wells.size());
    detector.detect_channels({*block}, wells, cycle.snr(),
                             static_cast<std::int16_t>(project.setup.DSP_Method), counts);
    for (std::size_t i = 0; i < wells.size(); ++i) {
      const int c = wells[i];
      bool unchanged = true;
      for (int p = 0; p <= kB; ++p)
        unchanged = unchanged && (*block)[p * 385 + c] == recorded[p * 385 + c];
      if (!unchanged) continue;
      ++checked;
      ASSERT_EQ(counts[i], record->slots[c]) << "buffer " << b << " channel " << c;
      active += counts[i];
    }
  }
  EXPECT_GT(checked, static_cast<std::int64_t>(wells.size() * buffers * 9 / 10));
  EXPECT_GT(active, 0); // organisms moved
}

// Three acquisitions recorded from the virtual instrument, an hour apart, tagged "[K1]": their
// joint report has the title, acquisition and time lines, then one row per group in use, each
// with a value per acquisition, and shows the activity recorded.
TEST_F(HeadlessSession, JointReportOfThreeTaggedAcquisitions) {
  serve(1);
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  prepare_project(session, 20, "w96u");
  const auto& project = session.state().project;
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };
  std::vector<std::string> names;
  for (int run = 0; run < 3; ++run) {
    dialogs_.script_input("run " + std::to_string(run));
    ASSERT_EQ(session.start_acquisition(""), acquisition::StartOutcome::Started);
    ASSERT_LT(program.run_acquisition_until_done(5000), 5000);
    names.push_back(session.acquisition().folder().filename().string());
    ASSERT_TRUE(store::SetTag(project.project_folder, names.back(), "[K1]"));
    clock_.advance_ms(3600 * 1000);
  }
  ASSERT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 3U);

  const auto path =
      browser::joint_report_of_tag(project.project_folder, "[K1]", ",", clock_, dialogs_);
  ASSERT_TRUE(path) << dialogs_.texts().back();
  const std::vector<std::string> lines =
      store::read_text_lines(*path).value_or(std::vector<std::string>{});
  ASSERT_GE(lines.size(), 4U);
  EXPECT_TRUE(lines[0].starts_with("Joint Report [")) << lines[0];
  EXPECT_EQ(lines[1], "Acq:," + names[0] + "," + names[1] + "," + names[2]);
  EXPECT_TRUE(lines[2].starts_with("Group/Time[min],0,")) << lines[2]; // an hour apart
  EXPECT_EQ(std::count(lines[2].begin(), lines[2].end(), ','), 3);
  // The groups of the first acquisition that hold channels, one row each.
  std::set<int> groups;
  for (int c = 0; c < acquisition::kChannelCount; ++c)
    if (const int g = project.groups.main().channel_group[static_cast<std::size_t>(c)]; g >= 0)
      groups.insert(g);
  ASSERT_FALSE(groups.empty());
  ASSERT_EQ(lines.size(), 3 + groups.size());
  bool active = false;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    EXPECT_TRUE(lines[i].starts_with("[#")) << lines[i];
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 3) << lines[i];
    active = active || lines[i].find_first_of("123456789", lines[i].find(']')) != std::string::npos;
  }
  EXPECT_TRUE(active) << "the organisms moved";
}

// Project 1 saved as the latest project on COM1: a short buffer, `lapse` minutes, no start-up
// calibration; the report settings stored with a bin of 2 and `user_bin` as User_defined.
void write_unattended_project(const std::filesystem::path& data, int lapse, bool user_bin,
                              FakeDialogs& dialogs) {
  store::ProjectState project;
  project.config.Actual_Project_Number = 1;
  project.config.Last_Project = 1;
  project.config.Serial_COM = 1;
  project.setup.Name = "Unattended";
  project.setup.RT_Buffer = 20;
  project.setup.Aq_lapse = lapse;
  project.setup.tool_settings[0] = {0, 0, 0, 18, 0, 0};
  const auto folder = store::project_folder_path(data, 1);
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(store::SaveProject(project, folder, 1, 0, dialogs));
  project.app_folder = data;
  ASSERT_TRUE(store::SaveConfig(project, dialogs));
  reports::ReportSettings settings = reports::default_report_settings(",");
  settings.Bin = 2;
  ASSERT_TRUE(reports::save_report_settings(data, settings, user_bin ? 1 : 0, dialogs));
}

bool noted(const Session& session, const std::string& text) {
  const auto& notes = session.run_notes();
  return std::find(notes.begin(), notes.end(), text) != notes.end();
}

// An unattended run ("/run --exit-when-complete"): connect, record the programmed minute and
// end with status 0 without a single box. With "User Defined BIN size" the report is written by
// itself; without, none is asked for and the end message is only noted.
class UnattendedRun : public HeadlessSession, public ::testing::WithParamInterface<bool> {};

TEST_P(UnattendedRun, EndsWithStatus0) {
  const bool user_bin = GetParam();
  serve(1);
  write_unattended_project(tmp_.path(), 1, user_bin, dialogs_);
  AppOptions opts = options(true);
  opts.exit_when_complete = true;
  HeadlessProgram program(opts, dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  EXPECT_EQ(session.report_config().user_defined(), user_bin);
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };
  program.pump().process_events(); // phase 5: connect
  EXPECT_FALSE(session.unattended_end().has_value());
  program.pump().process_events(); // phase 6: start
  ASSERT_TRUE(session.state().acquisition.running);
  EXPECT_FALSE(session.unattended_end().has_value()) << "still recording";
  EXPECT_LT(program.run_acquisition_until_done(5000), 5000);

  const auto end = session.unattended_end();
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->status, 0) << end->reason;
  EXPECT_TRUE(dialogs_.texts().empty()) << dialogs_.texts().front();
  EXPECT_TRUE(shell_.calls.empty()) << "nothing is opened for nobody";
  const auto report = session.acquisition().folder() / "report.csv";
  EXPECT_EQ(std::filesystem::is_regular_file(report), user_bin);
  if (user_bin) {
    EXPECT_EQ(session.last_report().report, report);
    EXPECT_TRUE(noted(session, "Message: Report File AutoGenerated"));
  } else {
    EXPECT_TRUE(noted(session, "Message: Acquisition finished"));
  }
  EXPECT_EQ(program.notice(), user_bin ? "Report File AutoGenerated" : "Acquisition finished");

  // The completion ended the autorun as Stop does: the next Start asks for a name again.
  EXPECT_FALSE(session.state().startup.autorun);
  dialogs_.script_input(std::nullopt);
  EXPECT_EQ(session.start_acquisition(), acquisition::StartOutcome::NoName);
  ASSERT_FALSE(dialogs_.transcript().empty());
  EXPECT_EQ(dialogs_.transcript().front().title, "New Acquisition");
}

INSTANTIATE_TEST_SUITE_P(HeadlessSession, UnattendedRun, ::testing::Bool());

// A completion whose automatic report fails (a lapse of 0 leaves one record at minute 0, which
// fills no bin) still ends the run: a non-zero status with the report's message as the reason,
// and no box waiting for anybody.
TEST_F(HeadlessSession, UnattendedRunWithAFailingReportEnds) {
  serve(1);
  write_unattended_project(tmp_.path(), 0, true, dialogs_);
  AppOptions opts = options(true);
  opts.exit_when_complete = true;
  HeadlessProgram program(opts, dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  program.pump().process_events();
  program.pump().process_events();
  EXPECT_LT(program.run_acquisition_until_done(5000), 5000);
  const auto end = session.unattended_end();
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->status, 4);
  EXPECT_EQ(end->reason, "the acquisition completed but its report could not be written: "
                         "Message: Resampling ERROR");
  EXPECT_TRUE(dialogs_.texts().empty()) << dialogs_.texts().front();
}

// A relaunched instance that finds no instrument asks nothing: it shows that it waits and tries
// again after 2, 4, 8, 16 s, then every 30 s. An instrument that answers with bad blocks is
// waited for too, and no acquisition folder is made meanwhile. Once the blocks are sound the
// acquisition starts and completes with its report.
TEST_F(HeadlessSession, RelaunchedInstanceWaitsForTheInstrumentAndResumes) {
  serve(1);
  write_unattended_project(tmp_.path(), 1, true, dialogs_);
  server_.unplug();
  AppOptions opts = options(true);
  opts.exit_when_complete = true;
  opts.relaunch = 1;
  HeadlessProgram program(opts, dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  program.pump().process_events(); // phase 5: connect, nothing there
  ASSERT_TRUE(session.waiting_for_instrument());
  EXPECT_TRUE(
      noted(session, "Waiting for the instrument (no instrument found): try 1, next in 2 s"));
  const auto& h = program.history();
  EXPECT_NE(std::find(h.begin(), h.end(), "text WAITING FOR THE INSTRUMENT"), h.end());
  EXPECT_TRUE(program.main_window_shown());

  // Each scan of the ports takes its own time besides the waits.
  const auto wait_for_try = [&](int tries, long long max_seconds) {
    long long waited = 0;
    while (session.instrument_tries() < tries && waited < max_seconds)
      waited += program.run_instrument_wait(1);
    return waited;
  };
  // 2 + 4 + 8 + 16 + 30 s: five more tries, the last interval 30 s.
  EXPECT_GE(wait_for_try(6, 120), 60);
  EXPECT_EQ(session.instrument_tries(), 6);
  EXPECT_TRUE(
      noted(session, "Waiting for the instrument (no instrument found): try 6, next in 30 s"));
  EXPECT_EQ(h.back(), "channel Next try in 30 s (Stop cancels)");

  server_.with_instrument(
      [](sim::VirtualInstrument& vi) { vi.faults().high_byte.count = sim::Fault::kAlways; });
  server_.replug();
  for (int i = 0; i < 400 && !server_.plugged(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(server_.plugged());
  EXPECT_LE(wait_for_try(7, 60), 31);
  EXPECT_TRUE(session.waiting_for_instrument());
  EXPECT_TRUE(noted(session, "Waiting for the instrument (the instrument sends bad blocks): try 7, "
                             "next in 30 s"));
  const auto project_folder = store::project_folder_path(tmp_.path(), 1);
  const auto folders = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(project_folder))
      n += e.is_directory() ? 1 : 0;
    return n;
  };
  EXPECT_EQ(folders(), 0) << "no acquisition folder while the blocks are bad";

  server_.with_instrument([](sim::VirtualInstrument& vi) { vi.faults().high_byte.count = 0; });
  EXPECT_LE(program.run_instrument_wait(60), 31);
  ASSERT_FALSE(session.waiting_for_instrument());
  EXPECT_TRUE(noted(session, "The instrument answered after 7 tries"));
  program.pump().process_events(); // phase 6: start
  ASSERT_TRUE(session.state().acquisition.running);
  EXPECT_TRUE(noted(session, "Relaunched after a lost link (relaunch 1 in a row)"));
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };
  EXPECT_LT(program.run_acquisition_until_done(5000), 5000);
  const auto end = session.unattended_end();
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->status, 0) << end->reason;
  EXPECT_EQ(folders(), 1);
  EXPECT_TRUE(dialogs_.texts().empty()) << dialogs_.texts().front();
  // The acquisition's log tells the waits before it, then the relaunch.
  const std::string log =
      acquisition::read_acquisition_log(session.acquisition().folder()).value_or("");
  const auto at = [&](const std::string& text) { return log.find(text); };
  EXPECT_NE(at("Waiting for the instrument (no instrument found): try 1, next in 2 s"),
            std::string::npos)
      << log;
  EXPECT_LT(at("(the instrument sends bad blocks): try 7"),
            at("The instrument answered after 7 tries"));
  EXPECT_LT(at("The instrument answered after 7 tries"),
            at("Relaunched after a lost link (relaunch 1 in a row)"));
  EXPECT_NE(at("Relaunched after a lost link (relaunch 1 in a row)"), std::string::npos);
}

// Relaunches in a row wait longer before they try the instrument (30 s for the second, then
// doubling); a person can cancel the wait with Stop, which ends an unattended run.
TEST_F(HeadlessSession, RelaunchesInARowBackOffAndStopCancels) {
  serve(1);
  write_unattended_project(tmp_.path(), 1, true, dialogs_);
  AppOptions opts = options(true);
  opts.exit_when_complete = true;
  opts.relaunch = 3;
  HeadlessProgram program(opts, dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  program.pump().process_events(); // phase 5: waits before it connects
  ASSERT_TRUE(session.waiting_for_instrument());
  EXPECT_TRUE(
      noted(session, "Waiting for the instrument (relaunch 3 in a row): try 1, next in 60 s"));
  EXPECT_FALSE(session.state().link.connected);
  EXPECT_EQ(program.run_instrument_wait(59), 59);
  EXPECT_FALSE(session.state().link.connected) << "not tried before its time";

  session.stop_acquisition();
  EXPECT_FALSE(session.waiting_for_instrument());
  const auto end = session.unattended_end();
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->status, 6);
  EXPECT_EQ(end->reason, "the wait for the instrument was cancelled");
  EXPECT_EQ(program.run_instrument_wait(60), 0);
  EXPECT_FALSE(session.state().link.connected);
}

// The instrument unplugged during an acquisition: after the silent scans and the countdown
// the program relaunches itself with "/run" and this instance ends. An unattended run
// (--exit-when-complete) hands that switch on, so the new instance ends when its run ends.
class LostInstrument : public HeadlessSession, public ::testing::WithParamInterface<bool> {};

TEST_P(LostInstrument, RelaunchesTheProgram) {
  const bool exit_when_complete = GetParam();
  serve(1);
  AppOptions opts = options(false);
  opts.exit_when_complete = exit_when_complete;
  HeadlessProgram program(opts, dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  prepare_project(session, 10, "w96f");
  dialogs_.script_input("e2e");
  ASSERT_EQ(session.start_acquisition(), acquisition::StartOutcome::Started);
  EXPECT_EQ(program.run_acquisition_until_done(15), 15);
  EXPECT_EQ(session.acquisition().com_errors(), 0);
  server_.unplug();
  EXPECT_EQ(program.run_acquisition_until_done(100), 31);
  EXPECT_TRUE(program.ended());
  // A relaunch soon after the start counts one more in a row.
  EXPECT_EQ(shell_.calls,
            std::vector<std::string>{exit_when_complete ? "relaunch /run --exit-when-complete "
                                                          "--relaunched 1"
                                                        : "relaunch /run --relaunched 1"});
  const auto& h = program.history();
  EXPECT_NE(std::find(h.begin(), h.end(), "text <COM ERROR>"), h.end());
  // The status bar told of the lost link from the alarm on.
  EXPECT_NE(std::find(h.begin(), h.end(), "link Link lost: COM1, instrument 42 is not answering"),
            h.end());
  EXPECT_EQ(h.back(), "channel Restarting COM..0");
  const std::string log =
      acquisition::read_acquisition_log(session.acquisition().folder()).value_or("");
  EXPECT_NE(log.find("Relaunching the program after a lost link (relaunch 1 in a row)"),
            std::string::npos)
      << log;
}

INSTANTIATE_TEST_SUITE_P(HeadlessSession, LostInstrument, ::testing::Bool());

// The instrument unplugged while nothing records: the idle link check shows the link lost
// without sending anything, and a new connect finds it again once it is back.
TEST_F(HeadlessSession, IdleLinkCheckSeesAnUnpluggedInstrument) {
  serve(1);
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  session.check_link();
  EXPECT_EQ(program.link_status(), "Connected: COM1, instrument 42");
  server_.unplug();
  for (int i = 0; i < 100 && !session.state().link.lost; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    session.check_link();
  }
  EXPECT_TRUE(session.state().link.lost);
  EXPECT_EQ(program.link_status(), "Link lost: COM1, instrument 42 is not answering");
  server_.replug(); // served by the instrument's thread: wait until the port is back
  for (int i = 0; i < 200 && !server_.plugged(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(server_.plugged());
  EXPECT_EQ(session.connect(), device::ConnectOutcome::Connected);
  EXPECT_EQ(program.link_status(), "Connected: COM1, instrument 42");
}

// Without an instrument the connect action goes offline and says so.
TEST_F(HeadlessSession, NoInstrumentGoesOffline) {
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  dialogs_.script_answer(common::Answer::Cancel); // the port input box
  EXPECT_EQ(session.connect(), device::ConnectOutcome::Offline);
  EXPECT_TRUE(session.state().link.offline);
  EXPECT_TRUE(program.start_screen_shown());
  EXPECT_EQ(program.link_status(), "Offline: no instrument found");
  EXPECT_EQ(dialogs_.texts().back(), "PORT NOT FOUND");
}

// A data folder without config.dat stops the start-up and ends the program.
TEST_F(HeadlessSession, MissingConfigEndsTheProgram) {
  std::filesystem::remove(tmp_ / "config.dat");
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  EXPECT_EQ(program.session().start(), LoadOutcome::ConfigMissing);
  EXPECT_TRUE(program.ended());
  EXPECT_TRUE(program.session().state().ended);
}

} // namespace
} // namespace kestrova::app
