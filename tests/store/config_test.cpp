#include "store/config.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "store/record_file.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::string kHeader =
    "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n";

struct ConfigCase {
  std::string body; // after the header
  ConfigValues expected;
  bool defaults;
};

TEST(Config, LoadAppliesCorrectionsOrDefaults) {
  const ConfigCase cases[] = {
      {"3,7,4,0\r\n", {3, 7, 4, 0}, false},
      {"-2,0,0,9\r\n", {0, 0, 1, 0}, false},
      {"5,3,20,0\r\n", {5, 5, 16, 0}, false},
      {"0,0,16,5", {0, 0, 16, 0}, false},  // no final CR LF
      {"", {1, 1, 4, 0}, true},            // header only
      {"3,7,4\r\n", {1, 1, 4, 0}, true},   // a field missing
      {"3,x,4,0\r\n", {1, 1, 4, 0}, true}, // not a number
      {"3,7,99999,0\r\n", {1, 1, 4, 0}, true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    FakeDialogs dialogs;
    write_file(dir / "config.dat", kHeader + c.body);
    ProjectState state;
    state.app_folder = dir.path();
    state.config = {9, 9, 9, 9};
    EXPECT_EQ(LoadConfig(state, dialogs), !c.defaults) << c.body;
    EXPECT_EQ(state.config, c.expected) << c.body;
    const std::vector<std::string> expected_messages =
        c.defaults ? std::vector<std::string>{std::string(kConfigDefaultsMessage)}
                   : std::vector<std::string>{};
    EXPECT_EQ(dialogs.messages(), expected_messages) << c.body;
  }
}

TEST(Config, SaveWritesTheFileAndRoundTrips) {
  TempDir dir;
  FakeDialogs dialogs;
  ProjectState state;
  state.app_folder = dir.path();
  state.config = {3, 7, 4, 0};
  ASSERT_TRUE(SaveConfig(state, dialogs));
  EXPECT_EQ(read_file(dir / "config.dat"), kHeader + "3,7,4,0\r\n");
  ASSERT_TRUE(SaveConfig(state, dialogs));
  EXPECT_EQ(read_file(dir / "config.dat"), kHeader + "3,7,4,0\r\n");
  ProjectState loaded;
  loaded.app_folder = dir.path();
  ASSERT_TRUE(LoadConfig(loaded, dialogs));
  EXPECT_EQ(loaded.config, state.config);
  EXPECT_TRUE(dialogs.messages().empty());
}

TEST(Config, SaveFailureIsReportedAndStateKept) {
  TempDir dir;
  FakeDialogs dialogs;
  ProjectState state;
  state.app_folder = dir / "missing-folder";
  state.config = {3, 7, 4, 0};
  EXPECT_FALSE(SaveConfig(state, dialogs));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"<Error Saving Config File>"});
  EXPECT_EQ(state.config, (ConfigValues{3, 7, 4, 0}));
}

TEST(ProjectFolders, NamesAndResolution) {
  EXPECT_EQ(ProjectFolderName(7), "p00007");
  EXPECT_EQ(ProjectFolderName(100), "p00100");
  EXPECT_EQ(ProjectFolderName(32000), "p32000");

  TempDir dir;
  std::filesystem::create_directory(dir / "p00003");
  write_file(dir / "p00005", "a file, not a folder");
  EXPECT_TRUE(!config_file_exists(dir.path()));
  write_file(dir / "config.dat", kHeader + "3,7,4,0\r\n");
  EXPECT_TRUE(config_file_exists(dir.path()));

  const std::pair<int, int> cases[] = {{3, 3}, {12, 0}, {5, 0}, {0, 0}};
  for (const auto& [configured, resolved] : cases) {
    ProjectState state;
    state.app_folder = dir.path();
    state.config.Actual_Project_Number = configured;
    ResolveProjectFolder(state);
    EXPECT_EQ(state.config.Actual_Project_Number, resolved) << configured;
    EXPECT_EQ(state.project_folder, project_folder_path(dir.path(), resolved)) << configured;
  }
  EXPECT_EQ(project_folder_path(dir.path(), 0), dir.path());
  EXPECT_EQ(project_folder_path(dir.path(), 3), dir / "p00003");
}

TEST(ProjectFolders, PickAcquisitionFolderTakesTheLatest) {
  struct Case {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::string expected;
  };
  const Case cases[] = {
      {{"20231201_0900", "20240115_1000"}, {}, "20240115_1000"},
      {{"20240315_1430", "20240315_1431", "20240314_2359"}, {}, "20240315_1431"},
      {{"2024031_1430"}, {"20240315x1430"}, ""},
      {{"20240315_1430", "2099abcd_0000"}, {}, "20240315_1430"}, // digits stop at 'a'
      {{"00000000_0000", "other"}, {"setup.dat"}, ""},           // a key of 0 never wins
      {{"20240315_1430.old"}, {}, ""},                           // has an extension
      {{}, {}, ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const auto& f : c.folders)
      std::filesystem::create_directory(dir / f);
    for (const auto& f : c.files)
      write_file(dir / f, "x");
    EXPECT_EQ(PickAcquisitionFolder(dir.path()), c.expected);
  }
  EXPECT_EQ(PickAcquisitionFolder("/nonexistent/kestrova"), "");
  EXPECT_EQ(acquisition_folder_key("20240315_1430"), 202403151430);
  EXPECT_EQ(acquisition_folder_key("2024_0315_1430"), 0);
}

} // namespace
} // namespace kestrova::store
