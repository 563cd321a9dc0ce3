#include "acquisition/live_display_choice.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace kestrova::acquisition {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

} // namespace

std::vector<int> groups_in_use(const store::GroupTable& groups) {
  std::vector<bool> used(store::kGroupCount, false);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int g = groups.channel_group[static_cast<std::size_t>(c)];
    if (g >= 0 && g < store::kGroupCount) used[static_cast<std::size_t>(g)] = true;
  }
  std::vector<int> out;
  for (int g = 0; g < store::kGroupCount; ++g)
    if (used[static_cast<std::size_t>(g)]) out.push_back(g);
  return out;
}

std::vector<std::string> group_entries(const store::GroupTable& groups) {
  std::vector<std::string> out;
  for (int g : groups_in_use(groups))
    out.push_back(fmt::format("{:03}_{}", g, groups.names[static_cast<std::size_t>(g)]));
  return out;
}

std::optional<int> group_of_entry(std::string_view entry) {
  const std::string_view head = entry.substr(0, 3);
  if (head.empty() || !std::all_of(head.begin(), head.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return std::nullopt;
  return std::stoi(std::string(head));
}

std::vector<WellEntry> group_well_list(const store::GroupTable& groups,
                                       const store::ChannelTables& channels,
                                       const store::PlateFormat& plate, int group) {
  std::vector<WellEntry> out;
  for (int c = 0; c < store::kChannelCount; ++c) {
    const auto i = static_cast<std::size_t>(c);
    const int well = plate.map.well_of_channel[i];
    if (groups.channel_group[i] != group || !channels.enabled[i] || well < 0) continue;
    const int position = plate.map.position_of_channel[i];
    out.push_back({c, well, position,
                   store::WellLabel(plate.geometry, well) + "." + std::to_string(position)});
  }
  return out;
}

std::vector<int> distinct_wells(const std::vector<WellEntry>& entries) {
  std::vector<int> out;
  for (const WellEntry& e : entries)
    if (std::find(out.begin(), out.end(), e.well) == out.end()) out.push_back(e.well);
  return out;
}

std::vector<int> channels_of_well(const store::PlateFormat& plate, int well) {
  std::vector<int> out;
  for (int p = 0; p <= plate.map.greatest_position; ++p) {
    const int c = plate.map.ChannelOfWell(well, p);
    if (c >= 0 && c < store::kChannelCount &&
        plate.map.well_of_channel[static_cast<std::size_t>(c)] == well)
      out.push_back(c);
  }
  return out;
}

ChannelPick pick_channel(const store::PlateFormat& plate, int row, int column, int position,
                         bool from_row) {
  const store::PlateGeometry& g = plate.geometry;
  ChannelPick pick;
  pick.well = (column - 1) * g.rows + row;
  if (from_row) {
    if (pick.well >= g.rows * g.columns || pick.well < 0) {
      pick.well = 0;
      pick.reset_row_column = true;
    }
    if (position > plate.map.greatest_position || position < 0) {
      position = 0;
      pick.reset_position = true;
    }
  }
  const int c = plate.map.ChannelOfWell(pick.well, position);
  if (c >= 0) pick.channel = c;
  return pick;
}

BodyBendsBox body_bends_changed(bool checked, std::string_view plate_format) {
  const bool undivided = lower(plate_format) == store::kPlateW96u;
  BodyBendsBox box;
  box.box_visible = undivided;
  if (checked && undivided) {
    box.mode = box.checked = box.histogram_button = true;
    box.warning = "WARNING!\r\nExperimental functionality! Beta testing.\r\n"
                  "Contact us for more information";
  }
  return box;
}

} // namespace kestrova::acquisition
