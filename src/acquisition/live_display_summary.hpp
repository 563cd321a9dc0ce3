#pragma once

// The summary plot of the live display (`Picact`): the wells of one group, a bar per group with
// pages, the plate heat map, or the body-bend histogram of one group. Each update erases and
// redraws only the boxes of the bars it changes.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "acquisition/live_display_choice.hpp"
#include "common/canvas.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"

namespace kestrova::acquisition {

// The four views of the summary plot (the view mode).
enum class SummaryView { GroupWells = 0, GroupBars = 1, HeatMap = 2, Histogram = 3 };

// Groups per page of the group bar view; histogram bins drawn; pages of the histogram view.
inline constexpr int kBarsPerPage = 12;
inline constexpr int kHistogramBinsShown = 26;
inline constexpr int kHistogramPages = 96;

// The station's tables the plots read.
struct SummaryTables {
  const store::GroupTable& groups;
  const store::PlateFormat& plate;
};

// The latest results the plots show.
struct SummaryValues {
  std::span<const std::int16_t> counts;    // 385 slots
  std::span<const std::int32_t> histogram; // 51 x 385, bin-major; may be empty
};

class SummaryPlot {
public:
  explicit SummaryPlot(common::Canvas& canvas) : canvas_(canvas) {}

  // Group wells view of `group` over `wells` (its well list): clear, frame, axis.
  void show_group(int group, const std::vector<WellEntry>& wells);
  // Group bars view from page 0.
  void show_bars(const SummaryTables& tables);
  // Heat map view.
  void show_heat_map(const SummaryTables& tables);
  // Body-bend histogram view of the group of the current page.
  void show_histogram();
  // Clears and draws the current view's frame again (activation, resize, paging).
  void redraw_frame(const SummaryTables& tables);
  // Draws the latest values in the current view.
  void update(const SummaryTables& tables, const SummaryValues& values);

  // ">" and "<": false when there is no page in that direction (nothing changes).
  bool next_page();
  bool previous_page();

  SummaryView view() const { return view_; }
  double bar_scale() const { return scale_; }
  int page() const { return page_; }
  int page_count() const { return page_count_; }
  bool page_buttons_visible() const { return page_buttons_; }
  int group() const { return group_; }

private:
  void set_frame();
  void draw_axis();
  void draw_axis_labels();
  void draw_axis_boxes();
  // One bar of the bar and histogram views, k-th of width w after the margin a.
  void draw_bar(int k, double w, double a, double value);
  void update_group_wells(const SummaryTables& tables, const SummaryValues& values);
  void update_group_bars(const SummaryTables& tables, const SummaryValues& values);
  void update_histogram(const SummaryTables& tables, const SummaryValues& values);
  // Well outlines and labels; `fresh` clears and sets the frame first.
  void draw_heat_map_grid(const store::PlateGeometry& g, bool fresh);
  void update_heat_map(const SummaryTables& tables, const SummaryValues& values);

  common::Canvas& canvas_;
  SummaryView view_ = SummaryView::GroupWells;
  double scale_ = 1;
  double labelled_scale_ = 0; // the scale the axis labels show
  int page_ = 0;
  int page_count_ = 1;
  bool page_buttons_ = false;
  int group_ = 0;
  std::vector<int> wells_; // group wells view: the wells of the group, in list order
};

} // namespace kestrova::acquisition
