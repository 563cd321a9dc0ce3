#include <gtest/gtest.h>

#include "report_command.hpp"
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

// A little-endian counts.bin record: minutes, channel 0 counting `count`, temperature 25.0.
std::string counts_record(int minutes, int count) {
  std::string r(774, '\0');
  for (int i = 0; i < 4; ++i)
    r[i] = static_cast<char>((minutes >> (8 * i)) & 0xFF);
  r[4] = static_cast<char>(count);
  r[4 + 2 * 384] = static_cast<char>(250);
  return r;
}

// A data folder with a one-well plate on channel 0 and an acquisition of 60 minutes.
struct Fixture {
  TempDir tmp;
  fs::path folder = tmp / "p00001/20260115_1030";
  Fixture() {
    fs::create_directories(folder);
    std::string plate = "\"a\",\"b\"\r\n1,2,0,1,2,0\r\n\"c\"\r\n\"CH0\",0,0\r\n";
    write_file(tmp / "wone.dat", plate);
    write_file(folder / "setup.dat", "\"h\"\r\n1,\"n\",\"\",\"wone\"\r\n");
    write_file(folder / "groups.dat", "\"h\"\r\n0,\"Ctrl\"\r\n");
    write_file(folder / "chgroup.dat", "\"h\"\r\n0,0\r\n1,-1\r\n");
    std::string counts;
    for (int m = 1; m <= 60; ++m)
      counts += counts_record(m, 10);
    write_file(folder / "counts.bin", counts);
  }
};

TEST(KestrovaReportGenerate, WritesTheReportAndPrintsItsPath) {
  Fixture f;
  const auto r = run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) +
                            " --bin 30 --type txt --layout list --separator ';' --no-se --sd");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, (f.folder / "report.txt").string() + "\n");
  const std::string text = read_file(f.folder / "report.txt");
  EXPECT_NE(text.find("30;\"000_Ctrl\";300\r\n60;\"000_Ctrl\";300\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Standard Deviation"), std::string::npos);
  EXPECT_EQ(text.find("Standard Error"), std::string::npos);
}

TEST(KestrovaReportGenerate, DefaultsComeFromRepoconf) {
  Fixture f;
  write_file(f.tmp / "repoconf.dat", "\"h\"\r\n1,60,1,\"|\",1,0,0,0,0,1,18,0\r\n");
  const auto r = run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, (f.folder / "report.txt").string() + "\n");
  EXPECT_NE(read_file(f.folder / "report.txt").find("Group/Time[m]|60\r\n\"000_Ctrl\"|600\r\n"),
            std::string::npos);

  const auto xlsx =
      run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) + " --type xlsx");
  ASSERT_EQ(xlsx.exit_code, 0) << xlsx.output;
  EXPECT_NE(xlsx.output.find(".xlsx\n"), std::string::npos) << xlsx.output;
  EXPECT_TRUE(fs::exists(xlsx.output.substr(0, xlsx.output.size() - 1)));
}

// A statistics flag left out keeps the stored choice; either spelling given overrides it.
TEST(KestrovaReportGenerate, StatisticsFlagsOverrideOnlyWhenGiven) {
  Fixture f;
  // Stored: standard error and number of wells on, standard deviation off.
  write_file(f.tmp / "repoconf.dat", "\"h\"\r\n1,30,0,\",\",1,0,1,0,0,1,18,0\r\n");
  struct Case {
    std::string flags;
    bool se, sd, n;
  };
  const Case cases[] = {
      {"", true, false, true},
      {"--no-se --sd --no-n", false, true, false},
      {"--sd", true, true, true},
      {"--no-se --se", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const auto r =
        run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) + " " + c.flags);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const std::string text = read_file(f.folder / "report.csv");
    EXPECT_EQ(text.find("Standard Error") != std::string::npos, c.se);
    EXPECT_EQ(text.find("Standard Deviation") != std::string::npos, c.sd);
    EXPECT_EQ(text.find("Number of wells") != std::string::npos, c.n);
  }
}

TEST(KestrovaReportGenerate, FailuresExitNonZeroWithOneLine) {
  Fixture f;
  fs::remove(f.folder / "counts.bin");
  const auto missing = run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder));
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_EQ(missing.output, "kestrova-report: Activity file not Found\n");
  EXPECT_FALSE(fs::exists(f.folder / "report.csv"));

  const auto no_data = run_report("generate " + q(f.folder));
  EXPECT_NE(no_data.exit_code, 0);
  EXPECT_NE(no_data.output.find("--data-dir"), std::string::npos);
  const auto bad_type =
      run_report("--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) + " --type doc");
  EXPECT_NE(bad_type.exit_code, 0);
}

TEST(KestrovaReportGenerate, SeparatorsThatMakeAReportUnreadableAreRefused) {
  Fixture f;
  struct Case {
    std::string argument; // quoted for the shell
    std::string problem;
  };
  const Case cases[] = {
      {"''", "cannot be empty"},
      {"\"$(printf ';\\n;')\"", "cannot hold a line break"},
      {"'\"'", "cannot hold a double quote (\")"},
  };
  for (const Case& c : cases) {
    for (const std::string& command :
         {"--data-dir " + q(f.tmp.path()) + " generate " + q(f.folder) + " --separator ",
          "joint " + q(f.folder.parent_path()) + " '[K1]' --separator ",
          "xlsx " + q(f.tmp / "r.csv") + " " + q(f.tmp / "r.xlsx") + " --separator "}) {
      const auto r = run_report(command + c.argument);
      EXPECT_EQ(r.exit_code, 2) << command << c.argument << "\n" << r.output;
      EXPECT_EQ(r.output, "kestrova-report: The report separator " + c.problem + "\n");
    }
  }
  EXPECT_FALSE(fs::exists(f.folder / "report.csv"));
  EXPECT_FALSE(fs::exists(f.tmp / "r.xlsx"));
}

} // namespace
} // namespace kestrova::tools
