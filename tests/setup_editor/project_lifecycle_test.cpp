#include "setup_editor/project_lifecycle.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/config.hpp"
#include "store/project_files.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::setup_editor {
namespace {

namespace fs = std::filesystem;
using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// The default project (0) in a fresh data folder, with the given last project number.
class ProjectLifecycleTest : public ::testing::Test {
protected:
  ProjectLifecycleTest() {
    project_.app_folder = dir_.path();
    project_.project_folder = dir_.path();
    project_.config.Actual_Project_Number = 0;
    project_.config.Last_Project = 7;
    project_.setup.Aq_lapse = 120;
    fs::copy_file(KESTROVA_SOURCE_DIR "/data/w96f.dat", dir_ / "w96f.dat");
  }
  // The numbers record of config.dat.
  std::string config_numbers() const {
    const std::string text = read_file(dir_ / "config.dat");
    const auto start = text.find("\r\n") + 2;
    return text.substr(start, text.find("\r\n", start) - start);
  }
  // Writes a project folder whose setup.dat names it `name`.
  void make_project(int number, const std::string& name) {
    store::ProjectState p;
    p.setup.Name = name;
    const fs::path folder = dir_ / store::ProjectFolderName(number);
    fs::create_directory(folder);
    FakeDialogs quiet;
    ASSERT_TRUE(store::SaveProject(p, folder, number, -1, quiet));
  }

  TempDir dir_;
  FakeDialogs dialogs_;
  store::ProjectState project_;
};

TEST_F(ProjectLifecycleTest, NewProjectTakesTheNextNumberAndCopiesTheSetup) {
  dialogs_.script_answer(common::Answer::Ok);
  dialogs_.script_input(std::string("Aldicarb \"test\""));
  ASSERT_TRUE(new_project(project_, dialogs_));
  ASSERT_EQ(dialogs_.transcript().size(), 2u);
  EXPECT_EQ(dialogs_.transcript()[0].text, "Do you like to Create a New Project?");
  EXPECT_EQ(dialogs_.transcript()[1].text, "Enter the New Project Name");
  EXPECT_EQ(dialogs_.transcript()[1].title, "Saving <8> with a new name");
  EXPECT_EQ(project_box_text(project_), "8_Aldicarb 'test'");
  EXPECT_EQ(project_.project_folder, dir_ / "p00008");
  EXPECT_EQ(config_numbers(), "8,8,4,0");
  store::ProjectState loaded;
  loaded.app_folder = dir_.path();
  loaded.project_folder = dir_ / "p00008";
  store::LoadProject(loaded, 8, dialogs_);
  EXPECT_EQ(loaded.setup.Name, "Aldicarb 'test'");
  EXPECT_EQ(loaded.setup.Aq_lapse, 120);
}

TEST_F(ProjectLifecycleTest, NumberingRestartsAfter32000AndAsksBeforeOverwriting) {
  project_.config.Last_Project = 32000;
  make_project(1, "Old");
  dialogs_.script_answer(common::Answer::Ok);
  dialogs_.script_input(std::string("New"));
  dialogs_.script_answer(common::Answer::No);
  EXPECT_FALSE(new_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.transcript()[1].title, "Saving <32001> with a new name");
  EXPECT_EQ(dialogs_.messages().back(),
            "The project number to generate (p00001already exists. do you like to overwrite?");
  EXPECT_EQ(project_.config.Last_Project, 1); // advanced although declined
  EXPECT_EQ(project_.config.Actual_Project_Number, 0);
  EXPECT_FALSE(fs::exists(dir_ / "config.dat"));
  EXPECT_NE(read_file(dir_ / "p00001" / "setup.dat").find("\"Old\""), std::string::npos);

  dialogs_.clear();
  dialogs_.script_answer(common::Answer::Ok);
  dialogs_.script_input(std::nullopt); // a cancelled name box gives an empty name
  ASSERT_TRUE(new_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.transcript()[1].title, "Saving <2> with a new name");
  EXPECT_EQ(project_box_text(project_), "2_");
  EXPECT_EQ(config_numbers(), "2,2,4,0");

  dialogs_.clear();
  dialogs_.script_answer(common::Answer::Cancel);
  EXPECT_FALSE(new_project(project_, dialogs_));
  EXPECT_EQ(project_.config.Last_Project, 2);
}

TEST_F(ProjectLifecycleTest, OverwritingAnExistingFolderSavesIntoIt) {
  project_.config.Last_Project = 0;
  make_project(1, "Old");
  dialogs_.script_answer(common::Answer::Ok);
  dialogs_.script_input(std::string("Replaced"));
  dialogs_.script_answer(common::Answer::Yes);
  ASSERT_TRUE(new_project(project_, dialogs_));
  EXPECT_NE(read_file(dir_ / "p00001" / "setup.dat").find("\"Replaced\""), std::string::npos);
}

TEST_F(ProjectLifecycleTest, SaveInPlaceUnderANewNumberOrNot) {
  dialogs_.script_answer(common::Answer::Yes);
  ASSERT_TRUE(save_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.messages()[0], "Do you like to Update <0_Default> values?");
  EXPECT_TRUE(fs::exists(dir_ / "setup.dat"));
  EXPECT_FALSE(fs::exists(dir_ / "p00008"));

  dialogs_.clear();
  dialogs_.script_answer(common::Answer::No);
  dialogs_.script_input(std::string("Copy"));
  ASSERT_TRUE(save_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.transcript()[1].title, "Saving <0_Default> with a new name");
  EXPECT_TRUE(fs::exists(dir_ / "p00008" / "setup.dat"));
  EXPECT_EQ(project_box_text(project_), "8_Copy");

  dialogs_.clear();
  dialogs_.script_answer(common::Answer::Cancel);
  EXPECT_FALSE(save_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.transcript().size(), 1u);
}

TEST_F(ProjectLifecycleTest, RenameRefusesTheDefaultProject) {
  EXPECT_FALSE(rename_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{
                "Not possible to rename the Default project. Save it with another Name"});
  project_.config.Actual_Project_Number = 3;
  dialogs_.script_input(std::string("Line one\r\nline \"two\""));
  EXPECT_TRUE(rename_project(project_, dialogs_));
  EXPECT_EQ(dialogs_.transcript().back().text, "Rename Project: Entre New Name");
  EXPECT_EQ(project_box_text(project_), "3_Line one  line 'two'");
  dialogs_.script_input(std::string());
  EXPECT_FALSE(rename_project(project_, dialogs_));
  EXPECT_EQ(project_.setup.Name, "Line one  line 'two'");
}

TEST_F(ProjectLifecycleTest, ListsProjectFoldersWithTheirNames) {
  make_project(3, "Test");
  fs::create_directory(dir_ / "p00012");
  write_file(dir_ / "p00012" / "setup.dat", "\"a\"\r\n1,\"x\"\r\n\"b\"\r\n");
  fs::create_directory(dir_ / "p00013");  // no setup.dat: not listed
  write_file(dir_ / "p00014", "a file");  // not a folder
  fs::create_directory(dir_ / "p000150"); // seven characters
  EXPECT_EQ(list_projects(dir_.path(), dialogs_),
            (std::vector<std::string>{"p00003_Test", "p00012_SETUP NOT FOUND!!"}));
}

TEST_F(ProjectLifecycleTest, LoadingAListedProjectMakesItCurrent) {
  make_project(3, "Test");
  ASSERT_TRUE(load_listed_project(project_, dialogs_, "p00003_Test"));
  EXPECT_EQ(project_.config.Actual_Project_Number, 3);
  EXPECT_EQ(project_.project_folder, dir_ / "p00003");
  EXPECT_EQ(project_.setup.Name, "Test");
  EXPECT_EQ(config_numbers(), "3,7,4,0");
  EXPECT_TRUE(dialogs_.messages().empty());

  struct Case {
    const char* entry;
    std::optional<int> number;
  };
  for (const Case c : {Case{"p00003_Test", 3}, Case{"p32000_x", 32000}, Case{"pA0012_x", 12},
                       Case{"p00000_Default", 0}, Case{"p0001", std::nullopt}}) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(project_number_of_entry(c.entry), c.number);
  }
}

TEST_F(ProjectLifecycleTest, LoadQuestionSavesOnYesAndStopsOnCancel) {
  dialogs_.script_answer(common::Answer::Cancel);
  EXPECT_FALSE(prepare_load(project_, dialogs_));
  EXPECT_EQ(dialogs_.messages()[0], "Do you like to save current values before new load?");
  EXPECT_FALSE(fs::exists(dir_ / "setup.dat"));
  dialogs_.script_answer(common::Answer::No);
  EXPECT_TRUE(prepare_load(project_, dialogs_));
  EXPECT_FALSE(fs::exists(dir_ / "setup.dat"));
  dialogs_.script_answer(common::Answer::Yes);
  EXPECT_TRUE(prepare_load(project_, dialogs_));
  EXPECT_TRUE(fs::exists(dir_ / "setup.dat"));
}

TEST(ProjectNumbering, NextNumber) {
  struct Case {
    int last, next;
  };
  for (const Case c :
       {Case{7, 8}, Case{31999, 32000}, Case{32000, 1}, Case{32767, 1}, Case{-3, 1}}) {
    store::ConfigValues config;
    config.Last_Project = c.last;
    EXPECT_EQ(take_next_project_number(config), c.next) << c.last;
    EXPECT_EQ(config.Last_Project, c.next);
  }
}

} // namespace
} // namespace kestrova::setup_editor
