#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "report_command.hpp"
#include "support/temp_dir.hpp"
#include "workbook/xlsx_probe.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::q;
using testing::run_report;
using testing::TempDir;
using testing::write_file;

TEST(KestrovaReport, ConvertsWithTheLocaleListSeparatorAndCleansUp) {
  TempDir tmp;
  fs::create_directory(tmp / "scratch_parent");
  write_file(tmp / "r.csv", "Time,Value\n0,1.5\n");
  const testing::CommandRun r = run_report("xlsx " + q(tmp / "r.csv") + " " + q(tmp / "r.xlsx"),
                                           "LC_ALL=C TMPDIR=" + q(tmp / "scratch_parent"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(fs::is_empty(tmp / "scratch_parent")) << "the temporary data folder is removed";

  KESTROVA_PROBE_OR_SKIP(probe, tmp / "r.xlsx");
  EXPECT_NE(probe.output.find("cell A1 s 'Time'\ncell B1 s 'Value'\ncell A2 n 0\ncell B2 n 1.5\n"),
            std::string::npos)
      << probe.output;
}

TEST(KestrovaReport, UsesTheGivenSeparatorAndDataFolder) {
  TempDir tmp;
  write_file(tmp / "r.csv", "a;b\n");
  const testing::CommandRun r =
      run_report("--data-dir " + q(tmp.path()) + " xlsx " + q(tmp / "r.csv") + " " +
                 q(tmp / "r.xlsx") + " --separator ';'");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(fs::exists(tmp / "r.xlsx"));
  EXPECT_NE(testing::read_file(tmp / "tmp_xlsx" / "xl" / "worksheets" / "sheet1.xml")
                .find("<c r=\"B1\" t=\"s\">"),
            std::string::npos)
      << "the scratch folder stays in the data folder";
}

TEST(KestrovaReport, FailuresExitNonZeroWithAClearMessage) {
  TempDir tmp;
  const testing::CommandRun missing =
      run_report("xlsx " + q(tmp / "none.csv") + " " + q(tmp / "r.xlsx"));
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_EQ(missing.output, "kestrova-report: Error en Convertir_csv_xlsx: No such file or "
                            "directory: " +
                                (tmp / "none.csv").string() + "\n");
  EXPECT_FALSE(fs::exists(tmp / "r.xlsx"));

  write_file(tmp / "empty.csv", "");
  const testing::CommandRun empty =
      run_report("xlsx " + q(tmp / "empty.csv") + " " + q(tmp / "r.xlsx"));
  EXPECT_NE(empty.exit_code, 0);
  EXPECT_NE(empty.output.find("El archivo CSV est\xC3\xA1 vac\xC3\xADo"), std::string::npos);

  const testing::CommandRun no_command = run_report("");
  EXPECT_NE(no_command.exit_code, 0);
  const testing::CommandRun too_few = run_report("xlsx " + q(tmp / "empty.csv"));
  EXPECT_NE(too_few.exit_code, 0);
  EXPECT_NE(too_few.output.find("XLSX_FILE"), std::string::npos) << too_few.output;
  const testing::CommandRun bad_dir =
      run_report("--data-dir " + q(tmp / "nope") + " xlsx a.csv b.xlsx");
  EXPECT_NE(bad_dir.exit_code, 0);
}

TEST(KestrovaReport, RefusesToWriteTheWorkbookOverItsOwnCsv) {
  TempDir tmp;
  fs::create_directories(tmp / "sub");
  const std::string csv_text = "Time,Value\n0,1.5\n";
  write_file(tmp / "r.csv", csv_text);
  fs::create_hard_link(tmp / "r.csv", tmp / "hard.csv");
  fs::create_symlink(tmp / "r.csv", tmp / "link.xlsx");
  struct Case {
    std::string args;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {"xlsx " + q(tmp / "r.csv") + " " + q(tmp / "r.csv"), "would replace the CSV file"},
      {"xlsx " + q(tmp / "r.csv") + " " + q(tmp / "sub" / ".." / "r.csv"),
       "would replace the CSV file"},
      {"xlsx " + q(tmp / "r.csv") + " " + q(tmp / "hard.csv"), "would replace the CSV file"},
      {"xlsx " + q(tmp / "r.csv") + " " + q(tmp / "link.xlsx"), "would replace the CSV file"},
      // The scratch folder is emptied by every conversion, a CSV kept there included.
      {"--data-dir " + q(tmp / "sub") + " xlsx " + q(tmp / "sub" / "tmp_xlsx" / "r.csv") + " " +
           q(tmp / "r.xlsx"),
       "lies in the scratch folder"},
      {"--data-dir " + q(tmp / "sub") + " xlsx " + q(tmp / "r.csv") + " " +
           q(tmp / "sub" / "tmp_xlsx" / "r.xlsx"),
       "lies in the scratch folder"},
  };
  fs::create_directories(tmp / "sub" / "tmp_xlsx");
  write_file(tmp / "sub" / "tmp_xlsx" / "r.csv", csv_text);
  for (const Case& c : cases) {
    const testing::CommandRun r = run_report(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args << "\n" << r.output;
    EXPECT_EQ(r.output.rfind("kestrova-report: ", 0), 0u) << r.output;
    EXPECT_NE(r.output.find(c.refusal), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(testing::read_file(tmp / "r.csv"), csv_text) << c.args;
    EXPECT_EQ(testing::read_file(tmp / "sub" / "tmp_xlsx" / "r.csv"), csv_text) << c.args;
    EXPECT_TRUE(fs::is_symlink(tmp / "link.xlsx")) << c.args;
    EXPECT_FALSE(fs::exists(tmp / "r.xlsx")) << c.args;
  }
  // Another name in the same folder is fine.
  EXPECT_EQ(run_report("xlsx " + q(tmp / "r.csv") + " " + q(tmp / "r.xlsx")).exit_code, 0);
}

// kestrova-report run as a child process with its output in a file, so that a test can stop
// it and send it signals at chosen points of its work.
class ReportProcess {
public:
  ReportProcess(const std::vector<std::string>& args, const fs::path& tmpdir,
                const fs::path& output) {
    std::vector<std::string> env = {"TMPDIR=" + tmpdir.string(), "LC_ALL=C"};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry = *e;
      if (!entry.starts_with("TMPDIR=") && !entry.starts_with("LC_ALL=")) env.emplace_back(entry);
    }
    std::vector<std::string> argv = {KESTROVA_REPORT_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> p;
      for (std::string& s : strings)
        p.push_back(s.data());
      p.push_back(nullptr);
      return p;
    };
    std::vector<char*> argv_p = pointers(argv);
    std::vector<char*> env_p = pointers(env);
    if (::posix_spawn(&pid_, argv_p[0], &actions, nullptr, argv_p.data(), env_p.data()) != 0)
      pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
  }
  ~ReportProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  bool started() const { return pid_ > 0; }
  bool running() {
    if (status_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
  }
  void signal(int number) { ::kill(pid_, number); }
  int wait() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, 0) == pid_) status_ = status;
    return status_.value_or(-1);
  }

private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A CSV of `megabytes` MB: one megabyte of rows of numbers and texts, 40 fields a row,
// written again and again.
void write_big_csv(const fs::path& file, int megabytes) {
  std::string block;
  for (int r = 0; block.size() < (1u << 20); ++r) {
    for (int c = 0; c < 40; ++c) {
      block += c % 3 ? std::to_string(r) + "." + std::to_string(c)
                     : "g" + std::to_string(r % 500) + "_" + std::to_string(c);
      block += c < 39 ? ',' : '\n';
    }
  }
  std::string text;
  for (int i = 0; i < megabytes; ++i)
    text += block;
  write_file(file, text);
}

// Waits until a file named `name` of at least `bytes` bytes lies somewhere under `folder`.
bool wait_for_file(ReportProcess& report, const fs::path& folder, const std::string& name,
                   std::uintmax_t bytes) {
  while (report.running()) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code size_ec;
      if (it->path().filename() == name && fs::file_size(it->path(), size_ec) >= bytes && !size_ec)
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// Waits until a file whose name starts with `prefix` is created in `folder`: the archive's
// hidden temporary is made and filled within a fraction of a second, so it is watched for
// with inotify rather than by looking now and then.
bool wait_for_creation(ReportProcess& report, int inotify, const std::string& prefix) {
  alignas(inotify_event) char buffer[4096];
  while (report.running()) {
    pollfd p{inotify, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(inotify, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && std::string_view(event->name).starts_with(prefix)) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return false;
}

TEST(KestrovaReport, AnInterruptedConversionLeavesNoPartialFiles) {
  TempDir tmp;
  write_big_csv(tmp / "big.csv", 16);
  struct Case {
    const char* phase;
    int signal;
  };
  for (const Case& c : {Case{"sheet", SIGTERM}, Case{"archive", SIGINT}}) {
    const fs::path out = tmp / (std::string("out_") + c.phase);
    const fs::path scratch = tmp / (std::string("scratch_") + c.phase);
    fs::create_directories(out);
    fs::create_directories(scratch);
    const int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(inotify, 0);
    ASSERT_GE(::inotify_add_watch(inotify, out.c_str(), IN_CREATE), 0);

    ReportProcess report({"xlsx", (tmp / "big.csv").string(), (out / "big.xlsx").string()}, scratch,
                         tmp / "output.txt");
    ASSERT_TRUE(report.started());
    const bool reached = c.phase == std::string("sheet")
                             ? wait_for_file(report, scratch, "sheet1.xml", 4u << 20)
                             : wait_for_creation(report, inotify, ".big.xlsx.");
    ::close(inotify);
    // Held still while the test looks, so the work cannot run to its end meanwhile.
    report.signal(SIGSTOP);
    ASSERT_TRUE(reached && report.running()) << c.phase << " phase missed\n"
                                             << testing::read_file(tmp / "output.txt");
    bool partial = false;
    for (const auto& entry :
         fs::recursive_directory_iterator(c.phase == std::string("sheet") ? scratch : out))
      partial = partial || entry.is_regular_file();
    EXPECT_TRUE(partial) << "work in progress in the " << c.phase << " phase";

    report.signal(c.signal);
    report.signal(SIGCONT);
    const int status = report.wait();
    const std::string output = testing::read_file(tmp / "output.txt");
    ASSERT_TRUE(WIFEXITED(status)) << c.phase << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << c.phase << "\n" << output;
    EXPECT_TRUE(fs::is_empty(out)) << c.phase << ": no workbook and no hidden partial archive";
    EXPECT_TRUE(fs::is_empty(scratch)) << c.phase << ": the scratch files are removed";
    EXPECT_NE(output.find("Operation canceled"), std::string::npos) << output;
  }
}

} // namespace
} // namespace kestrova::tools
