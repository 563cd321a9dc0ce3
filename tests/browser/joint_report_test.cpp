// The joint report: its name and first line, the report of three tagged acquisitions recorded
// by the acquisition's writer, "Export Data" from the plot view, and the inputs it refuses.

#include <gtest/gtest.h>

#include "browser/joint_report.hpp"
#include "joint_fixture.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using kestrova::browser::testing::file_lines;
using kestrova::testing::FakeClock;
using kestrova::testing::FakeDialogs;
using kestrova::testing::FakeShell;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;
using kestrova::testing::write_file;

std::vector<fs::path> joint_reports(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().starts_with("joint_report")) found.push_back(e.path());
  return found;
}

TEST(JointReport, NameAndTitleCarryTheTimeTakenOnce) {
  struct Case {
    common::CivilTime time;
    std::string name;
    std::string title;
  };
  const Case cases[] = {
      {{2024, 3, 5, 14, 7, 33, 0},
       "joint_report20240305140733.csv",
       "Joint Report [2024-03-05 14:07.33]"},
      {{2026, 1, 9, 0, 0, 5, 999},
       "joint_report20260109000005.csv",
       "Joint Report [2026-01-09 00:00.05]"},
      {{2025, 12, 31, 23, 59, 59, 0},
       "joint_report20251231235959.csv",
       "Joint Report [2025-12-31 23:59.59]"},
  };
  for (const Case& c : cases) {
    const common::LocalTime when = common::from_civil(c.time);
    EXPECT_EQ(joint_report_name(when), c.name);
    // Texts that end their own line get no second line end; one that does not gets one.
    EXPECT_EQ(joint_report_text(when, {"Acq:;a\r\n", "Group/Time[min];0\r\n[#000_A];1"}),
              c.title + "\r\nAcq:;a\r\nGroup/Time[min];0\r\n[#000_A];1\r\n");
  }
}

class TaggedProjectTest : public ::testing::Test {
protected:
  TempDir dir;
  testing::TaggedProject project = testing::write_tagged_project(dir.path());
  FakeDialogs dialogs;
  FakeClock clock{{2024, 3, 5, 14, 7, 33, 0}};
  FakeShell shell;

  std::vector<std::string> expected_lines(const std::string& sep) const {
    return {"Joint Report [2024-03-05 14:07.33]",
            "Acq:" + sep + project.k1[0] + sep + project.k1[1] + sep + project.k1[2],
            "Group/Time[h]" + sep + "0" + sep + "19.0" + sep + "48.0",
            testing::expected_row(project, 0, sep), testing::expected_row(project, 1, sep)};
  }
};

TEST_F(TaggedProjectTest, ThreeTaggedAcquisitionsGiveThreeHeaderLinesAndARowPerGroup) {
  const auto path = joint_report_of_tag(project.project, "[K1]", ";", clock, dialogs);
  ASSERT_TRUE(path) << ::testing::PrintToString(dialogs.texts());
  EXPECT_EQ(*path, project.project / "joint_report20240305140733.csv");
  EXPECT_EQ(file_lines(*path), expected_lines(";"));
  EXPECT_TRUE(dialogs.texts().empty());
  // The recordings hold activity, so the rows compare counts and not zeros.
  EXPECT_NE(testing::expected_row(project, 0, ";"), "[#000_Ctrl];0;0;0");
  EXPECT_NE(testing::expected_row(project, 1, ";"), "[#001_Drug];0;0;0");
}

TEST_F(TaggedProjectTest, TagsAreMatchedWhole) {
  // The fourth acquisition carries [K12] and [K10] but not [K1]: it stays out of the [K1]
  // report, as the browser's tag list and the tool's list leave it out.
  write_file(project.project / "tags_id.dat",
             "20210318_1405 [K1]\r\n20210316_1405 [K1]\r\n"
             "20210319_1000 [K12] [K10]\r\n20210317_0905 [K2] [K1]\r\n");
  const auto path = joint_report_of_tag(project.project, "[K1]", ";", clock, dialogs);
  ASSERT_TRUE(path) << ::testing::PrintToString(dialogs.texts());
  EXPECT_EQ(file_lines(*path), expected_lines(";"));
  EXPECT_FALSE(joint_report_of_tag(project.project, "K1", ";", clock, dialogs));
}

TEST_F(TaggedProjectTest, ExportDataWritesTheKineticPlotsTableAndOpensIt) {
  PlotAcquisition a;
  a.folder = project.project / project.k1[1];
  a.project_folder = project.project;
  a.groups.channel_group.fill(-1);
  a.groups.names[0] = "Ctrl";
  a.groups.names[1] = "Drug";
  a.groups.channel_group[0] = a.groups.channel_group[1] = 0;
  a.groups.channel_group[16] = a.groups.channel_group[17] = 1;
  a.separator = ",";
  PlotView view(dialogs, clock);
  view.open(a);
  // Outside the kinetic plot there is no table to export.
  EXPECT_FALSE(export_joint_report(view, project.project, clock, dialogs, shell));
  EXPECT_TRUE(joint_reports(project.project).empty());

  view.show_kinetic(" 20210318_1405 20210316_1405 20210317_0905");
  const auto path = export_joint_report(view, project.project, clock, dialogs, shell);
  ASSERT_TRUE(path);
  EXPECT_EQ(file_lines(*path), expected_lines(","));
  EXPECT_EQ(shell.calls, std::vector<std::string>{"open " + path->string()});

  // A second export in the same second replaces the first whole.
  view.toggle_relativize();
  ASSERT_EQ(export_joint_report(view, project.project, clock, dialogs, shell), path);
  EXPECT_EQ(file_lines(*path)[3].substr(0, 15), "[#000_Ctrl],100");
  EXPECT_EQ(joint_reports(project.project).size(), 1u);
}

TEST_F(TaggedProjectTest, RefusedInputsAreToldAndWriteNothing) {
  const fs::path lost = project.project / project.k1[2];
  struct Case {
    std::string what;
    std::string tag;
    std::function<void()> arrange;
    std::string message;
  };
  const Case cases[] = {
      {"a tag no acquisition carries", "[K4]", [] {},
       "No acquisition of " + project.project.string() + " is tagged [K4]"},
      {"99 tagged acquisitions", "[K3]",
       [&] {
         std::string tags;
         for (int i = 0; i < 99; ++i)
           tags += "202101" + std::to_string(10 + i / 24) + "_" + std::to_string(1000 + i) +
                   " [K3]\r\n";
         write_file(project.project / "tags_id.dat", tags);
       },
       "To many Tagged Sub_Projects! (max=99)"},
      {"a tagged acquisition without counts.bin", "[K1]",
       [&] { fs::rename(lost / "counts.bin", lost / "counts.old"); },
       "Activity file not Found into " + lost.string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string tags = read_file(project.project / "tags_id.dat");
    c.arrange();
    dialogs.clear();
    EXPECT_FALSE(joint_report_of_tag(project.project, c.tag, ";", clock, dialogs));
    EXPECT_EQ(dialogs.messages(), std::vector<std::string>{c.message});
    EXPECT_TRUE(joint_reports(project.project).empty());
    write_file(project.project / "tags_id.dat", tags);
  }
}

TEST_F(TaggedProjectTest, AReportThatCannotBeWrittenIsToldAndLeavesNoPartialFile) {
  // A folder in the way of the report's name: the rename over it fails.
  const fs::path blocker = project.project / "joint_report20240305140733.csv";
  fs::create_directory(blocker);
  EXPECT_FALSE(joint_report_of_tag(project.project, "[K1]", ";", clock, dialogs));
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Cannot write the joint report " + blocker.string()});
  EXPECT_TRUE(fs::is_directory(blocker));
  EXPECT_EQ(joint_reports(project.project), std::vector<fs::path>{blocker});
  EXPECT_FALSE(write_joint_report(dir.path() / "no such project", {"a", "b"}, clock, dialogs));
}

} // namespace
} // namespace kestrova::browser
