#include "acquisition/live_display_summary.hpp"

#include <algorithm>
#include <cmath>

#include "common/number_format.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

constexpr common::Rgb kBlack{0, 0, 0};
constexpr common::Rgb kWhite{255, 255, 255};
constexpr common::Rgb kBarGrey{200, 200, 200};
constexpr common::Rgb kGroupValueGrey{128, 128, 128};
constexpr common::Rgb kBarValueGrey{125, 125, 125};
constexpr common::Rgb kWellRed{255, 0, 0};
constexpr double kLabelPt = 8;
// Highest bar drawn, and the height from which a group bar grows the scale.
constexpr double kBarTop = 255;
constexpr double kBarGrowFrom = 250;

std::string whole(double v) { return common::format_display(v, "0"); }

std::string group_label(const store::GroupTable& groups, int g) {
  const std::string& name =
      g >= 0 && g < store::kGroupCount ? groups.names[static_cast<std::size_t>(g)] : "";
  return "G" + std::to_string(g) + "_" + name;
}

std::int16_t count_of(const SummaryValues& v, int channel) {
  const auto i = static_cast<std::size_t>(channel);
  return i < v.counts.size() ? v.counts[i] : std::int16_t{0};
}

} // namespace

void SummaryPlot::set_frame() {
  canvas_.clear(kWhite);
  canvas_.set_world(-30, 300, 300, -30);
}

void SummaryPlot::draw_axis() {
  draw_axis_boxes();
  draw_axis_labels();
}

void SummaryPlot::draw_axis_boxes() {
  canvas_.box(0, 0, 2, 255, kBlack, true);
  canvas_.box(0, 0, 290, 2, kBlack, true);
}

void SummaryPlot::draw_axis_labels() {
  if (!(scale_ > 0)) scale_ = 1;
  canvas_.box(-20, -20, 0, 260, kWhite, true);
  canvas_.box(-2, 251, 0, 250, kBlack, true);
  canvas_.box(-2, 126, 0, 125, kBlack, true);
  canvas_.box(-2, 1, 0, 0, kBlack, true);
  // Whole numbers, unless the axis spans less than 10 (a histogram of rare bends): then two
  // decimals, so that the top and middle labels do not both read "1".
  const char* pattern = scale_ * 250 < 10 ? "0.00" : "0";
  canvas_.text(-15, 260, common::format_display(scale_ * 250, pattern), kBlack, kLabelPt);
  canvas_.text(-15, 130, common::format_display(scale_ * 125, pattern), kBlack, kLabelPt);
  canvas_.text(-15, 10, " 0", kBlack, kLabelPt);
  labelled_scale_ = scale_;
}

void SummaryPlot::show_group(int group, const std::vector<WellEntry>& wells) {
  view_ = SummaryView::GroupWells;
  group_ = group;
  wells_ = distinct_wells(wells);
  page_buttons_ = false;
  set_frame();
  draw_axis();
}

void SummaryPlot::show_bars(const SummaryTables& tables) {
  view_ = SummaryView::GroupBars;
  page_ = 0;
  redraw_frame(tables);
}

void SummaryPlot::show_heat_map(const SummaryTables& tables) {
  view_ = SummaryView::HeatMap;
  redraw_frame(tables);
}

void SummaryPlot::show_histogram() {
  view_ = SummaryView::Histogram;
  page_count_ = kHistogramPages;
  page_ = std::clamp(page_, 0, page_count_ - 1);
  page_buttons_ = true;
  set_frame();
  draw_axis();
}

void SummaryPlot::redraw_frame(const SummaryTables& tables) {
  switch (view_) {
  case SummaryView::GroupWells:
    set_frame();
    draw_axis();
    break;
  case SummaryView::GroupBars: {
    const int used = static_cast<int>(groups_in_use(tables.groups).size());
    page_count_ = std::max(1, (used + kBarsPerPage - 1) / kBarsPerPage);
    page_ = std::clamp(page_, 0, page_count_ - 1);
    page_buttons_ = used > kBarsPerPage;
    set_frame();
    draw_axis();
    break;
  }
  case SummaryView::HeatMap:
    page_buttons_ = false;
    draw_heat_map_grid(tables.plate.geometry, true);
    break;
  case SummaryView::Histogram:
    show_histogram();
    break;
  }
}

void SummaryPlot::update(const SummaryTables& tables, const SummaryValues& values) {
  switch (view_) {
  case SummaryView::GroupWells:
    update_group_wells(tables, values);
    break;
  case SummaryView::GroupBars:
    update_group_bars(tables, values);
    break;
  case SummaryView::HeatMap:
    update_heat_map(tables, values);
    break;
  case SummaryView::Histogram:
    update_histogram(tables, values);
    break;
  }
}

bool SummaryPlot::next_page() {
  if (view_ != SummaryView::GroupBars && view_ != SummaryView::Histogram) return false;
  if (page_ >= page_count_ - 1) return false;
  ++page_;
  return true;
}

bool SummaryPlot::previous_page() {
  if (view_ != SummaryView::GroupBars && view_ != SummaryView::Histogram) return false;
  if (page_ <= 0) return false;
  --page_;
  return true;
}

void SummaryPlot::update_group_wells(const SummaryTables& tables, const SummaryValues& values) {
  std::vector<int> well_values;
  long total = 0;
  int counted = 0;
  for (int well : wells_) {
    long sum = 0;
    const std::vector<int> channels = channels_of_well(tables.plate, well);
    for (int c : channels)
      sum += count_of(values, c);
    total += sum;
    counted += static_cast<int>(channels.size());
    well_values.push_back(
        channels.empty() ? 0 : common::round_to_int(static_cast<double>(sum) / channels.size()));
  }
  const int t = counted == 0 ? 0 : common::round_to_int(static_cast<double>(total) / counted);
  if (!(scale_ > 0)) scale_ = 1;
  while (t / scale_ > kBarTop)
    scale_ += 0.5;
  if (scale_ != labelled_scale_) draw_axis_labels();

  canvas_.box(10, 2, 30, 300, kWhite, true);
  canvas_.set_draw_width(3);
  canvas_.box(10, 2, 30, t / scale_, kBlack, false);
  canvas_.set_draw_width(1);
  canvas_.box(10, 2, 30, t / scale_, kBarGrey, true);
  canvas_.text(13, 37, std::to_string(t), kGroupValueGrey, kLabelPt);

  // 260 units shared by the wells, at most 25 each; rounded down when rounding to the nearest
  // would push the last well past the picture's right edge (300).
  const double share = 260.0 / static_cast<double>(std::max<std::size_t>(wells_.size(), 1));
  double w = std::min(25, common::round_to_int(share));
  if (40 + w * static_cast<double>(wells_.size()) > 300) w = std::floor(share);
  for (std::size_t i = 0; i < wells_.size(); ++i) {
    const double x0 = 40 + w * static_cast<double>(i);
    const double h = std::min(255, common::round_to_int(well_values[i] / scale_));
    canvas_.box(x0, 2, x0 + w, 300, kWhite, true);
    canvas_.set_draw_width(3);
    canvas_.box(x0 + 0.1 * w, 2, x0 + 0.9 * w, h, kBlack, false);
    canvas_.set_draw_width(1);
    canvas_.box(x0 + 0.1 * w, 2, x0 + 0.9 * w, h, kWhite, true);
  }
  // The label strips are all erased before any label is printed, so that a label wider than
  // its well (or the group's name) is not cut by the next strip's erase.
  for (std::size_t i = 0; i < wells_.size(); ++i) {
    const double x0 = 40 + w * static_cast<double>(i);
    canvas_.box(x0, -1, x0 + w, -20, kWhite, true);
  }
  canvas_.text(5, -5, group_label(tables.groups, group_), kBlack, kLabelPt);
  for (std::size_t i = 0; i < wells_.size(); ++i) {
    const double x0 = 40 + w * static_cast<double>(i);
    canvas_.text(x0 + 0.1 * w, -5, store::WellLabel(tables.plate.geometry, wells_[i]), kBlack,
                 kLabelPt);
  }
  draw_axis_boxes();
}

void SummaryPlot::draw_bar(int k, double w, double a, double value) {
  const double x1 = a + k * w + 0.1 * w;
  const double x2 = a + k * w + 0.9 * w;
  const double h = value / scale_;
  const bool clipped = h >= kBarTop;
  canvas_.box(x1, 1, x2, 275, kWhite, true);
  canvas_.set_draw_width(3);
  canvas_.box(x1, 1, x2, clipped ? kBarTop : h, kBlack, false);
  canvas_.set_draw_width(1);
  canvas_.box(x1, 2, x2, clipped ? kBarTop + 2 : h, kBarGrey, true);
}

void SummaryPlot::update_group_bars(const SummaryTables& tables, const SummaryValues& values) {
  const std::vector<int> used = groups_in_use(tables.groups);
  const int n = static_cast<int>(used.size());
  page_count_ = std::max(1, (n + kBarsPerPage - 1) / kBarsPerPage);
  page_ = std::clamp(page_, 0, page_count_ - 1);
  if (!(scale_ > 0)) scale_ = 1;
  if (scale_ != labelled_scale_) draw_axis_labels();
  const double w = n < 6 ? 50.0 : 300.0 / (n + 1);
  const double a = common::round_to_int(0.35 * w);
  // Per group: the sum and number of its channels' counts.
  std::vector<long> sum(store::kGroupCount, 0);
  std::vector<int> channels(store::kGroupCount, 0);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int g = tables.groups.channel_group[static_cast<std::size_t>(c)];
    if (g < 0 || g >= store::kGroupCount) continue;
    sum[static_cast<std::size_t>(g)] += count_of(values, c);
    ++channels[static_cast<std::size_t>(g)];
  }
  int largest = 0;
  for (int k = 0; k < kBarsPerPage && page_ * kBarsPerPage + k < n; ++k) {
    const int g = used[static_cast<std::size_t>(page_ * kBarsPerPage + k)];
    const auto gi = static_cast<std::size_t>(g);
    const int v = common::round_to_int(static_cast<double>(sum[gi]) / channels[gi]);
    largest = std::max(largest, v);
    draw_bar(k, w, a, v);
    canvas_.text(a + k * w + 0.2 * w, 37, whole(v), kBarValueGrey, kLabelPt);
  }
  // The label strips are all erased before any label is printed: a name wider than its bar
  // runs on under the next bar instead of being cut by the next strip's erase.
  for (int k = 0; k < kBarsPerPage && page_ * kBarsPerPage + k < n; ++k)
    canvas_.box(a + k * w, -30, a + k * w + 2 * w, -2, kWhite, true);
  for (int k = 0; k < kBarsPerPage && page_ * kBarsPerPage + k < n; ++k) {
    const int g = used[static_cast<std::size_t>(page_ * kBarsPerPage + k)];
    canvas_.text(a + k * w + 0.1 * w, -10, group_label(tables.groups, g), kBlack, kLabelPt);
  }
  draw_axis_boxes();
  // The next update uses the grown scale.
  if (largest / scale_ > kBarGrowFrom) scale_ += 0.5;
}

void SummaryPlot::update_histogram(const SummaryTables& tables, const SummaryValues& values) {
  group_ = page_;
  std::vector<int> members;
  for (int c = 0; c < store::kChannelCount; ++c)
    if (tables.groups.channel_group[static_cast<std::size_t>(c)] == group_) members.push_back(c);
  std::vector<double> means(kHistogramBinsShown, 0);
  double largest = 0;
  for (int k = 0; k < kHistogramBinsShown; ++k) {
    double s = 0;
    for (int c : members) {
      const std::size_t i = static_cast<std::size_t>(k) * store::kChannelSlots + c;
      if (i < values.histogram.size()) s += values.histogram[i];
    }
    means[static_cast<std::size_t>(k)] = members.empty() ? 0 : s / members.size();
    largest = std::max(largest, means[static_cast<std::size_t>(k)]);
  }
  scale_ = (members.empty() ? 100 : largest) / 250 * 1.2;
  if (!(scale_ > 0)) scale_ = 1;
  for (double m : means)
    while (m / scale_ > kBarTop)
      scale_ += 0.2;
  if (scale_ != labelled_scale_) draw_axis_labels();
  canvas_.box(200, 255, 300, 290, kWhite, true);
  const double w = 300.0 / (kHistogramBinsShown + 1);
  const double a = common::round_to_int(0.35 * w);
  for (int k = 0; k < kHistogramBinsShown; ++k)
    draw_bar(k, w, a, means[static_cast<std::size_t>(k)]);
  // After the bars: their erase boxes reach up to 275, through the label's line.
  canvas_.text(260, 260, group_label(tables.groups, group_), kBlack, kLabelPt);
  draw_axis_boxes();
}

void SummaryPlot::draw_heat_map_grid(const store::PlateGeometry& g, bool fresh) {
  const double pc = common::round_to_int(100 * g.column_pitch);
  const double oc = common::round_to_int(100 * g.column_offset);
  const double pr = common::round_to_int(100 * g.row_pitch);
  const double orr = common::round_to_int(100 * g.row_offset);
  if (fresh) {
    canvas_.clear(kWhite);
    canvas_.set_world(oc - 150, orr - 200, 2410, 1610);
  }
  canvas_.set_draw_width(1);
  for (int c = 0; c < g.columns; ++c)
    for (int r = 0; r < g.rows; ++r)
      canvas_.box(oc + pc * c, orr + pr * r, oc + pc * (c + 1), orr + pr * (r + 1), kWellRed,
                  false);
  for (int c = 0; c < g.columns; ++c)
    canvas_.text(100 * c * g.column_pitch + oc + 25 * g.column_pitch, orr - 100,
                 std::to_string(c + 1), kBlack, kLabelPt);
  for (int r = 0; r < g.rows; ++r)
    canvas_.text(oc - 50, 100 * r * g.row_pitch + orr + 25 * g.row_pitch,
                 std::string(1, static_cast<char>('A' + r)), kBlack, kLabelPt);
}

void SummaryPlot::update_heat_map(const SummaryTables& tables, const SummaryValues& values) {
  const store::PlateGeometry& g = tables.plate.geometry;
  const int wells = std::max(0, g.rows * g.columns);
  std::vector<long> sums(static_cast<std::size_t>(wells), 0);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int w = tables.plate.map.well_of_channel[static_cast<std::size_t>(c)];
    if (w >= 0 && w < wells) sums[static_cast<std::size_t>(w)] += count_of(values, c);
  }
  long top = 255;
  for (long s : sums)
    top = std::max(top, s);
  const double pc = common::round_to_int(100 * g.column_pitch);
  const double oc = common::round_to_int(100 * g.column_offset);
  const double pr = common::round_to_int(100 * g.row_pitch);
  const double orr = common::round_to_int(100 * g.row_offset);
  for (int w = 0; w < wells; ++w) {
    const int r = w % g.rows;
    const int c = w / g.rows;
    const int f = common::round_to_int(
        255.0 * static_cast<double>(sums[static_cast<std::size_t>(w)]) / static_cast<double>(top));
    const auto level = static_cast<std::uint8_t>(std::clamp(255 - f, 0, 255));
    canvas_.box(oc + pc * c + 0.1 * pc, orr + pr * r + 0.1 * pr, oc + pc * (c + 1) - 0.1 * pc,
                orr + pr * (r + 1) - 0.1 * pr, common::Rgb{level, level, level}, true);
  }
  draw_heat_map_grid(g, false);
}

} // namespace kestrova::acquisition
