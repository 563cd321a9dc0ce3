#pragma once

// The live display's choices that do not draw: the group list, a group's well list, the channel
// picked by row, column and beam position, and the body-bend mode box.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"

namespace kestrova::acquisition {

// One item of a group's well list (`lstgrup`): a channel and the text shown for it.
struct WellEntry {
  int channel = 0;
  int well = 0;
  int position = 0;
  std::string text; // row letter, column number, ".", beam position: "B3.1"
};

// The groups 0..383 that hold at least one channel 0..383, in group order.
std::vector<int> groups_in_use(const store::GroupTable& groups);

// `combogrup` entries: each group in use as its number formatted "000", "_" and its name.
std::vector<std::string> group_entries(const store::GroupTable& groups);

// The group number of a `combogrup` entry: the value of its first three characters; nullopt
// when they are not a number.
std::optional<int> group_of_entry(std::string_view entry);

// The well list of `group`: its enabled channels that lie in a well, in channel order.
std::vector<WellEntry> group_well_list(const store::GroupTable& groups,
                                       const store::ChannelTables& channels,
                                       const store::PlateFormat& plate, int group);

// The wells of a well list, each once, in the order of their first entry.
std::vector<int> distinct_wells(const std::vector<WellEntry>& entries);

// The channels of `well` at beam positions 0..the largest position, as the inverse table
// holds them (only entries whose channel really lies in that well).
std::vector<int> channels_of_well(const store::PlateFormat& plate, int well);

// The channel picked with `Combofila` (row letter index), `Combocol` (column number from 1) and
// `txtsub` (beam position), and the corrections the controls take.
struct ChannelPick {
  int well = 0;
  std::optional<int> channel;    // nullopt when the inverse table has no entry
  bool reset_row_column = false; // show "A" and "1" again
  bool reset_position = false;   // show "0" again in txtsub
};

// well = (column - 1) * rows + row. With `from_row` (a `Combofila` change) a well beyond the
// plate resets the choice to A1, and a position above the largest one resets it to 0.
ChannelPick pick_channel(const store::PlateFormat& plate, int row, int column, int position,
                         bool from_row);

// What a change of the "Body-Bends Mode (Experimental)" box leads to.
struct BodyBendsBox {
  bool mode = false;             // the body-bend mode flag
  bool checked = false;          // the box's check mark afterwards
  bool box_visible = true;       // the box itself
  bool histogram_button = false; // Cmd_histoplot
  std::string warning;           // a text to show, empty for none
};

// Body-bend mode is only for the "w96u" plate format: checking it with any other format clears
// the flag, unchecks and hides the box.
BodyBendsBox body_bends_changed(bool checked, std::string_view plate_format);

} // namespace kestrova::acquisition
