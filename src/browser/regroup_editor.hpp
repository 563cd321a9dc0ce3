#pragma once

// The group re-assignment editor of the experiment browser: the groups of one recorded
// acquisition redrawn on its plate (click and drag), renamed, laid out in regular blocks or
// cleared, all in memory; then saved into the acquisition folder, the previous group files
// kept as backups, or thrown away. The editing rules are the setup editor's group editor,
// which this drives on the acquisition's own tables.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/canvas.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "setup_editor/group_editor.hpp"
#include "setup_editor/plate_map.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"
#include "store/project_state.hpp"

namespace kestrova::browser {

using setup_editor::MouseButton;

inline constexpr std::string_view kClearGroupsQuestion = "Do you like to Clear Group lists?";
inline constexpr std::string_view kSaveGroupsQuestion = "Do you like to Save Changes?";
inline constexpr std::string_view kGroupsSaved = "New Groups applied and saved";
inline constexpr std::string_view kGroupsNotSaved = "Error updating group files at ";
inline constexpr std::string_view kGroupsRestored = "Original groups restored";
// What a save into a folder being recorded is refused as (see store::busy_folder_refusal).
inline constexpr std::string_view kRegroupBusy = "Saving new groups";

// The plate as the browser's editor draws it.
inline constexpr const setup_editor::PlateStyle& kRegroupPlate = setup_editor::kBrowserPlate;

// The stamp of the dated backups: two-digit year, day of the year without leading zeros, then
// month, day, hour and minute with two digits each ("246503051407" for 14:07 on 5 March 2024).
std::string backup_stamp(common::LocalTime when);

// Saves `groups` as groups.dat and chgroup.dat of `folder`. The previous files are first kept
// as groups.bak and chgroup.bak and as "groups" + stamp + ".bak" and "chgroup" + stamp + ".bak"
// (a dated backup already made in the same minute is kept, so the groups from before a first
// save stay recoverable). The backups and both new files are replaced in one commit
// (common::FileCommit): whatever fails before it, every file keeps its old bytes and false is
// returned; a kill after it is completed by the next open of the folder. A file that did not
// exist needs no backup. A folder that an acquisition is recording into (store::FolderLock) is
// left alone: false.
bool save_acquisition_groups(const std::filesystem::path& folder, const store::GroupTable& groups,
                             common::LocalTime when);

// Puts the groups of a backup back: groups.bak and chgroup.bak for an empty stamp, else the
// dated pair of that stamp; saved as above, so the groups replaced are backed up in turn. False
// (nothing changed) when either backup is missing or unreadable, or the save fails (also for a
// folder being recorded).
bool restore_group_backups(const std::filesystem::path& folder, std::string_view stamp,
                           common::LocalTime when);

// The tables of the current acquisition that the editor changes or consults.
struct RegroupAcquisition {
  std::filesystem::path folder; // the acquisition folder, where the groups are saved
  store::GroupTable groups;
  store::ChannelTables channels;
  store::PlateFormat plate;
};

class RegroupEditor {
public:
  // Opening the editor: the block sizes with the third (or first) selected, the group list
  // with group 0 selected and both lists filled.
  explicit RegroupEditor(RegroupAcquisition acquisition);
  RegroupEditor(const RegroupEditor&) = delete;
  RegroupEditor& operator=(const RegroupEditor&) = delete;

  // `Combo_sets`: "02x03 [RowsxColumn]" ...
  const std::vector<std::string>& set_sizes() const { return sets_; }
  int selected_set() const { return selected_set_; }
  void select_set(int index);

  // `combogrup2`: groups 0 to one past the highest in use, "000_Name"; choosing one selects
  // its group.
  const std::vector<std::string>& group_entries() const { return editor_.group_entries(); }
  int selected_entry() const { return editor_.selected_entry(); }
  void select_entry(int index) { editor_.select_entry(index); }
  int current_group() const { return editor_.current_group(); }

  // `lstgrup2`: the wells ("A1") whose first beam is in the selected group.
  std::vector<std::string> group_wells() const;
  // `lstchgrup2`: the free enabled channels that lie in a well ("A1.0").
  std::vector<std::string> free_channels() const { return editor_.free_wells(); }

  // Mouse on the plate (world coordinates). Press: left puts the well's free enabled channels
  // into the selected group, right frees its enabled channels. Release: every enabled channel
  // of the wells from the pressed well to this one joins the group (left; also channels of
  // other groups) or is freed (right). Outside the plate nothing happens. True when the groups
  // may have changed (lists and picture to refresh).
  bool press(double x, double y, MouseButton button);
  bool release(double x, double y, MouseButton button);
  // Moving: the rows and columns covered (from the pressed well while pressed) are marked
  // along the plate's left and top edges; nothing beyond the plate. True when the marks moved.
  bool move(double x, double y);
  bool outside() const { return outside_; }

  // Rename (double-click or Enter on `combogrup2`): asks "Enter New Group (003) Name"; a
  // non-empty answer names the group. True when renamed.
  bool rename(common::Dialogs& dialogs);
  // `cmd_goset`: blocks of the selected size, group k for block k, named "Group" + k; every
  // other channel free, every other name "Free". Group 0 is selected after.
  void auto_layout();
  // `Cmd_clear`: asks "Do you like to Clear Group lists?"; Yes frees every channel and names
  // every group "Free". True when cleared.
  bool clear(common::Dialogs& dialogs);

  // The plate with its wells, beams, group labels, captions and the marks of the pointer.
  void draw(common::Canvas& canvas) const;

  // The groups as edited.
  const store::GroupTable& groups() const { return state_.groups.main(); }
  const std::filesystem::path& folder() const { return folder_; }

  // `cmdcancelgrups`: asks "Do you like to Save Changes?". Yes saves the groups into the
  // acquisition folder and tells "New Groups applied and saved" or "Error updating group files
  // at " + the folder. In every case the window then leaves the editor and opens the
  // acquisition again from its files, which hold the groups that count; after a No it shows
  // `after_reopen` ("Original groups restored").
  struct Leave {
    bool asked_to_save = false;
    bool saved = false;
    std::optional<std::string> after_reopen;
  };
  Leave leave(common::Dialogs& dialogs, common::Clock& clock) const;

private:
  std::filesystem::path folder_;
  store::ProjectState state_;
  setup_editor::GroupEditor editor_{state_};
  std::vector<std::string> sets_;
  int selected_set_ = 0;
  bool outside_ = false;
  std::optional<setup_editor::WellCell> pressed_;
  std::optional<setup_editor::WellCell> hover_;
};

} // namespace kestrova::browser
