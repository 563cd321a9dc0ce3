#include "store/setup_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "store/config.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

namespace fs = std::filesystem;
using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::string kRecheck = "Warning!! PLEASE Re-Check setup values before RUN";

// A setup whose every field differs from the defaults.
SetupValues custom_setup() {
  SetupValues s;
  s.Name = "Worms, batch 2";
  s.Working_folder = "/old/place/p00004/";
  s.Plate_format = "w384";
  s.Aq_mode = 2;
  s.Aq_lapse = 120;
  s.Sample_Rate = 50;
  s.RT_Buffer = 400;
  s.DSP_Method = 3;
  s.DSP_Interval = 10;
  s.Binary_Acq = 0;
  s.Threshold_Counter = 200;
  s.Cal_value = 70;
  s.Cal_mode = 2;
  s.Save_counts = 0;
  s.Save_real = 0;
  s.tool_flags = {0, 1, 1, 1, 1, 1};
  for (int k = 0; k < kToolCount; ++k) {
    for (int j = 0; j < kToolSettingCount; ++j) {
      s.tool_settings[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] = 10 * k + j + 1;
    }
  }
  return s;
}

// The first `count` lines (with their CR LF) of a text.
std::string first_lines(const std::string& text, int count) {
  std::size_t pos = 0;
  for (int i = 0; i < count && pos != std::string::npos; ++i) {
    pos = text.find("\r\n", pos);
    if (pos != std::string::npos) pos += 2;
  }
  return pos == std::string::npos ? text : text.substr(0, pos);
}

class SetupFileTest : public ::testing::Test {
protected:
  SetupFileTest() {
    state_.app_folder = dir_.path();
    state_.config.Actual_Project_Number = 4;
    state_.project_folder = dir_ / "p00004";
    fs::create_directory(state_.project_folder);
  }
  fs::path folder() const { return state_.project_folder; }
  std::string whole() const { return setup_file_text(4, custom_setup()); }

  TempDir dir_;
  ProjectState state_;
  FakeDialogs dialogs_;
};

TEST_F(SetupFileTest, WrittenLayout) {
  SetupValues s;
  s.Working_folder = "/data/p00003/";
  const std::string text = setup_file_text(3, s);
  EXPECT_EQ(first_lines(text, 4),
            "\"Project Setup: <Num_proj>,<Name>,<Working_folder>,<Plate_format>\"\r\n"
            "3,\"Default\",\"/data/p00003/\",\"w96f\"\r\n"
            "\"<Aq_mode>,<Aq_lapse>,<Sample_Rate>,<RT_Buffer>,<DSP_Method>,<DSP_Interval>\"\r\n"
            "1,30,99,500,1,30\r\n");
  EXPECT_EQ(text.substr(first_lines(text, 18).size()), "\"Mn6: ,,,,,\"\r\n0,0,0,0,0,0\r\n");
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
    ++lines;
  EXPECT_EQ(lines, 20u);
}

TEST_F(SetupFileTest, WholeFileLoadsEveryFieldAndSavesToTheSameBytes) {
  write_file(folder() / "setup.dat", whole());
  const auto result = LoadSetup(state_, 4, dialogs_);
  EXPECT_TRUE(result.read_ok);
  EXPECT_EQ(result.step, 11);
  EXPECT_EQ(state_.setup, custom_setup());
  EXPECT_TRUE(dialogs_.messages().empty());

  ASSERT_TRUE(write_setup_file(folder(), 4, state_.setup));
  EXPECT_EQ(read_file(folder() / "setup.dat"), whole());
  EXPECT_EQ(read_file(folder() / "setup.bak"), whole());
  ASSERT_TRUE(write_setup_file(folder(), 4, state_.setup));
  EXPECT_EQ(read_file(folder() / "setup.dat"), whole());
}

TEST_F(SetupFileTest, SixLinesChangeOnlyTheFirstPart) {
  write_file(folder() / "setup.dat", first_lines(whole(), 6));
  SetupValues memory;
  memory.tool_flags = {1, 1, 1, 0, 0, 0};
  memory.tool_settings[1] = {1, 8, 20, 3, 4, 5};
  state_.setup = memory;
  const auto result = LoadSetup(state_, 4, dialogs_);
  EXPECT_TRUE(result.read_ok);
  EXPECT_EQ(result.step, 4);
  SetupValues expected = custom_setup();
  expected.tool_flags = memory.tool_flags;
  expected.tool_settings = memory.tool_settings;
  EXPECT_EQ(state_.setup, expected);
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(SetupFileTest, IdentityWarningKeepsTheValues) {
  write_file(folder() / "setup.dat", setup_file_text(5, custom_setup()));
  const auto result = LoadSetup(state_, 4, dialogs_);
  EXPECT_TRUE(result.read_ok);
  EXPECT_EQ(result.identity_warning, "Warning: Project ID# <> Folder Name [p004]");
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{result.identity_warning});
  EXPECT_EQ(state_.setup, custom_setup());
}

// The recovery paths of a damaged or missing setup.dat. Memory holds the defaults with the
// name "In memory" before each load.
struct RecoveryCase {
  const char* name;
  std::optional<std::string> dat; // setup.dat in the project folder
  std::optional<std::string> bak;
  std::map<std::string, std::string> snapshots; // acquisition folder -> its setup.dat
  std::vector<std::string> messages;
  int step = 1;
  bool recovered = false;
  std::function<SetupValues(const std::string& folder)> expected;
};

TEST_F(SetupFileTest, RecoveryAndDefaults) {
  const std::string w = whole();
  const SetupValues custom = custom_setup();
  const SetupValues d;
  SetupValues memory;
  memory.Name = "In memory";
  const std::string broken_tool2 = first_lines(w, 11) +
                                   "\"Mn2: <Enable>, <Time_ON>, <v3:Time_OFF>,,,\"\r\n"
                                   "0,9,x,0,0,0\r\n" +
                                   w.substr(first_lines(w, 12).size());
  std::string bad_number = w;
  bad_number.replace(bad_number.find("\r\n4,") + 2, 1, "four");
  const std::string broken_line4 = first_lines(w, 3) + "1,2\r\n\"h\"\r\n1,1,1,1,1,1\r\n";
  const std::string error = "Error [/p00004/setup.dat] ID#";

  const auto all_custom = [&](const std::string&) { return custom; };
  const auto all_defaults = [&](const std::string& folder) {
    SetupValues e = d;
    e.Working_folder = folder;
    return e;
  };
  const auto tools_default = [&](const std::string& folder) { // nothing of lines 2-6 read
    SetupValues e = memory;
    e.Working_folder = folder;
    return e;
  };
  const auto read_then_tools_default = [&](const std::string& folder) {
    SetupValues e = custom;
    e.Working_folder = folder;
    e.tool_flags = d.tool_flags;
    e.tool_settings = d.tool_settings;
    return e;
  };
  const auto from_tool2_default = [&](const std::string& folder) {
    SetupValues e = custom;
    e.Working_folder = folder;
    for (std::size_t k = 1; k < kToolCount; ++k)
      e.tool_settings[k] = d.tool_settings[k];
    return e;
  };
  const auto bak_line2_only = [&](const std::string&) {
    SetupValues e = d;
    e.Name = custom.Name;
    e.Working_folder = custom.Working_folder;
    e.Plate_format = custom.Plate_format;
    return e;
  };

  const RecoveryCase cases[] = {
      {"3 lines, nothing to recover",
       first_lines(w, 3),
       {},
       {},
       {error + "4 => Loading default values...", kRecheck},
       4,
       false,
       tools_default},
      {"truncated, whole setup.bak",
       first_lines(w, 5),
       w,
       {},
       {error + "4 => Loading values from: p00004/", kRecheck},
       4,
       true,
       all_custom},
      {"line 4 broken, whole setup.bak",
       broken_line4,
       w,
       {},
       {error + "2 => Loading values from: p00004/", kRecheck},
       2,
       true,
       all_custom},
      {"missing, snapshots",
       {},
       {},
       {{"20240101_0800", w}, {"20240315_1430", w}, {"20230101_0800", first_lines(w, 4)}},
       {error + "1 => Loading values from: p00004/20240315_1430", kRecheck},
       1,
       true,
       all_custom},
      {"missing, latest snapshot too short",
       {},
       {},
       {{"20240315_1430", first_lines(w, 16)}},
       {error + "1 => Loading default values...", kRecheck},
       1,
       false,
       all_defaults},
      {"missing, nothing to recover",
       {},
       {},
       {},
       {error + "1 => Loading default values...", kRecheck},
       1,
       false,
       all_defaults},
      {"breaks in tool 2 settings",
       broken_tool2,
       {},
       {},
       {error + "6 => Loading default values...", kRecheck},
       6,
       false,
       from_tool2_default},
      {"number not a number",
       bad_number,
       {},
       {},
       {error + "4 => Loading default values...", kRecheck},
       4,
       false,
       read_then_tools_default},
      {"setup.bak damaged too: no second recovery",
       first_lines(w, 3),
       broken_line4,
       {},
       {error + "4 => Loading values from: p00004/", kRecheck,
        error + "2 => Loading default values...", kRecheck},
       4,
       false,
       bak_line2_only},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder());
    fs::create_directory(folder());
    if (c.dat) write_file(folder() / "setup.dat", *c.dat);
    if (c.bak) write_file(folder() / "setup.bak", *c.bak);
    for (const auto& [name, text] : c.snapshots) {
      fs::create_directory(folder() / name);
      write_file(folder() / name / "setup.dat", text);
    }
    dialogs_.clear();
    state_.setup = memory;
    const auto result = LoadSetup(state_, 4, dialogs_);
    EXPECT_EQ(dialogs_.messages(), c.messages);
    EXPECT_EQ(result.step, c.step);
    EXPECT_EQ(result.recovered, c.recovered);
    EXPECT_FALSE(result.read_ok);
    EXPECT_EQ(state_.setup, c.expected(folder().string() + "/"));
    if (c.recovered) {
      EXPECT_EQ(read_file(folder() / "setup.dat"), w);
    }
  }
}

TEST_F(SetupFileTest, DefaultProjectIsNeverRecovered) {
  state_.project_folder = dir_.path();
  write_file(dir_ / "setup.dat", first_lines(whole(), 3));
  write_file(dir_ / "setup.bak", whole());
  const auto result = LoadSetup(state_, 0, dialogs_);
  EXPECT_TRUE(result.defaults);
  EXPECT_EQ(dialogs_.messages(),
            (std::vector<std::string>{"Error [/p00000/setup.dat] ID#4 => Loading default values...",
                                      kRecheck}));
  EXPECT_EQ(read_file(dir_ / "setup.dat"), first_lines(whole(), 3));
}

TEST_F(SetupFileTest, ProjectSummary) {
  const std::string w = whole();
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "<Project> p: SETUP NOT FOUND!!");

  write_file(folder() / "setup.dat", w);
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "<Project> p00004: Worms, batch 2");

  write_file(folder() / "setup.dat", first_lines(w, 3));
  write_file(folder() / "setup.bak", w);
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "<Project> p00004: Worms, batch 2");
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Error reading Setup.dat -> recovered from Setup.bak"});
  EXPECT_EQ(read_file(folder() / "setup.dat"), w);

  // A short setup.bak blocks the snapshot route.
  dialogs_.clear();
  fs::create_directory(folder() / "20240315_1430");
  write_file(folder() / "20240315_1430" / "setup.dat", w);
  write_file(folder() / "setup.dat", "");
  write_file(folder() / "setup.bak", first_lines(w, 5));
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "<Project> p: SETUP NOT FOUND!!");
  EXPECT_TRUE(dialogs_.messages().empty());

  fs::remove(folder() / "setup.bak");
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "<Project> p00004: Worms, batch 2");
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Error reading Setup.dat -> recovered from " +
                                     (folder() / "20240315_1430").string()});

  write_file(folder() / "setup.dat", "\"open quote\r\n\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(ProjectSummary(folder(), dialogs_), "ERROR on SETUP.DAT FILE!!!");
}

TEST_F(SetupFileTest, SetSetupNameChangesOnlyTheName) {
  EXPECT_EQ(SetSetupName(folder(), "New", dialogs_), "New"); // no setup.dat: nothing changes
  EXPECT_FALSE(FileExists(folder() / "setup.dat"));

  const std::string w = whole(); // the stored name holds a comma
  write_file(folder() / "setup.dat", w);
  EXPECT_EQ(SetSetupName(folder(), "Renamed \"run\"", dialogs_), "Renamed 'run'");
  std::string expected = w;
  expected.replace(expected.find("\"Worms, batch 2\""), 16, "\"Renamed 'run'\"");
  EXPECT_EQ(read_file(folder() / "setup.dat"), expected);
  EXPECT_EQ(read_file(folder() / "setup.bak"), w);
  LoadSetup(state_, 4, dialogs_);
  EXPECT_EQ(state_.setup.Name, "Renamed 'run'");
  EXPECT_EQ(state_.setup.Working_folder, "/old/place/p00004/");
  EXPECT_TRUE(dialogs_.messages().empty());

  fs::permissions(folder() / "setup.bak", fs::perms::owner_read);
  EXPECT_EQ(SetSetupName(folder(), "Other", dialogs_), "");
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"error"});
  EXPECT_EQ(read_file(folder() / "setup.dat"), expected);
}

} // namespace
} // namespace kestrova::store
