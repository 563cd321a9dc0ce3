#include "browser/browser_list.hpp"

#include <gtest/gtest.h>

#include "browser/browser_fixture.hpp"
#include "browser/browser_search.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using testing::write_file;
using Lines = std::vector<std::string>;

TEST_F(BrowserTest, EmptyDataFolderGivesAnEmptyListAndOpeningNothingDoesNothing) {
  browser_.open();
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(browser_.open_line(), Opened::Nothing);
  browser_.set_selection({}, 0);
  EXPECT_EQ(browser_.open_line(), Opened::Nothing);
  browser_.rename();
  browser_.archive();
  EXPECT_TRUE(dialogs_.texts().empty());
}

TEST_F(BrowserTest, ProjectWithoutAcquisitionsShowsEightSpacesAndExpandsToNothing) {
  project(3, "Empty one");
  fs::create_directories(data() / "p00003" / "notes");
  browser_.open();
  ASSERT_EQ(texts(), Lines{"+         \tp00003_Empty one"});
  browser_.select_line(0);
  EXPECT_EQ(browser_.open_line(), Opened::Project);
  EXPECT_EQ(texts(), Lines{"+         \tp00003_Empty one"});
  EXPECT_TRUE(dialogs_.texts().empty());
}

TEST_F(BrowserTest, OnlyCountedUnarchivedUndottedAcquisitionFoldersAreListed) {
  project(1, "Screen");
  acquisition(1, "20210316_1405", "kept");
  acquisition(1, "20210316_1500", "no counts", false);
  acquisition(1, "20210316_1405removed2026030415", "archived");
  acquisition(1, "20210317_0900.old", "dotted");
  acquisition(1, "2021031_0900x", "misplaced underscore");
  write_file(data() / "p00001" / "20210318_0800.txt", "a file named like an acquisition");
  fs::create_directories(data() / "p00002");                     // no setup.dat: not listed
  fs::create_directories(data() / "p000010");                    // seven characters
  write_file(data() / "p_notes", "a file matching the pattern"); // not a folder
  browser_.open();
  browser_.select_line(0);
  browser_.open_line();
  EXPECT_EQ(texts(), (Lines{"+ 2021.0316\tp00001_Screen", "  > 2021.0316\t ACQ14:05 \"kept\""}))
      << "the date is the first acquisition folder's, listed or not";
  EXPECT_TRUE(dialogs_.texts().empty()) << "stray project-like entries do not stop expanding";
}

TEST_F(BrowserTest, StationSuffixGivesItsOwnLine) {
  project(1, "Stations");
  acquisition(1, "20210316_1405", "main");
  acquisition(1, "20210316_1405_s2", "second");
  browser_.open();
  browser_.select_line(0);
  browser_.open_line();
  EXPECT_EQ(texts(),
            (Lines{"+ 2021.0316\tp00001_Stations", "  > 2021.0316_s2\t ACQ14:05 \"second\"",
                   "  > 2021.0316\t ACQ14:05 \"main\""}));
}

TEST_F(BrowserTest, OrderFlagPutsHighestProjectAndNewestAcquisitionFirst) {
  project(3, "Three");
  project(12, "Twelve");
  acquisition(3, "20200101_0800", "old");
  acquisition(3, "20200305_1200", "new");
  acquisition(12, "20220101_0000", "only");
  browser_.open();
  EXPECT_EQ(browser_.order_arrow(), "^");
  browser_.select_line(1);
  browser_.open_line();
  EXPECT_EQ(texts(),
            (Lines{"+ 2022.0101\tp00012_Twelve", "+ 2020.0101\tp00003_Three",
                   "  > 2020.0305\t ACQ12:00 \"new\"", "  > 2020.0101\t ACQ08:00 \"old\""}));
  browser_.flip_order();
  EXPECT_EQ(browser_.order_arrow(), "v");
  EXPECT_EQ(texts(), (Lines{"+ 2020.0101\tp00003_Three", "  > 2020.0101\t ACQ08:00 \"old\"",
                            "  > 2020.0305\t ACQ12:00 \"new\"", "+ 2022.0101\tp00012_Twelve"}));
}

TEST_F(BrowserTest, TagFileAddsTheTagColumnToEveryLineOfItsProject) {
  project(1, "Tagged");
  project(2, "Untagged");
  acquisition(1, "20210316_1405", "a");
  acquisition(1, "20210316_1500", "b");
  acquisition(2, "20210316_1405", "c");
  write_file(data() / "p00001" / "tags_id.dat",
             " 20210316_1500 [K9]\r\n20210316_1405 [K1] [K3]\r\n20210316_1405 [K4]\r\n");
  browser_.open();
  browser_.select_line(1);
  browser_.open_line();
  browser_.select_line(0);
  browser_.open_line();
  EXPECT_EQ(texts(), (Lines{"+ 2021.0316\tp00002_Untagged", "  > 2021.0316\t ACQ14:05 \"c\"",
                            "+ 2021.0316\tp00001_Tagged", "  > 2021.0316\t ACQ15:00 \"b\"\t\t",
                            "  > 2021.0316\t ACQ14:05 \"a\"\t\t[K1] [K3]"}));
}

TEST_F(BrowserTest, ListShorterThanTheProjectsOnDiskIsReset) {
  project(1, "One");
  browser_.open();
  project(2, "Two");
  browser_.select_line(0);
  EXPECT_EQ(browser_.open_line(), Opened::Project);
  EXPECT_EQ(dialogs_.messages(), Lines{"ERROR:#pj2>1"});
  EXPECT_EQ(texts(), (Lines{"+         \tp00002_Two", "+         \tp00001_One"}));
}

TEST_F(BrowserTest, DamagedSetupGivesItsLabelAsTheName) {
  project(1, "fine");
  write_file(data() / "p00001" / "setup.dat", "one line\r\n");
  fs::remove(data() / "p00001" / "setup.bak");
  browser_.open();
  EXPECT_EQ(texts(), Lines{"+         \tp00001_SETUP NOT FOUND!!"});
}

TEST(BrowserLines, ParsedBackToTheirFolders) {
  struct Case {
    std::string folder;
    std::string title;
  };
  for (const Case& c : std::vector<Case>{{"20210316_1405", "plain"},
                                         {"20210316_1405_s2", "station 2"},
                                         {"20991231_2359_s4", "with \"> .ACQ:\" inside"},
                                         {"20210316_0000", ""}}) {
    const std::string line = AcquisitionLine(c.folder, c.title, std::string("[K1]"));
    EXPECT_FALSE(IsProjectLine(line));
    EXPECT_EQ(AcquisitionFolderOfLine(line), c.folder) << line;
  }
  EXPECT_EQ(AcquisitionFolderOfLine("+ 2021"), std::nullopt);

  const Lines list = {"+ 2021.0316\tp00012_A", "  > 2021.0316\t ACQ14:05 \"x\"",
                      "+ 2021.0316\tp00003_B", "  > 2021.0316\t ACQ14:05 \"y\"",
                      "  > 2021.0317\t ACQ14:05 \"z\""};
  EXPECT_EQ(ProjectFolderOfLine(list, 1), "p00012");
  EXPECT_EQ(ProjectFolderOfLine(list, 4), "p00003");
  EXPECT_EQ(ProjectFolderOfLine(list, 2), "p00003");
  EXPECT_EQ(ProjectFolderOfLine({"  > orphan"}, 0), std::nullopt);
  EXPECT_EQ(ProjectFolderOfLine(list, 9), std::nullopt);
}

TEST(BrowserLines, NameRules) {
  EXPECT_TRUE(IsArchivedName("20210316_1405removed2026030415"));
  EXPECT_TRUE(IsArchivedName("20210316_140removed"));
  EXPECT_TRUE(IsArchivedName("20210316_14removed"));
  EXPECT_FALSE(IsArchivedName("20210316_1removed")) << "before the 12th character";
  EXPECT_EQ(ProjectNameFromLabel("<Project> p00007: a: b"), "a: b");
  EXPECT_EQ(ProjectNameFromLabel("ERROR on SETUP.DAT FILE!!!"), "ERROR on SETUP.DAT FILE!!!");
  EXPECT_EQ(StationSuffix("20210316_1405_s3"), "_s3");
  EXPECT_EQ(StationSuffix("20210316_1405"), "");
}

TEST(BrowserSearch, Terms) {
  struct Case {
    std::string text;
    Lines terms;
  };
  const std::vector<Case> cases = {
      {"alpha", {"alpha"}},
      {"alpha  beta", {"alpha", "beta"}},
      {"\"two words\" x", {"two words", "x"}},
      {"a\"b c\"d", {"ab c", "d"}},
      {"1 2 3 4 5 6 7 8 9 10 11 12", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "101112"}},
      {"   ", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitSearchTerms(c.text), c.terms) << c.text;
}

TEST_F(BrowserTest, SearchInCapitalsSelectsTheAcquisitionAndItsCollapsedProject) {
  project(1, "First");
  project(2, "Second");
  acquisition(1, "20210316_1405", "zebrafish larvae");
  acquisition(2, "20210317_1405", "worms");
  browser_.open();
  browser_.search("LARVAE");
  EXPECT_EQ(texts(), (Lines{"+ 2021.0317\tp00002_Second", "+ 2021.0316\tp00001_First"}));
  EXPECT_EQ(browser_.selected(), (std::vector<bool>{false, true}));

  browser_.select_line(1);
  browser_.open_line();
  browser_.search("LARVAE");
  EXPECT_EQ(browser_.selected(), (std::vector<bool>{false, true, true}))
      << "an expanded project stays expanded and its matching acquisition is selected";
  EXPECT_EQ(browser_.current_line(), 1);

  browser_.search("worms 0316");
  EXPECT_EQ(browser_.selected(), (std::vector<bool>{false, false, false}))
      << "every term has to match";
  browser_.search("Second 0317 worms");
  EXPECT_EQ(browser_.selected(), (std::vector<bool>{true, false, false}))
      << "a project matches terms through its line and its acquisitions";

  browser_.search("");
  EXPECT_EQ(texts().size(), 2u) << "an empty search collapses everything";
}

} // namespace
} // namespace kestrova::browser
