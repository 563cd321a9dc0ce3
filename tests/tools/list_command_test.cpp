#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "report_command.hpp"
#include "store/folder_lock.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::q;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// No data folder but the one given: the environment's is cleared.
testing::CommandRun run_report(const std::string& args) {
  return testing::run_report(args, "LC_ALL=C KESTROVA_HOME= HOME=/nonexistent",
                             testing::ErrorOutput::Merged);
}

// The lines of `text`, without their line ends.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// Two projects; project 1 holds a listed, an archived and an uncounted acquisition.
struct DataFolder {
  DataFolder() {
    for (int n : {1, 2}) {
      store::SetupValues setup;
      setup.Name = n == 1 ? "Screen\tone" : "Second";
      fs::create_directories(tmp / ("p0000" + std::to_string(n)));
      EXPECT_TRUE(store::write_setup_file(tmp / ("p0000" + std::to_string(n)), n, setup));
    }
    acquisition("p00001/20210316_1405", "first", true);
    acquisition("p00001/20210317_0900_s2", "second", true);
    acquisition("p00001/20210316_1405removed202603041507", "archived", true);
    acquisition("p00001/20210318_0900", "no counts", false);
    acquisition("p00002/20220101_0000", "other", true);
  }
  void acquisition(const std::string& folder, const std::string& title, bool counts) {
    fs::create_directories(tmp / folder);
    if (counts) write_file(tmp / folder / "counts.bin", "");
    EXPECT_TRUE(store::WriteAcquisitionIndex(tmp / folder, title, ""));
  }
  std::string dir() const { return q(tmp.path()); }
  std::string path(const std::string& folder) const { return (tmp / folder).string(); }

  TempDir tmp;
};

TEST(KestrovaReportList, ListsWhatTheBrowserListsOneTabSeparatedLineEach) {
  DataFolder d;
  write_file(d.tmp / "p00001" / "tags_id.dat", "20210317_0900_s2 [K1] [K2]\r\n");
  const auto r = run_report("list --data-dir " + d.dir());
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "p00001\t\tScreen\\tone\t\t" + d.path("p00001") + "\n" +
                          "p00001\t20210316_1405\tfirst\t\t" + d.path("p00001/20210316_1405") +
                          "\n" + "p00001\t20210317_0900_s2\tsecond\t[K1] [K2]\t" +
                          d.path("p00001/20210317_0900_s2") + "\n" + "p00002\t\tSecond\t\t" +
                          d.path("p00002") + "\n" + "p00002\t20220101_0000\tother\t\t" +
                          d.path("p00002/20220101_0000") + "\n");

  const auto project = run_report("--data-dir " + d.dir() + " list --project 2");
  ASSERT_EQ(project.exit_code, 0) << project.output;
  EXPECT_EQ(project.output, "p00002\t\tSecond\t\t" + d.path("p00002") + "\n" +
                                "p00002\t20220101_0000\tother\t\t" +
                                d.path("p00002/20220101_0000") + "\n");

  const auto tagged = run_report("list --data-dir " + d.dir() + " --tag '[K2]'");
  ASSERT_EQ(tagged.exit_code, 0) << tagged.output;
  EXPECT_EQ(tagged.output, "p00001\t20210317_0900_s2\tsecond\t[K1] [K2]\t" +
                               d.path("p00001/20210317_0900_s2") + "\n");
  EXPECT_EQ(run_report("list --data-dir " + d.dir() + " --tag '[K']").output, "")
      << "a tag is matched whole";
}

TEST(KestrovaReportList, EscapesBackslashTabAndLineBreaksSoEveryLineHasFiveFields) {
  TempDir tmp;
  const fs::path data = tmp / "data\tset\\x\ny";
  store::SetupValues setup;
  setup.Name = "a\\b";
  fs::create_directories(data / "p00001" / "20210316_1405");
  ASSERT_TRUE(store::write_setup_file(data / "p00001", 1, setup));
  write_file(data / "p00001" / "20210316_1405" / "counts.bin", "");
  ASSERT_TRUE(store::WriteAcquisitionIndex(data / "p00001" / "20210316_1405", "t\tx", ""));
  const auto r = run_report("list --data-dir " + q(data));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string escaped = (tmp / "data\\tset\\\\x\\ny").string();
  EXPECT_EQ(r.output, "p00001\t\ta\\\\b\t\t" + escaped + "/p00001\n" +
                          "p00001\t20210316_1405\tt\\tx\t\t" + escaped + "/p00001/20210316_1405\n");
  // The README's pipeline: the fifth field, turned back into the name on disk.
  const auto piped = testing::run_command(
      "env LC_ALL=C KESTROVA_HOME= HOME=/nonexistent '" + std::string(KESTROVA_REPORT_EXE) +
      "' list --data-dir " + q(data) +
      " | cut -f5 | while read -r acq; do printf '%b' \"$acq\"; printf '|'; done");
  EXPECT_EQ(piped.output,
            (data / "p00001").string() + "|" + (data / "p00001" / "20210316_1405").string() + "|");
}

TEST(KestrovaReportList, MissingProjectOrDataFolderIsAnError) {
  DataFolder d;
  const auto r = run_report("list --data-dir " + d.dir() + " --project 9");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.output, "kestrova-report: no project p00009 in " + d.tmp.path().string() + "\n");
  const auto none = run_report("list");
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.output, "kestrova-report: no data folder /nonexistent/Kestrova\n");
}

TEST(KestrovaReportTag, AddsOnceAndClears) {
  DataFolder d;
  const std::string acq = q(d.tmp / "p00001" / "20210316_1405");
  for (int i = 0; i < 2; ++i) {
    const auto r = run_report("tag " + acq + " '[K2]'");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(r.output, "20210316_1405\t[K2]\n");
  }
  EXPECT_EQ(read_file(d.tmp / "p00001" / "tags_id.dat"), "20210316_1405 [K2]\r\n");
  EXPECT_EQ(run_report("tag " + acq + " '[K3]'").output, "20210316_1405\t[K2] [K3]\n");
  const auto cleared = run_report("tag " + acq + " --clear");
  ASSERT_EQ(cleared.exit_code, 0) << cleared.output;
  EXPECT_EQ(read_file(d.tmp / "p00001" / "tags_id.dat"), "20210316_1405\r\n");
}

TEST(KestrovaReportTag, TagsAreWholeForTagAndList) {
  DataFolder d;
  write_file(d.tmp / "p00001" / "tags_id.dat",
             "20210316_1405 [K12]\r\n20210317_0900_s2 [K10] [K1]\r\n");
  const auto r = run_report("tag " + q(d.tmp / "p00001" / "20210316_1405") + " '[K1]'");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "20210316_1405\t[K12] [K1]\n");
  EXPECT_EQ(read_file(d.tmp / "p00001" / "tags_id.dat"),
            "20210316_1405 [K12] [K1]\r\n20210317_0900_s2 [K10] [K1]\r\n");
  const auto folders = [&](const std::string& tag) {
    std::string out;
    for (const std::string& line :
         split_lines(run_report("list --data-dir " + d.dir() + " --tag '" + tag + "'").output))
      out += line.substr(7, line.find('\t', 7) - 7) + " ";
    return out;
  };
  EXPECT_EQ(folders("[K1]"), "20210316_1405 20210317_0900_s2 ");
  EXPECT_EQ(folders("[K10]"), "20210317_0900_s2 ");
  EXPECT_EQ(folders("[K12]"), "20210316_1405 ");
  EXPECT_EQ(folders("K1"), "");
}

TEST(KestrovaReportTag, ARecordedAcquisitionIsNotTaggedUntilItsLockIsFree) {
  DataFolder d;
  const fs::path folder = d.tmp / "p00001" / "20210316_1405";
  {
    const auto lock = store::FolderLock::acquire(folder, "acquisition \"first\"");
    ASSERT_TRUE(lock);
    const auto r = run_report("tag " + q(folder) + " '[K1]'");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.output, "kestrova-report: Tagging is not possible while an acquisition records "
                        "into " +
                            fs::weakly_canonical(folder).string() + " (acquisition \"first\").\n");
    EXPECT_FALSE(fs::exists(d.tmp / "p00001" / "tags_id.dat"));
  }
  EXPECT_EQ(run_report("tag " + q(folder) + " '[K1]'").output, "20210316_1405\t[K1]\n");
}

TEST(KestrovaReportTag, RefusesWhatItCannotDo) {
  DataFolder d;
  const std::string acq = q(d.tmp / "p00001" / "20210316_1405");
  struct Case {
    std::string args;
    std::string told;
  };
  const Case cases[] = {
      {"tag " + acq, "tag needs a TAG or --clear"},
      {"tag " + acq + " '[K1] [K2]'", "a tag holds no spaces"},
      {"tag " + acq + " '[K1]' --clear", "TAG excludes --clear"},
      {"tag " + q(d.tmp / "p00001") + " '[K1]'", "is not an acquisition folder"},
      {"tag " + q(d.tmp / "p00001" / "nothing_here") + " '[K1]'", "nothing_here"},
  };
  for (const Case& c : cases) {
    const auto r = run_report(c.args);
    EXPECT_NE(r.exit_code, 0) << c.args;
    EXPECT_NE(r.output.find(c.told), std::string::npos) << c.args << "\n" << r.output;
  }
  EXPECT_FALSE(fs::exists(d.tmp / "p00001" / "tags_id.dat"));

  fs::create_directory(d.tmp / "p00001" / "tags_id.dat"); // the file cannot be replaced
  const auto r = run_report("tag " + acq + " '[K1]'");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("cannot write"), std::string::npos) << r.output;
}

// log ACQ_FOLDER prints the acquisition's log as it stands; a folder without one is an error
// that says why.
TEST(KestrovaReportLog, PrintsTheLogOrSaysThereIsNone) {
  DataFolder d;
  const fs::path folder = d.tmp / "p00001" / "20210316_1405";
  const std::string log = "2021-03-16T14:05:02  Start: \"first\", version 1.0\n"
                          "2021-03-16T14:35:02  Completed after 30 minutes\n";
  write_file(folder / "acquisition.log", log);
  const auto r = run_report("log " + q(folder));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, log);

  const fs::path older = d.tmp / "p00002" / "20220101_0000";
  const auto none = run_report("log " + q(older));
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.output, "kestrova-report: No log for this acquisition (p00002/20220101_0000): it "
                         "was recorded before acquisitions kept a log.\n");
  EXPECT_NE(run_report("log " + q(d.tmp / "p00009")).exit_code, 0);
  const auto help = run_report("log --help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("acquisition.log"), std::string::npos) << help.output;
}

} // namespace
} // namespace kestrova::tools
