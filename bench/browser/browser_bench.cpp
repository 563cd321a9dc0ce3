// Experiment browser benchmarks on a data folder of 100 projects with 50 acquisitions each
// (every acquisition with counts.bin and subproj.dat, every project with tags_id.dat), as
// ratios against a reference measured in the same run: walking the same folders and reading
// every setup.dat, subproj.dat and tags_id.dat once.
//  - open: the list as the window opens it (projects only);
//  - expanded: every project expanded (5,100 lines);
//  - search: a search that looks into every project's acquisitions;
//  - kestrova-report list: the whole program run, output to /dev/null.
// Usage: browser_bench [SCRATCH_FOLDER]   (default: the system's temporary folder)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "../bench_support.hpp"
#include "browser/browser_list.hpp"
#include "browser/browser_session.hpp"
#include "common/shell.hpp"
#include "common/stderr_dialogs.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

constexpr int kProjects = 100;
constexpr int kAcquisitions = 50;

void make_data_folder(const fs::path& data) {
  for (int p = 1; p <= kProjects; ++p) {
    const fs::path project = data / store::ProjectFolderName(p);
    fs::create_directories(project);
    store::SetupValues setup;
    setup.Name = "Project number " + std::to_string(p);
    store::write_setup_file(project, p, setup);
    std::string tags;
    for (int a = 0; a < kAcquisitions; ++a) {
      char name[32];
      std::snprintf(name, sizeof name, "2024%02d%02d_%02d%02d", 1 + a % 12, 1 + a % 28, a % 24,
                    (7 * a) % 60);
      const fs::path folder = project / name;
      fs::create_directories(folder);
      std::ofstream(folder / "counts.bin", std::ios::binary).write("\0\0\0\0", 4);
      store::WriteAcquisitionIndex(
          folder, "Acquisition " + std::to_string(a) + " of project " + std::to_string(p),
          "comments");
      if (a % 5 == 0) tags += std::string(name) + " [K" + std::to_string(1 + a % 4) + "]\r\n";
    }
    std::ofstream(project / "tags_id.dat", std::ios::binary) << tags;
  }
}

// Reads every file the list depends on once, without any of the list's rules.
std::size_t read_everything(const fs::path& data) {
  std::size_t bytes = 0;
  const auto read = [&](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes += text.size();
  };
  for (const auto& project : fs::directory_iterator(data)) {
    read(project.path() / "setup.dat");
    read(project.path() / "tags_id.dat");
    for (const auto& acquisition : fs::directory_iterator(project.path())) {
      if (!acquisition.is_directory()) continue;
      bytes += fs::exists(acquisition.path() / "counts.bin") ? 1 : 0;
      read(acquisition.path() / "subproj.dat");
    }
  }
  return bytes;
}

} // namespace

int main(int argc, char** argv) {
  const fs::path scratch =
      (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) / "kestrova_browser_bench";
  fs::remove_all(scratch);
  make_data_folder(scratch);
  common::StderrDialogs dialogs("browser_bench: ");
  common::NoShell shell;
  bench::FixedClock clock;

  std::size_t lines = 0;
  const double reference =
      bench::best_of(5, [&] { lines += read_everything(scratch) > 0 ? 0 : 1; });

  browser::ExperimentBrowser browser(scratch, dialogs, shell, clock);
  const double open = bench::best_of(5, [&] { browser.open(); });
  const std::size_t projects = browser.lines().size();

  const std::vector<std::string> folders = browser::ScanProjectFolders(scratch);
  const std::set<std::string> all(folders.begin(), folders.end());
  const double expanded = bench::best_of(
      5, [&] { lines = browser::BuildList(scratch, folders, all, true, dialogs).size(); });

  std::size_t found = 0;
  const double search = bench::best_of(5, [&] {
    browser.search("\"of project 99\"");
    found = static_cast<std::size_t>(
        std::count(browser.selected().begin(), browser.selected().end(), true));
  });

  const std::string command = std::string("'") + KESTROVA_REPORT_EXE + "' list --data-dir '" +
                              scratch.string() + "' > /dev/null";
  int status = 0;
  const double cli = bench::best_of(5, [&] { status = std::system(command.c_str()); });

  std::printf("data folder: %d projects x %d acquisitions (%zu project lines, %zu lines "
              "expanded; search selected %zu)\n",
              kProjects, kAcquisitions, projects, lines, found);
  std::printf("reference (read every file once):   %8.3f s\n", reference);
  std::printf("open (projects only):                %8.3f s  (%.2f x reference)\n", open,
              open / reference);
  std::printf("list, every project expanded:        %8.3f s  (%.2f x reference)\n", expanded,
              expanded / reference);
  std::printf("search into every project:           %8.3f s  (%.2f x reference)\n", search,
              search / reference);
  std::printf("kestrova-report list (whole run):    %8.3f s  (%.2f x reference, %.2f x expanded)"
              "%s\n",
              cli, cli / reference, cli / expanded, status == 0 ? "" : "  FAILED");
  fs::remove_all(scratch);
  return status == 0 ? 0 : 1;
}
