// A week of recording in virtual time against the virtual instrument (in this process: each
// frame the acquisition writes is answered at once, so a week of scans takes little real
// time): one acquisition started on a Monday morning, paused for two hours on the first day,
// cut from the instrument for ten minutes on the second, on a full disk for twenty minutes on
// the third, relaunched by a lasting link failure on the fourth night, and the relaunched
// instance recording to the end of the seventh day. Then every record and block of both
// acquisition folders is checked against what the program evaluated, with the logs, the
// reports' bins and the program's resident memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own calls (not every compiler ships the header that declares them).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/acquisition_log.hpp"
#include "acquisition/activity_files.hpp"
#include "common/event_pump.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_settings.hpp"
#include "sim/virtual_instrument.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "store/folder_lock.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeShell;
using testing::TempDir;

constexpr int kB = 6; // samples per buffer
// Virtual time per acquisition timer tick: long in quiet hours, short around the events, so
// that a link loss or a full disk spans many scans as it would at the real pace.
constexpr int kQuietTickSeconds = 120;
constexpr int kEventTickSeconds = 10;
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
    buffers.push_back(
        {b.minutes, digest(b.counts.first(acquisition::kChannelCount)), digest(b.raw), *disk_full});
    return {};
  }
  const bool* disk_full = nullptr;
  std::vector<Evaluated> buffers;
};

// The program's memory in bytes: the resident set of this process, except under the address
// sanitizer, whose quarantine, shadow and redzones grow the resident set by themselves; there
// the heap in use is measured instead.
long memory_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
#endif
}

// The serial line to the virtual instrument in this process: a frame written is answered at
// once, and the answer waits to be read. Nothing is kept of what went over it.
class InstrumentLine final : public device::SerialIo {
public:
  explicit InstrumentLine(sim::VirtualInstrument& instrument) : instrument_(instrument) {}
  int CommOpen(int, std::string_view, std::string_view) override {
    if (open_) return -1;
    open_ = true;
    return 0;
  }
  int CommClose(int) override {
    open_ = false;
    return 0;
  }
  int CommFlush(int) override {
    input_.clear();
    return 0;
  }
  int CommWrite(int, std::string_view data) override {
    if (!open_) return -1;
    input_ += instrument_.feed(data);
    return static_cast<int>(data.size());
  }
  int CommRead(int, std::string& data, int count) override {
    const auto n = std::min(input_.size(), static_cast<std::size_t>(std::max(count, 0)));
    data.assign(input_, 0, n);
    input_.erase(0, n);
    if (static_cast<int>(n) < count) input_.clear(); // a short read has flushed the port
    return static_cast<int>(n);
  }
  int CommSetLine(int, int, bool) override { return open_ ? 0 : 9; }

private:
  sim::VirtualInstrument& instrument_;
  bool open_ = false;
  std::string input_;
};

// The program's acquisition engine on that line, as one process runs it: started by "/run"
// (autorun: no questions), relaunched by a lasting link failure into a new one.
class WeekSoak : public ::testing::Test {
protected:
  WeekSoak() : clock_(kMonday), instrument_(instrument_options()), line_(instrument_) {}

  sim::InstrumentOptions instrument_options() {
    sim::InstrumentOptions o;
    o.time_mode = sim::TimeMode::kClock;
    o.time_source = [this] { return std::chrono::duration<double>(clock_.now() - start_).count(); };
    return o;
  }

  void SetUp() override {
    store::WriteDataFolderTemplate(tmp_.path(), dialogs_);
    start_ = clock_.now();
    project_.app_folder = tmp_.path();
    project_.config.Actual_Project_Number = 1;
    project_.config.Last_Project = 1;
    project_.config.Serial_COM = 1;
    project_.project_folder = store::project_folder_path(tmp_.path(), 1);
    fs::create_directories(project_.project_folder);
    project_.setup.Name = "week";
    project_.setup.Plate_format = "w96f";
    project_.plate = *store::BuiltInPlateFormat("w96f");
    project_.setup.RT_Buffer = kB;
    project_.setup.DSP_Interval = 2;
    project_.setup.Aq_lapse = kWeekMinutes;
    project_.setup.Save_real = 1;
    project_.setup.tool_settings[0][1] = 0; // no start-up calibration or zero
    project_.setup.tool_settings[0][2] = 0;
    store::GroupTable& groups = project_.groups.main();
    for (int g = 0; g < 4; ++g)
      groups.names[static_cast<std::size_t>(g)] = "Group" + std::to_string(g);
    for (int c = 0; c < store::kChannelCount; ++c) {
      const int well = project_.plate.map.well_of_channel[static_cast<std::size_t>(c)];
      groups.channel_group[static_cast<std::size_t>(c)] = well < 0 ? store::kFreeGroup : well % 4;
    }
    ASSERT_TRUE(store::SaveProject(project_, project_.project_folder, 1, 0, dialogs_));
    link_.port = 1;
    link_.connected = true;
    link_.serial = 42;
    ASSERT_EQ(line_.CommOpen(1, "COM1", ""), 0);
  }

  // A program started with "/run": its acquisition starts at once, without questions.
  std::unique_ptr<acquisition::AcquisitionCycle> launch() {
    acquisition::CycleContext context{
        project_,
        link_,
        line_,
        protocol_,
        dialogs_,
        pump_,
        clock_,
        shell_,
        [](const fs::path&) { return 500000LL; },
        [this](int fd, const void* data, std::size_t size, std::int64_t offset) -> long {
          if (disk_full_) {
            errno = ENOSPC;
            return -1;
          }
          return static_cast<long>(::pwrite(fd, data, size, static_cast<off_t>(offset)));
        }};
    auto cycle = std::make_unique<acquisition::AcquisitionCycle>(context);
    witness_.disk_full = &disk_full_;
    cycle->add_sink(&witness_);
    acquisition::StartRequest request;
    request.autorun = true;
    EXPECT_EQ(cycle->start(request), acquisition::StartOutcome::Started);
    return cycle;
  }

  double elapsed_days() {
    return std::chrono::duration<double>(clock_.now() - start_).count() / 86400.0;
  }
  // Runs the acquisition timer until `days` since Monday 09:00 have passed or it stopped, each
  // tick standing for `tick_seconds`.
  void run_until(acquisition::AcquisitionCycle& cycle, double days,
                 int tick_seconds = kQuietTickSeconds) {
    while (elapsed_days() < days && cycle.timer_enabled() && !cycle.relaunched()) {
      clock_.advance_ms(tick_seconds * 1000LL);
      cycle.tick();
    }
  }
  void cable(bool in) { instrument_.faults().cable_out = !in; }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  testing::FakeEventPump pump_;
  common::LocalTime start_{};
  sim::VirtualInstrument instrument_;
  InstrumentLine line_;
  store::ProjectState project_;
  device::LinkState link_;
  device::DeviceProtocol protocol_{line_, link_, clock_, dialogs_};
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

// The bin times and the channel totals (over every bin) of a Rows report.
struct ReportFigures {
  std::vector<long> bin_times;
  long long channel_total = 0;
};
ReportFigures read_report(const fs::path& report) {
  ReportFigures figures;
  std::ifstream in(report, std::ios::binary);
  const auto cells = [](const std::string& line, std::size_t skip) {
    std::vector<std::string> out;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');)
      if (!cell.empty()) out.push_back(cell);
    out.erase(out.begin(), out.begin() + static_cast<long>(std::min(skip, out.size())));
    return out;
  };
  const std::regex channel_line("^CH[0-9]+,.*");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (figures.bin_times.empty() && line.rfind("Group/Time[m],", 0) == 0)
      for (const std::string& cell : cells(line, 1))
        figures.bin_times.push_back(std::stol(cell));
    if (std::regex_match(line, channel_line))
      for (const std::string& cell : cells(line, 3))
        figures.channel_total += std::stoll(cell);
  }
  return figures;
}

// The report of a folder at 60-minute bins: one bin per hour from the first on, and the
// activity of all records counted once (the last partial hour is scaled or dropped and each bin
// rounded, hence the margin).
void check_report(const fs::path& folder, FakeDialogs& dialogs, FakeShell& shell,
                  FakeClock& clock) {
  SCOPED_TRACE(folder.filename().string());
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = folder.parent_path().parent_path();
  request.settings = reports::default_report_settings(",");
  request.settings.Bin = 60;
  request.autoreport = true;
  request.open_result = false;
  common::NullEventPump pump;
  reports::ReportServices services{dialogs, shell, pump, clock};
  const reports::GenerateResult result = reports::generate_report(request, services);
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs.texts());
  const ReportFigures figures = read_report(result.report);
  const fs::path counts = folder / acquisition::kCountsFileName;
  const std::int64_t records = acquisition::counts_record_count(counts);
  long long total = 0;
  for (std::int64_t r = 0; r < records; ++r) {
    const auto record = acquisition::read_counts_record(counts, r);
    for (int c = 0; c < acquisition::kChannelCount; ++c)
      total += record->slots[static_cast<std::size_t>(c)];
  }
  const auto last = acquisition::read_counts_record(counts, records - 1);
  ASSERT_TRUE(last);
  ASSERT_FALSE(figures.bin_times.empty());
  EXPECT_NEAR(static_cast<double>(figures.bin_times.size()), last->minutes / 60.0, 1.0);
  for (std::size_t b = 0; b < figures.bin_times.size(); ++b)
    EXPECT_EQ(figures.bin_times[b], 60 * static_cast<long>(b + 1)) << "bin " << b;
  EXPECT_GT(total, 0);
  EXPECT_NEAR(static_cast<double>(figures.channel_total), static_cast<double>(total),
              0.03 * static_cast<double>(total));
}

std::vector<fs::path> acquisition_folders(const fs::path& project) {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(project))
    if (entry.is_directory()) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  return folders;
}

TEST_F(WeekSoak, SevenDaysWithAPauseALinkLossAFullDiskAndARelaunch) {
  auto cycle = launch();
  // The operator has cleared "AutoRestart on ComError": a link loss is only shown.
  cycle->switches().auto_restart = false;
  const fs::path first = cycle->folder();
  EXPECT_EQ(first.filename(), "20260112_0900");
  EXPECT_TRUE(store::folder_lock_holder(first));

  run_until(*cycle, 1.0); // across the first midnight
  const long day1_memory = memory_in_use();

  // Tuesday 12:00: two hours paused with the time counter off.
  run_until(*cycle, 1.125);
  dialogs_.script_answer(common::Answer::Yes);
  cycle->pause_or_resume();
  ASSERT_EQ(cycle->state(), acquisition::AcquisitionState::Paused);
  ASSERT_FALSE(cycle->timer_enabled());
  clock_.advance_ms(2 * 3600 * 1000);
  cycle->pause_or_resume();
  ASSERT_EQ(cycle->state(), acquisition::AcquisitionState::Running);

  // Wednesday 08:00: the cable out for ten minutes.
  run_until(*cycle, 1.958);
  cable(false);
  run_until(*cycle, 1.958 + 10.0 / 1440, kEventTickSeconds);
  cable(true);
  run_until(*cycle, 1.958 + 20.0 / 1440, kEventTickSeconds);

  // Wednesday 20:00: the disk full for twenty minutes.
  run_until(*cycle, 2.458);
  disk_full_ = true;
  run_until(*cycle, 2.458 + 20.0 / 1440, kEventTickSeconds);
  disk_full_ = false;
  run_until(*cycle, 2.458 + 40.0 / 1440, kEventTickSeconds);

  // Friday 01:00: the link fails for good with automatic restart on. The program relaunches
  // itself with "/run"; the new process, once the instrument answers again, starts a new
  // acquisition that records to the end of the week.
  run_until(*cycle, 3.667);
  cycle->switches().auto_restart = true;
  cable(false);
  run_until(*cycle, 4.0, kEventTickSeconds);
  ASSERT_TRUE(cycle->relaunched()) << "no relaunch";
  ASSERT_FALSE(shell_.calls.empty());
  EXPECT_EQ(shell_.calls.back(), "relaunch /run");
  const std::vector<Evaluated> first_buffers = witness_.buffers;
  witness_.buffers.clear();
  cycle.reset(); // the process ends: its lock goes with it
  EXPECT_FALSE(store::folder_lock_holder(first));
  clock_.advance_ms(5000);
  cable(true);
  const int left = kWeekMinutes - static_cast<int>(elapsed_days() * 1440);
  project_.setup.Aq_lapse = left;
  cycle = launch();
  const fs::path second = cycle->folder();
  EXPECT_NE(second, first);
  run_until(*cycle, 6.9);
  const long day7_memory = memory_in_use();
  run_until(*cycle, 8.0);
  EXPECT_TRUE(cycle->finished()) << "the relaunched acquisition did not complete";
  EXPECT_FALSE(store::folder_lock_holder(second));

  // Both runs are kept, each in its own folder on its own time axis.
  EXPECT_EQ(acquisition_folders(project_.project_folder), (std::vector<fs::path>{first, second}));
  check_folder(first, first_buffers);
  check_folder(second, witness_.buffers);
  // The twenty minutes of full disk are the widest gap in the first run's minutes (with the
  // quiet pace before them); the pause is none (its time was not counted), the link loss none
  // (its buffers repeat the last samples).
  int full_disk_lost = 0;
  std::int32_t widest_gap = 0;
  std::int32_t previous = 0;
  for (const Evaluated& e : first_buffers) {
    full_disk_lost += e.disk_full ? 1 : 0;
    if (e.disk_full) continue;
    widest_gap = std::max(widest_gap, e.minutes - previous);
    previous = e.minutes;
  }
  EXPECT_GE(full_disk_lost, 20 * 60 / (kEventTickSeconds * (kB + 1)));
  EXPECT_GE(widest_gap, 20);
  EXPECT_LE(widest_gap, 20 + kQuietTickSeconds * (kB + 1) / 60);
  ASSERT_FALSE(witness_.buffers.empty());
  EXPECT_GE(witness_.buffers.back().minutes, left - kQuietTickSeconds * (kB + 1) / 60);

  // The logs tell the week, each event once it is logged at all (an acquisition that keeps no
  // log has nothing to check).
  const auto told = [](const fs::path& folder, std::initializer_list<const char*> events) {
    const std::optional<std::string> log = acquisition::read_acquisition_log(folder);
    if (!log) return;
    for (const char* event : events)
      EXPECT_TRUE(std::regex_search(*log, std::regex(event, std::regex::icase))) << event << " in\n"
                                                                                 << *log;
  };
  told(first, {"start", "paus", "resum", "link.*lost", "link.*restored", "record.*error",
               "writ.*resum", "relaunch"});
  told(second, {"start.*autorun", "complet"});

  check_report(first, dialogs_, shell_, clock_);
  check_report(second, dialogs_, shell_, clock_);

  // A week of buffers leaves the program's memory where the first day had it.
  EXPECT_LT(std::abs(day7_memory - day1_memory), 5L * 1024 * 1024)
      << day1_memory << " bytes on day 1, " << day7_memory << " on day 7";
}

} // namespace
} // namespace kestrova::acquisition
