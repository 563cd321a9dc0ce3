// Report benchmarks, as ratios against references measured in the same run:
//  (a) "Generate..." (Rows, CSV, every statistic) of a 22-day acquisition of 32,000 one-minute
//      records, against the same report made with the literal channel-by-channel re-binning;
//      the two report files must be identical.
//  (b) Re-analysis of a 24-hour recording (1,440 blocks, about 555 MB of real-time files) on one
//      and two threads, against reading those files once, with the detection kernel picked for
//      this processor and with the baseline one; the counts of all must be identical.
//      Peak memory of 6- and 24-hour runs is read from child processes.
// Usage: reports_bench [SCRATCH_FOLDER [generate|reanalysis]]
//        (default: the system's temporary folder, both benchmarks)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../bench_support.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/detection.hpp"
#include "common/event_pump.hpp"
#include "common/number_format.hpp"
#include "common/stderr_dialogs.hpp"
#include "reports/generate_report.hpp"
#include "reports/reanalysis.hpp"
#include "reports/rebin.hpp"
#include "reports/rebin_reference.hpp"
#include "reports/report_data.hpp"
#include "reports/report_statistics.hpp"
#include "reports/report_writer.hpp"
#include "store/channel_tables.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

void write_bytes(const fs::path& file, const void* data, std::size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    std::exit(1);
  }
}

// An acquisition folder on the 384-well plate, every well in one of 8 groups.
fs::path make_acquisition(const fs::path& data, const std::string& name) {
  const fs::path folder = data / "p00001" / name;
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Plate_format = "w384";
  write_bytes(folder / "setup.dat", store::setup_file_text(1, setup).data(),
              store::setup_file_text(1, setup).size());
  store::GroupTable groups;
  for (int g = 0; g < 8; ++g)
    groups.names[g] = "G" + std::to_string(g);
  groups.channel_group.fill(-1);
  for (int c = 0; c < 384; ++c)
    groups.channel_group[c] = c % 8;
  const std::string names = store::GroupNamesText(groups);
  const std::string channel_groups = store::ChannelGroupsText(groups);
  write_bytes(folder / "groups.dat", names.data(), names.size());
  write_bytes(folder / "chgroup.dat", channel_groups.data(), channel_groups.size());
  store::WriteAcquisitionIndex(folder, "Bench", "");
  return folder;
}

void write_counts(const fs::path& folder, int records, std::mt19937& rng) {
  std::vector<std::byte> bytes;
  bytes.reserve(static_cast<std::size_t>(records) * acquisition::kCountsRecordBytes);
  for (int r = 0; r < records; ++r) {
    acquisition::CountsRecord record;
    record.minutes = r + 1;
    for (int c = 0; c < 384; ++c)
      record.slots[c] = static_cast<std::int16_t>(rng() % 41);
    record.slots[384] = static_cast<std::int16_t>(240 + rng() % 20);
    const auto e = acquisition::encode_counts_record(record);
    bytes.insert(bytes.end(), e.begin(), e.end());
  }
  write_bytes(folder / "counts.bin", bytes.data(), bytes.size());
}

// ----------------------------------------------------------------------------------------------
// (a) Generate

bool bench_generate(const fs::path& data) {
  const int kRecords = 32000;
  std::mt19937 rng(1);
  const fs::path folder = make_acquisition(data, "20260101_0000");
  write_counts(folder, kRecords, rng);

  common::StderrDialogs dialogs("reports_bench: ");
  common::NoShell shell;
  common::NullEventPump pump;
  bench::FixedClock clock;
  reports::ReportServices services{dialogs, shell, pump, clock};
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = data;
  request.settings = reports::default_report_settings(",");
  request.settings.stdError = request.settings.stdDev = request.settings.n = 1;
  request.file_type = reports::ReportFileType::Csv;
  request.layout = reports::ReportLayout::Rows;
  request.open_result = false;

  std::string fast_text;
  const double fast = bench::best_of(3, [&] {
    const auto result = reports::generate_report(request, services);
    if (!result.ok) std::exit(1);
    fast_text = *store::read_file_bytes(result.report);
  });

  // The same report with the literal re-binning.
  std::string literal_text;
  const double literal = bench::best_of(2, [&] {
    const auto layout = reports::load_acquisition_layout(folder, data, dialogs);
    const auto rows = reports::read_counts_rows(folder / "counts.bin");
    const char decimal = common::locale_decimal_separator();
    const std::string setting = reports::setting_text_from_setup(folder, decimal);
    const int bin = reports::adjust_report_bin(request.settings.Bin, rows->last_time());
    const reports::RebinResult rebinned = reports::reference_rebin(*rows, bin);
    const auto numbers =
        reports::compute_report_numbers(rebinned.rows, rebinned.rows.last_time(), bin, false,
                                        *layout, request.layout, folder, dialogs);
    const reports::ReportHeading heading{reports::report_date_text(bench::FixedClock::kTime),
                                         folder.string(), store::ReadAcquisitionTitle(folder),
                                         setting, ""};
    const reports::ReportFormat format{request.layout, ",", decimal, true, true, true};
    literal_text = reports::report_file_text(*numbers, *layout, heading, format);
    const auto saved = reports::save_report_file(folder, ".csv", literal_text);
    if (!saved) std::exit(1);
  });

  // The re-binning step alone.
  const auto rows = reports::read_counts_rows(folder / "counts.bin");
  const double rebin_fast = bench::best_of(3, [&] { (void)reports::rebin_rows(*rows, 30); });
  const double rebin_literal =
      bench::best_of(1, [&] { (void)reports::reference_rebin(*rows, 30); });

  const bool same = fast_text == literal_text && !fast_text.empty();
  std::printf("(a) Generate, 22 days (%d one-minute records), bin 30, Rows, CSV, every statistic\n",
              kRecords);
  std::printf(
      "    literal re-binning  %8.1f ms   library  %8.1f ms   ratio %6.1fx   (target 10x)\n",
      literal * 1e3, fast * 1e3, literal / fast);
  std::printf("    re-binning alone    %8.1f ms   library  %8.1f ms   ratio %6.1fx\n",
              rebin_literal * 1e3, rebin_fast * 1e3, rebin_literal / rebin_fast);
  std::printf("    report bytes identical: %s (%zu bytes)\n", same ? "yes" : "NO",
              fast_text.size());
  return same;
}

// ----------------------------------------------------------------------------------------------
// (b) Re-analysis

constexpr int kBlocks = 1440;

// Real-time files of `blocks` blocks: beams at their own levels with noise and organisms' dips.
void write_realtime(const fs::path& folder, int blocks) {
  constexpr int kSlots = acquisition::kChannelSlots;
  constexpr int kVariants = 12;
  std::mt19937 rng(5);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::vector<std::int16_t>> variants(kVariants,
                                                  std::vector<std::int16_t>(501 * kSlots, 0));
  for (auto& b : variants) {
    for (int c = 0; c < 384; ++c) {
      const int level = uniform(800, 3500), noise = uniform(2, 40);
      std::vector<int> x(500);
      for (int& v : x)
        v = level + uniform(-noise, noise);
      for (int d = uniform(0, 20); d > 0; --d) {
        const int at = uniform(0, 499), width = uniform(2, 30), depth = uniform(50, level / 2);
        for (int u = at; u < std::min(500, at + width); ++u)
          x[u] -= depth;
      }
      for (int k = 0; k < 500; ++k)
        b[k * kSlots + c] = static_cast<std::int16_t>(x[k]);
    }
  }
  std::vector<std::byte> bytes;
  for (int first = 0; first < blocks; first += acquisition::kBlocksPerRealtimeFile) {
    std::ofstream out(folder / acquisition::realtime_file_name(first / 11), std::ios::binary);
    for (int b = first; b < std::min(blocks, first + 11); ++b) {
      bytes.clear();
      acquisition::encode_samples(variants[static_cast<std::size_t>(b) % kVariants], bytes);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    if (!out) std::exit(1);
  }
}

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

reports::ReanalysisResult reanalyse(const fs::path& data, const fs::path& folder, int threads,
                                    std::optional<double> hours) {
  common::StderrDialogs dialogs("reports_bench: ");
  common::NoShell shell;
  common::NullEventPump pump;
  bench::FixedClock clock;
  reports::ReportServices services{dialogs, shell, pump, clock};
  reports::ReanalysisRequest request;
  request.report.acquisition_folder = folder;
  request.report.data_folder = data;
  request.report.settings = reports::default_report_settings(",");
  request.report.open_result = false;
  request.threads = threads;
  request.hours = hours;
  return reports::run_reanalysis(request, services);
}

// Peak resident memory in MB of a child process that runs a re-analysis.
double child_peak_mb(const fs::path& data, const fs::path& folder, std::optional<double> hours) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const auto result = reanalyse(data, folder, 2, hours);
    std::_Exit(result.ok() ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

const char* kernel_name(acquisition::DetectionKernel kernel) {
  switch (kernel) {
  case acquisition::DetectionKernel::Avx512:
    return "AVX-512";
  case acquisition::DetectionKernel::Avx2:
    return "AVX2";
  case acquisition::DetectionKernel::Baseline:
    break;
  }
  return "baseline";
}

// Timings of the re-analysis with one detection kernel.
struct KernelRun {
  double t1 = 0, t2 = 0, cpu2 = 0, cold_t2 = 1e30;
  reports::ReanalysisResult one, two;
};

KernelRun time_reanalysis(const fs::path& data, const fs::path& folder,
                          acquisition::DetectionKernel kernel) {
  acquisition::set_default_detection_kernel(kernel);
  KernelRun run;
  run.t1 = bench::best_of(2, [&] { run.one = reanalyse(data, folder, 1, std::nullopt); });
  run.t2 = bench::best_of(2, [&] {
    const double cpu = cpu_seconds();
    run.two = reanalyse(data, folder, 2, std::nullopt);
    run.cpu2 = cpu_seconds() - cpu;
  });
  return run;
}

bool bench_reanalysis(const fs::path& data) {
  const fs::path folder = make_acquisition(data, "20260201_0000");
  std::mt19937 rng(2);
  write_counts(folder, kBlocks, rng);
  write_realtime(folder, kBlocks);

  const std::size_t bytes =
      bench::read_realtime_once(folder); // warms the cache like every later pass
  const double peak_6h = child_peak_mb(data, folder, 6.0);
  const double peak_24h = child_peak_mb(data, folder, std::nullopt);

  // The kernel detection picks on this processor, against the baseline one (two lanes per
  // vector) that every processor runs.
  const acquisition::DetectionKernel picked = acquisition::default_detection_kernel();
  const acquisition::DetectionKernel baseline = acquisition::DetectionKernel::Baseline;
  const double read = bench::best_of(3, [&] { bench::read_realtime_once(folder); });
  KernelRun base = time_reanalysis(data, folder, baseline);
  KernelRun fast = time_reanalysis(data, folder, picked);
  double cold_read = 1e30;
  for (int i = 0; i < 2; ++i) {
    bench::evict_realtime(folder);
    cold_read = std::min(cold_read, bench::seconds_of([&] { bench::read_realtime_once(folder); }));
    for (KernelRun* run : {&base, &fast}) {
      acquisition::set_default_detection_kernel(run == &base ? baseline : picked);
      bench::evict_realtime(folder);
      run->cold_t2 =
          std::min(run->cold_t2,
                   bench::seconds_of([&] { run->two = reanalyse(data, folder, 2, std::nullopt); }));
    }
  }
  acquisition::set_default_detection_kernel(picked);
  const auto counted = [](const KernelRun& run) {
    return run.one.ok() && run.two.ok() && run.one.records == kBlocks &&
           run.one.rows.counts == run.two.rows.counts;
  };
  const bool same = counted(base) && counted(fast) && base.one.rows.counts == fast.one.rows.counts;

  std::printf("(b) Re-analysis, 24 hours (%d blocks, %.0f MB of real-time files), all 384 "
              "channels in wells, method 1\n",
              kBlocks, static_cast<double>(bytes) / 1e6);
  std::printf("    detection kernel: %s (before: %s)\n", kernel_name(picked),
              kernel_name(baseline));
  std::printf("    files in the page cache:\n");
  std::printf("      reading the files once %8.1f ms\n", read * 1e3);
  for (const KernelRun* run : {&base, &fast}) {
    const char* name = kernel_name(run == &base ? baseline : picked);
    std::printf("      re-analysis, 1 thread  %8.1f ms   ratio to the read %6.2fx   %s\n",
                run->t1 * 1e3, run->t1 / read, name);
    std::printf(
        "      re-analysis, 2 threads %8.1f ms   ratio to the read %6.2fx   %s; CPU %.1f ms "
        "(%.2f cores busy)\n",
        run->t2 * 1e3, run->t2 / read, name, run->cpu2 * 1e3, run->cpu2 / run->t2);
  }
  std::printf("    files read from disk (dropped from the page cache before each pass):\n");
  std::printf("      reading the files once %8.1f ms\n", cold_read * 1e3);
  for (const KernelRun* run : {&base, &fast})
    std::printf("      re-analysis, 2 threads %8.1f ms   ratio to the read %6.2fx   %s%s\n",
                run->cold_t2 * 1e3, run->cold_t2 / cold_read,
                kernel_name(run == &base ? baseline : picked),
                run == &fast ? "   (target 3x)" : "");
  std::printf("    counts of 1 and 2 threads, %s and %s identical: %s\n", kernel_name(baseline),
              kernel_name(picked), same ? "yes" : "NO");
  std::printf("    peak memory: 6 hours %.1f MB, 24 hours %.1f MB   (limit 200 MB)\n", peak_6h,
              peak_24h);
  return same && peak_6h > 0 && peak_24h > 0;
}

} // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");
  const std::vector<std::string> args = bench::plain_arguments(argc, argv);
  const auto scratch = bench::make_scratch_folder(args.empty() ? "" : args[0], "reports-bench");
  if (!scratch) return 1;
  const fs::path data = *scratch;
  fs::copy_file(fs::path(KESTROVA_DATA_DIR) / "w384.dat", data / "w384.dat");
  const std::string only = args.size() > 1 ? args[1] : "";
  const bool reanalysis_ok = only == "generate" || bench_reanalysis(data);
  const bool generate_ok = only == "reanalysis" || bench_generate(data);
  fs::remove_all(data);
  return reanalysis_ok && generate_ok ? 0 : 1;
}
