#pragma once

// Plate formats: where the wells of a microplate lie over the 16 x 24 beam grid, and which
// well (and which position inside it) each beam belongs to.
//
// Lengths are in beam units: one unit is the beam pitch (4.5 mm); beam row r spans [r, r + 1]
// from the top edge of beam row 0 and beam column c spans [c, c + 1] from the left edge of
// beam column 0, so a beam's centre is (r + 0.5, c + 0.5).
//
// Wells are numbered from 0 down each column: well w lies in well row (w mod rows) and well
// column (w div rows); in a 96-well plate well 0 is A1, well 1 is B1 and well 8 is A2.
//
// A plate format file "<name>.dat" (lower-case name beginning with 'w') is a record file in the
// data folder holding, in order: two Strings (descriptive), the six geometry values (Integer
// rows, Real row pitch, Real row offset, Integer columns, Real column pitch, Real column
// offset), one String (descriptive), then up to 385 channel records in channel order: a String
// label, the Integer well (-1 for a beam between wells) and the Integer position.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/dialogs.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::store {

// The plate's rows and columns of wells and where the first well's edges lie, in beam units.
struct PlateGeometry {
  int rows = 8;
  double row_pitch = 2;     // height of one well row
  double row_offset = -0.5; // top edge of well row 0, relative to the top edge of beam row 0
  int columns = 12;
  double column_pitch = 2;  // width of one well column
  double column_offset = 0; // left edge of well column 0, relative to beam column 0

  friend bool operator==(const PlateGeometry&, const PlateGeometry&) = default;
};

// The well of a channel and the beam's index inside that well (0 for the first beam).
struct WellPosition {
  int well = -1; // -1: the beam lies in no well
  int position = 0;

  friend bool operator==(const WellPosition&, const WellPosition&) = default;
};

// The well map: per channel its well and position, and the inverse well-channel table.
struct WellMap {
  std::array<int, kChannelSlots> well_of_channel;     // -1 for a beam in no well
  std::array<int, kChannelSlots> position_of_channel; // 0 for the first beam of a well
  int greatest_well = 0;
  int greatest_position = 0;
  // (greatest_well + 1) x (greatest_position + 1) channels, indexed well * (greatest_position
  // + 1) + position; an entry no channel fills holds 0. Rebuilt by rebuild_well_channel_table.
  std::vector<int> well_channel = {0};

  WellMap() {
    well_of_channel.fill(-1);
    position_of_channel.fill(0);
  }

  // Sizes the table from greatest_well/greatest_position and stores every channel 0..383 that
  // has a well at (well, position); of two channels claiming one entry the higher remains.
  // Channels whose well or position lies outside the table are left out.
  void rebuild_well_channel_table();

  // The channel at (well, position): 0 for an entry no channel fills, -1 when the well or the
  // position lies outside the table.
  int ChannelOfWell(int well, int position) const;

  // The well (-1 for none) and position of a channel; {-1, 0} for a channel outside 0..383.
  WellPosition WellOfChannel(int channel) const;

  friend bool operator==(const WellMap&, const WellMap&) = default;
};

// Geometry and well map of the plate in use.
struct PlateFormat {
  PlateGeometry geometry;
  WellMap map;

  friend bool operator==(const PlateFormat&, const PlateFormat&) = default;
};

// The names of the formats that have a built-in map.
inline constexpr std::string_view kPlateW384 = "w384";
inline constexpr std::string_view kPlateW96u = "w96u";
inline constexpr std::string_view kPlateW96f = "w96f";

// The built-in map of w384, w96u or w96f (name compared without regard to case); nullopt for
// any other name. The two 96-well maps give 96 as the greatest well (wells 0..95 exist), so
// their table has one unfilled row more than wells.
std::optional<PlateFormat> BuiltInPlateFormat(std::string_view name);

// Where a read stopped: 0 before the file was opened, 1 after opening, 2 after the geometry
// and the third String, 3 after the channel records (success).
struct PlateReadResult {
  bool ok = false;
  int step = 0;
};

// Reads a plate format file into `plate`. Channel records update the map in place, so a file
// with fewer than 384 records leaves the later channels as they were. On failure `plate` is
// left unchanged. A damaged file (a field missing or not a number, fewer than one row or
// column, a pitch not above 0, a well beyond the plate or below -1 other than "none", a
// position outside 0..383) fails at the step it was in.
PlateReadResult ReadPlateFormatFile(const std::filesystem::path& file, PlateFormat& plate);

// The file of a format in `folder`: "<name>.dat", matched without regard to case; with
// `accept_bak` also "<name>.bak" when the .dat is missing. nullopt when none exists or the
// name is not a plain file name (empty, with a path separator, or "..").
std::optional<std::filesystem::path> FindPlateFormatFile(const std::filesystem::path& folder,
                                                         std::string_view name,
                                                         bool accept_bak = false);

// Reads the plate file of format `name` from `folder` without any fallback.
PlateReadResult ReadPlateFormat(const std::filesystem::path& folder, std::string_view name,
                                PlateFormat& plate);

// Reads the plate file of format `format_name` from the data folder `folder`; on any failure
// shows "Error [/<name>.dat] ID#<step> => Loading plate format from default: 384,96f or
// 96u...", turns a name other than w384, w96u and w96f into "w96f" and sets the built-in map
// of that name. Returns true when the file was read.
bool LoadPlateFormat(const std::filesystem::path& folder, std::string& format_name,
                     PlateFormat& plate, common::Dialogs& dialogs);

// The names of the plate format files in `folder`: every file matching w*.dat (without regard
// to case), lower-cased, ".dat" cut off, sorted and without repeats. Names that could not be
// kept in a record file String (a double quote or a line break) are left out.
std::vector<std::string> ListPlateFormats(const std::filesystem::path& folder);

// "Multiwell Configuration File <name>.dat or .bak not found": the message of the readers that
// accept the .bak file when the .dat file is missing.
std::string PlateFileNotFoundMessage(std::string_view name);

// The reading of the report window and the experiment browser: the plate file of format `name`
// in `folder`, or "<name>.bak" when the .dat is missing. Shows PlateFileNotFoundMessage when
// neither exists. No built-in fallback; on failure `plate` is unchanged.
PlateReadResult ReadPlateFormatOrBackup(const std::filesystem::path& folder, std::string_view name,
                                        PlateFormat& plate, common::Dialogs& dialogs);

// The label of a well: row letter (code 65 + well mod rows) and column number (well div rows
// + 1), e.g. "B3". Empty for a negative well or a geometry without rows.
std::string WellLabel(const PlateGeometry& geometry, int well);

} // namespace kestrova::store
