#include "browser/browser_session.hpp"

#include <gtest/gtest.h>

#include "acquisition/activity_files.hpp"
#include "browser/browser_fixture.hpp"
#include "browser/plot_view.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using common::Answer;
using testing::read_file;
using testing::write_file;
using Lines = std::vector<std::string>;

// The fixture of the commands: project 1 expanded with two acquisitions, the newer one opened.
class BrowserCommands : public BrowserTest {
protected:
  void SetUp() override {
    fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w96f.dat", data() / "w96f.dat");
    project(1, "Screen");
    older_ = acquisition(1, "20210316_1405", "first run", true, "line one\r\nline two");
    newer_ = acquisition(1, "20210316_1500", "second run");
    browser_.open();
    browser_.select_line(0);
    browser_.open_line();
    ASSERT_EQ(texts().size(), 3u);
  }
  void open_newer() {
    browser_.select_line(1);
    ASSERT_EQ(browser_.open_line(), Opened::Acquisition);
  }
  std::string tags_file() const { return read_file(data() / "p00001" / "tags_id.dat"); }

  fs::path older_, newer_;
};

TEST_F(BrowserCommands, KineticTagsAreAddedOnceAndCleared) {
  open_newer();
  browser_.tag(2);
  EXPECT_EQ(tags_file(), "20210316_1500 [K2]\r\n") << "a first tag creates the file";
  EXPECT_EQ(texts()[1], "  > 2021.0316\t ACQ15:00 \"second run\"\t\t[K2]");
  EXPECT_EQ(texts()[2], "  > 2021.0316\t ACQ14:05 \"first run\"\t\t");
  EXPECT_EQ(browser_.current_line(), 1) << "the current line is selected again";

  open_newer();
  browser_.tag(2);
  EXPECT_EQ(tags_file(), "20210316_1500 [K2]\r\n");
  open_newer();
  browser_.tag(4);
  EXPECT_EQ(tags_file(), "20210316_1500 [K2] [K4]\r\n");
  EXPECT_EQ(browser_.opened().tags, Lines{"[K2]"}) << "the tags shown are those of the opening";
  open_newer();
  EXPECT_EQ(browser_.opened().tags, (Lines{"[K2]", "[K4]"}));
  browser_.tag(0);
  EXPECT_EQ(tags_file(), "20210316_1500\r\n");
  EXPECT_EQ(dialogs_.texts(), Lines{});
}

TEST_F(BrowserCommands, OpeningAnAcquisitionOpensItsPlotsAndTagsListTheirAcquisitions) {
  // Every channel counts 2 in each of 60 records.
  std::string counts;
  for (int r = 0; r < 60; ++r) {
    acquisition::CountsRecord record;
    record.minutes = r;
    record.slots.fill(2);
    const auto bytes = acquisition::encode_counts_record(record);
    counts.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  write_file(newer_ / "counts.bin", counts);
  open_newer();
  const PlotView& plots = browser_.plots();
  EXPECT_EQ(plots.mode(), PlotMode::Bars);
  EXPECT_EQ(plots.group_items(), browser_.opened().selectors.plot_groups);
  ASSERT_TRUE(plots.table());
  EXPECT_EQ(plots.table()->maximum, 120);
  EXPECT_EQ(plots.details(), DetailsText(browser_.configuration_summary()));

  browser_.set_selection({false, true, true}, 1);
  browser_.tag(3);
  open_newer();
  EXPECT_EQ(browser_.tag_acquisitions("[K3]"), "20210316_1500 20210316_1405");
  EXPECT_EQ(browser_.tag_acquisitions("[K1]"), "");
  EXPECT_EQ(browser_.tag_acquisitions(""), "");

  browser_.clear_current();
  EXPECT_TRUE(browser_.plots().group_items().empty());
  EXPECT_FALSE(browser_.plots().table());
  EXPECT_EQ(browser_.tag_acquisitions("[K3]"), "");
}

TEST_F(BrowserCommands, TagsEverySelectedAcquisitionLineOnly) {
  open_newer();
  browser_.set_selection({true, true, true}, 1);
  browser_.tag(1);
  EXPECT_EQ(tags_file(), "20210316_1500 [K1]\r\n20210316_1405 [K1]\r\n");
}

TEST_F(BrowserCommands, TagWithoutAnOpenedAcquisitionIsRefused) {
  browser_.select_line(1);
  browser_.tag(1);
  EXPECT_EQ(dialogs_.messages(), Lines{"Tags Apply only to Subprojects (acquisitions)"});
  EXPECT_FALSE(fs::exists(data() / "p00001" / "tags_id.dat"));
}

TEST_F(BrowserCommands, RenameWithEmptyAnswerOrCancelChangesNothing) {
  const std::string setup = read_file(data() / "p00001" / "setup.dat");
  const std::string index = read_file(newer_ / "subproj.dat");
  for (int line : {0, 1}) {
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>(""), std::optional<std::string>()}) {
      browser_.select_line(line);
      dialogs_.script_input(answer);
      browser_.rename();
    }
  }
  EXPECT_EQ(read_file(data() / "p00001" / "setup.dat"), setup);
  EXPECT_EQ(read_file(newer_ / "subproj.dat"), index);
  EXPECT_FALSE(fs::exists(newer_ / "subproj.bak"));
  const auto& shown = dialogs_.transcript();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Enter Name of project");
  EXPECT_EQ(shown[0].default_text, "Screen");
  EXPECT_EQ(shown[2].text, "Enter Name of acquisition");
  EXPECT_EQ(shown[2].title, "Rename");
  EXPECT_EQ(shown[2].default_text, "second run");
}

TEST_F(BrowserCommands, RenameProjectAndAcquisition) {
  browser_.select_line(2);
  dialogs_.script_input("renamed \"run\"");
  browser_.rename();
  EXPECT_EQ(store::ReadAcquisitionTitle(older_), "renamed 'run'");
  EXPECT_EQ(store::ReadAcquisitionComments(older_), "line one\r\nline two");
  EXPECT_EQ(texts()[2], "  > 2021.0316\t ACQ14:05 \"renamed 'run'\"");
  EXPECT_EQ(browser_.current_line(), 2);

  browser_.select_line(0);
  dialogs_.script_input("New name");
  browser_.rename();
  EXPECT_EQ(texts()[0], "+ 2021.0316\tp00001_New name");
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(BrowserCommands, TitleAndCommentsOfAnAcquisitionWithoutIndexFileAreKept) {
  fs::remove(newer_ / "subproj.dat");
  open_newer();
  dialogs_.script_input("named at last");
  browser_.rename();
  EXPECT_EQ(store::ReadAcquisitionTitle(newer_), "named at last");
  open_newer();
  fs::remove(newer_ / "subproj.dat");
  browser_.comments_changed();
  browser_.comments_left("typed\r\nnotes");
  EXPECT_EQ(store::ReadAcquisitionComments(newer_), "typed\r\nnotes");
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(BrowserCommands, RenameFailureIsTold) {
  fs::remove(older_ / "subproj.dat");
  fs::create_directory(older_ / "subproj.bak"); // the backup copy cannot be made
  write_file(older_ / "subproj.dat", "\"first run\"\r\n");
  browser_.select_line(2);
  dialogs_.script_input("other");
  browser_.rename();
  EXPECT_EQ(dialogs_.messages().back(), "Error Renaming");
  EXPECT_EQ(store::ReadAcquisitionTitle(older_), "first run");
}

TEST_F(BrowserCommands, ArchiveRenamesTheFolderWithItsStampAndDeletesNothing) {
  browser_.select_line(0);
  browser_.archive();
  EXPECT_EQ(dialogs_.messages(), Lines{"Remove function only available for subprojects"});

  dialogs_.clear();
  browser_.select_line(2);
  dialogs_.script_answer(Answer::No);
  browser_.archive();
  browser_.select_line(2);
  dialogs_.script_answer(Answer::Yes);
  dialogs_.script_answer(Answer::Cancel);
  browser_.archive();
  EXPECT_TRUE(fs::exists(older_));
  EXPECT_EQ(texts().size(), 3u);

  dialogs_.clear();
  browser_.select_line(2);
  browser_.archive();
  EXPECT_EQ(dialogs_.messages(),
            (Lines{"Remove folder from the list?", "Files are going to be archived!"}));
  // Year, month, day, hour and second: the stamp has no minutes.
  const fs::path archived = data() / "p00001" / "20210316_1405removed202603041507";
  EXPECT_FALSE(fs::exists(older_));
  EXPECT_EQ(store::ReadAcquisitionTitle(archived), "first run");
  EXPECT_TRUE(fs::exists(archived / "counts.bin"));
  EXPECT_EQ(texts(),
            (Lines{"+ 2021.0316\tp00001_Screen", "  > 2021.0316\t ACQ15:00 \"second run\""}))
      << "the list is rebuilt; the archived folder is not listed";
}

TEST_F(BrowserCommands, ArchiveOntoATakenNameFailsAndKeepsTheFolder) {
  fs::create_directories(data() / "p00001" / "20210316_1405removed202603041507");
  browser_.select_line(2);
  browser_.archive();
  EXPECT_EQ(dialogs_.messages().back(), "Error");
  EXPECT_TRUE(fs::exists(older_ / "counts.bin"));
}

TEST_F(BrowserCommands, FindInFolderRevealsTheLinesFolder) {
  browser_.select_line(0);
  browser_.find_in_folder();
  browser_.select_line(2);
  browser_.find_in_folder();
  EXPECT_EQ(shell_.calls,
            (Lines{"reveal " + (data() / "p00001").string(), "reveal " + older_.string()}));
  shell_.result = false;
  browser_.find_in_folder();
  EXPECT_EQ(dialogs_.messages(), Lines{"The file manager could not show " + older_.string()});
}

TEST_F(BrowserCommands, CommentsAreStoredOnlyWhenChanged) {
  browser_.select_line(2);
  browser_.open_line();
  EXPECT_EQ(browser_.opened().comments, "line one\r\nline two");
  browser_.comments_left("not stored");
  EXPECT_EQ(store::ReadAcquisitionComments(older_), "line one\r\nline two");
  browser_.comments_changed();
  browser_.comments_left("new\r\ncomments");
  EXPECT_EQ(store::ReadAcquisitionComments(older_), "new\r\ncomments");
  EXPECT_EQ(store::ReadAcquisitionTitle(older_), "first run");
  EXPECT_FALSE(browser_.comments_dirty());

  open_newer();
  EXPECT_EQ(browser_.opened().comments, "Protocol Comments:");
}

TEST_F(BrowserCommands, PlateConfigNeedsAnOpenedAcquisition) {
  browser_.select_line(2);
  EXPECT_FALSE(browser_.plate_config());
  EXPECT_EQ(dialogs_.messages(), Lines{"Only possible for SubProjects"});
  open_newer();
  browser_.select_line(2);
  EXPECT_TRUE(browser_.plate_config());
  EXPECT_EQ(browser_.acquisition_path(), older_);
  // The editor works on the tables of the acquisition it was asked for, not the one opened.
  EXPECT_EQ(browser_.opened().comments, "line one\r\nline two");
  EXPECT_NE(browser_.opened().acquisition_title.find("first run"), std::string::npos);
}

TEST_F(BrowserTest, OpeningAnAcquisitionLoadsItsTables) {
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w96f.dat", data() / "w96f.dat");
  project(7, "Plates");
  const fs::path acq = acquisition(7, "20230102_0304_s1", "plate run");
  store::SetupValues setup;
  setup.Name = "Plates";
  setup.Aq_lapse = 45;
  setup.DSP_Method = 2;
  setup.tool_settings[0][0] = 3; // Drosophila
  setup.tool_settings[0][3] = 4; // below 5: taken as 18
  ASSERT_TRUE(store::write_setup_file(acq, 7, setup));
  write_file(acq / "groups.dat",
             "\"<Group_Number>, <Group_Name>\"\r\n0,\"Control\"\r\n1,\"Drug\"\r\n");
  std::string chgroup = "\"<Channel>, <Group: -1=Free>\"\r\n";
  for (int c = 0; c < 384; ++c)
    chgroup += std::to_string(c) + "," + (c < 4 ? "0" : c < 6 ? "2" : "-1") + "\r\n";
  write_file(acq / "chgroup.dat", chgroup);
  write_file(data() / "p00007" / "tags_id.dat", "20230102_0304_s1 [K1] x[K3]y\r\n");

  browser_.open();
  browser_.select_line(0);
  browser_.open_line();
  browser_.select_line(1);
  ASSERT_EQ(browser_.open_line(), Opened::Acquisition);
  EXPECT_TRUE(browser_.selection_is_acquisition());
  EXPECT_EQ(browser_.acquisition_folder(), "20230102_0304_s1");
  EXPECT_EQ(browser_.project_folder(), "p00007");
  EXPECT_EQ(browser_.acquisition_path(), acq);
  EXPECT_EQ(browser_.configuration_summary(),
            "\r\n\t***** CONFIG ******\r\n\tMicroplate format: [w96f]\r\n\tAcquisition Lapse = "
            "45min\r\n\tSetting: Mode2\r\n\t[Drosophila SNR=1.8]");
  const OpenedAcquisition& o = browser_.opened();
  EXPECT_EQ(o.project_title, "p00007_Plates");
  EXPECT_EQ(o.acquisition_title, " 2023.0102_s1\t ACQ03:04 \"plate run\"\t\t[K1] x[K3]y");
  EXPECT_EQ(o.tags, (Lines{"[K1]", "[K3]"}));
  EXPECT_FALSE(o.track_available);
  EXPECT_EQ(o.report.organism, 3);
  EXPECT_EQ(o.report.detection_method, 2);
  EXPECT_EQ(o.report.threshold, "1.8");
  EXPECT_EQ(o.selectors.rows, (Lines{"A", "B", "C", "D", "E", "F", "G", "H"}));
  EXPECT_EQ(o.selectors.columns.size(), 12u);
  EXPECT_EQ(o.selectors.plot_groups, (Lines{"000_Control", "002_Group2"}));
  EXPECT_EQ(o.selectors.groups, (Lines{"000_Control", "002_Group2", "999_Free"}));
  const AcquisitionTables* tables = browser_.tables();
  ASSERT_NE(tables, nullptr);
  EXPECT_TRUE(tables->plate_loaded);
  EXPECT_EQ(tables->channels_in_group(0), 4);
  EXPECT_TRUE(tables->channels.enabled[200]) << "no status.dat: every channel enabled";
  const int well = tables->plate.map.well_of_channel[0];
  EXPECT_EQ(tables->channel_at(tables->plate.map.position_of_channel[0], well), 0);
  EXPECT_EQ(tables->channel_at(0, tables->greatest_well + 1), -1);
  EXPECT_TRUE(dialogs_.messages().empty()) << dialogs_.messages().front();
}

TEST_F(BrowserTest, MissingPlateFileIsToldAndTheTablesReadSoFarStay) {
  project(2, "No plate");
  const fs::path acq = acquisition(2, "20230102_0304", "run");
  store::SetupValues setup;
  setup.Plate_format = "w6";
  setup.tool_settings[0][0] = 1;
  ASSERT_TRUE(store::write_setup_file(acq, 2, setup));
  browser_.open();
  browser_.select_line(0);
  browser_.open_line();
  browser_.select_line(1);
  browser_.open_line();
  EXPECT_EQ(dialogs_.messages(), Lines{"Multiwell Configuration File w6.dat or .bak not found"});
  ASSERT_NE(browser_.tables(), nullptr);
  EXPECT_FALSE(browser_.tables()->plate_loaded);
  EXPECT_EQ(browser_.tables()->setup.Plate_format, "w6");
  EXPECT_TRUE(browser_.opened().track_available);
  EXPECT_TRUE(browser_.opened().selectors.rows.empty());
}

TEST_F(BrowserTest, WatchedFoldersKeepOnlyExistingFolders) {
  fs::create_directories(data() / "watched");
  const std::string watched = (data() / "watched").string();
  write_file(data() / "foldview.dat", "/no/such/folder\r\n" + watched + "\r\n");
  browser_.open();
  EXPECT_EQ(browser_.watched_folders(),
            (WatchedFolders{"_folder1", watched, "_folder3", "_folder4", "_folder5"}));

  dialogs_.script_input("/no/such/folder");
  EXPECT_FALSE(browser_.ask_watched_folder(0));
  dialogs_.script_input(data().string());
  EXPECT_TRUE(browser_.ask_watched_folder(4));
  EXPECT_EQ(dialogs_.transcript().back().text, "Write folder to watch:");
  EXPECT_EQ(dialogs_.transcript().back().default_text, "_folder5");
  EXPECT_EQ(read_file(data() / "foldview.dat"),
            "_folder1\r\n" + watched + "\r\n_folder3\r\n_folder4\r\n" + data().string() + "\r\n");

  fs::create_directories(data() / "a,b");
  dialogs_.script_input((data() / "a,b").string());
  EXPECT_TRUE(browser_.ask_watched_folder(0));
  WatchedFolders read = DefaultWatchedFolders();
  ReadWatchedFolders(data(), read);
  EXPECT_EQ(read, browser_.watched_folders()) << "a comma in a folder name reads back";
}

TEST(BrowserDetails, SummaryLinesWithoutTabsNineAtMost) {
  store::SetupValues setup;
  EXPECT_EQ(DetailsText(ConfigurationSummary(setup)),
            "\r\n***** CONFIG ******\r\nMicroplate format: [w96f]\r\nAcquisition Lapse = "
            "30min\r\nSetting: Mode1\r\n[C.elegans SNR=1.8]\r\n");
  EXPECT_EQ(DetailsText("1\r2\r3\r4\r5\r6\r7\r8\r9\r10"),
            "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n");
  // CR LF line ends and TABs inside a line go; an empty summary is one empty line.
  EXPECT_EQ(DetailsText("\r\n\tSetting:\tMode1\r\n\tlast"), "\r\nSetting:Mode1\r\nlast\r\n");
  EXPECT_EQ(DetailsText(""), "\r\n");
  EXPECT_EQ(SnrText(setup, ','), "1,8");
}

} // namespace
} // namespace kestrova::browser
