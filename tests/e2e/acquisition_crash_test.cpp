// An acquisition killed with SIGKILL at arbitrary moments, as a real process: the files keep
// every buffer the program had recorded, whole, and the next start in the same data folder
// records normally. Every run starts at the same virtual minute, as restarts within one minute
// do, and takes the first free minute's folder: a killed run's folder is never written again.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/cycle_rules.hpp"
#include "app/headless.hpp"
#include "e2e/program_on_pty.hpp"
#include "sim/pty_server.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
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

constexpr int kB = 10;
const common::CivilTime kStart{2026, 1, 15, 10, 30, 0, 0};

// One run of the program: the virtual instrument on a pty in this process, a headless program
// connected to it, and an acquisition started in project 1 at kStart.
class ProgramRun {
public:
  explicit ProgramRun(const fs::path& data) : clock_(kStart) {
    if (const auto served = testing::serve_on(server_, data, 1); !served)
      throw std::runtime_error(served.message());
    program_ = std::make_unique<HeadlessProgram>(testing::pty_program_options(data), dialogs_,
                                                 clock_, shell_);
    Session& session = program_->session();
    if (session.start() != LoadOutcome::Ready) throw std::runtime_error("load");
    if (session.connect() != device::ConnectOutcome::Connected) throw std::runtime_error("link");
    auto& project = session.state().project;
    project.config.Actual_Project_Number = 1;
    project.project_folder = store::project_folder_path(data, 1);
    fs::create_directories(project.project_folder);
    project.plate = *store::BuiltInPlateFormat("w96f");
    project.setup.RT_Buffer = kB;
    project.setup.DSP_Interval = 5;
    project.setup.Aq_lapse = 30; // far beyond any run here
    project.setup.Save_real = 1;
    project.setup.tool_settings[0][1] = 0;
    project.setup.tool_settings[0][2] = 0;
    dialogs_.script_input("crash");
    if (session.start_acquisition() != acquisition::StartOutcome::Started)
      throw std::runtime_error("start");
  }

  HeadlessProgram& program() { return *program_; }
  const acquisition::AcquisitionCycle& cycle() { return program_->session().acquisition(); }
  // Whether a buffer end failed to record.
  bool recording_failed() const {
    const auto& h = program_->history();
    return std::any_of(h.begin(), h.end(), [](const std::string& line) {
      return line.starts_with("problem Recording error");
    });
  }

private:
  sim::PtyServer server_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  std::unique_ptr<HeadlessProgram> program_;
};

// The acquisition folder of the run that started `later` minutes after the first.
fs::path acquisition_folder(const fs::path& data, int later = 0) {
  return store::project_folder_path(data, 1) /
         acquisition::acquisition_folder_name(common::from_civil(kStart) +
                                              std::chrono::minutes(later));
}

// How many acquisition folders the runs have made.
int folders_made(const fs::path& data) {
  int n = 0;
  while (fs::exists(acquisition_folder(data, n)))
    ++n;
  return n;
}

// The state of an acquisition folder's files.
struct FolderState {
  std::int64_t records = 0; // whole counts.bin records
  std::int64_t blocks = 0;  // whole real-time blocks
};

// Checks the files as a reader sees them: counts.bin and every real-time file hold whole records
// only, the real-time files are full but the last, each recorded buffer has its block, and
// every record and block reads back.
FolderState check_folder(const fs::path& folder) {
  FolderState state;
  const fs::path counts = folder / acquisition::kCountsFileName;
  if (!fs::exists(counts)) return state;
  const auto size = fs::file_size(counts);
  EXPECT_EQ(size % acquisition::kCountsRecordBytes, 0u) << "counts.bin of " << size << " bytes";
  state.records = static_cast<std::int64_t>(size / acquisition::kCountsRecordBytes);
  const auto block = acquisition::realtime_block_bytes(kB);
  for (std::int64_t n = 0;; ++n) {
    const fs::path file = folder / acquisition::realtime_file_name(n);
    if (!fs::exists(file)) break;
    const auto bytes = fs::file_size(file);
    EXPECT_EQ(bytes % block, 0u) << file << " of " << bytes << " bytes";
    if (n > 0) {
      EXPECT_EQ(state.blocks, n * acquisition::kBlocksPerRealtimeFile)
          << "real-time file " << n - 1 << " is not full";
    }
    state.blocks += static_cast<std::int64_t>(bytes / block);
  }
  // A kill between a block and its record leaves that one block ahead.
  EXPECT_TRUE(state.blocks == state.records || state.blocks == state.records + 1)
      << state.blocks << " blocks for " << state.records << " records";
  for (std::int64_t r = 0; r < state.records; ++r) {
    const auto record = acquisition::read_counts_record(counts, r);
    const auto samples = acquisition::read_realtime_block(folder, r, kB);
    EXPECT_TRUE(record.has_value()) << "record " << r;
    EXPECT_TRUE(samples.has_value()) << "block " << r;
    if (!record || !samples) break;
    EXPECT_GT(record->slots[acquisition::kChannelCount], 0) << "temperature of record " << r;
    // Slot 384 of every sample and the whole position B are never measured.
    int nonzero = 0;
    for (int p = 0; p <= kB; ++p)
      for (int c = p == kB ? 0 : acquisition::kChannelCount; c < acquisition::kChannelSlots; ++c)
        nonzero += (*samples)[static_cast<std::size_t>(p) * acquisition::kChannelSlots + c] != 0;
    EXPECT_EQ(nonzero, 0) << "block " << r << " is not aligned";
  }
  return state;
}

void write_all(int fd, std::int64_t v) {
  if (::write(fd, &v, sizeof v) != static_cast<ssize_t>(sizeof v)) ::_exit(3);
}

// Runs the program in a child process. The child reports -1 once the acquisition runs and then
// the number of buffers recorded after each buffer end; with `buffers` it stops after that many
// and exits 0 when all were recorded (4 when one failed), otherwise it runs until killed.
class Child {
public:
  Child(const fs::path& data, std::optional<std::int64_t> buffers) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      int code = 0;
      try {
        ProgramRun run(data);
        write_all(fds[1], -1);
        std::int64_t done = 0;
        while (!buffers || done < *buffers) {
          if (run.program().run_acquisition_until_done(1) != 1) ::_exit(5);
          if (run.cycle().buffers_done() != done) {
            done = run.cycle().buffers_done();
            write_all(fds[1], done);
          }
        }
        run.program().session().stop_acquisition();
        code = run.recording_failed() ? 4 : 0;
      } catch (...) {
        code = 2;
      }
      ::_exit(code);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) kill_now();
    ::close(fd_);
  }

  // Waits until the acquisition runs; false after `timeout_ms` or when the child ended.
  bool wait_started(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return false;
    return read_reports();
  }
  void kill_now() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  int exit_code() {
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  // Reads what the child reported so far (after it ended: everything); false at end of file.
  bool read_reports() {
    std::int64_t v = 0;
    const ssize_t n = ::read(fd_, &v, sizeof v);
    if (n != static_cast<ssize_t>(sizeof v)) return false;
    if (v >= 0) recorded_ = v;
    return true;
  }
  void drain() {
    while (read_reports()) {
    }
  }
  std::int64_t recorded() const { return recorded_; }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int status_ = 0;
  std::int64_t recorded_ = 0;
};

class AcquisitionCrash : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(testing::write_fresh_data_folder(tmp_.path())); }
  TempDir tmp_;
};

// SIGKILL at random moments: during start-up, at the start of the acquisition and while it
// records. After each kill the run's folder holds every buffer the child had reported recorded,
// in whole records, and the folders of earlier runs are untouched; a last run records normally.
TEST_F(AcquisitionCrash, KillAtAnyMomentKeepsWholeRecordsAndTheNextStartRecords) {
  std::mt19937 random(20260115);
  std::vector<FolderState> kept; // the state of each folder made so far
  std::int64_t recorded = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Child child(tmp_.path(), std::nullopt);
    // Every third kill lands anywhere from the fork on (loading, connecting, the folder).
    if (round % 3 == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 250));
    } else {
      ASSERT_TRUE(child.wait_started(10'000));
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    }
    child.kill_now();
    child.drain();
    const int made = folders_made(tmp_.path());
    ASSERT_LE(made, static_cast<int>(kept.size()) + 1) << "one folder per run at most";
    for (std::size_t f = 0; f < kept.size(); ++f) {
      const FolderState now = check_folder(acquisition_folder(tmp_.path(), static_cast<int>(f)));
      EXPECT_EQ(now.records, kept[f].records) << "folder " << f << " was written again";
      EXPECT_EQ(now.blocks, kept[f].blocks) << "folder " << f << " was written again";
    }
    if (made > static_cast<int>(kept.size())) {
      const FolderState state = check_folder(acquisition_folder(tmp_.path(), made - 1));
      // Whatever the child had recorded is there; at most the buffer being written beyond that.
      EXPECT_GE(state.records, child.recorded());
      EXPECT_LE(state.records, child.recorded() + 1);
      recorded += state.records;
      kept.push_back(state);
    } else {
      EXPECT_EQ(child.recorded(), 0);
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(recorded, 0); // some kill landed while recording

  Child last(tmp_.path(), 5);
  ASSERT_TRUE(last.wait_started(10'000));
  EXPECT_EQ(last.exit_code(), 0); // every buffer end recorded
  last.drain();
  EXPECT_EQ(last.recorded(), 5);
  ASSERT_EQ(folders_made(tmp_.path()), static_cast<int>(kept.size()) + 1);
  const FolderState end =
      check_folder(acquisition_folder(tmp_.path(), static_cast<int>(kept.size())));
  EXPECT_EQ(end.records, 5);
  EXPECT_EQ(end.blocks, 5);
}

// A kill between a buffer's real-time block and its counts.bin record leaves one whole block
// without a record. The next start in the same minute records into a folder of its own, and
// the killed run's folder keeps its records and that block as they were.
TEST_F(AcquisitionCrash, BlockWithoutItsRecordDoesNotStopTheNextStart) {
  const fs::path folder = acquisition_folder(tmp_.path());
  {
    ProgramRun run(tmp_.path());
    while (run.cycle().buffers_done() < 3)
      ASSERT_EQ(run.program().run_acquisition_until_done(1), 1);
    run.program().session().stop_acquisition();
  }
  const auto orphan = acquisition::read_realtime_block(folder, 2, kB);
  ASSERT_TRUE(orphan.has_value());
  {
    std::ofstream out(folder / acquisition::realtime_file_name(0),
                      std::ios::binary | std::ios::app);
    std::vector<std::byte> bytes;
    acquisition::encode_samples(*orphan, bytes);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  ASSERT_EQ(check_folder(folder).blocks, 4);

  ProgramRun next(tmp_.path());
  EXPECT_EQ(next.cycle().folder(), acquisition_folder(tmp_.path(), 1));
  while (next.cycle().buffers_done() < 3)
    ASSERT_EQ(next.program().run_acquisition_until_done(1), 1);
  EXPECT_FALSE(next.recording_failed());
  const FolderState state = check_folder(acquisition_folder(tmp_.path(), 1));
  EXPECT_EQ(state.records, 3);
  EXPECT_EQ(state.blocks, 3);
  const FolderState old = check_folder(folder);
  EXPECT_EQ(old.records, 3);
  EXPECT_EQ(old.blocks, 4);
}

} // namespace
} // namespace kestrova::app
