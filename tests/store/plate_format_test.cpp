#include "store/plate_format.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::FakeDialogs;
using testing::TempDir;
using testing::write_file;

constexpr const char* kFallbackTail = " => Loading plate format from default: 384,96f or 96u...";

// A plate file of a 96-well plate with one beam per well on even rows and columns (like the
// built-in w96u map), holding the first `records` channel records.
std::string w96u_like_file(int records) {
  std::string text = "\"<Plate_Format>\"\r\n\"w96u\",8,2,-.5,12,2,-.5\r\n\"<Label>\"\r\n";
  const auto built_in = BuiltInPlateFormat("w96u");
  for (int channel = 0; channel < records; ++channel) {
    text += "\"L\"," + std::to_string(built_in->map.well_of_channel[channel]) + ",0\r\n";
  }
  return text;
}

struct WellCase {
  const char* format;
  int well;
  int position;
  int channel;
};

TEST(PlateFormatBuiltIn, WorkedChannels) {
  const std::vector<WellCase> cases = {
      {"w96u", 0, 0, 0},     {"w96u", 1, 0, 2},  {"w96u", 8, 0, 32},   {"w96u", 95, 0, 366},
      {"w96f", 0, 0, 0},     {"w96f", 0, 1, 16}, {"w96f", 1, 0, 2},    {"w96f", 1, 1, 18},
      {"w96f", 8, 0, 32},    {"w96f", 8, 1, 48}, {"w96f", 95, 1, 382}, {"w384", 17, 0, 17},
      {"w384", 383, 0, 383},
  };
  for (const WellCase& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " well " + std::to_string(c.well));
    const auto plate = BuiltInPlateFormat(c.format);
    ASSERT_TRUE(plate);
    EXPECT_EQ(plate->map.ChannelOfWell(c.well, c.position), c.channel);
    EXPECT_EQ(plate->map.WellOfChannel(c.channel), (WellPosition{c.well, c.position}));
  }
}

TEST(PlateFormatBuiltIn, GeometryAndExtent) {
  struct Case {
    const char* format;
    PlateGeometry geometry;
    int greatest_well;
    int greatest_position;
    int beams_in_wells;
  };
  const std::vector<Case> cases = {
      {"w384", {16, 1, 0, 24, 1, 0}, 383, 0, 384},
      {"W96U", {8, 2, -0.5, 12, 2, -0.5}, 96, 0, 96},
      {"w96f", {8, 2, -0.5, 12, 2, 0}, 96, 1, 192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const auto plate = BuiltInPlateFormat(c.format);
    ASSERT_TRUE(plate);
    EXPECT_EQ(plate->geometry, c.geometry);
    EXPECT_EQ(plate->map.greatest_well, c.greatest_well);
    EXPECT_EQ(plate->map.greatest_position, c.greatest_position);
    int in_wells = 0;
    for (int channel = 0; channel < kChannelCount; ++channel) {
      in_wells += plate->map.well_of_channel[channel] >= 0 ? 1 : 0;
    }
    EXPECT_EQ(in_wells, c.beams_in_wells);
    // The row past the last well exists and no channel fills it.
    if (c.greatest_well == 96) {
      EXPECT_EQ(plate->map.ChannelOfWell(96, 0), 0);
    }
  }
  EXPECT_FALSE(BuiltInPlateFormat("w24"));
}

TEST(PlateFormatLookup, OutsideTheTableGivesNoChannel) {
  const auto plate = BuiltInPlateFormat("w96f");
  EXPECT_EQ(plate->map.ChannelOfWell(-1, 0), -1);
  EXPECT_EQ(plate->map.ChannelOfWell(97, 0), -1);
  EXPECT_EQ(plate->map.ChannelOfWell(0, 2), -1);
  EXPECT_EQ(plate->map.ChannelOfWell(0, -1), -1);
  EXPECT_EQ(plate->map.WellOfChannel(-1), (WellPosition{-1, 0}));
  EXPECT_EQ(plate->map.WellOfChannel(384), (WellPosition{-1, 0}));
  EXPECT_EQ(plate->map.WellOfChannel(1), (WellPosition{-1, 0}));
}

TEST(PlateFormatLookup, HigherChannelKeepsASharedEntry) {
  WellMap map;
  map.well_of_channel[5] = 2;
  map.well_of_channel[9] = 2;
  map.greatest_well = 2;
  map.rebuild_well_channel_table();
  EXPECT_EQ(map.ChannelOfWell(2, 0), 9);
  EXPECT_EQ(map.ChannelOfWell(1, 0), 0);
}

// Each case: the file (or none), the format name, the message, the resulting name and map.
struct LoadCase {
  const char* what;
  const char* name;
  std::optional<std::string> file;
  std::string message; // empty: no message, the file was read
  const char* name_after;
  const char* map_after; // built-in map expected, or nullptr
};

TEST(LoadPlateFormat, FallbacksAndMessages) {
  const std::string geometry = "\"a\",\"b\",8,2,-.5,12,2,-.5,\"c\"\r\n";
  const std::vector<LoadCase> cases = {
      {"missing w24", "w24", std::nullopt, "Error [/w24.dat] ID#0" + std::string(kFallbackTail),
       "w96f", "w96f"},
      {"missing w384", "w384", std::nullopt, "Error [/w384.dat] ID#0" + std::string(kFallbackTail),
       "w384", "w384"},
      {"missing w96u", "w96u", std::nullopt, "Error [/w96u.dat] ID#0" + std::string(kFallbackTail),
       "w96u", "w96u"},
      {"empty file", "w48", "", "Error [/w48.dat] ID#1" + std::string(kFallbackTail), "w96f",
       "w96f"},
      {"short geometry", "w48", "\"a\",\"b\",8,2\r\n",
       "Error [/w48.dat] ID#1" + std::string(kFallbackTail), "w96f", "w96f"},
      {"text in geometry", "w384", "\"a\",\"b\",x,2,0,12,2,0,\"c\"\r\n",
       "Error [/w384.dat] ID#1" + std::string(kFallbackTail), "w384", "w384"},
      {"no rows", "w48", "\"a\",\"b\",0,2,0,12,2,0,\"c\"\r\n",
       "Error [/w48.dat] ID#1" + std::string(kFallbackTail), "w96f", "w96f"},
      {"bad well", "w48", geometry + "\"A1\",zz,0\r\n",
       "Error [/w48.dat] ID#2" + std::string(kFallbackTail), "w96f", "w96f"},
      {"record cut short", "w48", geometry + "\"A1\",0,0\r\n\"B1\",1\r\n",
       "Error [/w48.dat] ID#2" + std::string(kFallbackTail), "w96f", "w96f"},
      {"well beyond the plate", "w48", geometry + "\"A1\",96,0\r\n",
       "Error [/w48.dat] ID#2" + std::string(kFallbackTail), "w96f", "w96f"},
      {"well below -1", "w48", geometry + "\"A1\",-2,0\r\n",
       "Error [/w48.dat] ID#2" + std::string(kFallbackTail), "w96f", "w96f"},
      {"position out of range", "w48", geometry + "\"A1\",0,384\r\n",
       "Error [/w48.dat] ID#2" + std::string(kFallbackTail), "w96f", "w96f"},
      {"name with a path", "../w384", std::nullopt,
       "Error [/../w384.dat] ID#0" + std::string(kFallbackTail), "w96f", "w96f"},
      {"whole file", "w96u", w96u_like_file(384), "", "w96u", "w96u"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (c.file) write_file(dir / (std::string(c.name) + ".dat"), *c.file);
    FakeDialogs dialogs;
    std::string name = c.name;
    PlateFormat plate;
    const bool read = LoadPlateFormat(dir.path(), name, plate, dialogs);
    EXPECT_EQ(read, c.message.empty());
    if (c.message.empty()) {
      EXPECT_TRUE(dialogs.messages().empty());
    } else {
      EXPECT_EQ(dialogs.messages(), std::vector<std::string>{c.message});
    }
    EXPECT_EQ(name, c.name_after);
    const auto expected = BuiltInPlateFormat(c.map_after);
    EXPECT_EQ(plate.geometry, expected->geometry);
    EXPECT_EQ(plate.map.well_of_channel, expected->map.well_of_channel);
    EXPECT_EQ(plate.map.position_of_channel, expected->map.position_of_channel);
  }
}

TEST(LoadPlateFormat, ShortFileKeepsThePreviousMapOfLaterChannels) {
  TempDir dir;
  write_file(dir / "w96u.dat", w96u_like_file(100));
  FakeDialogs dialogs;
  std::string name = "w96u";
  PlateFormat plate = *BuiltInPlateFormat("w384");
  ASSERT_TRUE(LoadPlateFormat(dir.path(), name, plate, dialogs));
  EXPECT_TRUE(dialogs.messages().empty());

  const auto w96u = BuiltInPlateFormat("w96u");
  for (int channel = 0; channel < 100; ++channel) {
    EXPECT_EQ(plate.map.well_of_channel[channel], w96u->map.well_of_channel[channel]);
  }
  for (int channel = 100; channel < kChannelCount; ++channel) {
    EXPECT_EQ(plate.map.well_of_channel[channel], channel);
  }
  // The greatest well comes from the records read (well 25 at channel 98); channels kept
  // from the previous map beyond it stay out of the table.
  EXPECT_EQ(plate.map.greatest_well, 25);
  EXPECT_EQ(plate.map.ChannelOfWell(25, 0), 98);
  EXPECT_EQ(plate.map.ChannelOfWell(200, 0), -1);
  EXPECT_EQ(plate.map.WellOfChannel(200), (WellPosition{200, 0}));
}

TEST(ReadPlateFormat, FailureLeavesThePlateAsItWas) {
  TempDir dir;
  write_file(dir / "w48.dat", "\"a\",\"b\",8,2,-.5,12,2,-.5,\"c\"\r\n\"A1\",0,0\r\n\"B1\",x,0\r\n");
  PlateFormat plate = *BuiltInPlateFormat("w384");
  const PlateReadResult result = ReadPlateFormat(dir.path(), "w48", plate);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.step, 2);
  EXPECT_EQ(plate, *BuiltInPlateFormat("w384"));
}

TEST(ReadPlateFormat, FileNameMatchesWithoutRegardToCase) {
  TempDir dir;
  write_file(dir / "W96U.DAT", w96u_like_file(384));
  write_file(dir / "w24.bak", w96u_like_file(384));
  PlateFormat plate;
  EXPECT_TRUE(ReadPlateFormat(dir.path(), "w96u", plate).ok);
  EXPECT_EQ(plate.map.ChannelOfWell(8, 0), 32);
  EXPECT_FALSE(FindPlateFormatFile(dir.path(), "w24"));
  EXPECT_EQ(FindPlateFormatFile(dir.path(), "w24", true), dir / "w24.bak");
}

TEST(ReadPlateFormatOrBackup, TakesTheBackupWhenTheFileIsMissing) {
  TempDir dir;
  write_file(dir / "w96u.bak", w96u_like_file(384));
  FakeDialogs dialogs;
  PlateFormat plate = *BuiltInPlateFormat("w384");
  EXPECT_TRUE(ReadPlateFormatOrBackup(dir.path(), "w96u", plate, dialogs).ok);
  EXPECT_EQ(plate.map.ChannelOfWell(8, 0), 32);
  EXPECT_FALSE(ReadPlateFormatOrBackup(dir.path(), "w24", plate, dialogs).ok);
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Multiwell Configuration File w24.dat or .bak not found"});
  EXPECT_EQ(plate.map.ChannelOfWell(8, 0), 32);
}

TEST(ListPlateFormats, LowerCasedSortedPlateFilesOnly) {
  TempDir dir;
  for (const char* file : {"W96F.DAT", "w384.dat", "w6.dat", "config.dat", "w24.bak", "x96.dat",
                           "w48.dat.tmp", "w96f.dat"}) {
    write_file(dir / file, "");
  }
  std::filesystem::create_directory(dir / "w12.dat");
  EXPECT_EQ(ListPlateFormats(dir.path()), (std::vector<std::string>{"w384", "w6", "w96f"}));
  EXPECT_TRUE(ListPlateFormats(dir / "missing").empty());
}

TEST(WellLabel, RowLetterAndColumnNumber) {
  const PlateGeometry g96{8, 2, -0.5, 12, 2, 0};
  EXPECT_EQ(WellLabel(g96, 0), "A1");
  EXPECT_EQ(WellLabel(g96, 17), "B3");
  EXPECT_EQ(WellLabel(g96, 95), "H12");
  EXPECT_EQ(WellLabel(g96, -1), "");
}

} // namespace
} // namespace kestrova::store
