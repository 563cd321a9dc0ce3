#include "setup_editor/group_editor.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "store/record_file.hpp"

namespace kestrova::setup_editor {

namespace {

constexpr std::string_view kFreeName = "Free";

std::string three_digits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%03d", n);
  return buf;
}

std::string two_digits(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

std::optional<int> small_number(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

} // namespace

std::string group_entry(int group, std::string_view name) {
  return three_digits(group) + "_" + std::string(name);
}

std::string well_entry(const store::PlateFormat& plate, int channel) {
  const store::WellPosition wp = plate.map.WellOfChannel(channel);
  return store::WellLabel(plate.geometry, wp.well) + "." + std::to_string(wp.position);
}

std::optional<int> well_of_entry(const store::PlateGeometry& g, std::string_view entry) {
  if (entry.size() < 2 || g.rows <= 0) return std::nullopt;
  const int row = static_cast<unsigned char>(entry[0]) - 'A';
  const std::size_t dot = entry.find('.');
  const auto column = small_number(entry.substr(1, dot == std::string_view::npos ? dot : dot - 1));
  if (row < 0 || row >= g.rows || !column || *column < 1 || *column > g.columns)
    return std::nullopt;
  return g.rows * (*column - 1) + row;
}

std::vector<std::string> set_sizes(const store::PlateGeometry& g) {
  std::vector<std::string> sizes;
  for (int c = 1; c <= 16; ++c)
    for (int r = 1; r <= 16; ++r)
      if (g.columns % c == 0 && g.rows % r == 0)
        sizes.push_back(two_digits(r) + "x" + two_digits(c) + " [RowsxColumn]");
  return sizes;
}

int default_set_index(std::size_t count) { return count > 2 ? 2 : 0; }

std::optional<std::pair<int, int>> parse_set_size(std::string_view entry) {
  if (entry.size() < 5) return std::nullopt;
  const auto rows = small_number(entry.substr(0, 2));
  const auto columns = small_number(entry.substr(3, 2));
  if (!rows || !columns || *rows < 1 || *columns < 1) return std::nullopt;
  return std::pair{*rows, *columns};
}

int kept_selection(int index, std::size_t count) {
  if (count == 0) return -1;
  return std::clamp(index, 0, static_cast<int>(count) - 1);
}

// --- Group list ---

void GroupEditor::refresh() {
  std::array<bool, store::kGroupCount> used{};
  int highest = -1;
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int g = groups().channel_group[static_cast<std::size_t>(c)];
    if (g < 0 || g >= store::kGroupCount) continue;
    used[static_cast<std::size_t>(g)] = true;
    highest = std::max(highest, g);
  }
  entries_.clear();
  numbers_.clear();
  for (int k = 0; k < store::kGroupCount; ++k) {
    const auto slot = static_cast<std::size_t>(k);
    if (!used[slot] && k > highest + 1) continue;
    if (used[slot] && groups().names[slot] == kFreeName)
      groups().names[slot] = "Group" + std::to_string(k);
    entries_.push_back(group_entry(k, groups().names[slot]));
    numbers_.push_back(k);
  }
  const auto it = std::find(numbers_.begin(), numbers_.end(), current_);
  selected_ = it != numbers_.end() ? static_cast<int>(it - numbers_.begin()) : 0;
  current_ = numbers_[static_cast<std::size_t>(selected_)];
}

void GroupEditor::select_entry(int index) {
  if (index < 0 || index >= static_cast<int>(numbers_.size())) return;
  selected_ = index;
  current_ = numbers_[static_cast<std::size_t>(index)];
}

// --- Well lists ---

bool GroupEditor::usable(int channel) const {
  const auto slot = static_cast<std::size_t>(channel);
  return project_.channels.enabled[slot] && project_.plate.map.well_of_channel[slot] >= 0;
}

std::vector<std::string> GroupEditor::wells_of(int group) const {
  std::vector<std::string> wells;
  for (int c = 0; c < store::kChannelCount; ++c)
    if (usable(c) && groups().channel_group[static_cast<std::size_t>(c)] == group)
      wells.push_back(well_entry(project_.plate, c));
  return wells;
}

std::vector<std::string> GroupEditor::group_wells() const { return wells_of(current_); }

std::vector<std::string> GroupEditor::free_wells() const { return wells_of(store::kFreeGroup); }

template <typename Filter> void GroupEditor::assign_well(int well, int group, Filter only) {
  // The channels are found through the well map itself: the well-channel table holds channel
  // 0 where a well has fewer beams than the greatest position, which must not be moved.
  for (int c = 0; c < store::kChannelCount; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    if (project_.plate.map.well_of_channel[slot] == well && only(c))
      groups().channel_group[slot] = group;
  }
}

bool GroupEditor::add_well(std::string_view free_entry) {
  const auto well = well_of_entry(project_.plate.geometry, free_entry);
  if (!well) return false;
  assign_well(*well, current_, [](int) { return true; });
  return true;
}

bool GroupEditor::free_well(std::string_view group_entry) {
  const auto well = well_of_entry(project_.plate.geometry, group_entry);
  if (!well) return false;
  assign_well(*well, store::kFreeGroup, [](int) { return true; });
  return true;
}

// --- Mouse ---

std::optional<std::string> GroupEditor::press(double x, double y, MouseButton button) {
  outside_ = !over_plate(project_.plate.geometry, x, y);
  if (!ready_ || outside_ || button == MouseButton::Other) return std::nullopt;
  const WellCell cell = well_at(project_.plate.geometry, x, y);
  const auto enabled = [this](int c) {
    return project_.channels.enabled[static_cast<std::size_t>(c)];
  };
  if (button == MouseButton::Left)
    assign_well(cell.well, current_, [&](int c) {
      return enabled(c) && groups().channel_group[static_cast<std::size_t>(c)] == store::kFreeGroup;
    });
  else
    assign_well(cell.well, store::kFreeGroup, enabled);
  anchor_ = cell;
  last_ = cell;
  dragging_ = true;
  return std::to_string(cell.well);
}

std::optional<std::string> GroupEditor::move(double x, double y) {
  outside_ = !over_plate(project_.plate.geometry, x, y);
  if (!ready_ || outside_) return std::nullopt;
  last_ = well_at(project_.plate.geometry, x, y);
  return store::WellLabel(project_.plate.geometry, last_.well);
}

bool GroupEditor::release(double x, double y, MouseButton button, int target_group) {
  outside_ = !over_plate(project_.plate.geometry, x, y);
  const bool was_dragging = dragging_;
  // A release beyond the plate assigns nothing but still ends the drag, so no band is left.
  dragging_ = false;
  if (!ready_ || outside_ || !was_dragging || button == MouseButton::Other) return false;
  if (target_group < 0 || target_group >= store::kGroupCount) return false;
  const WellCell cell = well_at(project_.plate.geometry, x, y);
  const int group = button == MouseButton::Left ? target_group : store::kFreeGroup;
  const int rows = project_.plate.geometry.rows;
  for (int column = std::min(anchor_.column, cell.column);
       column <= std::max(anchor_.column, cell.column); ++column)
    for (int row = std::min(anchor_.row, cell.row); row <= std::max(anchor_.row, cell.row); ++row)
      assign_well(rows * column + row, group,
                  [this](int c) { return project_.channels.enabled[static_cast<std::size_t>(c)]; });
  return true;
}

std::optional<RubberBand> GroupEditor::rubber_band() const {
  if (!dragging_) return std::nullopt;
  return RubberBand{anchor_, last_};
}

// --- Rename and clear ---

bool GroupEditor::rename_current(common::Dialogs& dialogs) {
  const auto slot = static_cast<std::size_t>(current_);
  const auto answer = dialogs.input("Enter New Group (" + three_digits(current_) + ") Name", {},
                                    groups().names[slot]);
  if (!answer || answer->empty()) return false;
  groups().names[slot] = store::record_safe_text(*answer);
  if (selected_ >= 0)
    entries_[static_cast<std::size_t>(selected_)] = group_entry(current_, groups().names[slot]);
  return true;
}

bool GroupEditor::clear_current(common::Dialogs& dialogs) {
  if (dialogs.message("Clear Group #" + three_digits(current_) + "?",
                      common::Buttons::YesNoCancel) != common::Answer::Yes)
    return false;
  groups().names[static_cast<std::size_t>(current_)] = std::string(kFreeName);
  for (int& g : groups().channel_group)
    if (g == current_) g = store::kFreeGroup;
  return true;
}

void GroupEditor::clear_all() {
  groups().channel_group.fill(store::kFreeGroup);
  groups().names.fill(std::string(kFreeName));
}

void GroupEditor::auto_arrange(int rows, int columns) {
  if (rows < 1 || columns < 1) return;
  clear_all();
  const store::WellMap& map = project_.plate.map;
  const int greatest = map.greatest_well;
  const int plate_rows = project_.plate.geometry.rows;
  const int blocks = greatest / (rows * columns);
  // The channel at position 0 of each well, -1 for a well without one.
  std::vector<int> first_beam(static_cast<std::size_t>(std::max(greatest, 0) + 1), -1);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const auto slot = static_cast<std::size_t>(c);
    const int w = map.well_of_channel[slot];
    if (w >= 0 && w <= greatest && map.position_of_channel[slot] == 0)
      first_beam[static_cast<std::size_t>(w)] = c;
  }
  // Wells a block already took: a well whose first beam stays free because it is disabled
  // must not become the start of every later block.
  std::vector<bool> taken(first_beam.size(), false);
  for (int s = 0; s <= blocks && s < store::kGroupCount; ++s) {
    int start = 0;
    for (int w = 0; w <= greatest; ++w) {
      const int c = first_beam[static_cast<std::size_t>(w)];
      if (c >= 0 && !taken[static_cast<std::size_t>(w)] &&
          groups().channel_group[static_cast<std::size_t>(c)] == store::kFreeGroup) {
        start = w;
        break;
      }
    }
    for (int j = 1; j <= rows; ++j)
      for (int k = 1; k <= columns; ++k) {
        if (s * j * k > greatest) continue;
        const int target = plate_rows * (k - 1) + start + j - 1;
        if (target >= 0 && target <= greatest) taken[static_cast<std::size_t>(target)] = true;
        assign_well(target, s, [this](int c) {
          const auto slot = static_cast<std::size_t>(c);
          return project_.channels.enabled[slot] &&
                 groups().channel_group[slot] == store::kFreeGroup;
        });
        groups().names[static_cast<std::size_t>(s)] = "Group" + std::to_string(s);
      }
  }
}

} // namespace kestrova::setup_editor
