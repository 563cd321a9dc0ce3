// Offline plot benchmarks, as ratios of process CPU time against references measured in the
// same run:
//  (a) the line plot of a 22-day acquisition (32,000 one-minute records, bin 30), computed from
//      its counts.bin and drawn, against reading that counts.bin once (target: within 3x);
//  (b) loading one page of raw data from five real-time files (about 21 MB), against reading
//      those files once (target: within 2x); the page's peak memory is measured in a fresh
//      process (target: under 2x the page's bytes).
// Usage: plots_bench [SCRATCH_FOLDER]        (default: the system's temporary folder)
//        plots_bench --page-memory FOLDER    (internal: the fresh process of (b))

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "browser/group_table.hpp"
#include "browser/plot_draw.hpp"
#include "browser/realtime_page.hpp"
#include "common/canvas.hpp"
#include "common/stderr_dialogs.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

constexpr int kRecords = 32000;
constexpr int kRuns = 15;

// Counts the calls, so the drawing's own cost is measured without a picture.
class NullCanvas final : public common::Canvas {
public:
  void set_world(double, double, double, double) override { ++calls; }
  void clear(common::Rgb) override { ++calls; }
  void set_draw_width(int) override { ++calls; }
  void line(double, double, double, double, common::Rgb) override { ++calls; }
  void box(double, double, double, double, common::Rgb, bool) override { ++calls; }
  void circle(double, double, double, common::Rgb, bool) override { ++calls; }
  void text(double, double, std::string_view, common::Rgb, double) override { ++calls; }
  bool save(const fs::path&, common::ImageFormat) override { return true; }
  long calls = 0;
};

// CPU time of the process (user and system), so that other work on a shared machine does not
// count; the median of the runs.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median_seconds(const std::function<void()>& work) {
  std::vector<double> t;
  for (int i = 0; i < kRuns; ++i) {
    const double start = cpu_seconds();
    work();
    t.push_back(cpu_seconds() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Reads a file whole into memory with plain stdio, as the reference read.
std::size_t read_whole(const fs::path& file, std::vector<char>& buffer) {
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return 0;
  buffer.resize(fs::file_size(file));
  const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
  std::fclose(f);
  return n;
}

void write_counts(const fs::path& folder) {
  fs::create_directories(folder);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> count(0, 40);
  std::ofstream out(folder / "counts.bin", std::ios::binary);
  for (int r = 0; r < kRecords; ++r) {
    acquisition::CountsRecord record;
    record.minutes = r;
    for (int k = 0; k < store::kChannelCount; ++k)
      record.slots[static_cast<std::size_t>(k)] = static_cast<std::int16_t>(count(rng));
    const auto bytes = acquisition::encode_counts_record(record);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

void write_realtime(const fs::path& folder) {
  fs::create_directories(folder);
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> sample(1500, 2500);
  std::vector<std::int16_t> block(501 * store::kChannelSlots);
  std::vector<std::byte> bytes;
  for (int f = 0; f < 5; ++f) {
    std::ofstream out(folder / acquisition::realtime_file_name(f), std::ios::binary);
    for (int b = 0; b < acquisition::kBlocksPerRealtimeFile; ++b) {
      for (auto& s : block)
        s = static_cast<std::int16_t>(sample(rng));
      bytes.clear();
      acquisition::encode_samples(block, bytes);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
  }
}

long status_kb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  return -1;
}

// The fresh process of (b): resident memory before, and the high-water mark after, loading.
int page_memory(const fs::path& folder) {
  const long before = status_kb("VmRSS:");
  const double start = cpu_seconds();
  browser::RealtimePage page;
  page.open(folder);
  if (!page.load(1)) return 1;
  const double cold = cpu_seconds() - start;
  const long peak = status_kb("VmHWM:");
  std::printf("%ld %zu %.6f\n", peak - before, page.bytes(), cold);
  return 0;
}

// The reference of the first load: a fresh process reading the five files into new memory.
int fresh_read(const fs::path& folder) {
  const double start = cpu_seconds();
  std::size_t total = 0;
  for (int f = 0; f < 5; ++f)
    total += fs::file_size(folder / acquisition::realtime_file_name(f));
  const auto memory = std::make_unique_for_overwrite<char[]>(total);
  std::size_t at = 0;
  for (int f = 0; f < 5; ++f) {
    std::FILE* in = std::fopen((folder / acquisition::realtime_file_name(f)).c_str(), "rb");
    if (!in) return 1;
    at += std::fread(memory.get() + at, 1, total - at, in);
    std::fclose(in);
  }
  std::printf("0 %zu %.6f\n", at, cpu_seconds() - start);
  return 0;
}

// Runs this program again with `mode` on `folder` and reads the three numbers it prints.
bool run_fresh(const char* self, const char* mode, const fs::path& folder, long& a,
               unsigned long& b, double& c) {
  int pipe_fd[2];
  if (pipe(pipe_fd) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipe_fd[1], 1);
    close(pipe_fd[0]);
    execl("/proc/self/exe", self, mode, folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_fd[1]);
  char out[128] = {};
  const auto n = read(pipe_fd[0], out, sizeof out - 1);
  close(pipe_fd[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return n > 0 && std::sscanf(out, "%ld %lu %lf", &a, &b, &c) == 3;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--page-memory") return page_memory(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--fresh-read") return fresh_read(argv[2]);
  const fs::path scratch = (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) /
                           ("plots_bench_" + std::to_string(getpid()));
  fs::create_directories(scratch);
  int failures = 0;

  // (a) Line plot of 22 days.
  const fs::path acquisition = scratch / "20210301_0900";
  write_counts(acquisition);
  browser::ChannelGroups groups{};
  for (int k = 0; k < store::kChannelSlots; ++k)
    groups[static_cast<std::size_t>(k)] = k < store::kChannelCount ? k / 32 : -1;
  std::vector<std::string> items;
  for (int g = 0; g < 12; ++g)
    items.push_back("00" + std::to_string(g) + "_Group");
  std::vector<char> buffer;
  const double read_counts =
      median_seconds([&] { read_whole(acquisition / "counts.bin", buffer); });
  common::StderrDialogs dialogs;
  long drawn = 0;
  const double line_plot = median_seconds([&] {
    const auto table = browser::group_activity(acquisition, groups, 30, true, dialogs);
    NullCanvas canvas;
    browser::draw_line_plot(canvas, *table, items, 0, nullptr);
    drawn = canvas.calls;
  });
  std::optional<browser::GroupActivity> table;
  const double compute_only = median_seconds(
      [&] { table = browser::group_activity(acquisition, groups, 30, true, dialogs); });
  const double draw_only = median_seconds([&] {
    NullCanvas canvas;
    browser::draw_line_plot(canvas, *table, items, 0, nullptr);
  });
  std::printf("    (table %.1f ms, drawing %.1f ms)\n", compute_only * 1e3, draw_only * 1e3);
  const double ratio_a = line_plot / read_counts;
  std::printf("(a) line plot, 22 days (%d records, %.1f MB), bin 30: %.1f ms (%ld drawing calls); "
              "reading counts.bin once: %.1f ms; ratio %.2f (target <= 3)\n",
              kRecords, static_cast<double>(buffer.size()) / 1e6, line_plot * 1e3, drawn,
              read_counts * 1e3, ratio_a);
  if (ratio_a > 3) ++failures;

  // (b) One page of raw data.
  const fs::path raw = scratch / "raw";
  write_realtime(raw);
  std::size_t file_bytes = 0;
  const double read_files = median_seconds([&] {
    file_bytes = 0;
    for (int f = 0; f < 5; ++f)
      file_bytes += read_whole(raw / acquisition::realtime_file_name(f), buffer);
  });
  browser::RealtimePage page;
  const double load_page = median_seconds([&] {
    page.open(raw);
    page.load(1);
  });
  const double ratio_b = load_page / read_files;
  std::printf("(b) page of %d blocks from five files (%.1f MB): %.1f ms; reading the files once: "
              "%.1f ms; ratio %.2f (target <= 2)\n",
              page.blocks(), static_cast<double>(file_bytes) / 1e6, load_page * 1e3,
              read_files * 1e3, ratio_b);
  if (ratio_b > 2) ++failures;

  // Peak memory and the first load in a fresh process.
  long grown_kb = 0;
  unsigned long page_bytes = 0;
  double cold = 0;
  long unused = 0;
  unsigned long read_bytes = 0;
  double cold_read = 0;
  if (!run_fresh(argv[0], "--page-memory", raw, grown_kb, page_bytes, cold) ||
      !run_fresh(argv[0], "--fresh-read", raw, unused, read_bytes, cold_read)) {
    std::printf("(b) memory: the measuring process failed\n");
    ++failures;
  } else {
    const double ratio_m = grown_kb * 1024.0 / static_cast<double>(page_bytes);
    std::printf("(b) memory: peak growth %.1f MB for a page of %.1f MB; ratio %.2f (target < 2)\n",
                grown_kb / 1024.0, static_cast<double>(page_bytes) / 1048576.0, ratio_m);
    std::printf("    first load in a fresh process: %.1f ms; reading the files into new memory in "
                "a fresh process: %.1f ms; ratio %.2f\n",
                cold * 1e3, cold_read * 1e3, cold / cold_read);
    if (ratio_m >= 2) ++failures;
  }

  fs::remove_all(scratch);
  return failures == 0 ? 0 : 1;
}
