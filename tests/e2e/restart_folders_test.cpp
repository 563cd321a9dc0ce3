// Two runs started within one minute through the real serial driver: the second run records
// into a folder of its own, so both keep all their records, each on its own time axis from
// minute 0, and no report can sum the two runs into the same bins (which showed about twice
// the group averages when the second run was appended to the first one's folder).

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

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

// The #Samples line of the report of `folder` at 2-minute bins: 2 x the records in each bin.
std::vector<long> report_samples(const fs::path& folder, HeadlessProgram& program,
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
  EXPECT_TRUE(result.ok) << ::testing::PrintToString(dialogs.texts());
  std::istringstream text(testing::read_file(result.report));
  std::vector<long> samples;
  for (std::string line; std::getline(text, line);) {
    if (line.rfind("#Samples,", 0) != 0) continue;
    std::istringstream cells(line.substr(line.find(',') + 1));
    for (std::string cell; std::getline(cells, cell, ',');)
      if (!cell.empty() && cell != "\r") samples.push_back(std::stol(cell));
  }
  return samples;
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
  const auto record = [&](const std::string& name, int tick_ms, int minutes) {
    clock.on_sleep = [&clock, tick_ms](int ms) {
      if (ms == acquisition::kCycleTimerMs) clock.advance_ms(tick_ms - ms);
    };
    dialogs.script_input(name);
    EXPECT_EQ(session.start_acquisition(), acquisition::StartOutcome::Started);
    const fs::path folder = session.acquisition().folder();
    while (session.acquisition().buffers_done() < 4 ||
           session.acquisition().elapsed_minutes() < minutes)
      EXPECT_EQ(program.run_acquisition_until_done(1), 1);
    const std::int64_t buffers = session.acquisition().buffers_done();
    session.stop_acquisition();
    return std::pair{folder, buffers};
  };

  // The first run records a few buffers within its first minute (a tick stands for 300 ms);
  // the second starts in that minute and records for four minutes.
  const auto [first, first_buffers] = record("first", 300, 0);
  const auto [second, second_buffers] = record("second", 3000, 4);
  EXPECT_EQ(first.filename(), "20260504_1030");
  EXPECT_EQ(second.filename(), "20260504_1031");
  EXPECT_EQ(acquisition::counts_record_count(first / "counts.bin"), first_buffers);
  EXPECT_EQ(acquisition::counts_record_count(second / "counts.bin"), second_buffers);
  for (const fs::path& folder : {first, second}) {
    EXPECT_EQ(acquisition::read_counts_record(folder / "counts.bin", 0)->minutes, 0) << folder;
    EXPECT_TRUE(acquisition::read_realtime_block(folder, 3, 10)) << folder;
  }
  // The second folder reports from minute 0 on: its bins hold its own rows only.
  const std::vector<long> samples = report_samples(second, program, dialogs, shell, clock);
  EXPECT_FALSE(samples.empty());
  EXPECT_LE(std::accumulate(samples.begin(), samples.end(), 0L), 2L * second_buffers);
}

} // namespace
} // namespace kestrova::app
