// The acquisition cycle as the program runs it: a headless program drives the cycle through the
// real serial driver against the virtual instrument, which runs in a child process so that its
// thread, its frame log and its memory stay out of the figures.
//
//   1. Program CPU per tick (thread CPU time of the driving thread), instant line: the median
//      tick and the buffer-end tick (384 detections, file appends), beside the tick interval and
//      beside the detection and a plain append of the same bytes measured in this run.
//   2. Scans per second on a 115200-baud line, as a ratio to what the line carries, driven like
//      a repeating 30 ms window timer and like the headless driver; reference: bare scans
//      through the driver with no cycle around them.
//   3. Resident memory after 20 and after 2,000 buffers (short buffers, virtual time).
//
// Usage: cycle_bench [--quick]   (--quick: shorter runs, for a smoke check)

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/detection.hpp"
#include "app/headless.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "sim/pty_server.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

// Line limit: one scan is four 192-byte blocks at 10 bits per byte.
constexpr double kScanLineSeconds = 4 * sim::kBlockBytes * 10.0 / sim::kLineBaud;

double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double wall_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Resident set size in MB, from /proc/self/statm.
double rss_mb() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  long size = 0;
  long resident = 0;
  const int n = std::fscanf(f, "%ld %ld", &size, &resident);
  std::fclose(f);
  if (n != 2) return -1;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "cycle_bench: %s\n", what.c_str());
  std::exit(1);
}

// Virtual time that moves only by the program's own pauses; keeps no record of them.
class VirtualClock final : public common::Clock {
public:
  VirtualClock()
      : now_(std::chrono::floor<std::chrono::milliseconds>(common::SystemClock().now())) {}
  common::LocalTime now() override { return now_; }
  common::SteadyTime steady() override { return steady_; }
  void sleep_ms(int ms) override {
    now_ += std::chrono::milliseconds(ms);
    steady_ += std::chrono::milliseconds(ms);
  }

private:
  common::LocalTime now_;
  common::SteadyTime steady_{};
};

// Every box answered with its first button; the acquisition name box with "bench".
class QuietDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view, common::Buttons buttons, common::Icon,
                         std::string_view) override {
    return buttons == common::Buttons::YesNo || buttons == common::Buttons::YesNoCancel
               ? common::Answer::Yes
               : common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return "bench";
  }
};

// The virtual instrument served from a child process; the parent waits for the port link.
class SimProcess {
public:
  SimProcess(const sim::InstrumentOptions& options, const fs::path& link) {
    int fds[2];
    if (::pipe(fds) != 0) fail("pipe");
    pid_ = ::fork();
    if (pid_ < 0) fail("fork");
    if (pid_ == 0) {
      ::close(fds[1]);
      int code = 0;
      {
        sim::PtyServer server(options);
        std::string error;
        if (!server.start(&error) || !server.link(link, &error)) {
          std::fprintf(stderr, "simulator: %s\n", error.c_str());
          code = 1;
        } else {
          char c;
          while (::read(fds[0], &c, 1) != 0) {
          }
        }
      }
      ::_exit(code);
    }
    ::close(fds[0]);
    stop_fd_ = fds[1];
    for (int i = 0; i < 500 && !fs::exists(link); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!fs::exists(link)) fail("the simulator did not come up");
  }
  ~SimProcess() {
    ::close(stop_fd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

private:
  pid_t pid_ = -1;
  int stop_fd_ = -1;
};

// A data folder with the template, project 0 saved, inside `base`; removed at the end.
class DataFolder {
public:
  explicit DataFolder(const fs::path& base) {
    std::string pattern = (base / "kestrova-cycle-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) fail("mkdtemp");
    path_ = pattern;
    QuietDialogs quiet;
    store::WriteDataFolderTemplate(path_, quiet);
    store::ProjectState fresh;
    if (!store::SaveProject(fresh, path_, 0, 0, quiet)) fail("cannot save project 0");
  }
  ~DataFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

private:
  fs::path path_;
};

// A headless program connected to a simulator in a child process, with an acquisition started
// in project 1: buffer length B, every channel in a well, real-time saving on, no start-up
// calibration, a programmed length far beyond the run.
class Bench {
public:
  Bench(int buffer_length, sim::Pacing pacing, common::Clock& clock,
        const fs::path& base = fs::temp_directory_path(),
        std::optional<device::CommTimeouts> timeouts = std::nullopt)
      : data_(base), sim_(instrument(pacing), data_.path() / "ports" / "COM1"),
        program_(options(timeouts), dialogs_, clock, shell_) {
    app::Session& session = program_.session();
    if (session.start() != app::LoadOutcome::Ready) fail("the program did not load");
    const double c0 = wall_s();
    if (session.connect() != device::ConnectOutcome::Connected) fail("no instrument");
    connect_s_ = wall_s() - c0;
    auto& project = session.state().project;
    project.config.Actual_Project_Number = 1;
    project.project_folder = store::project_folder_path(data_.path(), 1);
    fs::create_directories(project.project_folder);
    project.setup.Plate_format = "w384";
    project.plate = *store::BuiltInPlateFormat("w384");
    project.setup.RT_Buffer = buffer_length;
    project.setup.DSP_Interval = 5;
    project.setup.Aq_lapse = 10000;
    project.setup.Save_real = 1;
    project.setup.tool_settings[0][1] = 0;
    project.setup.tool_settings[0][2] = 0;
  }

  void start() {
    if (program_.session().start_acquisition() != acquisition::StartOutcome::Started)
      fail("the acquisition did not start");
  }

  app::HeadlessProgram& program() { return program_; }
  app::Session& session() { return program_.session(); }
  const acquisition::AcquisitionCycle& cycle() { return program_.session().acquisition(); }
  const fs::path& data() const { return data_.path(); }
  double connect_seconds() const { return connect_s_; }

private:
  static sim::InstrumentOptions instrument(sim::Pacing pacing) {
    sim::InstrumentOptions o;
    o.plate = sim::PlateMap::w384();
    o.pacing = pacing;
    return o;
  }
  app::AppOptions options(std::optional<device::CommTimeouts> timeouts) const {
    app::AppOptions o;
    if (timeouts) o.port_timeouts = *timeouts;
    o.data_dir = data_.path();
    o.port_sources = {};
    o.free_space = [](const fs::path&) { return 1'000'000'000LL; };
    return o;
  }

  DataFolder data_;
  SimProcess sim_;
  QuietDialogs dialogs_;
  common::NoShell shell_;
  app::HeadlessProgram program_;
  double connect_s_ = 0;
};

void row(const char* what, double value, const char* unit, const char* target) {
  std::printf("  %-52s %10.3f %-6s %s\n", what, value, unit, target);
}

// ---------------------------------------------------------------------------------------------
// 1. CPU per tick, instant line.

void cpu_per_tick(bool quick) {
  constexpr int kB = 500;
  const int buffers = quick ? 2 : 6;
  VirtualClock clock;
  Bench bench(kB, sim::Pacing::kInstant, clock);
  bench.start();
  std::vector<double> normal;
  std::vector<double> normal_wall;
  std::vector<double> ends;
  std::vector<double> ends_wall;
  // The first buffer warms the caches and the files up; it is not counted.
  while (bench.cycle().buffers_done() < 1)
    bench.program().run_acquisition_until_done(1);
  while (bench.cycle().buffers_done() < 1 + buffers) {
    const auto before = bench.cycle().buffers_done();
    const double w0 = wall_s();
    const double t0 = thread_cpu_ms();
    if (bench.program().run_acquisition_until_done(1) != 1) fail("the acquisition stopped");
    const double t = thread_cpu_ms() - t0;
    const double w = (wall_s() - w0) * 1e3;
    if (bench.cycle().buffers_done() != before) {
      ends.push_back(t);
      ends_wall.push_back(w);
    } else {
      normal.push_back(t);
      normal_wall.push_back(w);
    }
  }
  if (bench.cycle().com_errors() != 0) fail("bad scans on the instant line");

  // References: the detection of the same 384 channels on the last buffer, and a plain append of
  // the same bytes (one real-time block and one counts record, open-write-fsync-close each).
  const auto& cycle = bench.cycle();
  std::vector<int> wells(acquisition::kChannelCount);
  for (int c = 0; c < acquisition::kChannelCount; ++c)
    wells[c] = c;
  acquisition::ActivityDetector detector;
  std::vector<std::int16_t> counts(wells.size());
  std::vector<double> detect;
  std::vector<double> append;
  std::vector<double> append_wall;
  const fs::path plain = bench.data() / "plain.bin";
  std::vector<std::byte> block_bytes;
  const std::vector<std::byte> record_bytes(acquisition::kCountsRecordBytes);
  for (int i = 0; i < 15; ++i) {
    std::vector<std::int16_t> raw(cycle.raw().begin(), cycle.raw().end());
    const double t0 = thread_cpu_ms();
    detector.detect_channels({raw}, wells, cycle.snr(), 0, counts);
    detect.push_back(thread_cpu_ms() - t0);

    const double t1 = thread_cpu_ms();
    const double w1 = wall_s();
    acquisition::encode_samples(cycle.raw(), block_bytes);
    for (const std::span<const std::byte> bytes :
         {std::span<const std::byte>(block_bytes), std::span<const std::byte>(record_bytes)}) {
      const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
          ::fsync(fd) != 0)
        fail("plain append");
      ::close(fd);
    }
    append.push_back(thread_cpu_ms() - t1);
    append_wall.push_back((wall_s() - w1) * 1e3);
  }
  const double reference = median(detect) + median(append);

  std::printf("\n1. Program CPU per tick, instant line (B = %d, 384 channels in wells, %zu ticks, "
              "%zu buffer ends)\n",
              kB, normal.size() + ends.size(), ends.size());
  row("median tick CPU", median(normal), "ms", "target < 1 ms");
  row("  90th percentile tick CPU", percentile(normal, 0.9), "ms", "");
  row("  median tick wall time (port waits included)", median(normal_wall), "ms", "");
  row("  reference: timer interval", acquisition::kCycleTimerMs, "ms", "");
  row("  ratio median tick CPU / timer interval", median(normal) / acquisition::kCycleTimerMs, "",
      "");
  row("buffer-end tick CPU, median", median(ends), "ms", "target < 10 ms");
  row("buffer-end tick CPU, worst", *std::max_element(ends.begin(), ends.end()), "ms",
      "target < 10 ms");
  row("  buffer-end tick wall time, median (port waits)", median(ends_wall), "ms", "");
  row("  reference: detection of 384 channels alone", median(detect), "ms", "");
  row("  reference: plain append of block + record", median(append), "ms", "");
  row("  ratio buffer-end CPU / (detection + plain append)", median(ends) / reference, "", "");
  row("  reference: plain append wall time (two fsyncs)", median(append_wall), "ms", "");
  std::printf("  (the buffer end's port wait is its one-byte temperature query, read as two bytes "
              "with the driver's retries)\n");
  std::printf("  (data folder in %s; connecting took %.1f s)\n", fs::temp_directory_path().c_str(),
              bench.connect_seconds());
}

// ---------------------------------------------------------------------------------------------
// 2. Scans per second on a 115200-baud line.

struct ScanRun {
  long long ticks = 0;
  double seconds = 0;
  int worst_com_errors = 0;
  std::int64_t buffers = 0;
};

// Ticks like a repeating window timer: when a tick overruns, the next one fires at once, and
// the schedule is then counted from that moment. Runs until `buffers` buffers have ended and the
// next buffer's two discarding scans are done, so one run covers whole buffer periods.
ScanRun timer_driven(Bench& bench, std::int64_t buffers) {
  ScanRun r;
  const auto interval = std::chrono::milliseconds(acquisition::kCycleTimerMs);
  auto due = std::chrono::steady_clock::now();
  const double t0 = wall_s();
  const auto b0 = bench.cycle().buffers_done();
  while (bench.cycle().buffers_done() - b0 < buffers || bench.cycle().sample_index() < 2) {
    std::this_thread::sleep_until(due);
    const auto fired = std::chrono::steady_clock::now();
    due += interval;
    if (due < fired) due = fired + interval;
    bench.session().tick();
    ++r.ticks;
    r.worst_com_errors = std::max(r.worst_com_errors, bench.cycle().com_errors());
  }
  r.seconds = wall_s() - t0;
  r.buffers = bench.cycle().buffers_done() - b0;
  return r;
}

// The headless driver: a timer interval of real sleep before every tick.
ScanRun headless_driven(Bench& bench, double seconds) {
  ScanRun r;
  const double t0 = wall_s();
  const auto b0 = bench.cycle().buffers_done();
  while (wall_s() - t0 < seconds) {
    if (bench.program().run_acquisition_until_done(1) != 1) fail("the acquisition stopped");
    ++r.ticks;
    r.worst_com_errors = std::max(r.worst_com_errors, bench.cycle().com_errors());
  }
  r.seconds = wall_s() - t0;
  r.buffers = bench.cycle().buffers_done() - b0;
  return r;
}

void paced_line(bool quick) {
  // The setup's default buffer length: its buffer end and discarding scans weigh as they do in
  // a real acquisition.
  const int kB = quick ? 40 : acquisition::kDefaultBufferLength;
  common::SystemClock clock;
  Bench bench(kB, sim::Pacing::kLine, clock);
  const double limit = 1.0 / kScanLineSeconds;

  // Reference: the four blocks of a scan read back to back through the driver, no cycle.
  auto& protocol = bench.session().protocol();
  int bare_scans = 0;
  int bare_bad = 0;
  const double b0 = wall_s();
  while (wall_s() - b0 < (quick ? 1.5 : 4.0)) {
    for (int k : device::kBlockStarts)
      if (!protocol.ReadIntensityBlock(k).good()) ++bare_bad;
    ++bare_scans;
  }
  const double bare_rate = bare_scans / (wall_s() - b0);

  bench.start();
  const ScanRun timer = timer_driven(bench, 1);
  const ScanRun headless = headless_driven(bench, quick ? 2 : 6);

  std::printf("\n2. Scans per second, 115200-baud line (B = %d; line limit %.2f scans/s, one "
              "scan of four blocks = %.1f ms)\n",
              kB, limit, kScanLineSeconds * 1e3);
  const double timer_rate = static_cast<double>(timer.ticks) / timer.seconds;
  const double headless_rate = static_cast<double>(headless.ticks) / headless.seconds;
  row("cycle on a repeating 30 ms timer: scans/s", timer_rate, "/s", "");
  row("  ratio to the line limit", timer_rate / limit, "", "target >= 0.9");
  std::printf("  (%.1f s, %lld ticks, %lld buffer ends, worst bad-scan run %d)\n", timer.seconds,
              timer.ticks, static_cast<long long>(timer.buffers), timer.worst_com_errors);
  row("headless driver (30 ms sleep, then a tick): scans/s", headless_rate, "/s", "");
  row("  ratio to the line limit", headless_rate / limit, "", "");
  std::printf("  (%.1f s, %lld ticks, worst bad-scan run %d)\n", headless.seconds, headless.ticks,
              headless.worst_com_errors);
  row("  reference: bare scans through the driver: scans/s", bare_rate, "/s", "");
  row("  reference ratio to the line limit", bare_rate / limit, "", "");
  row("  ratio cycle (timer) / bare scans", timer_rate / bare_rate, "", "");
  if (bare_bad > 0) std::printf("  (bare scans: %d bad blocks)\n", bare_bad);
  std::printf("  (connecting took %.1f s)\n", bench.connect_seconds());
}

// ---------------------------------------------------------------------------------------------
// 3. Resident memory over 2,000 buffers.

void memory(bool quick) {
  constexpr int kB = 5;
  const std::int64_t total = quick ? 300 : 2000;
  VirtualClock clock;
  // Memory does not depend on the disk: a RAM-backed folder spares the fsync waits.
  const fs::path base =
      fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  // Short port time-outs: every one-byte query (the temperature at each buffer end) waits for
  // its time-outs, which would make 2,000 buffers take half an hour; memory does not depend on
  // them.
  device::CommTimeouts timeouts;
  timeouts.read_interval_ms = 2;
  timeouts.read_total_constant_ms = 5;
  Bench bench(kB, sim::Pacing::kInstant, clock, base, timeouts);
  bench.start();
  const double w0 = wall_s();
  while (bench.cycle().buffers_done() < 20)
    if (bench.program().run_acquisition_until_done(1) != 1) fail("the acquisition stopped");
  const double at20 = rss_mb();
  std::vector<std::pair<std::int64_t, double>> marks;
  while (bench.cycle().buffers_done() < total) {
    if (bench.program().run_acquisition_until_done(1) != 1) fail("the acquisition stopped");
    if (bench.cycle().buffers_done() % 500 == 0 && bench.cycle().sample_index() == 0 &&
        (marks.empty() || marks.back().first != bench.cycle().buffers_done()))
      marks.emplace_back(bench.cycle().buffers_done(), rss_mb());
  }
  const double at_end = rss_mb();
  const auto recorded =
      acquisition::counts_record_count(bench.cycle().folder() / acquisition::kCountsFileName);

  std::printf(
      "\n3. Resident memory (B = %d, instant line, virtual time, 2/5 ms port time-outs, data in "
      "%s, %.0f s wall)\n",
      kB, base.c_str(), wall_s() - w0);
  row("resident memory after 20 buffers", at20, "MB", "");
  for (const auto& [buffers, mb] : marks)
    std::printf("  %-52s %10.3f MB\n", ("after " + std::to_string(buffers) + " buffers").c_str(),
                mb);
  const std::string label = "resident memory after " + std::to_string(total) + " buffers";
  row(label.c_str(), at_end, "MB", "");
  row("  growth", at_end - at20, "MB", "target <= 5 MB");
  std::printf("  (counts.bin holds %lld records)\n", static_cast<long long>(recorded));
}

} // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  ::signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("Acquisition cycle against the virtual instrument (program thread CPU time)\n");
  cpu_per_tick(quick);
  paced_line(quick);
  memory(quick);
  return 0;
}
