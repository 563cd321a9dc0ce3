// Track benchmark: the travel distances of a one-hour w6 recording (60 one-minute blocks) by
// `kestrova-report track`, and by the same computation in this process, against reading the
// recording's real-time files once, in the same run; with the files in the page cache and read
// from disk. The tables of both runs must agree.
// Usage: track_bench [SCRATCH_FOLDER [keep]]   (default: the system's temporary folder; with
//        "keep" the acquisition is left there for profiling)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../bench_support.hpp"
#include "acquisition/activity_files.hpp"
#include "browser/track_run.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_layout.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

constexpr int kRecords = 60;
constexpr int kPositions = 501;
constexpr int kSlots = store::kChannelSlots;

// A w6 zebrafish acquisition: every beam at its own level with noise; in each well one larva
// swims from beam to neighbouring beam, dimming the beams around it for a few samples.
void make_acquisition(const fs::path& folder) {
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Plate_format = "w6";
  setup.tool_settings[0][0] = 1;
  if (!store::save_file_atomically(folder / store::kSetupFileName,
                                   store::setup_file_text(1, setup)))
    std::exit(1);
  const store::PlateFormat plate = store::GeneratePlateFormat(*store::FindPlateLayout("w6"));
  std::vector<std::vector<int>> wells(6);
  for (int c = 0; c < store::kChannelCount; ++c)
    if (plate.map.well_of_channel[c] >= 0) wells[plate.map.well_of_channel[c]].push_back(c);

  std::mt19937 rng(11);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<int> level(store::kChannelCount), noise(store::kChannelCount);
  for (int c = 0; c < store::kChannelCount; ++c) {
    level[c] = uniform(1500, 3000);
    noise[c] = uniform(2, 20);
  }
  std::vector<std::size_t> at(6);
  for (std::size_t w = 0; w < 6; ++w)
    at[w] = static_cast<std::size_t>(uniform(0, static_cast<int>(wells[w].size()) - 1));

  acquisition::ActivityWriter writer(folder, 500);
  std::vector<std::int16_t> block(static_cast<std::size_t>(kPositions) * kSlots);
  std::vector<std::int16_t> counts(store::kChannelCount, 0);
  for (int r = 0; r < kRecords; ++r) {
    std::fill(block.begin(), block.end(), 0);
    for (int c = 0; c < store::kChannelCount; ++c)
      for (int k = 0; k < 500; ++k)
        block[static_cast<std::size_t>(k) * kSlots + c] =
            static_cast<std::int16_t>(level[c] + uniform(-noise[c], noise[c]));
    for (std::size_t w = 0; w < 6; ++w) {
      for (int k = uniform(2, 20); k < 495; k += uniform(8, 40)) {
        const int here = wells[w][at[w]];
        for (const int c : wells[w]) {
          const int dc = store::beam_column(c) - store::beam_column(here);
          const int dr = store::beam_row(c) - store::beam_row(here);
          if (dc * dc + dr * dr > 1) continue;
          for (int u = k; u < std::min(k + uniform(3, 8), 500); ++u)
            block[static_cast<std::size_t>(u) * kSlots + c] =
                static_cast<std::int16_t>(level[c] / 3);
        }
        // On to a random beam of the well within two pitches.
        std::vector<std::size_t> near;
        for (std::size_t i = 0; i < wells[w].size(); ++i) {
          const int dc = store::beam_column(wells[w][i]) - store::beam_column(here);
          const int dr = store::beam_row(wells[w][i]) - store::beam_row(here);
          if (dc * dc + dr * dr <= 4) near.push_back(i);
        }
        at[w] = near[static_cast<std::size_t>(uniform(0, static_cast<int>(near.size()) - 1))];
      }
    }
    acquisition::BufferEndRecords records;
    records.minutes = r;
    records.counts = counts;
    records.temperature = 25;
    records.save_realtime = true;
    records.raw_block = block;
    if (!writer.append_buffer(records)) std::exit(1);
  }
}

// CPU seconds of the last command run (user and system).
double command_cpu = 0;

// `kestrova-report track FOLDER`, its output thrown away; true when it exited with 0.
bool run_command(const fs::path& folder) {
  const std::string exe = KESTROVA_REPORT_EXE;
  const std::string f = folder.string();
  char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("track"),
                  const_cast<char*>(f.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  rusage usage{};
  const bool ok =
      ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  command_cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return ok;
}

// The floor the detection sets: every block read and its well channels counted once, on this
// thread, with nothing else done.
std::size_t detection_only(const fs::path& folder) {
  const store::PlateFormat plate = store::GeneratePlateFormat(*store::FindPlateLayout("w6"));
  std::vector<int> channels;
  for (int c = 0; c < store::kChannelCount; ++c)
    if (plate.map.well_of_channel[c] >= 0) channels.push_back(c);
  acquisition::ActivityDetector detector;
  std::vector<std::int16_t> counts(channels.size());
  for (int b = 0; b < kRecords - 1; ++b) {
    auto block = acquisition::read_realtime_block(folder, b, 500);
    if (!block) std::exit(1);
    detector.detect_channels(acquisition::RawBlock{*block}, channels, 1.8, 1, counts);
  }
  return channels.size();
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string table_of(const fs::path& file) {
  const auto text = store::read_file_bytes(file);
  return text ? text->substr(text->find("\r\n")) : std::string(); // without the DATE line
}

} // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");
  const std::vector<std::string> args = bench::plain_arguments(argc, argv);
  const auto scratch = bench::make_scratch_folder(args.empty() ? "" : args[0], "track-bench");
  if (!scratch) return 1;
  const fs::path folder = *scratch / "20260115_1030";
  make_acquisition(folder);

  bench::FixedClock clock;
  common::NoShell shell;
  common::NullEventPump pump;
  const auto in_process = [&] {
    browser::TrackRun run(clock, shell);
    if (!run.open(folder, {}).empty() || !run.finish(pump)) std::exit(1);
  };

  const std::size_t bytes = bench::read_realtime_once(folder);
  const double read = bench::best_of(5, [&] { bench::read_realtime_once(folder); });
  bool command_ok = true;
  double command_cpu_best = 1e30;
  const double command = bench::best_of(3, [&] {
    command_ok = run_command(folder) && command_ok;
    command_cpu_best = std::min(command_cpu_best, command_cpu);
  });
  const std::string command_table = table_of(folder / "report.csv");
  double core_cpu = 1e30;
  const double core = bench::best_of(3, [&] {
    const double cpu = cpu_seconds();
    in_process();
    core_cpu = std::min(core_cpu, cpu_seconds() - cpu);
  });
  const std::string core_table = table_of(folder / "report.csv");
  std::size_t well_channels = 0;
  double floor_cpu = 1e30;
  const double floor = bench::best_of(3, [&] {
    const double cpu = cpu_seconds();
    well_channels = detection_only(folder);
    floor_cpu = std::min(floor_cpu, cpu_seconds() - cpu);
  });

  double cold_read = 1e30, cold_command = 1e30;
  for (int i = 0; i < 2; ++i) {
    bench::evict_realtime(folder);
    cold_read = std::min(cold_read, bench::seconds_of([&] { bench::read_realtime_once(folder); }));
    bench::evict_realtime(folder);
    cold_command = std::min(
        cold_command, bench::seconds_of([&] { command_ok = run_command(folder) && command_ok; }));
  }
  const bool same = command_ok && !core_table.empty() && core_table == command_table;

  std::printf("Track, one hour of w6 (%d records, %d blocks tracked, %.1f MB of real-time files), "
              "6 wells, method 1\n",
              kRecords, kRecords - 1, static_cast<double>(bytes) / 1e6);
  std::printf("  files in the page cache:\n");
  std::printf("    reading the files once    %8.1f ms\n", read * 1e3);
  std::printf("    kestrova-report track     %8.1f ms   ratio to the read %6.2fx   (target 3x)   "
              "CPU %.1f ms\n",
              command * 1e3, command / read, command_cpu_best * 1e3);
  std::printf("    in process (open, finish) %8.1f ms   ratio to the read %6.2fx   CPU %.1f ms\n",
              core * 1e3, core / read, core_cpu * 1e3);
  std::printf("    detection alone, 1 thread %8.1f ms   ratio to the read %6.2fx   CPU %.1f ms   "
              "(every block read and its %zu well channels counted, nothing else)\n",
              floor * 1e3, floor / read, floor_cpu * 1e3, well_channels);
  std::printf("  files read from disk (dropped from the page cache before each pass):\n");
  std::printf("    reading the files once    %8.1f ms\n", cold_read * 1e3);
  std::printf("    kestrova-report track     %8.1f ms   ratio to the read %6.2fx   (target 3x)\n",
              cold_command * 1e3, cold_command / cold_read);
  std::printf("  tables of the command and of the in-process run identical: %s\n",
              same ? "yes" : "NO");
  if (args.size() > 1 && args[1] == "keep")
    std::printf("  acquisition kept in %s\n", folder.c_str());
  else
    fs::remove_all(*scratch);
  return same ? 0 : 1;
}
