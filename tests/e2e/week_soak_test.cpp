// A week of recording in virtual time against the virtual instrument through the real serial
// driver: one acquisition started on a Monday morning, paused for two hours on the first day,
// cut from the instrument for ten minutes on the second, on a full disk for twenty minutes on
// the third, relaunched by a lasting link failure on the fourth night, and the relaunched
// instance recording to the end of the seventh day. Then every record and block of both
// acquisition folders is checked against what the program evaluated, with the logs, the
// reports' bins and the program's resident memory.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/allocator_interface.h>
#endif

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/acquisition_log.hpp"
#include "acquisition/activity_files.hpp"
#include "app/headless.hpp"
#include "e2e/program_on_pty.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_settings.hpp"
#include "sim/pty_server.hpp"
#include "store/config.hpp"
#include "store/folder_lock.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeShell;
using testing::TempDir;

constexpr int kB = 6;          // samples per buffer
constexpr int kTickSeconds = 30; // virtual time per acquisition timer tick
constexpr int kWeekMinutes = 7 * 1440;
const common::CivilTime kMonday{2026, 1, 12, 9, 0, 0, 0};

// FNV-1a of a block of samples: what a buffer end handed over, kept small.
std::uint64_t digest(std::span<const std::int16_t> samples) {
  std::uint64_t h = 1469598103934665603ULL;
  for (const std::int16_t s : samples) {
    h ^= static_cast<std::uint16_t>(s);
    h *= 1099511628211ULL;
  }
  return h;
}

// What the program evaluated at one buffer end.
struct Evaluated {
  std::int32_t minutes = 0;
  std::uint64_t counts = 0; // digest of the 384 counts
  std::uint64_t raw = 0;    // digest of the (B + 1) x 385 samples
  bool disk_full = false;   // the files refused it
};

// Sees every buffer end after the activity files, as any consumer does.
struct Witness final : acquisition::BufferEndSink {
  acquisition::SinkResult consume(const acquisition::BufferEnd& b) override {
    buffers.push_back({b.minutes, digest(b.counts.first(acquisition::kChannelCount)),
                       digest(b.raw), *disk_full});
    return {};
  }
  const bool* disk_full = nullptr;
  std::vector<Evaluated> buffers;
};

// Resident set size of this process in bytes.
long resident_bytes() {
#if defined(__SANITIZE_ADDRESS__)
  // Freed blocks wait in the sanitizer's quarantine; give them back before measuring.
  __sanitizer_purge_allocator();
#endif
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

class WeekSoak : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_fresh_data_folder(tmp_.path()));
    sim::InstrumentOptions instrument;
    instrument.time_mode = sim::TimeMode::kClock;
    instrument.time_source = [this] { return sim_seconds_.load(); };
    server_ = std::make_unique<sim::PtyServer>(instrument);
    ASSERT_TRUE(testing::serve_on(*server_, tmp_.path(), 1));
    save_project(kWeekMinutes);
    // Each acquisition tick stands for kTickSeconds of the clock, which the instrument follows.
    clock_.set(kMonday);
    start_ = clock_.now();
    clock_.on_sleep = [this](int ms) {
      if (ms == acquisition::kCycleTimerMs)
        clock_.advance_ms(kTickSeconds * 1000 - acquisition::kCycleTimerMs);
      sim_seconds_ = std::chrono::duration<double>(clock_.now() - start_).count();
    };
  }

  // Project 1 on disk, as "/run" loads it: a w96f plate in four groups, short buffers saved
  // with their real-time blocks, no start-up calibration.
  void save_project(int lapse_minutes) {
    store::ProjectState project;
    project.app_folder = tmp_.path();
    project.config.Actual_Project_Number = 1;
    project.config.Last_Project = 1;
    project.config.Serial_COM = 1;
    project.project_folder = store::project_folder_path(tmp_.path(), 1);
    fs::create_directories(project.project_folder);
    project.setup.Name = "week";
    project.setup.Plate_format = "w96f";
    project.plate = *store::BuiltInPlateFormat("w96f");
    project.setup.RT_Buffer = kB;
    project.setup.DSP_Interval = 2;
    project.setup.Aq_lapse = lapse_minutes;
    project.setup.Save_real = 1;
    project.setup.tool_settings[0][1] = 0;
    project.setup.tool_settings[0][2] = 0;
    store::GroupTable& groups = project.groups.main();
    for (int g = 0; g < 4; ++g)
      groups.names[static_cast<std::size_t>(g)] = "Group" + std::to_string(g);
    for (int c = 0; c < store::kChannelCount; ++c) {
      const int well = project.plate.map.well_of_channel[static_cast<std::size_t>(c)];
      groups.channel_group[static_cast<std::size_t>(c)] = well < 0 ? store::kFreeGroup : well % 4;
    }
    ASSERT_TRUE(store::SaveProject(project, project.project_folder, 1, 0, dialogs_));
    ASSERT_TRUE(store::SaveConfig(project, dialogs_));
  }

  // A program launched with "/run": it loads project 1, connects and starts recording.
  std::unique_ptr<HeadlessProgram> launch() {
    AppOptions options = testing::pty_program_options(tmp_.path(), true);
    options.free_space = [](const fs::path&) { return 500000LL; };
    options.write_at = [this](int fd, const void* data, std::size_t size,
                              std::int64_t offset) -> long {
      if (disk_full_) {
        errno = ENOSPC;
        return -1;
      }
      return static_cast<long>(::pwrite(fd, data, size, static_cast<off_t>(offset)));
    };
    auto program = std::make_unique<HeadlessProgram>(options, dialogs_, clock_, shell_);
    Session& session = program->session();
    EXPECT_EQ(session.start(), LoadOutcome::Ready);
    for (int i = 0; i < 2 && !session.acquisition_timer_enabled(); ++i)
      program->pump().process_events();
    EXPECT_TRUE(session.acquisition_timer_enabled()) << "the autorun did not start recording";
    witness_.disk_full = &disk_full_;
    session.acquisition().add_sink(&witness_);
    return program;
  }

  double elapsed_days() const {
    return std::chrono::duration<double>(clock_.now() - start_).count() / 86400.0;
  }
  // Runs the acquisition until `days` since Monday 09:00 have passed or it stopped.
  void run_until(HeadlessProgram& program, double days) {
    while (elapsed_days() < days && program.session().acquisition_timer_enabled() &&
           !program.ended())
      program.run_acquisition_until_done(1);
  }
  void cable(bool in) {
    server_->with_instrument([in](sim::VirtualInstrument& vi) { vi.faults().cable_out = !in; });
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  common::LocalTime start_{};
  std::atomic<double> sim_seconds_{0.0};
  std::unique_ptr<sim::PtyServer> server_;
  bool disk_full_ = false;
  Witness witness_;
};

// Checks one acquisition folder against the buffers the program evaluated while recording
// into it: every buffer the files accepted is there, in order, with its minutes, its counts and
// its real-time block at the same index; nothing else is.
void check_folder(const fs::path& folder, const std::vector<Evaluated>& evaluated) {
  SCOPED_TRACE(folder.filename().string());
  const fs::path counts = folder / acquisition::kCountsFileName;
  ASSERT_EQ(fs::file_size(counts) % acquisition::kCountsRecordBytes, 0u);
  std::vector<Evaluated> kept;
  for (const Evaluated& e : evaluated)
    if (!e.disk_full) kept.push_back(e);
  const std::int64_t records = acquisition::counts_record_count(counts);
  ASSERT_EQ(records, static_cast<std::int64_t>(kept.size()));
  const std::size_t block = acquisition::realtime_block_bytes(kB);
  std::int64_t blocks = 0;
  for (std::int64_t n = 0; fs::exists(folder / acquisition::realtime_file_name(n)); ++n) {
    const auto size = fs::file_size(folder / acquisition::realtime_file_name(n));
    EXPECT_EQ(size % block, 0u) << n;
    blocks += static_cast<std::int64_t>(size / block);
  }
  EXPECT_EQ(blocks, records) << "counts.bin and the real-time files are out of step";
  std::int32_t previous = 0;
  int mismatches = 0;
  for (std::int64_t r = 0; r < records && mismatches < 5; ++r) {
    const auto record = acquisition::read_counts_record(counts, r);
    const auto samples = acquisition::read_realtime_block(folder, r, kB);
    ASSERT_TRUE(record && samples) << r;
    const Evaluated& want = kept[static_cast<std::size_t>(r)];
    const bool ok =
        record->minutes == want.minutes && record->minutes >= previous &&
        digest(std::span<const std::int16_t>(record->slots).first(acquisition::kChannelCount)) ==
            want.counts &&
        digest(*samples) == want.raw;
    if (!ok) {
      ++mismatches;
      ADD_FAILURE() << "record " << r << " at minute " << record->minutes << " (evaluated at "
                    << want.minutes << ", previous " << previous << ")";
    }
    previous = record->minutes;
  }
}

// The #Samples line of a Rows report: R x the records in each bin.
std::vector<long> report_samples(const fs::path& report) {
  std::ifstream in(report, std::ios::binary);
  std::string line;
  std::vector<long> values;
  while (std::getline(in, line))
    if (line.rfind("\"#Samples\"", 0) == 0 || line.rfind("#Samples", 0) == 0) {
      std::size_t at = line.find(',');
      while (at != std::string::npos && at + 1 < line.size()) {
        const std::size_t next = line.find(',', at + 1);
        const std::string cell = line.substr(at + 1, next - at - 1);
        if (!cell.empty() && cell != "\r") values.push_back(std::stol(cell));
        at = next;
      }
    }
  return values;
}

// The report of a folder at 60-minute bins: every record is in exactly one bin, once.
void check_report(const fs::path& folder, FakeDialogs& dialogs, FakeShell& shell,
                  HeadlessProgram& program, FakeClock& clock) {
  SCOPED_TRACE(folder.filename().string());
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = folder.parent_path().parent_path();
  request.settings = reports::default_report_settings(",");
  request.settings.Bin = 60;
  request.autoreport = true;
  request.open_result = false;
  reports::ReportServices services{dialogs, shell, program.pump(), clock};
  const reports::GenerateResult result = reports::generate_report(request, services);
  ASSERT_TRUE(result.ok) << (dialogs.texts().empty() ? "" : dialogs.texts().back());
  const std::vector<long> samples = report_samples(result.report);
  const std::int64_t records =
      acquisition::counts_record_count(folder / acquisition::kCountsFileName);
  const auto last = acquisition::read_counts_record(folder / acquisition::kCountsFileName,
                                                    records - 1);
  ASSERT_TRUE(last);
  EXPECT_EQ(static_cast<long>(samples.size()), (last->minutes + 59) / 60)
      << "one bin per hour recorded";
  EXPECT_EQ(std::accumulate(samples.begin(), samples.end(), 0L), 60L * records);
}

std::vector<fs::path> acquisition_folders(const fs::path& project) {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(project))
    if (entry.is_directory()) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  return folders;
}

TEST_F(WeekSoak, SevenDaysWithAPauseALinkLossAFullDiskAndARelaunch) {
  auto program = launch();
  ASSERT_TRUE(program);
  acquisition::AcquisitionCycle* cycle = &program->session().acquisition();
  // The operator has cleared "AutoRestart on ComError": a link loss is only shown.
  cycle->switches().auto_restart = false;
  const fs::path first = cycle->folder();
  EXPECT_EQ(first.filename(), "20260112_0900");
  EXPECT_TRUE(store::folder_lock_holder(first));

  run_until(*program, 1.0); // across the first midnight
  const long day1_resident = resident_bytes();

  // Day 2, 12:00: two hours paused with the time counter off.
  run_until(*program, 1.125);
  dialogs_.script_answer(common::Answer::Yes);
  program->session().pause_acquisition();
  ASSERT_EQ(cycle->state(), acquisition::AcquisitionState::Paused);
  clock_.advance_ms(2 * 3600 * 1000);
  program->session().pause_acquisition();
  ASSERT_EQ(cycle->state(), acquisition::AcquisitionState::Running);

  // Day 3, 08:00: the cable out for ten minutes.
  run_until(*program, 1.958);
  cable(false);
  run_until(*program, 1.958 + 10.0 / 1440);
  cable(true);

  // Day 3, 20:00: the disk full for twenty minutes.
  run_until(*program, 2.458);
  disk_full_ = true;
  run_until(*program, 2.458 + 20.0 / 1440);
  disk_full_ = false;

  // Day 5, 01:00: the link fails for good with automatic restart on; the program relaunches
  // itself, and the new instance (a "/run" of its own) starts a new acquisition once the
  // instrument answers again.
  run_until(*program, 3.667);
  cycle->switches().auto_restart = true;
  cable(false);
  run_until(*program, 4.0);
  ASSERT_TRUE(program->ended()) << "no relaunch";
  ASSERT_TRUE(cycle->relaunched());
  ASSERT_FALSE(shell_.calls.empty());
  EXPECT_EQ(shell_.calls.back().rfind("relaunch", 0), 0u) << shell_.calls.back();
  const std::vector<Evaluated> first_buffers = witness_.buffers;
  witness_.buffers.clear();
  program.reset(); // the process ends: its lock goes with it
  EXPECT_FALSE(store::folder_lock_holder(first));
  cable(true);
  // The relaunched run records to the end of the week.
  const int left = kWeekMinutes - static_cast<int>(elapsed_days() * 1440);
  save_project(left);
  program = launch();
  ASSERT_TRUE(program);
  cycle = &program->session().acquisition();
  const fs::path second = cycle->folder();
  EXPECT_NE(second, first);
  run_until(*program, 6.9);
  const long day7_resident = resident_bytes();
  run_until(*program, 8.0);
  EXPECT_TRUE(cycle->finished()) << "the relaunched acquisition did not complete";
  EXPECT_FALSE(store::folder_lock_holder(second));

  // Both runs are kept, each in its own folder on its own time axis.
  const fs::path project = store::project_folder_path(tmp_.path(), 1);
  EXPECT_EQ(acquisition_folders(project), (std::vector<fs::path>{first, second}));
  check_folder(first, first_buffers);
  check_folder(second, witness_.buffers);
  // Day 1 to 3 recorded buffers at a steady pace; the twenty minutes of full disk are a gap in
  // the records' minutes, the pause is not (its time was not counted).
  int full_disk_lost = 0;
  std::int32_t widest_gap = 0;
  std::int32_t previous = 0;
  for (const Evaluated& e : first_buffers) {
    full_disk_lost += e.disk_full ? 1 : 0;
    if (e.disk_full) continue;
    widest_gap = std::max(widest_gap, e.minutes - previous);
    previous = e.minutes;
  }
  EXPECT_GE(full_disk_lost, 20 * 60 / (kTickSeconds * (kB + 1)));
  EXPECT_GE(widest_gap, 20);
  EXPECT_LE(widest_gap, 25);
  EXPECT_GE(witness_.buffers.back().minutes, left - 5);

  // The logs tell the week.
  const std::string log_first = acquisition::read_acquisition_log(first).value_or("");
  const std::string log_second = acquisition::read_acquisition_log(second).value_or("");
  for (const char* event : {"Started", "Pause", "Resume", "Link to the instrument lost",
                            "Link to the instrument restored", "Recording error", "Writing resumed",
                            "elaunch"})
    EXPECT_NE(log_first.find(event), std::string::npos) << event << " in\n" << log_first;
  for (const char* event : {"Started \"Autorun project\" (autorun)", "omplet"})
    EXPECT_NE(log_second.find(event), std::string::npos) << event << " in\n" << log_second;

  check_report(first, dialogs_, shell_, *program, clock_);
  check_report(second, dialogs_, shell_, *program, clock_);

  // A week of buffers leaves the program's memory where the first day had it.
  EXPECT_LT(std::abs(day7_resident - day1_resident), 5L * 1024 * 1024)
      << day1_resident << " bytes on day 1, " << day7_resident << " on day 7";
}

} // namespace
} // namespace kestrova::app
