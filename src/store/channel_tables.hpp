#pragma once

// The channel tables of a project (and of each acquisition's snapshot): which channels are
// enabled, each channel's detection threshold, the group names and the group of each channel,
// kept in the record files status.dat, threshld.dat, groups.dat and chgroup.dat (a header
// record, then one record per channel or group 0..383: the number and the value).
//
// There are four sets of group tables, one per station; set 0 is the main set used by the
// setup editor, the reports and the project save. Only the main set is read from files.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/dialogs.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::store {

inline constexpr int kGroupCount = 384; // group numbers 0..383
inline constexpr int kFreeGroup = -1;   // a channel in no group
inline constexpr int kStationCount = 4; // sets of group tables
inline constexpr double kDefaultThreshold = 3;

inline constexpr std::string_view kStatusFile = "status.dat";
inline constexpr std::string_view kThresholdFile = "threshld.dat";
inline constexpr std::string_view kGroupNamesFile = "groups.dat";
inline constexpr std::string_view kChannelGroupsFile = "chgroup.dat";

inline constexpr std::string_view kStatusHeader = "<Channel>, <Enabled>";
inline constexpr std::string_view kThresholdHeader = "<Channel>, <Threshold>";
inline constexpr std::string_view kGroupNamesHeader = "<Group_Number>, <Group_Name>";
inline constexpr std::string_view kChannelGroupsHeader = "<Channel>, <Group: -1=Free>";

// Per-channel enable flags and thresholds (385 slots; slot 384 is never a channel).
struct ChannelTables {
  std::array<int, kChannelSlots> status;       // as read from status.dat (non-zero = enabled)
  std::array<bool, kChannelSlots> enabled;     // derived from status on load
  std::array<double, kChannelSlots> threshold; // detection threshold

  ChannelTables() {
    status.fill(1);
    enabled.fill(true);
    threshold.fill(kDefaultThreshold);
  }
  friend bool operator==(const ChannelTables&, const ChannelTables&) = default;
};

// One set of group tables: the name of each group and the group of each channel.
struct GroupTable {
  std::array<std::string, kGroupCount> names;   // name of group k
  std::array<int, kChannelSlots> channel_group; // group of channel c, kFreeGroup for none

  GroupTable(); // the defaults below
  friend bool operator==(const GroupTable&, const GroupTable&) = default;
};

// The four sets, indexed by station 0..3; sets[0] is the main set.
struct GroupTables {
  std::array<GroupTable, kStationCount> sets;

  GroupTable& main() { return sets[0]; }
  const GroupTable& main() const { return sets[0]; }
  friend bool operator==(const GroupTables&, const GroupTables&) = default;
};

// Default group names: "Group0" .. "Group11", then "Free" for groups 12..383.
std::array<std::string, kGroupCount> DefaultGroupNames();

// Default channel groups: the channel of beam column c is in group (c + 1) div 2, so column 0
// is group 0, columns 1-2 group 1, ..., columns 21-22 group 11 and column 23 group 12.
std::array<int, kChannelSlots> DefaultChannelGroups();

// Readers. Each reads the file of `folder` into its table: the header, then up to 385
// records whose second field goes to entry 0, 1, 2, ...; a file with fewer records leaves the
// later entries as they were. On a missing or damaged file the reader shows its fallback
// message "Error [/p<nnnnn>/<file>] => Loading default values..." (status, thresholds) or
// "... => Loading default groups..." (group files), n being `project_number`, sets the
// defaults and returns false. A missing groups.dat or chgroup.dat silently gives the default
// of the main table and returns true. A group number outside -1..383 counts as damage.

// status.dat into status, then enabled (true where status is non-zero). Fallback: all
// channels enabled.
bool LoadChannelStatus(const std::filesystem::path& folder, int project_number,
                       ChannelTables& tables, common::Dialogs& dialogs);

// threshld.dat into threshold. Fallback: every threshold 3.
bool LoadThresholds(const std::filesystem::path& folder, int project_number, ChannelTables& tables,
                    common::Dialogs& dialogs);

// groups.dat into the main set's names. Fallback: default names in all four sets.
bool LoadGroupNames(const std::filesystem::path& folder, int project_number, GroupTables& groups,
                    common::Dialogs& dialogs);

// chgroup.dat into the main set's channel groups. Fallback: default groups in the main set.
bool LoadChannelGroups(const std::filesystem::path& folder, int project_number, GroupTables& groups,
                       common::Dialogs& dialogs);

// The four readers in order (as the project load runs them). True when all files were read.
bool LoadChannelTables(const std::filesystem::path& folder, int project_number,
                       ChannelTables& tables, GroupTables& groups, common::Dialogs& dialogs);

// The bytes of each file as the writers save them: header, then records 0..383. Thresholds are
// rounded to three decimals (halves to even) and written with '.' whatever the locale.
std::string ChannelStatusText(const ChannelTables& tables);
std::string ThresholdsText(const ChannelTables& tables);
std::string GroupNamesText(const GroupTable& set);
std::string ChannelGroupsText(const GroupTable& set);

// The set of group tables that a project save with station selector `selector` writes:
// -1 or 0 give the main set, 1..3 sets 1..3; any other value the main set.
const GroupTable& GroupSetForSelector(const GroupTables& groups, int selector);

// Writes status.dat, threshld.dat, groups.dat and chgroup.dat anew in `folder` (each replaced
// atomically, no backup), the group files from the set chosen by `selector`. Returns true when
// all four were written; a failed file does not stop the others.
bool SaveChannelTables(const std::filesystem::path& folder, const ChannelTables& tables,
                       const GroupTables& groups, int selector = 0);

} // namespace kestrova::store
