#include "browser/plot_view.hpp"

#include <algorithm>

#include "acquisition/activity_files.hpp"
#include "acquisition/live_display_choice.hpp"
#include "acquisition/realtime_fit.hpp"
#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "reports/report_data.hpp"
#include "store/setup_file.hpp"

namespace kestrova::browser {

namespace {

constexpr int kBarBin = 30;

} // namespace

void PlotView::open(PlotAcquisition acquisition) {
  clear();
  acquisition_ = std::move(acquisition);
  open_ = true;
  items_ = acquisition::group_entries(acquisition_.groups);
  selected_ = items_.empty() ? -1 : 0;
  show_bars();
}

void PlotView::clear() {
  acquisition_ = {};
  open_ = false;
  items_.clear();
  selected_ = -1;
  mode_ = PlotMode::Bars;
  first_bar_ = 0;
  bin_ = 5;
  table_.reset();
  tag_list_.clear();
  kinetic_.reset();
  relativize_ = false;
  totals_.reset();
  page_ = {};
  channel_ = 0;
  preview_.reset();
}

ChannelGroups PlotView::channel_groups() const {
  ChannelGroups groups = acquisition_.groups.channel_group;
  groups[store::kChannelCount] = store::kFreeGroup;
  return groups;
}

void PlotView::select_item(int index) {
  if (index >= 0 && index < static_cast<int>(items_.size())) selected_ = index;
}

void PlotView::activate_item(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  selected_ = index;
  switch (mode_) {
  case PlotMode::Bars:
    first_bar_ = index < kBarsShown ? 0 : index - (kBarsShown - 1);
    break;
  case PlotMode::Line:
    if (kinetic_)
      compute_kinetic();
    else
      compute_line();
    break;
  case PlotMode::HeatMap:
    show_heat_map();
    break;
  case PlotMode::Signal:
    break;
  }
}

void PlotView::show_bars() {
  mode_ = PlotMode::Bars;
  first_bar_ = 0;
  kinetic_.reset();
  table_.reset();
  if (!open_) return;
  table_ = group_activity(acquisition_.folder, channel_groups(), kBarBin, false, dialogs_);
}

void PlotView::show_bar_plot() {
  bin_ = 5;
  show_bars();
}

void PlotView::compute_line() {
  table_.reset();
  if (!open_) return;
  table_ = group_activity(acquisition_.folder, channel_groups(), bin_, true, dialogs_);
}

void PlotView::show_line_plot() {
  mode_ = PlotMode::Line;
  kinetic_.reset();
  tag_list_.clear();
  bin_ = initial_line_bin(acquisition_.acquisition_lapse);
  compute_line();
}

void PlotView::compute_kinetic() {
  kinetic_.reset();
  if (!open_ || tag_list_.empty()) return;
  kinetic_ = kinetic_activity(acquisition_.project_folder, tag_list_, channel_groups(), clock_,
                              dialogs_, cancel_);
  if (kinetic_ && relativize_) {
    std::vector<int> groups;
    for (const std::string& item : items_)
      groups.push_back(group_of_item(item));
    browser::relativize(kinetic_->table, groups);
  }
}

void PlotView::show_kinetic(std::string_view tag_list) {
  relativize_ = false;
  if (tag_list.find_first_not_of(' ') == std::string_view::npos) return;
  mode_ = PlotMode::Line;
  tag_list_ = std::string(tag_list);
  bin_ = 5;
  compute_kinetic();
}

void PlotView::toggle_relativize() {
  relativize_ = !relativize_;
  if (mode_ == PlotMode::Line && !tag_list_.empty()) compute_kinetic();
}

void PlotView::bin_step(int size) {
  bin_ = size;
  if (mode_ != PlotMode::Line) return;
  if (!tag_list_.empty())
    compute_kinetic();
  else
    compute_line();
}

void PlotView::bin_minus(std::string_view bin_text) {
  const int columns = table_ && !kinetic_ ? table_->columns : 1;
  bin_step(bin_after_minus(text_value(bin_text), columns, bin_));
}

void PlotView::bin_plus(std::string_view bin_text) {
  const int columns = table_ && !kinetic_ ? table_->columns : 1;
  bin_step(bin_after_plus(text_value(bin_text), columns, bin_));
}

void PlotView::show_heat_map() {
  mode_ = PlotMode::HeatMap;
  totals_.reset();
  if (!open_) return;
  totals_ = channel_totals_of_file(acquisition_.folder / acquisition::kCountsFileName);
  if (!totals_) dialogs_.message(reports::kActivityNotFound);
}

void PlotView::show_channel_signal(const RealtimePage::Progress& progress) {
  mode_ = PlotMode::Signal;
  preview_.reset();
  page_ = {};
  if (!open_) return;
  if (auto misfit =
          acquisition::realtime_size_misfit(acquisition_.folder, acquisition_.buffer_length,
                                            acquisition_.folder / store::kSetupFileName)) {
    dialogs_.message(*misfit);
    return;
  }
  page_.open(acquisition_.folder, acquisition_.buffer_length);
  if (page_.page_count() > 0) page_.load(1, progress);
}

bool PlotView::set_page(int page, const RealtimePage::Progress& progress) {
  if (mode_ != PlotMode::Signal || page < 1 || page > page_.page_count()) return false;
  preview_.reset();
  return page_.load(page, progress);
}

void PlotView::set_channel(int channel) {
  if (channel < 0 || channel >= store::kChannelCount) return;
  channel_ = channel;
  preview_.reset();
}

std::optional<int> PlotView::pick_well(int row, int column, int position) {
  const store::PlateGeometry& g = acquisition_.plate.geometry;
  int well = (column - 1) * g.rows + row;
  if (row < 0 || row >= g.rows || column < 1 || column > g.columns) well = 0;
  const std::vector<int> beams = beams_of_well(acquisition_.plate, well);
  if (position < 0 || position >= static_cast<int>(beams.size()) ||
      beams[static_cast<std::size_t>(position)] < 0)
    return std::nullopt;
  set_channel(beams[static_cast<std::size_t>(position)]);
  return channel_;
}

std::vector<acquisition::WellEntry> PlotView::group_wells(std::string_view group_entry) const {
  const int group = group_of_item(group_entry);
  if (group < 0) return {};
  return acquisition::group_well_list(acquisition_.groups, acquisition_.channels,
                                      acquisition_.plate,
                                      group >= store::kGroupCount ? store::kFreeGroup : group);
}

std::optional<std::pair<int, int>> PlotView::activate_well(const acquisition::WellEntry& entry) {
  const int rows = acquisition_.plate.geometry.rows;
  if (rows < 1 || entry.well < 0) return std::nullopt;
  const int row = entry.well % rows;
  const int column = entry.well / rows + 1;
  pick_well(row, column, 0);
  if (mode_ != PlotMode::Signal) show_bars();
  return std::pair{row, column};
}

std::string PlotView::analyze(std::string_view threshold_text, int mode) {
  const double threshold = preview_threshold(threshold_text);
  if (mode_ != PlotMode::Signal || page_.blocks() == 0) show_channel_signal();
  preview_.reset();
  if (page_.blocks() > 0) {
    const std::vector<int> beams = beams_of_channel();
    preview_ = run_analysis_preview(page_, beams, threshold, std::clamp(mode, 0, 1),
                                    acquisition_.folder / acquisition::kCountsFileName);
  }
  return common::format_display(threshold, "0.0");
}

std::vector<int> PlotView::beams_of_channel() const {
  const int well = acquisition_.plate.map.well_of_channel[static_cast<std::size_t>(channel_)];
  if (well < 0) return {channel_};
  return beams_of_well(acquisition_.plate, well);
}

bool PlotView::draw(common::Canvas& canvas) const {
  switch (mode_) {
  case PlotMode::Bars:
    if (!table_) return false;
    draw_bar_plot(canvas, *table_, items_, first_bar_, selected_);
    return true;
  case PlotMode::Line:
    if (kinetic_) return draw_line_plot(canvas, kinetic_->table, items_, selected_, &*kinetic_);
    if (!tag_list_.empty() || !table_) return false;
    return draw_line_plot(canvas, *table_, items_, selected_, nullptr);
  case PlotMode::HeatMap:
    if (!totals_) return false;
    draw_heat_map(canvas, acquisition_.plate, channel_groups(), *totals_);
    return true;
  case PlotMode::Signal: {
    if (page_.blocks() == 0) return false;
    const std::vector<int> beams = beams_of_channel();
    draw_channel_signal(canvas, page_, beams, acquisition_.plate.map.greatest_position);
    if (preview_) draw_analysis_preview(canvas, page_, *preview_);
    return true;
  }
  }
  return false;
}

PlotMenu PlotView::menu() const {
  switch (mode_) {
  case PlotMode::Line:
    return tag_list_.empty() ? PlotMenu::Line : PlotMenu::Relativize;
  case PlotMode::HeatMap:
    return PlotMenu::Plate;
  case PlotMode::Bars:
  case PlotMode::Signal:
    break;
  }
  return PlotMenu::Export;
}

std::optional<KineticText> PlotView::kinetic_text() const {
  if (!kinetic_) return std::nullopt;
  return kinetic_table_text(*kinetic_, items_,
                            acquisition_.separator.empty() ? ";" : acquisition_.separator);
}

} // namespace kestrova::browser
