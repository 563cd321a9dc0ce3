#include "browser/regroup_editor.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "common/file_commit.hpp"
#include "store/folder_lock.hpp"
#include "store/record_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

constexpr double kCoverStrip = 4; // width of the marks along the plate's edges
constexpr common::Rgb kWhite{255, 255, 255};
constexpr common::Rgb kEdge{255, 0, 0};
constexpr common::Rgb kCovered{0, 0, 255};

// The group files of an acquisition: the file and the base name of its backups.
constexpr std::pair<std::string_view, std::string_view> kGroupFiles[] = {
    {store::kChannelGroupsFile, "chgroup"}, {store::kGroupNamesFile, "groups"}};

// The save proper, shared by a save of edited groups and a restore of a backup: the backups
// and both new files go in one commit (common::FileCommit).
bool save_group_files(const fs::path& folder, std::string_view names_bytes,
                      std::string_view channel_bytes, common::LocalTime when) {
  const std::string stamp = backup_stamp(when);
  common::FileCommit commit(folder);
  for (const auto& [name, base] : kGroupFiles) {
    // The scratch names of earlier versions of this save.
    const fs::path legacy = folder / (std::string(name) + ".new");
    std::error_code ec;
    const auto status = fs::symlink_status(legacy, ec);
    if (fs::is_regular_file(status) || fs::is_symlink(status)) fs::remove(legacy, ec);
    if (!store::FileExists(folder / name)) continue;
    commit.add_copy(std::string(base) + ".bak", name);
    const std::string dated = std::string(base) + stamp + ".bak";
    if (!store::FileExists(folder / dated)) commit.add_copy(dated, name);
  }
  commit.add(store::kChannelGroupsFile, channel_bytes);
  commit.add(store::kGroupNamesFile, names_bytes);
  return commit.commit();
}

} // namespace

std::string backup_stamp(common::LocalTime when) {
  const common::CivilTime t = common::to_civil(when);
  using namespace std::chrono;
  const sys_days day = year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)},
                                      std::chrono::day{static_cast<unsigned>(t.day)}};
  const sys_days new_year = year_month_day{year{t.year}, January, std::chrono::day{1}};
  const int day_of_year = static_cast<int>((day - new_year).count()) + 1;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%d%02d%02d%02d%02d", t.year % 100, day_of_year, t.month,
                t.day, t.hour, t.minute);
  return buf;
}

bool save_acquisition_groups(const fs::path& folder, const store::GroupTable& groups,
                             common::LocalTime when) {
  if (store::folder_lock_holder(folder)) return false;
  return save_group_files(folder, store::GroupNamesText(groups), store::ChannelGroupsText(groups),
                          when);
}

bool restore_group_backups(const fs::path& folder, std::string_view stamp, common::LocalTime when) {
  const auto names = store::read_file_bytes(folder / ("groups" + std::string(stamp) + ".bak"));
  const auto channels = store::read_file_bytes(folder / ("chgroup" + std::string(stamp) + ".bak"));
  if (!names || !channels || store::folder_lock_holder(folder)) return false;
  return save_group_files(folder, *names, *channels, when);
}

// --- Editor ---

RegroupEditor::RegroupEditor(RegroupAcquisition acquisition)
    : folder_(std::move(acquisition.folder)) {
  state_.groups.main() = std::move(acquisition.groups);
  state_.channels = std::move(acquisition.channels);
  state_.plate = std::move(acquisition.plate);
  sets_ = setup_editor::set_sizes(state_.plate.geometry);
  selected_set_ = sets_.empty() ? -1 : setup_editor::default_set_index(sets_.size());
  editor_.set_ready(true);
  editor_.refresh();
  editor_.select_entry(0);
}

void RegroupEditor::select_set(int index) {
  if (index >= 0 && index < static_cast<int>(sets_.size())) selected_set_ = index;
}

std::vector<std::string> RegroupEditor::group_wells() const {
  const store::WellMap& map = state_.plate.map;
  const int group = current_group();
  std::vector<std::string> wells;
  for (int w = 0; w <= map.greatest_well; ++w)
    for (int c = 0; c < store::kChannelCount; ++c) {
      const auto slot = static_cast<std::size_t>(c);
      if (map.well_of_channel[slot] != w || map.position_of_channel[slot] != 0) continue;
      if (groups().channel_group[slot] == group)
        wells.push_back(store::WellLabel(state_.plate.geometry, w));
      break;
    }
  return wells;
}

bool RegroupEditor::press(double x, double y, MouseButton button) {
  outside_ = !setup_editor::over_plate(state_.plate.geometry, x, y);
  if (!editor_.press(x, y, button)) return false;
  pressed_ = setup_editor::well_at(state_.plate.geometry, x, y);
  hover_ = pressed_;
  editor_.refresh();
  return true;
}

bool RegroupEditor::release(double x, double y, MouseButton button) {
  outside_ = !setup_editor::over_plate(state_.plate.geometry, x, y);
  pressed_.reset();
  if (!editor_.release(x, y, button, current_group())) return false;
  editor_.refresh();
  return true;
}

bool RegroupEditor::move(double x, double y) {
  const auto before = hover_;
  outside_ = !setup_editor::over_plate(state_.plate.geometry, x, y);
  if (outside_)
    hover_.reset();
  else
    hover_ = setup_editor::well_at(state_.plate.geometry, x, y);
  editor_.move(x, y);
  return before != hover_;
}

bool RegroupEditor::rename(common::Dialogs& dialogs) { return editor_.rename_current(dialogs); }

void RegroupEditor::auto_layout() {
  if (selected_set_ < 0) return;
  const auto size = setup_editor::parse_set_size(sets_[static_cast<std::size_t>(selected_set_)]);
  if (!size) return;
  editor_.auto_arrange(size->first, size->second);
  editor_.refresh();
  editor_.select_entry(0);
}

bool RegroupEditor::clear(common::Dialogs& dialogs) {
  if (dialogs.message(kClearGroupsQuestion, common::Buttons::YesNo) != common::Answer::Yes)
    return false;
  editor_.clear_all();
  editor_.refresh();
  editor_.select_entry(0);
  return true;
}

void RegroupEditor::draw(common::Canvas& canvas) const {
  setup_editor::draw_plate(canvas, state_, std::nullopt, kRegroupPlate);
  if (!hover_) return;
  const store::PlateGeometry& g = state_.plate.geometry;
  const setup_editor::WellCell from = pressed_.value_or(*hover_);
  const setup_editor::WorldRect plate = [&] {
    const auto first = setup_editor::well_rect(g, 0, 0);
    const auto last = setup_editor::well_rect(g, g.rows - 1, g.columns - 1);
    return setup_editor::WorldRect{first.left, first.top, last.right, last.bottom};
  }();
  const auto a = setup_editor::well_rect(g, std::min(from.row, hover_->row),
                                         std::min(from.column, hover_->column));
  const auto b = setup_editor::well_rect(g, std::max(from.row, hover_->row),
                                         std::max(from.column, hover_->column));
  // Left edge: the covered rows; top edge: the covered columns.
  canvas.box(plate.left - kCoverStrip, plate.top, plate.left, plate.bottom, kWhite, true);
  canvas.line(plate.left, plate.top, plate.left, plate.bottom, kEdge);
  canvas.box(plate.left - kCoverStrip, a.top, plate.left, b.bottom, kCovered, true);
  canvas.box(plate.left, plate.top - kCoverStrip, plate.right, plate.top, kWhite, true);
  canvas.line(plate.left, plate.top, plate.right, plate.top, kEdge);
  canvas.box(a.left, plate.top - kCoverStrip, b.right, plate.top, kCovered, true);
}

RegroupEditor::Leave RegroupEditor::leave(common::Dialogs& dialogs, common::Clock& clock) const {
  Leave result;
  if (dialogs.message(kSaveGroupsQuestion, common::Buttons::YesNo) != common::Answer::Yes) {
    result.after_reopen = std::string(kGroupsRestored);
    return result;
  }
  result.asked_to_save = true;
  // Groups of a folder being recorded stay as the acquisition wrote them.
  if (auto refusal = store::busy_folder_refusal(folder_, kRegroupBusy)) {
    dialogs.message(*refusal, common::Buttons::Ok, common::Icon::Warning);
    result.after_reopen = std::string(kGroupsRestored);
    return result;
  }
  result.saved = save_acquisition_groups(folder_, groups(), clock.now());
  dialogs.message(result.saved ? std::string(kGroupsSaved)
                               : std::string(kGroupsNotSaved) + folder_.string());
  return result;
}

} // namespace kestrova::browser
