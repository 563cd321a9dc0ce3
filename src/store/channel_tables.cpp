#include "store/channel_tables.hpp"

#include <fmt/format.h>

#include "common/file_commit.hpp"
#include "common/rounding.hpp"
#include "store/record_file.hpp"

namespace kestrova::store {

namespace {

namespace fs = std::filesystem;

constexpr int kNamedGroups = 12; // Group0 .. Group11

enum class TableRead { Ok, Missing, Damaged };

// Reads the header and then up to 385 records of a channel table; `read_value(reader, index)`
// takes the record's second field into entry `index` and returns false on a read error or a
// value out of range. Entries of records read before an error keep their new values.
template <typename ReadValue> TableRead read_table(const fs::path& file, ReadValue read_value) {
  if (!FileExists(file)) return TableRead::Missing;
  auto reader = RecordReader::open(file);
  std::string header;
  if (!reader || !reader->read(header)) return TableRead::Damaged;
  for (int index = 0; index < kChannelSlots && !reader->at_end(); ++index) {
    std::string number;
    if (!reader->read(number) || !read_value(*reader, index)) return TableRead::Damaged;
  }
  return TableRead::Ok;
}

void show_fallback(common::Dialogs& dialogs, int project_number, std::string_view file,
                   std::string_view what) {
  dialogs.message(
      fmt::format("Error [/p{:05d}/{}] => Loading default {}...", project_number, file, what),
      common::Buttons::Ok, common::Icon::Warning);
}

// A table file: its header record, then `count` records of the number and one value.
template <typename Value> std::string table_text(std::string_view header, int count, Value value) {
  RecordWriter writer;
  writer.record({header});
  for (int index = 0; index < count; ++index)
    writer.record({index, value(index)});
  return writer.text();
}

} // namespace

GroupTable::GroupTable() : names(DefaultGroupNames()), channel_group(DefaultChannelGroups()) {}

std::array<std::string, kGroupCount> DefaultGroupNames() {
  std::array<std::string, kGroupCount> names;
  for (int group = 0; group < kGroupCount; ++group) {
    names[group] = group < kNamedGroups ? "Group" + std::to_string(group) : "Free";
  }
  return names;
}

std::array<int, kChannelSlots> DefaultChannelGroups() {
  std::array<int, kChannelSlots> groups;
  groups.fill(kFreeGroup);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    groups[channel] = (beam_column(channel) + 1) / 2;
  }
  return groups;
}

bool LoadChannelStatus(const fs::path& folder, int project_number, ChannelTables& tables,
                       common::Dialogs& dialogs) {
  const TableRead result = read_table(folder / kStatusFile, [&](RecordReader& r, int index) {
    return r.read(tables.status[index]);
  });
  if (result != TableRead::Ok) {
    show_fallback(dialogs, project_number, kStatusFile, "values");
    for (int channel = 0; channel < kChannelCount; ++channel)
      tables.enabled[channel] = true;
    return false;
  }
  for (int channel = 0; channel < kChannelCount; ++channel) {
    tables.enabled[channel] = tables.status[channel] != 0;
  }
  return true;
}

bool LoadThresholds(const fs::path& folder, int project_number, ChannelTables& tables,
                    common::Dialogs& dialogs) {
  const TableRead result = read_table(folder / kThresholdFile, [&](RecordReader& r, int index) {
    return r.read(tables.threshold[index]);
  });
  if (result != TableRead::Ok) {
    show_fallback(dialogs, project_number, kThresholdFile, "values");
    for (int channel = 0; channel < kChannelCount; ++channel) {
      tables.threshold[channel] = kDefaultThreshold;
    }
    return false;
  }
  return true;
}

bool LoadGroupNames(const fs::path& folder, int project_number, GroupTables& groups,
                    common::Dialogs& dialogs) {
  GroupTable& main = groups.main();
  // A regroup that a kill interrupted is completed (or dropped) before either file is read.
  common::settle_pending_commit(folder);
  const TableRead result = read_table(folder / kGroupNamesFile, [&](RecordReader& r, int index) {
    std::string name;
    if (!r.read(name)) return false;
    if (index < kGroupCount) main.names[index] = std::move(name);
    return true;
  });
  if (result == TableRead::Missing) {
    main.names = DefaultGroupNames();
    return true;
  }
  if (result == TableRead::Damaged) {
    show_fallback(dialogs, project_number, kGroupNamesFile, "groups");
    for (GroupTable& set : groups.sets)
      set.names = DefaultGroupNames();
    return false;
  }
  return true;
}

bool LoadChannelGroups(const fs::path& folder, int project_number, GroupTables& groups,
                       common::Dialogs& dialogs) {
  GroupTable& main = groups.main();
  const TableRead result = read_table(folder / kChannelGroupsFile, [&](RecordReader& r, int index) {
    int group = 0;
    if (!r.read(group) || group < kFreeGroup || group >= kGroupCount) return false;
    main.channel_group[index] = group;
    return true;
  });
  if (result == TableRead::Missing) {
    main.channel_group = DefaultChannelGroups();
    return true;
  }
  if (result == TableRead::Damaged) {
    show_fallback(dialogs, project_number, kChannelGroupsFile, "groups");
    main.channel_group = DefaultChannelGroups();
    return false;
  }
  return true;
}

bool LoadChannelTables(const fs::path& folder, int project_number, ChannelTables& tables,
                       GroupTables& groups, common::Dialogs& dialogs) {
  bool all = LoadChannelStatus(folder, project_number, tables, dialogs);
  all = LoadThresholds(folder, project_number, tables, dialogs) && all;
  all = LoadGroupNames(folder, project_number, groups, dialogs) && all;
  return LoadChannelGroups(folder, project_number, groups, dialogs) && all;
}

std::string ChannelStatusText(const ChannelTables& tables) {
  return table_text(kStatusHeader, kChannelCount, [&](int c) { return tables.enabled[c] ? 1 : 0; });
}

std::string ThresholdsText(const ChannelTables& tables) {
  return table_text(kThresholdHeader, kChannelCount, [&](int c) {
    const double rounded = common::round_half_even(tables.threshold[c], 3);
    return rounded == 0 ? 0.0 : rounded;
  });
}

std::string GroupNamesText(const GroupTable& set) {
  return table_text(kGroupNamesHeader, kGroupCount,
                    [&](int g) -> const std::string& { return set.names[g]; });
}

std::string ChannelGroupsText(const GroupTable& set) {
  return table_text(kChannelGroupsHeader, kChannelCount,
                    [&](int c) { return set.channel_group[c]; });
}

const GroupTable& GroupSetForSelector(const GroupTables& groups, int selector) {
  if (selector >= 1 && selector < kStationCount) return groups.sets[selector];
  return groups.main();
}

bool SaveChannelTables(const fs::path& folder, const ChannelTables& tables,
                       const GroupTables& groups, int selector) {
  const GroupTable& set = GroupSetForSelector(groups, selector);
  bool all = save_file_atomically(folder / kStatusFile, ChannelStatusText(tables));
  all = save_file_atomically(folder / kThresholdFile, ThresholdsText(tables)) && all;
  all = save_file_atomically(folder / kGroupNamesFile, GroupNamesText(set)) && all;
  return save_file_atomically(folder / kChannelGroupsFile, ChannelGroupsText(set)) && all;
}

} // namespace kestrova::store
