#pragma once

// The plot area of the experiment browser as the window drives it: which view is shown, the
// data it was computed from, and the commands that change them. The data of a view is read when
// the view is chosen; draw() only draws, so the window can redraw at any time (resize, expose).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/live_display_choice.hpp"
#include "browser/browser_acquisition.hpp"
#include "browser/group_table.hpp"
#include "browser/plot_axis.hpp"
#include "browser/plot_draw.hpp"
#include "browser/realtime_page.hpp"
#include "common/cancellation.hpp"
#include "common/canvas.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"

namespace kestrova::browser {

// The view mode the window's mouse handlers consult (3 and 6 belong to other panels).
enum class PlotMode { Bars = 0, Signal = 1, Line = 4, HeatMap = 5 };

// The pop-up menu a right click on the plot offers in the current view: the export menu in the
// bar and signal views, relativize and exports over a kinetic plot, the line plot's export, and
// the heat map's export and group editing.
enum class PlotMenu { Export, Relativize, Line, Plate };

// What the plots read of the current acquisition (the tables the browser loaded for it).
struct PlotAcquisition {
  std::filesystem::path folder;         // the acquisition folder
  std::filesystem::path project_folder; // its project folder (tagged acquisitions lie there)
  store::GroupTable groups;             // group names and the group of each channel
  store::ChannelTables channels;        // enable flags
  store::PlateFormat plate;
  int acquisition_lapse = 30; // minutes
  int buffer_length = 500;    // samples per real-time block
  std::string configuration_summary;
  std::string separator; // the report separator; ";" when empty
};

class PlotView {
public:
  // `cancel`, when given, is read between the acquisitions of a kinetic table.
  PlotView(common::Dialogs& dialogs, common::Clock& clock,
           const common::Cancellation* cancel = nullptr)
      : dialogs_(dialogs), clock_(clock), cancel_(cancel) {}

  // Makes `acquisition` current and shows its bar plot (opening an acquisition line).
  void open(PlotAcquisition acquisition);
  // Forgets the acquisition and every view ("< Back", a fresh window).
  void clear();

  // `lstgrup_plot`: the groups that have channels, "000_Name"; the selected item.
  const std::vector<std::string>& group_items() const { return items_; }
  int selected_item() const { return selected_; }
  void select_item(int index);
  // Double-click or Enter on `lstgrup_plot`: the bar plot moves its first bar so that the item
  // is shown; the line plot and heat map are computed again.
  void activate_item(int index);

  // `Cmd_leegroups`: the bar plot from the first bar.
  void show_bars();
  // `Cmd_barplot`: the same, and the bin box goes back to 5.
  void show_bar_plot();
  // `Cmd_lineplot`: the time-resolved line plot with the bin of the acquisition lapse.
  void show_line_plot();
  // Double-click on a tag: the kinetic plot of the tag's acquisition list (not relative).
  void show_kinetic(std::string_view tag_list);
  // `mnrel0`: toggles relative values in the kinetic plot and computes it again.
  void toggle_relativize();
  bool relativize() const { return relativize_; }
  // `cmd_minus` / `cmd_plus` with the bin box's text.
  void bin_minus(std::string_view bin_text);
  void bin_plus(std::string_view bin_text);
  // `Cmd_gridplot`.
  void show_heat_map();

  // `cmdchannels`: the raw signal from page 1. `progress` receives the loading progress.
  void show_channel_signal(const RealtimePage::Progress& progress = {});
  // `scrollpage`: another page of the raw signal (only in the signal view).
  bool set_page(int page, const RealtimePage::Progress& progress = {});
  // The channel traced; its well's beams are drawn with it.
  void set_channel(int channel);
  int channel() const { return channel_; }
  // What `lblcanal` shows: "CH:" and the traced channel.
  std::string channel_text() const { return "CH:" + std::to_string(channel_); }
  // `Combofila` (row letter index from 0), `Combocol` (column from 1) and `txtsub` (beam
  // position): the well (row + (column - 1) x rows, well 0 when outside the plate) and its
  // channel at that position, which becomes the traced channel; nothing (the channel stays)
  // when no channel lies there.
  std::optional<int> pick_well(int row, int column, int position);
  // `combogrup` → `lstgrup`: the enabled channels of the entry's group ("999_Free" for the free
  // channels) that lie in a well, in channel order.
  std::vector<acquisition::WellEntry> group_wells(std::string_view group_entry) const;
  // Double-click on a `lstgrup` item: its well at beam position 0 is traced; the channel view
  // is redrawn in the signal view, the bar plot otherwise. Returns the well's row and column.
  std::optional<std::pair<int, int>> activate_well(const acquisition::WellEntry& entry);
  // `Cmd_analyze`: the preview over the current page with the threshold box's text and the
  // mode box's index. Returns the threshold used ("0.0" for the box).
  std::string analyze(std::string_view threshold_text, int mode);

  // Draws the current view; false when it has nothing to show.
  bool draw(common::Canvas& canvas) const;

  PlotMode mode() const { return mode_; }
  PlotMenu menu() const;
  bool kinetic() const { return kinetic_.has_value(); }
  int first_bar() const { return first_bar_; }
  std::string bin_text() const { return std::to_string(bin_); }
  const RealtimePage& page() const { return page_; }
  // The analysis preview drawn over the page, if any.
  const std::optional<AnalysisPreview>& preview() const { return preview_; }
  // What `txt_pj_details` shows.
  std::string details() const { return DetailsText(acquisition_.configuration_summary); }
  // The group table drawn last (bar or line plot).
  const std::optional<GroupActivity>& table() const { return table_; }
  // The kinetic table text for the joint report; nothing outside the kinetic plot.
  std::optional<KineticText> kinetic_text() const;

private:
  ChannelGroups channel_groups() const;
  // The channels of the traced channel's well by beam position (-1 for none).
  std::vector<int> beams_of_channel() const;
  void compute_line();
  void compute_kinetic();
  void bin_step(int size);

  common::Dialogs& dialogs_;
  common::Clock& clock_;
  const common::Cancellation* cancel_;
  PlotAcquisition acquisition_;
  bool open_ = false;
  std::vector<std::string> items_;
  int selected_ = -1;
  PlotMode mode_ = PlotMode::Bars;
  int first_bar_ = 0;
  int bin_ = 5;
  std::optional<GroupActivity> table_;
  std::string tag_list_;
  std::optional<KineticActivity> kinetic_;
  bool relativize_ = false;
  std::optional<std::array<std::int64_t, store::kChannelCount>> totals_;
  RealtimePage page_;
  int channel_ = 0;
  std::optional<AnalysisPreview> preview_;
};

} // namespace kestrova::browser
