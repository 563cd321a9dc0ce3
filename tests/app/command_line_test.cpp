#include "app/command_line.hpp"

#include <gtest/gtest.h>

namespace kestrova::app {
namespace {

struct AutorunCase {
  std::vector<std::string> args;
  bool autorun;
};

TEST(CommandLine, AutorunOnlyForTheThreeSpellingsTrimmed) {
  const std::vector<AutorunCase> cases = {
      {{"/run"}, true},
      {{"/RUN"}, true},
      {{"/Run"}, true},
      {{"  /Run  "}, true},
      {{"\t/RUN "}, true},
      {{"--run"}, true},
      {{"/rUn"}, false},
      {{"/rUN"}, false},
      {{"run"}, false},
      {{"RUN"}, false},
      {{"/run", "x"}, false},
      {{"/ru n"}, false},
      {{}, false},
      {{""}, false},
      {{"--data-dir", "/tmp/k", " /Run"}, true},
      {{"--data-dir=/tmp/k", "/run"}, true},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args)
      shown += "[" + a + "]";
    EXPECT_EQ(parse_command_line(c.args).autorun, c.autorun) << shown;
  }
}

TEST(CommandLine, OptionsAreTakenOut) {
  const CommandLine a = parse_command_line({"--data-dir", "/srv/lab", "--version"});
  ASSERT_TRUE(a.data_dir.has_value());
  EXPECT_EQ(*a.data_dir, "/srv/lab");
  EXPECT_TRUE(a.version);
  EXPECT_FALSE(a.help);
  EXPECT_TRUE(a.error.empty());

  const CommandLine b = parse_command_line({"--data-dir=/srv/x y", "-h"});
  EXPECT_EQ(b.data_dir.value_or(""), "/srv/x y");
  EXPECT_TRUE(b.help);

  // The folder after --data-dir is never read as the autorun switch.
  const CommandLine c = parse_command_line({"--data-dir", "/run"});
  EXPECT_EQ(c.data_dir.value_or(""), "/run");
  EXPECT_FALSE(c.autorun);
}

// The relaunch's own arguments: autorun, the unattended switch and the count of relaunches in a
// row; a count that is not a whole number of 1 or more is an error.
TEST(CommandLine, RelaunchArguments) {
  const CommandLine r = parse_command_line(
      {"--data-dir", "/srv/lab", "/run", "--exit-when-complete", "--relaunched", "3"});
  EXPECT_TRUE(r.autorun);
  EXPECT_TRUE(r.exit_when_complete);
  EXPECT_EQ(r.relaunched, 3);
  EXPECT_TRUE(r.error.empty());
  EXPECT_EQ(parse_command_line({"/run"}).relaunched, 0);
  for (const char* bad : {"0", "-1", "2x", ""})
    EXPECT_FALSE(parse_command_line({"/run", "--relaunched", bad}).error.empty()) << bad;
  EXPECT_FALSE(parse_command_line({"--relaunched"}).error.empty());
}

TEST(CommandLine, DataDirWithoutFolderIsAnError) {
  EXPECT_FALSE(parse_command_line({"--data-dir"}).error.empty());
  EXPECT_FALSE(parse_command_line({"--data-dir="}).error.empty());
  EXPECT_FALSE(parse_command_line({"--data-dir", ""}).error.empty());
}

TEST(CommandLine, UnknownTextIsIgnored) {
  const CommandLine c = parse_command_line({"--colour", "blue"});
  EXPECT_FALSE(c.autorun);
  EXPECT_TRUE(c.error.empty());
  EXPECT_FALSE(c.data_dir.has_value());
}

} // namespace
} // namespace kestrova::app
