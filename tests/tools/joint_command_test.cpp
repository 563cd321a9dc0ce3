// kestrova-report joint: the joint report of a tag written into the project folder, and the
// inputs it refuses without writing anything.

#include <gtest/gtest.h>

#include "browser/joint_fixture.hpp"
#include "report_command.hpp"
#include "reports/report_settings.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::q;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

std::vector<fs::path> joint_reports(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().starts_with("joint_report")) found.push_back(e.path());
  return found;
}

TEST(KestrovaReportJoint, WritesTheReportOfTheTaggedAcquisitionsAndPrintsItsPath) {
  TempDir dir;
  const auto p = browser::testing::write_tagged_project(dir.path());
  const auto run = testing::run_report("joint " + q(p.project) + " '[K1]' --separator ,");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const auto reports = joint_reports(p.project);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(run.output, reports[0].string() + "\n");
  const std::string name = reports[0].filename().string();
  ASSERT_EQ(name.size(), std::string("joint_report20240305140733.csv").size());
  const std::string stamp = name.substr(12, 14);
  const std::string title = "Joint Report [" + stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" +
                            stamp.substr(6, 2) + " " + stamp.substr(8, 2) + ":" +
                            stamp.substr(10, 2) + "." + stamp.substr(12, 2) + "]";
  EXPECT_EQ(read_file(reports[0]),
            title + "\r\nAcq:,20210316_1405,20210317_0905,20210318_1405\r\n" +
                "Group/Time[h],0,19.0,48.0\r\n" + browser::testing::expected_row(p, 0, ",") +
                "\r\n" + browser::testing::expected_row(p, 1, ",") + "\r\n");
}

TEST(KestrovaReportJoint, TheStoredReportSeparatorIsUsedWhenNoneIsGiven) {
  TempDir dir;
  const auto p = browser::testing::write_tagged_project(dir.path());
  reports::ReportSettings settings = reports::default_report_settings(";");
  settings.spacer = "|";
  write_file(dir.path() / "repoconf.dat", reports::report_settings_text(settings, 0));
  const auto run =
      testing::run_report("--data-dir " + q(dir.path()) + " joint " + q(p.project) + " '[K2]'");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const auto reports = joint_reports(p.project);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(read_file(reports[0]).find("\r\nAcq:|20210317_0905|20210319_1000\r\n"),
            std::string::npos)
      << read_file(reports[0]);
}

TEST(KestrovaReportJoint, RefusedInputsFailWithTheReasonAndWriteNothing) {
  TempDir dir;
  const auto p = browser::testing::write_tagged_project(dir.path());
  fs::remove(p.project / p.k1[0] / "counts.bin");
  struct Case {
    std::string tag;
    std::string message;
  };
  const Case cases[] = {
      {"[K1]", "Activity file not Found into " + (p.project / p.k1[0]).string()},
      {"[K4]", "No acquisition of " + p.project.string() + " is tagged [K4]"},
  };
  for (const Case& c : cases) {
    const auto run = testing::run_report("joint " + q(p.project) + " '" + c.tag + "'", "LC_ALL=C",
                                         testing::ErrorOutput::Merged);
    EXPECT_EQ(run.exit_code, 1) << c.tag;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_TRUE(joint_reports(p.project).empty()) << c.tag;
  }
}

} // namespace
} // namespace kestrova::tools
