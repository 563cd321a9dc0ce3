// Every long command of kestrova-report stopped by SIGINT, SIGTERM or SIGHUP at a known point
// of its work: it exits 128 + the signal with one line saying nothing was changed, and every
// file is as it was.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "browser/joint_fixture.hpp"
#include "browser/track_fixture.hpp"
#include "report_command.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// kestrova-report started so that it stops itself (SIGSTOP) at the `check`-th reading of its
// stop request; its output and error output go to `output`.
class HeldReport {
public:
  HeldReport(const std::vector<std::string>& args, int check, const fs::path& output) {
    std::vector<std::string> env = {"LC_ALL=C",
                                    "KESTROVA_REPORT_STOP_AT_CHECK=" + std::to_string(check)};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (!entry.starts_with("LC_ALL=") && !entry.starts_with("KESTROVA_")) env.push_back(entry);
    }
    std::vector<std::string> argv = {KESTROVA_REPORT_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv_p, env_p;
    for (std::string& s : argv)
      argv_p.push_back(s.data());
    argv_p.push_back(nullptr);
    for (std::string& s : env)
      env_p.push_back(s.data());
    env_p.push_back(nullptr);
    if (::posix_spawn(&pid_, argv_p[0], &actions, nullptr, argv_p.data(), env_p.data()) != 0)
      pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
  }
  ~HeldReport() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  // Waits until the program has stopped itself; false when it ended first.
  bool wait_held() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, WUNTRACED) != pid_) return false;
    if (WIFSTOPPED(status)) return true;
    exited_ = true;
    status_ = status;
    return false;
  }
  // Sends `number`, lets the program go on and waits for its end; its wait status.
  int interrupt(int number) {
    ::kill(pid_, number);
    ::kill(pid_, SIGCONT);
    int status = 0;
    while (::waitpid(pid_, &status, 0) == pid_ && WIFSTOPPED(status)) {
    }
    exited_ = true;
    return status;
  }
  int status() const { return status_; }

private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

std::vector<int> record_minutes(int first, int last) {
  std::vector<int> t;
  for (int m = first; m <= last; ++m)
    t.push_back(m);
  return t;
}

TEST(KestrovaReportInterrupt, EveryLongCommandStopsWithNothingChanged) {
  TempDir tmp;
  const fs::path data = tmp / "data";
  fs::create_directories(data);
  fs::create_directories(tmp / "tagged");
  const fs::path acquisition =
      reports::testing::write_recording(data, "20260115_1030", {record_minutes(1, 30)});
  const auto tagged = browser::testing::write_tagged_project(tmp / "tagged");
  const fs::path track = tmp / "track" / "20260115_1030";
  browser::testing::Acquisition w6;
  w6.minutes = {3, 4, 5};
  w6.blocks = browser::testing::craft_blocks(3, {});
  browser::testing::write_acquisition(track, w6);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int check; // the reading of the stop request at which the signal comes
    int signal;
    fs::path folder; // every file under it must stay as it was
  };
  const std::string d = data.string();
  const std::string a = acquisition.string();
  const Case cases[] = {
      {"reanalyze --replace while counting",
       {"--data-dir", d, "reanalyze", a, "--replace"},
       7,
       SIGTERM,
       acquisition},
      {"reanalyze --export-raw while counting",
       {"--data-dir", d, "reanalyze", a, "--export-raw"},
       29,
       SIGHUP,
       acquisition},
      {"reanalyze in memory while reporting",
       {"--data-dir", d, "reanalyze", a},
       32,
       SIGINT,
       acquisition},
      {"generate reading the counts",
       {"--data-dir", d, "generate", a, "--type", "xlsx"},
       1,
       SIGINT,
       acquisition},
      {"generate before writing",
       {"--data-dir", d, "generate", a, "--type", "xlsx"},
       7,
       SIGTERM,
       acquisition},
      {"wells before writing", {"--data-dir", d, "wells", a, "--channels"}, 3, SIGHUP, acquisition},
      {"joint between acquisitions",
       {"joint", tagged.project.string(), "[K1]"},
       2,
       SIGINT,
       tagged.project},
      {"track between blocks", {"track", track.string()}, 1, SIGTERM, track},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = reports::testing::folder_snapshot(c.folder);
    const fs::path output = tmp / "output.txt";
    HeldReport report(c.args, c.check, output);
    ASSERT_TRUE(report.wait_held()) << "ended before the check: " << testing::read_file(output);
    const int status = report.interrupt(c.signal);
    const std::string said = testing::read_file(output);
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << said;
    const std::string name = c.signal == SIGINT    ? "SIGINT"
                             : c.signal == SIGTERM ? "SIGTERM"
                                                   : "SIGHUP";
    EXPECT_NE(said.find("kestrova-report: interrupted by " + name + "; nothing was changed\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(reports::testing::folder_snapshot(c.folder), before);
  }
}

} // namespace
} // namespace kestrova::tools
