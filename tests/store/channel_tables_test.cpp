#include "store/channel_tables.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// The line of record `index` (0-based, after the header) of a table file's text.
std::string record_line(const std::string& text, int index) {
  std::size_t start = 0;
  for (int line = 0; line <= index; ++line)
    start = text.find("\r\n", start) + 2;
  return text.substr(start, text.find("\r\n", start) - start);
}

int line_count(const std::string& text) {
  int lines = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

TEST(ChannelTables, Defaults) {
  const GroupTable set;
  EXPECT_EQ(set.names[0], "Group0");
  EXPECT_EQ(set.names[11], "Group11");
  EXPECT_EQ(set.names[12], "Free");
  EXPECT_EQ(set.names[383], "Free");
  struct Case {
    int first, last, group;
  };
  for (const Case c :
       {Case{0, 15, 0}, Case{16, 47, 1}, Case{48, 79, 2}, Case{336, 367, 11}, Case{368, 383, 12}}) {
    for (int channel = c.first; channel <= c.last; ++channel) {
      EXPECT_EQ(set.channel_group[channel], c.group) << "channel " << channel;
    }
  }
  const ChannelTables tables;
  EXPECT_TRUE(tables.enabled[383]);
  EXPECT_EQ(tables.threshold[0], 3.0);
}

TEST(ChannelTables, SavedTablesReadBackToTheSameValues) {
  TempDir dir;
  ChannelTables tables;
  GroupTables groups;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    tables.enabled[channel] = channel % 3 != 0;
    tables.status[channel] = tables.enabled[channel] ? 1 : 0;
    tables.threshold[channel] = 0.125 * channel - 7;
    groups.main().channel_group[channel] = channel % 5 == 0 ? kFreeGroup : channel / 7;
  }
  groups.main().names[0] = "Wild type, 20 C";
  groups.main().names[383] = "";
  ASSERT_TRUE(SaveChannelTables(dir.path(), tables, groups));

  ChannelTables read_tables;
  GroupTables read_groups;
  read_tables.status.fill(7);
  read_groups.main().names.fill("x");
  FakeDialogs dialogs;
  ASSERT_TRUE(LoadChannelTables(dir.path(), 3, read_tables, read_groups, dialogs));
  EXPECT_TRUE(dialogs.messages().empty());
  for (int channel = 0; channel < kChannelCount; ++channel) {
    EXPECT_EQ(read_tables.enabled[channel], tables.enabled[channel]);
    EXPECT_EQ(read_tables.status[channel], tables.status[channel]);
    EXPECT_EQ(read_tables.threshold[channel], tables.threshold[channel]);
  }
  EXPECT_EQ(read_groups.main(), groups.main());

  // Saving again gives the same bytes (files are replaced, not extended).
  const std::string first = read_file(dir / "groups.dat");
  ASSERT_TRUE(SaveChannelTables(dir.path(), read_tables, read_groups));
  EXPECT_EQ(read_file(dir / "groups.dat"), first);
}

TEST(ChannelTables, FileLayout) {
  ChannelTables tables;
  tables.enabled[17] = false;
  tables.threshold[17] = 2.75;
  GroupTable set;
  set.channel_group[17] = kFreeGroup;
  set.names[17] = "Mutant";
  struct Case {
    std::string text;
    std::string header;
    std::string record_0;
    std::string record_17;
  };
  const std::vector<Case> cases = {
      {ChannelStatusText(tables), "\"<Channel>, <Enabled>\"", "0,1", "17,0"},
      {ThresholdsText(tables), "\"<Channel>, <Threshold>\"", "0,3", "17,2.75"},
      {GroupNamesText(set), "\"<Group_Number>, <Group_Name>\"", "0,\"Group0\"", "17,\"Mutant\""},
      {ChannelGroupsText(set), "\"<Channel>, <Group: -1=Free>\"", "0,0", "17,-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(c.text.substr(0, c.text.find("\r\n")), c.header);
    EXPECT_EQ(record_line(c.text, 0), c.record_0);
    EXPECT_EQ(record_line(c.text, 17), c.record_17);
    EXPECT_EQ(record_line(c.text, 383).substr(0, 4), "383,");
    EXPECT_EQ(line_count(c.text), 385);
    EXPECT_TRUE(c.text.ends_with("\r\n"));
  }
}

TEST(ChannelTables, ThresholdsAreWrittenRoundedToThreeDecimals) {
  struct Case {
    double value;
    const char* written;
  };
  const std::vector<Case> cases = {
      {2.7504, "2.75"},  {0.0004, "0"},       {-0.0004, "0"}, {2.5, "2.5"},
      {3, "3"},          {0.125, ".125"},     {-0.5, "-.5"},  {1.0015, "1.002"},
      {1.0025, "1.002"}, {12.3456, "12.346"}, {150, "150"},
  };
  ChannelTables tables;
  for (std::size_t i = 0; i < cases.size(); ++i)
    tables.threshold[i] = cases[i].value;
  const std::string text = ThresholdsText(tables);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(record_line(text, static_cast<int>(i)), std::to_string(i) + "," + cases[i].written)
        << cases[i].value;
  }
}

// Switches the C library to a locale whose decimal separator is a comma: an installed one, or
// one compiled into `dir` with localedef. False when neither is possible.
bool use_decimal_comma_locale(const TempDir& dir) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "es_ES.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) return true;
  }
  const std::string command =
      "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return false;
  ::setenv("LOCPATH", dir.path().c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(ChannelTables, ThresholdTextDoesNotFollowTheLocale) {
  ChannelTables tables;
  tables.threshold[0] = 2.7504;
  tables.threshold[1] = 0.5;
  const std::string c_locale_text = ThresholdsText(tables);
  TempDir dir;
  if (!use_decimal_comma_locale(dir)) GTEST_SKIP() << "no locale with a decimal comma";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  const std::string text = ThresholdsText(tables);
  std::setlocale(LC_ALL, "C");
  ::unsetenv("LOCPATH");
  EXPECT_EQ(text, c_locale_text);
  EXPECT_EQ(record_line(text, 0), "0,2.75");
  EXPECT_EQ(record_line(text, 1), "1,.5");
}

// Each case: files to write (name, bytes), the expected messages, and a check of the tables.
struct FallbackCase {
  const char* what;
  std::vector<std::pair<std::string, std::optional<std::string>>> files;
  std::vector<std::string> messages;
};

TEST(ChannelTables, FallbacksShowTheirMessageAndLoadDefaults) {
  const std::string status_ok = ChannelStatusText(ChannelTables());
  const std::string thresholds_ok = ThresholdsText(ChannelTables());
  const std::string names_ok = GroupNamesText(GroupTable());
  const std::string groups_ok = ChannelGroupsText(GroupTable());
  const std::string status_msg = "Error [/p00003/status.dat] => Loading default values...";
  const std::string threshold_msg = "Error [/p00003/threshld.dat] => Loading default values...";
  const std::string names_msg = "Error [/p00003/groups.dat] => Loading default groups...";
  const std::string groups_msg = "Error [/p00003/chgroup.dat] => Loading default groups...";
  const std::vector<FallbackCase> cases = {
      {"all present", {}, {}},
      {"status missing", {{"status.dat", std::nullopt}}, {status_msg}},
      {"status empty", {{"status.dat", ""}}, {status_msg}},
      {"status text value", {{"status.dat", "\"h\"\r\n0,1\r\n1,on\r\n"}}, {status_msg}},
      {"status record cut", {{"status.dat", "\"h\"\r\n0,1\r\n1\r\n"}}, {status_msg}},
      {"threshold missing", {{"threshld.dat", std::nullopt}}, {threshold_msg}},
      {"threshold not a number",
       {{"threshld.dat", "\"h\"\r\n0,2.5\r\n1,2,5x\r\n"}},
       {threshold_msg}},
      {"names cut", {{"groups.dat", "\"h\"\r\n0,\"A\"\r\n1\r\n"}}, {names_msg}},
      {"channel group beyond 383", {{"chgroup.dat", "\"h\"\r\n0,384\r\n"}}, {groups_msg}},
      {"channel group below -1", {{"chgroup.dat", "\"h\"\r\n0,-2\r\n"}}, {groups_msg}},
      {"channel group not a number", {{"chgroup.dat", "\"h\"\r\n0,x\r\n"}}, {groups_msg}},
      {"everything broken",
       {{"status.dat", std::nullopt},
        {"threshld.dat", "\"h\"\r\n0,\r\n1,a\r\n"},
        {"groups.dat", "\"h\"\r\n0"},
        {"chgroup.dat", "\"h\"\r\n0,99999\r\n"}},
       {status_msg, threshold_msg, names_msg, groups_msg}},
      {"group files missing: defaults without a message",
       {{"groups.dat", std::nullopt}, {"chgroup.dat", std::nullopt}},
       {}},
  };
  for (const FallbackCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    write_file(dir / "status.dat", status_ok);
    write_file(dir / "threshld.dat", thresholds_ok);
    write_file(dir / "groups.dat", names_ok);
    write_file(dir / "chgroup.dat", groups_ok);
    for (const auto& [name, bytes] : c.files) {
      if (bytes) {
        write_file(dir / name, *bytes);
      } else {
        std::filesystem::remove(dir / name);
      }
    }
    // Start from tables that differ from every default.
    ChannelTables tables;
    tables.enabled.fill(false);
    tables.threshold.fill(9);
    GroupTables groups;
    for (GroupTable& set : groups.sets) {
      set.names.fill("old");
      set.channel_group.fill(5);
    }
    FakeDialogs dialogs;
    const bool all = LoadChannelTables(dir.path(), 3, tables, groups, dialogs);
    EXPECT_EQ(dialogs.messages(), c.messages);
    EXPECT_EQ(all, c.messages.empty());
    const GroupTable default_set;
    for (int channel = 0; channel < kChannelCount; ++channel) {
      ASSERT_TRUE(tables.enabled[channel]) << channel;
      ASSERT_EQ(tables.threshold[channel], kDefaultThreshold) << channel;
      ASSERT_EQ(groups.main().channel_group[channel], default_set.channel_group[channel]);
    }
    EXPECT_EQ(groups.main().names, default_set.names);
    const bool names_fell_back =
        std::find(c.messages.begin(), c.messages.end(), names_msg) != c.messages.end();
    for (int station = 1; station < kStationCount; ++station) {
      EXPECT_EQ(groups.sets[station].names[0], names_fell_back ? "Group0" : "old");
      EXPECT_EQ(groups.sets[station].channel_group[0], 5);
    }
  }
}

TEST(ChannelTables, ShortStatusFileDerivesTheRestFromThePreviousStatus) {
  TempDir dir;
  std::string text = "\"<Channel>, <Enabled>\"\r\n";
  for (int channel = 0; channel < 200; ++channel) {
    text += std::to_string(channel) + "," +
            (channel == 5   ? "2"
             : channel == 6 ? "0"
                            : "1") +
            "\r\n";
  }
  write_file(dir / "status.dat", text);
  ChannelTables tables;
  for (int channel = 200; channel < kChannelCount; ++channel) {
    tables.status[channel] = channel % 2;
  }
  FakeDialogs dialogs;
  ASSERT_TRUE(LoadChannelStatus(dir.path(), 0, tables, dialogs));
  EXPECT_TRUE(dialogs.messages().empty());
  EXPECT_TRUE(tables.enabled[5]);
  EXPECT_FALSE(tables.enabled[6]);
  EXPECT_TRUE(tables.enabled[199]);
  EXPECT_FALSE(tables.enabled[200]);
  EXPECT_TRUE(tables.enabled[201]);
}

TEST(ChannelTables, ExtraRecordsAndOldNumberFormsAreRead) {
  TempDir dir;
  std::string text = "\"<Channel>, <Threshold>\"\r\n";
  for (int channel = 0; channel < 390; ++channel)
    text += std::to_string(channel) + ",0.5\r\n";
  text.replace(text.find("\r\n0,0.5") + 2, 5, "0,5E-01");
  write_file(dir / "threshld.dat", text);
  ChannelTables tables;
  FakeDialogs dialogs;
  EXPECT_TRUE(LoadThresholds(dir.path(), 0, tables, dialogs));
  EXPECT_TRUE(dialogs.messages().empty());
  EXPECT_EQ(tables.threshold[0], 0.5);
  EXPECT_EQ(tables.threshold[383], 0.5);
}

TEST(ChannelTables, ProjectSaveWritesTheGroupsOfTheSelectedStation) {
  GroupTables groups;
  for (int station = 0; station < kStationCount; ++station) {
    groups.sets[station].names[0] = "Station" + std::to_string(station);
  }
  struct Case {
    int selector;
    const char* name;
  };
  for (const Case c : {Case{-1, "Station0"}, Case{0, "Station0"}, Case{1, "Station1"},
                       Case{3, "Station3"}, Case{7, "Station0"}}) {
    TempDir dir;
    ASSERT_TRUE(SaveChannelTables(dir.path(), ChannelTables(), groups, c.selector));
    EXPECT_EQ(record_line(read_file(dir / "groups.dat"), 0), std::string("0,\"") + c.name + "\"")
        << "selector " << c.selector;
  }
}

} // namespace
} // namespace kestrova::store
