// What the report window is opened with from the browser: the basal choices rebuilt from the
// list, the histogram layout, and a missing activity file.

#include <gtest/gtest.h>

#include "browser/export_report.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

using kestrova::testing::FakeDialogs;
using kestrova::testing::TempDir;
using kestrova::testing::write_file;

TEST(ReportOpening, BasalNamesAreRebuiltFromAcquisitionLines) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"  > 2021.0316\t ACQ14:05 \"Run 1\"", "20210316_1405"},
      {"  > 2021.0316_s2\t ACQ09:30 \"A.B: c\"\t\t[K1]", "20210316_0930"},
      {"  > 2021.0316\t ACQ14:05 \"\"", "20210316_1405"},
      {"+ 2021.0316\tp00001_Worms", std::nullopt},
      {"  > 2021.03", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [line, name] : cases)
    EXPECT_EQ(basal_name_of_line(line), name) << line;
}

TEST(ReportOpening, TheProjectOfTheSelectedLineGivesTheBasalChoices) {
  TempDir dir;
  const auto folder = dir.path() / "p00002" / "20210401_0800";
  std::filesystem::create_directories(folder);
  write_file(folder / "counts.bin", std::string(774, '\0'));
  const std::vector<std::string> lines = {
      "+ 2021.0316\tp00001_Worms",
      "  > 2021.0316\t ACQ14:05 \"Run 1\"",
      "+ 2021.0401\tp00002_Flies",
      "  > 2021.0401\t ACQ08:00 \"Day 1\"",
      "  > 2021.0402_s2\t ACQ08:00 \"Day 2\"",
      "  > 2021.0402_s3\t ACQ08:00 \"Day 2\"",
      "+ 2021.0501\tp00003_Mice",
  };
  FakeDialogs dialogs;
  const std::vector<std::string> flies = {"-", "20210401_0800", "20210402_0800", "20210402_0800"};
  struct Case {
    int selected;
    std::vector<std::string> basal;
  };
  const Case cases[] = {{3, flies}, {5, flies}, {2, flies}, {-1, {"-"}}, {99, {"-"}}};
  for (const Case& c : cases) {
    const auto opening = report_opening(folder, "Day 1", lines, c.selected, dialogs);
    ASSERT_TRUE(opening) << c.selected;
    EXPECT_EQ(opening->basal, c.basal) << c.selected;
    EXPECT_EQ(opening->folder, folder);
    EXPECT_EQ(opening->caption, "Day 1");
    EXPECT_FALSE(opening->histogram);
  }
  write_file(folder / "histo0001.bin", "x");
  EXPECT_TRUE(report_opening(folder, "Day 1", lines, 3, dialogs)->histogram);
  EXPECT_TRUE(dialogs.texts().empty());
}

TEST(ReportOpening, NoCurrentAcquisitionOrNoActivityFileOpensNothing) {
  TempDir dir;
  FakeDialogs dialogs;
  EXPECT_FALSE(report_opening({}, "", {}, -1, dialogs));
  EXPECT_TRUE(dialogs.texts().empty());
  EXPECT_FALSE(report_opening(dir.path(), "Run", {}, -1, dialogs));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Activity file not Found"});
}

} // namespace
} // namespace kestrova::browser
