#include "app/data_folder.hpp"

#include <gtest/gtest.h>

#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(DataFolder, ChoiceOrder) {
  EXPECT_EQ(choose_data_folder(std::string("/a"), "/b", "/home/u").folder, fs::path("/a"));
  EXPECT_FALSE(choose_data_folder(std::string("/a"), "/b", "/home/u").is_default);
  EXPECT_EQ(choose_data_folder(std::nullopt, "/b", "/home/u").folder, fs::path("/b"));
  EXPECT_FALSE(choose_data_folder(std::nullopt, "/b", "/home/u").is_default);
  const DataFolderChoice d = choose_data_folder(std::string(""), "", "/home/u");
  EXPECT_EQ(d.folder, fs::path("/home/u/Kestrova"));
  EXPECT_TRUE(d.is_default);
  EXPECT_EQ(choose_data_folder(std::nullopt, nullptr, nullptr).folder, fs::path("./Kestrova"));
}

class DataFolderPrepare : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(tmp_ / "template" / "sub");
    write_file(tmp_ / "template/config.dat", "\"Config\"\r\n1,1,4,0\r\n");
    write_file(tmp_ / "template/sub/w96f.dat", "plate");
  }
  TempDir tmp_;
  testing::FakeDialogs dialogs_;
};

TEST_F(DataFolderPrepare, DefaultFolderIsCreatedFromTemplateOnce) {
  const DataFolderChoice choice{tmp_ / "home/Kestrova", true};
  const DataFolderResult r = prepare_data_folder(choice, tmp_ / "template", dialogs_);
  EXPECT_TRUE(r.created);
  EXPECT_TRUE(r.error.empty());
  EXPECT_EQ(read_file(choice.folder / "sub/w96f.dat"), "plate");
  for (const char* f : {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
    EXPECT_TRUE(fs::exists(choice.folder / f)) << f << ": the default project is complete";
  EXPECT_TRUE(dialogs_.texts().empty());

  // An existing folder is left exactly as it is, even when the operator removed files.
  write_file(choice.folder / "config.dat", "mine");
  fs::remove(choice.folder / "sub/w96f.dat");
  const DataFolderResult again = prepare_data_folder(choice, tmp_ / "template", dialogs_);
  EXPECT_FALSE(again.created);
  EXPECT_EQ(read_file(choice.folder / "config.dat"), "mine");
  EXPECT_FALSE(fs::exists(choice.folder / "sub/w96f.dat"));
}

TEST_F(DataFolderPrepare, ExplicitFolderIsNeverCreated) {
  const DataFolderChoice choice{tmp_ / "elsewhere", false};
  const DataFolderResult r = prepare_data_folder(choice, tmp_ / "template", dialogs_);
  EXPECT_FALSE(r.created);
  EXPECT_TRUE(r.error.empty());
  EXPECT_FALSE(fs::exists(choice.folder));
}

// Each way a data folder cannot be used is said with its path, never as a missing config file.
TEST_F(DataFolderPrepare, UnusableFolderIsNamed) {
  write_file(tmp_ / "a_file", "x");
  fs::create_directories(tmp_ / "blocker");
  write_file(tmp_ / "blocker/file", "x");
  struct Case {
    DataFolderChoice choice;
    std::string problem;
  };
  const std::string root = tmp_.path().string();
  for (const Case& c : std::vector<Case>{
           {{tmp_ / "a_file", false}, "The data folder " + root + "/a_file is not a folder."},
           {{tmp_ / "missing", false}, "The data folder " + root + "/missing does not exist."},
           {{tmp_ / "blocker/file/Kestrova", true},
            "The data folder cannot be used. Cannot create " + root + "/blocker/file/Kestrova: "},
           {{tmp_.path(), false}, ""},
       }) {
    const DataFolderResult r = prepare_data_folder(c.choice, tmp_ / "template", dialogs_);
    const std::string got = data_folder_problem(c.choice, r);
    EXPECT_EQ(got.substr(0, c.problem.size()), c.problem) << c.choice.folder;
    EXPECT_EQ(got.empty(), c.problem.empty()) << c.choice.folder;
  }
}

TEST_F(DataFolderPrepare, MissingTemplateIsReported) {
  const DataFolderResult r =
      prepare_data_folder({tmp_ / "home/Kestrova", true}, std::nullopt, dialogs_);
  EXPECT_FALSE(r.created);
  EXPECT_FALSE(r.error.empty());
}

TEST_F(DataFolderPrepare, TemplateFoundBesideInstalledProgramFirst) {
  fs::create_directories(tmp_ / "prefix/bin");
  fs::create_directories(tmp_ / "prefix/share/kestrova/data");
  write_file(tmp_ / "prefix/share/kestrova/data/config.dat", "x");
  const auto installed = find_data_template(tmp_ / "prefix/bin", tmp_ / "template");
  ASSERT_TRUE(installed.has_value());
  EXPECT_TRUE(fs::equivalent(*installed, tmp_ / "prefix/share/kestrova/data"));

  EXPECT_EQ(find_data_template(tmp_ / "nowhere", tmp_ / "template"), tmp_ / "template");
  EXPECT_FALSE(find_data_template(tmp_ / "nowhere", tmp_ / "none").has_value());
}

} // namespace
} // namespace kestrova::app
