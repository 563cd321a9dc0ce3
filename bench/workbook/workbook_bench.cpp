// Converts a large report-like CSV (200,000 rows x 30 columns, about 50 MB) into a workbook
// and prints, from the same run: the conversion time, a plain copy of a file of the
// workbook's size, the file work no conversion can avoid (the sheet written into the scratch
// folder and copied into the archive), openpyxl's write-only mode on the same table, and the
// conversion's peak memory against the CSV's size.
//
// Usage: workbook_bench [--rows N] [--runs N] [--no-openpyxl] [--dir DIR] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "common/clock.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "workbook/file_writer.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class QuietDialogs final : public kestrova::common::Dialogs {
public:
  kestrova::common::Answer message(std::string_view text, kestrova::common::Buttons,
                                   kestrova::common::Icon, std::string_view) override {
    std::cerr << text << '\n';
    return kestrova::common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

// A report-like table: time, group label, well label, then means, errors, counts, a few
// texts and empty cells. Deterministic (a fixed linear congruential sequence).
void generate_csv(const fs::path& file, int rows) {
  FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) {
    std::perror("generate_csv");
    std::exit(2);
  }
  std::uint64_t state = 12345;
  const auto next = [&state]() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<unsigned>(state >> 33);
  };
  std::fprintf(out, "Time");
  for (int c = 1; c < 30; ++c)
    std::fprintf(out, ",Column %d", c);
  std::fprintf(out, "\r\n");
  static const char* const kGroups[] = {"000_Control", "001_Drug A", "002_Drug B", "003_Vehicle",
                                        "999_Free"};
  for (int r = 1; r < rows; ++r) {
    std::fprintf(out, "%d,%s,%c%u", r * 5, kGroups[r % 5], 'A' + r % 8, 1 + (r / 8) % 12);
    for (int c = 3; c < 30; ++c) {
      const unsigned v = next();
      switch (c % 9) {
      case 0:
        std::fprintf(out, ",%u", v % 1000000);
        break;
      case 1:
        std::fprintf(out, ",%u.%u", v % 1000000, v % 10);
        break;
      case 2:
        std::fprintf(out, ",%u.%03u", v % 100, v % 997);
        break;
      case 3:
        std::fprintf(out, ",CH%u_%c", v % 384, 'a' + static_cast<char>(v % 7));
        break;
      case 4:
        std::fprintf(out, ",");
        break;
      case 5:
        std::fprintf(out, ",\"%u.%u\"", v % 5000, v % 10);
        break;
      default:
        std::fprintf(out, ",%u.%02u", v % 100000, v % 100);
        break;
      }
    }
    std::fprintf(out, "\r\n");
  }
  std::fclose(out);
}

struct ChildRun {
  double seconds = 0;
  double cpu_seconds = 0; // user + system
  long max_rss_kb = 0;
  int status = -1;
};

ChildRun run_child(const std::function<int()>& work) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) _exit(work());
  ChildRun r;
  struct rusage usage {};
  ::wait4(pid, &r.status, 0, &usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.max_rss_kb = usage.ru_maxrss;
  const auto secs = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  r.cpu_seconds = secs(usage.ru_utime) + secs(usage.ru_stime);
  return r;
}

int plain_copy(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return 1;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (;;) {
    const ssize_t n = ::read(in, buffer.get(), 1 << 20);
    if (n <= 0) break;
    if (::write(out, buffer.get(), static_cast<std::size_t>(n)) != n) return 1;
  }
  ::close(in);
  return ::close(out) == 0 ? 0 : 1;
}

// The least file work a conversion does whatever its CPU cost: the sheet written once into
// the scratch folder and copied once into the archive (both the size of the workbook) by the
// conversion's own file writer, each replacing the file of the previous run as the
// conversion does.
int write_and_copy(const fs::path& dir, std::uint64_t size) {
  const fs::path part = dir / "floor-part.bin";
  const fs::path archive = dir / "floor-archive.bin";
  std::error_code ec;
  fs::remove(part, ec);
  fs::remove(archive, ec);
  kestrova::workbook::FileWriter out;
  if (out.open(part)) return 1;
  const std::string block(1 << 20, 'x');
  for (std::uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
    out.write(block.data(), n);
    done += n;
  }
  if (out.close()) return 1;
  const int in = ::open(part.c_str(), O_RDONLY);
  kestrova::workbook::FileWriter zip;
  if (in < 0 || zip.open(archive)) return 1;
  const bool copied = !zip.copy_from(in, size, part);
  ::close(in);
  return copied && !zip.close() ? 0 : 1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Times openpyxl's write-only mode on the same table and prints it against `ours`.
void print_openpyxl(const fs::path& csv, const fs::path& dir, double ours) {
  const std::string command = "/usr/bin/python3 '" + std::string(KESTROVA_OPENPYXL_SCRIPT) + "' '" +
                              csv.string() + "' '" + (dir / "openpyxl.xlsx").string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  char line[64] = {};
  const bool got = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  if (got && status == 0) {
    const double reference = std::atof(line);
    std::printf("openpyxl         %.3f s (write-only mode, writing only) -> %.1fx our time\n",
                reference, reference / ours);
  } else {
    std::printf("openpyxl         not measured (needs /usr/bin/python3 with openpyxl)\n");
  }
}

} // namespace

int main(int argc, char** argv) {
  int rows = 200000;
  int runs = 3;
  bool openpyxl = true;
  bool keep = false;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc)
      rows = std::atoi(argv[++i]);
    else if (a == "--runs" && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--no-openpyxl")
      openpyxl = false;
    else if (a == "--keep")
      keep = true;
    else if (a == "--dir" && i + 1 < argc)
      base = argv[++i];
  }
  std::string pattern = (base / "workbook-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 2;
  const fs::path dir = pattern;
  const fs::path csv = dir / "report.csv";
  const fs::path xlsx = dir / "report.xlsx";
  generate_csv(csv, rows);
  const double csv_mb = static_cast<double>(fs::file_size(csv)) / 1e6;

  std::vector<double> convert_s;
  std::vector<double> copy_s;
  std::vector<double> convert_cpu;
  std::vector<double> copy_cpu;
  std::vector<double> floor_s;
  std::vector<double> floor_cpu;
  long max_rss_kb = 0;
  for (int i = 0; i < runs; ++i) {
    const ChildRun c = run_child([&] {
      QuietDialogs dialogs;
      kestrova::common::SystemClock clock;
      return kestrova::reports::Convertir_csv_xlsx(csv, xlsx, ",", dir, {".", ","}, dialogs, clock)
                 ? 0
                 : 1;
    });
    if (c.status != 0) {
      std::cerr << "conversion failed\n";
      return 1;
    }
    convert_s.push_back(c.seconds);
    convert_cpu.push_back(c.cpu_seconds);
    max_rss_kb = std::max(max_rss_kb, c.max_rss_kb);
    const ChildRun p = run_child([&] { return plain_copy(xlsx, dir / "copy.bin"); });
    copy_s.push_back(p.seconds);
    copy_cpu.push_back(p.cpu_seconds);
    const auto size = static_cast<std::uint64_t>(fs::file_size(xlsx));
    const ChildRun f = run_child([&] { return write_and_copy(dir, size); });
    floor_s.push_back(f.seconds);
    floor_cpu.push_back(f.cpu_seconds);
  }
  const double xlsx_mb = static_cast<double>(fs::file_size(xlsx)) / 1e6;
  const double ours = median(convert_s);
  const double copy = median(copy_s);
  std::printf("table            %d rows x 30 columns, CSV %.1f MB, workbook %.1f MB\n", rows,
              csv_mb, xlsx_mb);
  std::printf("conversion       %.3f s wall, %.3f s cpu (medians of %d)\n", ours,
              median(convert_cpu), runs);
  std::printf("plain copy       %.3f s wall, %.3f s cpu of the workbook's size\n", copy,
              median(copy_cpu));
  // Each conversion against the copy timed right after it, so a drift in the machine's speed
  // during the run does not skew the ratio.
  std::vector<double> wall_ratios;
  std::vector<double> cpu_ratios;
  for (std::size_t i = 0; i < convert_s.size(); ++i) {
    wall_ratios.push_back(convert_s[i] / copy_s[i]);
    cpu_ratios.push_back(convert_cpu[i] / copy_cpu[i]);
  }
  std::printf("ratio            conversion / copy = %.2fx wall, %.2fx cpu (median of pairs; "
              "pairs %.2f-%.2fx wall)\n",
              median(wall_ratios), median(cpu_ratios),
              *std::min_element(wall_ratios.begin(), wall_ratios.end()),
              *std::max_element(wall_ratios.begin(), wall_ratios.end()));
  std::printf("file work floor  %.3f s wall, %.3f s cpu (write + copy into the archive) "
              "= %.2fx wall, %.2fx cpu of the copy\n",
              median(floor_s), median(floor_cpu), median(floor_s) / copy,
              median(floor_cpu) / median(copy_cpu));
  std::printf("peak memory      %.1f MB = %.2fx the CSV size\n",
              static_cast<double>(max_rss_kb) / 1000.0,
              static_cast<double>(max_rss_kb) / 1000.0 / csv_mb);
  if (openpyxl) print_openpyxl(csv, dir, ours);
  std::error_code ec;
  if (keep) {
    std::printf("files kept in   %s\n", dir.c_str());
  } else {
    fs::remove_all(dir, ec);
  }
  return 0;
}
