// Two runs started within one minute through the real serial driver: the second run records
// into a folder of its own, so both keep all their records on their own time axis and the
// report of the first folder stays what it was (a report that summed both runs into the same
// bins would show about twice the group averages).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "app/headless.hpp"
#include "e2e/program_on_pty.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_settings.hpp"
#include "sim/pty_server.hpp"
#include "store/config.hpp"
#include "store/plate_format.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

namespace fs = std::filesystem;

// The report of `folder` without its first line (the date it was written).
std::string report_body(const fs::path& folder, HeadlessProgram& program,
                        testing::FakeDialogs& dialogs, testing::FakeShell& shell,
                        testing::FakeClock& clock) {
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = folder.parent_path().parent_path();
  request.settings = reports::default_report_settings(",");
  request.settings.Bin = 2;
  request.autoreport = true;
  request.open_result = false;
  reports::ReportServices services{dialogs, shell, program.pump(), clock};
  const reports::GenerateResult result = reports::generate_report(request, services);
  EXPECT_TRUE(result.ok) << (dialogs.texts().empty() ? "" : dialogs.texts().back());
  const std::string text = testing::read_file(result.report);
  return text.substr(text.find('\n') + 1);
}

TEST(RestartFolders, ASameMinuteRestartKeepsBothRunsAndTheReportDoesNotSumThem) {
  testing::TempDir tmp;
  ASSERT_TRUE(testing::write_fresh_data_folder(tmp.path()));
  sim::PtyServer server;
  ASSERT_TRUE(testing::serve_on(server, tmp.path(), 1));
  testing::FakeDialogs dialogs;
  testing::FakeClock clock({2026, 5, 4, 10, 30, 0, 0});
  testing::FakeShell shell;
  HeadlessProgram program(testing::pty_program_options(tmp.path()), dialogs, clock, shell);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  auto& project = session.state().project;
  project.config.Actual_Project_Number = 1;
  project.project_folder = store::project_folder_path(tmp.path(), 1);
  fs::create_directories(project.project_folder);
  project.plate = *store::BuiltInPlateFormat("w96f");
  project.setup.RT_Buffer = 10;
  project.setup.DSP_Interval = 2;
  project.setup.Aq_lapse = 30;
  project.setup.Save_real = 1;
  project.setup.tool_settings[0][1] = 0;
  project.setup.tool_settings[0][2] = 0;
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int well = project.plate.map.well_of_channel[static_cast<std::size_t>(c)];
    project.groups.main().channel_group[static_cast<std::size_t>(c)] =
        well < 0 ? store::kFreeGroup : well % 4;
  }
  // A tick stands for 300 ms: each run records a few buffers within the first minute.
  clock.on_sleep = [&clock](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock.advance_ms(270);
  };
  const auto record = [&](const std::string& name) {
    dialogs.script_input(name);
    EXPECT_EQ(session.start_acquisition(), acquisition::StartOutcome::Started);
    const fs::path folder = session.acquisition().folder();
    while (session.acquisition().buffers_done() < 4)
      EXPECT_EQ(program.run_acquisition_until_done(1), 1);
    session.stop_acquisition();
    return folder;
  };

  const fs::path first = record("first");
  const std::string first_report = report_body(first, program, dialogs, shell, clock);
  const fs::path second = record("second");
  EXPECT_EQ(first.filename(), "20260504_1030");
  EXPECT_EQ(second.filename(), "20260504_1031");
  for (const fs::path& folder : {first, second}) {
    EXPECT_EQ(acquisition::counts_record_count(folder / "counts.bin"), 4) << folder;
    EXPECT_EQ(acquisition::read_counts_record(folder / "counts.bin", 0)->minutes, 0) << folder;
    EXPECT_TRUE(acquisition::read_realtime_block(folder, 3, 10)) << folder;
  }
  EXPECT_EQ(report_body(first, program, dialogs, shell, clock), first_report);
  EXPECT_NE(first_report.find("Group/Time[m]"), std::string::npos) << first_report;
}

} // namespace
} // namespace kestrova::app
