#include "store/project_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

namespace fs = std::filesystem;
using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;

class ProjectFilesTest : public ::testing::Test {
protected:
  ProjectFilesTest() {
    WriteDataFolderTemplate(dir_.path(), dialogs_);
    state_.app_folder = dir_.path();
    state_.config.Actual_Project_Number = 2;
    state_.project_folder = dir_ / "p00002";
    fs::create_directory(state_.project_folder);
    state_.setup.Name = "Larvae";
    state_.setup.Working_folder = state_.project_folder.string() + "/";
    state_.setup.Plate_format = "w384";
    state_.setup.Aq_lapse = 240;
    state_.channels.status[5] = 0;
    state_.channels.enabled[5] = false;
    state_.channels.threshold[7] = 2.5;
    state_.groups.sets[0].names[1] = "Control";
    state_.groups.sets[0].channel_group[9] = kFreeGroup;
    state_.groups.sets[1].names[1] = "Station one";
    dialogs_.clear();
  }

  TempDir dir_;
  ProjectState state_;
  FakeDialogs dialogs_;
};

TEST_F(ProjectFilesTest, SavedProjectLoadsBackAndSavesToTheSameBytes) {
  const fs::path folder = state_.project_folder;
  ASSERT_TRUE(SaveProject(state_, folder, 2, -1, dialogs_));
  const char* files[] = {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"};
  std::vector<std::string> first;
  for (const char* f : files)
    first.push_back(read_file(folder / f));

  ProjectState loaded;
  loaded.app_folder = dir_.path();
  loaded.project_folder = folder;
  const auto result = LoadProject(loaded, 2, dialogs_);
  EXPECT_TRUE(result.read_ok);
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(loaded.setup, state_.setup);
  EXPECT_EQ(loaded.channels, state_.channels);
  EXPECT_EQ(loaded.groups.main(), state_.groups.main());
  EXPECT_EQ(loaded.plate, *BuiltInPlateFormat("w384"));

  ASSERT_TRUE(SaveProject(loaded, folder, 2, -1, dialogs_));
  for (std::size_t i = 0; i < std::size(files); ++i) {
    EXPECT_EQ(read_file(folder / files[i]), first[i]) << files[i];
  }
  EXPECT_EQ(read_file(folder / "setup.bak"), first[0]);
}

TEST_F(ProjectFilesTest, StationSelectorChoosesTheGroupSet) {
  const fs::path snapshot = state_.project_folder / "20240315_1430";
  fs::create_directory(snapshot);
  ASSERT_TRUE(SaveProject(state_, snapshot, 2, 1, dialogs_));
  EXPECT_EQ(read_file(snapshot / "groups.dat"), GroupNamesText(state_.groups.sets[1]));
  ASSERT_TRUE(SaveProject(state_, snapshot, 2, 0, dialogs_));
  EXPECT_EQ(read_file(snapshot / "groups.dat"), GroupNamesText(state_.groups.sets[0]));
  EXPECT_FALSE(fs::exists(state_.project_folder / "setup.dat")); // only the given folder
}

TEST_F(ProjectFilesTest, FailedSaveIsReported) {
  const fs::path missing = dir_ / "p00009";
  EXPECT_FALSE(SaveProject(state_, missing, 9, -1, dialogs_));
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Error saving project files in " + missing.string()});
}

} // namespace
} // namespace kestrova::store
