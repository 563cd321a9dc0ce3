#pragma once

// The group editor of the setup window: the list of groups, the two lists of wells, moving
// wells between them, click and drag assignment on the plate map, renaming and clearing
// groups, and the automatic arrangement into blocks of wells. It edits the main set of group
// tables of the current project; a channel takes part only when it is enabled and in a well.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/dialogs.hpp"
#include "setup_editor/plate_map.hpp"
#include "store/project_state.hpp"

namespace kestrova::setup_editor {

enum class MouseButton { Left, Right, Other };

// The group list entry of group k: "003_Group3".
std::string group_entry(int group, std::string_view name);

// The well list entry of a channel: row letter, column number, ".", position ("B3.1").
std::string well_entry(const store::PlateFormat& plate, int channel);

// The well named by a well list entry ("B3.1" gives B3), or nullopt when the entry names no
// well of the plate.
std::optional<int> well_of_entry(const store::PlateGeometry& g, std::string_view entry);

// The block sizes that divide the plate, "02x03 [RowsxColumn]", for columns per block 1..16
// (outer) and rows per block 1..16 (inner).
std::vector<std::string> set_sizes(const store::PlateGeometry& g);

// The entry Combo_sets selects: the third when there are more than two, else the first.
int default_set_index(std::size_t count);

// Rows and columns per block of a set size entry (characters 1-2 and 4-5); nullopt when they
// are not numbers above 0.
std::optional<std::pair<int, int>> parse_set_size(std::string_view entry);

// The index a list keeps after it was rebuilt: the same, or the last entry when it got shorter
// (-1 for an empty list).
int kept_selection(int index, std::size_t count);

class GroupEditor {
public:
  explicit GroupEditor(store::ProjectState& project) : project_(project) {}

  // Rebuilds the group list (a used group named "Free" is renamed "Group" + number), keeping
  // the current group selected when it is still listed, else the first entry.
  void refresh();
  // combogrup's entries and the selected one.
  const std::vector<std::string>& group_entries() const { return entries_; }
  const std::vector<int>& group_numbers() const { return numbers_; }
  int selected_entry() const { return selected_; }
  // The current group (the number of the selected entry).
  int current_group() const { return current_; }
  // combogrup click: selects the entry at `index`.
  void select_entry(int index);

  // lstgrup: the wells of the current group; lstchgrup: the free wells (enabled channels in a
  // well, in channel order).
  std::vector<std::string> group_wells() const;
  std::vector<std::string> free_wells() const;
  // Moves every channel of the entry's well into the current group (from the free list) or
  // frees it (from the group list), whatever its enabled state. False when the entry names no
  // well.
  bool add_well(std::string_view free_entry);
  bool free_well(std::string_view group_entry);

  // Mouse input on the plate map (world coordinates). Ignored until the window is ready and
  // while the pointer is beyond the plate.
  void set_ready(bool ready) { ready_ = ready; }
  bool ready() const { return ready_; }
  // Press: the well under the pointer joins the current group (left: its free enabled
  // channels) or is freed (right: its enabled channels); starts a drag. Returns the well's
  // number as the caption, or nullopt when ignored.
  std::optional<std::string> press(double x, double y, MouseButton button);
  // Move: returns the caption ("B3") of the well under the pointer while over the plate.
  std::optional<std::string> move(double x, double y);
  // Release: every enabled channel of the wells from the anchor to the pointer gets
  // `target_group` (left) or is freed (right). Ends the drag. True when the groups changed.
  bool release(double x, double y, MouseButton button, int target_group);
  bool dragging() const { return dragging_; }
  bool outside() const { return outside_; }
  // The rubber band to draw while dragging.
  std::optional<RubberBand> rubber_band() const;

  // Rename (combogrup double-click, Enter, "Rename"): asks for the current group's new name.
  // A non-empty answer is stored as a record file keeps it. True when renamed.
  bool rename_current(common::Dialogs& dialogs);
  // "Clear Group": asks "Clear Group #003?"; Yes names the group "Free" and frees its channels.
  bool clear_current(common::Dialogs& dialogs);
  // Every channel free, every group name "Free".
  void clear_all();
  // Blocks of `rows` x `columns` wells, group s for block s, started at the first well whose
  // first beam is free.
  void auto_arrange(int rows, int columns);

  store::ProjectState& project() { return project_; }
  const store::ProjectState& project() const { return project_; }

private:
  store::GroupTable& groups() { return project_.groups.main(); }
  const store::GroupTable& groups() const { return project_.groups.main(); }
  bool usable(int channel) const; // enabled and in a well
  std::vector<std::string> wells_of(int group) const;
  // Sets the group of every channel of `well`; `only` filters the channels changed.
  template <typename Filter> void assign_well(int well, int group, Filter only);

  store::ProjectState& project_;
  std::vector<std::string> entries_;
  std::vector<int> numbers_;
  int selected_ = -1;
  int current_ = 0;
  bool ready_ = false;
  bool dragging_ = false;
  bool outside_ = false;
  WellCell anchor_;
  WellCell last_;
};

} // namespace kestrova::setup_editor
