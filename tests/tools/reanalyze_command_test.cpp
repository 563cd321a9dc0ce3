#include <gtest/gtest.h>

#include "report_command.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/folder_lock.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::q;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

testing::CommandRun run_report(const std::string& args) {
  return testing::run_report(args, "LC_ALL=C", testing::ErrorOutput::Merged);
}

std::vector<int> minutes(int first, int last) {
  std::vector<int> t;
  for (int m = first; m <= last; ++m)
    t.push_back(m);
  return t;
}

struct Fixture {
  TempDir tmp;
  fs::path folder;
  explicit Fixture(int records = 30) {
    folder = reports::testing::write_recording(tmp.path(), "20260115_1030", {minutes(1, records)});
  }
  testing::CommandRun reanalyze(const std::string& options) const {
    return run_report("--data-dir " + q(tmp.path()) + " reanalyze " + q(folder) + " " + options);
  }
};

std::string setting_line(const fs::path& report) {
  const std::string text = read_file(report);
  const auto at = text.find("\"SETTING:\"");
  return at == std::string::npos ? text : text.substr(at, text.find('\r', at) - at);
}

// Without --hours the whole hour is analysed; the report carries the settings of the run.
TEST(KestrovaReportReanalyze, InMemoryRunWritesTheReportWithItsSettings) {
  Fixture f(60);
  const std::string counts = read_file(f.folder / "counts.bin");
  struct Case {
    std::string options;
    std::string setting;
    std::string times;
  } cases[] = {
      {"", "1_Threshold Avrg (Default.Agar&Liquid) C elegans(>L4) [SNR=1.8]", "30,60"},
      {"--organism 3", "3_Drosophila (Threshold) Drosophila [SNR=0.8]", "30,60"},
      {"--organism 2 --method 0",
       "0_Threshold+Binary (Old Method.w/filters) Echinococcus [SNR=1.8]", "30,60"},
      {"--organism 1 --threshold 3.5 --hours 0.5 --bin 15",
       "1_Threshold Avrg (Default.Agar&Liquid) Zebrafish(Larvae) [SNR=3.5]", "15,30"},
      {"--export-raw --bin 60", "1_Threshold Avrg (Default.Agar&Liquid) C elegans(>L4) [SNR=1.8]",
       "60"},
  };
  for (const Case& c : cases) {
    const auto r = f.reanalyze(c.options);
    ASSERT_EQ(r.exit_code, 0) << c.options << ": " << r.output;
    EXPECT_EQ(r.output, (f.folder / "report.csv").string() + "\n");
    EXPECT_EQ(setting_line(f.folder / "report.csv"), "\"SETTING:\",\"" + c.setting + "\"");
    EXPECT_NE(read_file(f.folder / "report.csv").find("Group/Time[m]," + c.times + "\r\n"),
              std::string::npos)
        << c.options;
    EXPECT_EQ(read_file(f.folder / "counts.bin"), counts) << c.options;
    EXPECT_EQ(fs::exists(f.folder / "ch0.raw"), c.options.starts_with("--export-raw"));
  }
  const std::string raw = read_file(f.folder / "ch0.raw");
  EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 60);
}

TEST(KestrovaReportReanalyze, ThresholdDefaultsFromRepoconf) {
  Fixture f;
  // organism 0, method 0, threshold 25; then organism 3 whose range 0.5-1 excludes 2.5.
  write_file(f.tmp / "repoconf.dat", "\"h\"\r\n1,30,0,\",\",1,0,1,0,0,0,25,0\r\n");
  auto r = f.reanalyze("");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(setting_line(f.folder / "report.csv"),
            "\"SETTING:\",\"0_Threshold+Binary (Old Method.w/filters) C elegans(>L4) [SNR=2.5]\"");
  write_file(f.tmp / "repoconf.dat", "\"h\"\r\n1,30,0,\",\",1,0,1,0,3,0,25,0\r\n");
  r = f.reanalyze("");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(setting_line(f.folder / "report.csv"),
            "\"SETTING:\",\"3_Drosophila (Threshold) Drosophila [SNR=0.8]\"");
}

TEST(KestrovaReportReanalyze, ReplaceKeepsABackupAndUpdatesSetup) {
  Fixture f(20);
  const std::string counts = read_file(f.folder / "counts.bin");
  const auto r = f.reanalyze("--replace --method 0 --threshold 4");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(read_file(f.folder / "counts.bak"), counts);
  EXPECT_NE(read_file(f.folder / "counts.bin"), counts);
  EXPECT_EQ(read_file(f.folder / "counts.bin").size(), counts.size());
  EXPECT_EQ(setting_line(f.folder / "report.csv"), "\"SETTING:\",\"Mode0 C.elegans[snr=4.0]\"");
}

// Two replaces in a row keep the live counts and setup as counts.rec and setup.rec, and
// `restore` puts them back; without them it says so and changes nothing.
TEST(KestrovaReportReanalyze, RestorePutsTheRecordedCountsBackAfterTwoReplaces) {
  Fixture f(20);
  const std::string counts = read_file(f.folder / "counts.bin");
  const std::string setup = read_file(f.folder / "setup.dat");
  ASSERT_EQ(f.reanalyze("--replace --method 0 --threshold 3.5").exit_code, 0);
  const std::string first = read_file(f.folder / "counts.bin");
  ASSERT_EQ(f.reanalyze("--replace --method 1").exit_code, 0);
  EXPECT_EQ(read_file(f.folder / "counts.bak"), first);
  EXPECT_EQ(read_file(f.folder / "counts.rec"), counts);
  EXPECT_EQ(read_file(f.folder / "setup.rec"), setup);

  const auto restored = run_report("restore " + q(f.folder));
  ASSERT_EQ(restored.exit_code, 0) << restored.output;
  EXPECT_EQ(restored.output, "");
  EXPECT_EQ(read_file(f.folder / "counts.bin"), counts);
  EXPECT_EQ(read_file(f.folder / "setup.dat"), setup);

  Fixture never_replaced(5);
  const auto before = reports::testing::folder_snapshot(never_replaced.folder);
  const auto refused = run_report("restore " + q(never_replaced.folder));
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.output,
            "kestrova-report: No recorded counts in " + never_replaced.folder.string() + ": " +
                (never_replaced.folder / "counts.rec").string() + " is missing or unreadable\n");
  EXPECT_EQ(reports::testing::folder_snapshot(never_replaced.folder), before);
}

// While an acquisition records into the folder (its lock held, here by this test) --replace
// is refused with a message naming it; in memory the re-analysis still runs; once the lock is
// released the replace goes through.
TEST(KestrovaReportReanalyze, ReplaceIsRefusedWhileTheFolderIsRecorded) {
  Fixture f(20);
  const std::string counts = read_file(f.folder / "counts.bin");
  {
    const auto lock = store::FolderLock::acquire(f.folder, "acquisition \"night run\"");
    ASSERT_TRUE(lock);
    const auto refused = f.reanalyze("--replace");
    EXPECT_EQ(refused.exit_code, 1) << refused.output;
    EXPECT_EQ(refused.output, "kestrova-report: Replacing the counts with a re-analysis is not "
                              "possible while an acquisition records into " +
                                  f.folder.string() + " (acquisition \"night run\").\n");
    EXPECT_EQ(read_file(f.folder / "counts.bin"), counts);
    EXPECT_FALSE(fs::exists(f.folder / "counts.bak"));
    EXPECT_EQ(f.reanalyze("").exit_code, 0);
  }
  {
    const auto lock = store::FolderLock::acquire(f.folder, "acquisition \"night run\"");
    const auto restore = run_report("restore " + q(f.folder));
    EXPECT_EQ(restore.exit_code, 1);
    EXPECT_NE(restore.output.find("Restoring the recorded counts is not possible while an "
                                  "acquisition records into"),
              std::string::npos)
        << restore.output;
  }
  const auto r = f.reanalyze("--replace");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(read_file(f.folder / "counts.bak"), counts);
}

TEST(KestrovaReportReanalyze, RefusedOptionsChangeNothing) {
  Fixture f(15);
  fs::resize_file(f.folder / "1.bin", 0);
  const auto before = reports::testing::folder_snapshot(f.folder);
  const std::string one = (f.folder / "1.bin").string();
  struct Case {
    std::string options;
    std::string output; // empty: only a non-zero exit is checked
  } cases[] = {
      {"--replace", "kestrova-report: Real-time file " + one +
                        " holds 0 of the 4 blocks needed; nothing was changed\n"},
      {"--threshold 9", "kestrova-report: --threshold 9 is outside 1.1 to 6 for C elegans(>L4)\n"},
      {"--organism 3 --threshold 1.5",
       "kestrova-report: --threshold 1.5 is outside 0.5 to 1 for Drosophila\n"},
      {"--threshold x", "kestrova-report: --threshold x is outside 1.1 to 6 for C elegans(>L4)\n"},
      {"--replace --hours 2", ""},
      {"--replace --export-raw", ""},
      {"--method 4", ""},
  };
  for (const Case& c : cases) {
    const auto r = f.reanalyze(c.options);
    EXPECT_NE(r.exit_code, 0) << c.options;
    if (!c.output.empty()) {
      EXPECT_EQ(r.output, c.output);
    }
  }
  EXPECT_EQ(reports::testing::folder_snapshot(f.folder), before);
  const auto help = run_report("reanalyze --help");
  EXPECT_NE(help.output.find("--threshold  the organism's preset"), std::string::npos);
}

TEST(KestrovaReportWells, ChannelAndWellFiles) {
  Fixture f(60);
  auto r = run_report("--data-dir " + q(f.tmp.path()) + " wells " + q(f.folder) + " --bin 30");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "385 files of 2 bins of 30 min in " + f.folder.string() + "\n");
  EXPECT_EQ(read_file(f.folder / "time.txt"), "1800 3600\r\n");
  EXPECT_EQ(read_file(f.folder / "ch000002.txt"), "0 0\r\n") << "channel 2 lies in no well";

  r = run_report("--data-dir " + q(f.tmp.path()) + " wells " + q(f.folder) + " --timestamps");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "4 files of 2 bins of 30 min in " + f.folder.string() + "\n");
  const std::string a1 = read_file(f.folder / "000_A1.txt");
  EXPECT_EQ(a1.substr(0, 17), "15/01/2026 11:00 ");
  EXPECT_NE(a1.find("\r\n15/01/2026 11:30 "), std::string::npos);

  r = run_report("--data-dir " + q(f.tmp.path()) + " wells " + q(f.folder) +
                 " --timestamps --channels");
  EXPECT_NE(r.exit_code, 0);
}

// "generate --auto": the automatic report an acquisition's end writes, with repoconf.dat's
// settings; with raw export in them the raw detection flags follow, without none.
TEST(KestrovaReportGenerate, AutomaticReportFollowsRepoconf) {
  for (const int rawexport : {0, 1}) {
    Fixture f(60);
    write_file(f.tmp / "repoconf.dat",
               "\"h\"\r\n1,15,0,\",\",1,0,1,0,0,1,18," + std::to_string(rawexport) + "\r\n");
    const auto r =
        run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) + " --auto");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(r.output, (f.folder / "report.csv").string() + "\n") << rawexport;
    EXPECT_NE(read_file(f.folder / "report.csv").find("15,30,45,60"), std::string::npos);
    EXPECT_EQ(fs::exists(f.folder / "ch0.raw"), rawexport == 1);
  }
}

} // namespace
} // namespace kestrova::tools
