#include "browser/plot_draw.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "acquisition/activity_files.hpp"
#include "browser/plot_axis.hpp"
#include "common/rounding.hpp"
#include "setup_editor/plate_map.hpp"

namespace kestrova::browser {

namespace {

constexpr common::Rgb kBlack{0, 0, 0};
constexpr common::Rgb kWhite{255, 255, 255};
constexpr common::Rgb kGrey{128, 128, 128};
constexpr common::Rgb kLightGrey{200, 200, 200};
constexpr common::Rgb kBarGrey{220, 220, 220};
constexpr common::Rgb kRed{255, 0, 0};
constexpr common::Rgb kGreen{0, 255, 0};
constexpr common::Rgb kBlue{0, 0, 255};

std::string whole(double v) { return std::to_string(common::round_to_int(v)); }

} // namespace

// World units a bar label may take: bars are 10 apart, and a unit stays between labels.
constexpr double kBarLabelRoom = 9.0;

void draw_bar_plot(common::Canvas& canvas, const GroupActivity& table,
                   std::span<const std::string> items, int first_bar, int selected) {
  const double y = std::max(table.maximum, 50);
  canvas.set_world(0, 1.05 * y, 120, -0.135 * y);
  canvas.clear(kWhite);
  canvas.set_draw_width(2);
  const int first = std::max(0, first_bar);
  // The group labels shrink together (not below 5 pt) when one would run into the next bar's
  // label on a narrow picture.
  double label_pt = kPlotTextPt;
  for (int m = 1; m <= kBarsShown; ++m) {
    const int i = first + m - 1;
    if (i >= static_cast<int>(items.size())) break;
    const double width =
        canvas.text_width(items[static_cast<std::size_t>(i)].substr(0, 10), kPlotTextPt);
    if (width > kBarLabelRoom) label_pt = std::min(label_pt, kPlotTextPt * kBarLabelRoom / width);
  }
  label_pt = std::max(label_pt, 5.0);
  for (int m = 1; m <= kBarsShown; ++m) {
    const int i = first + m - 1;
    if (i >= static_cast<int>(items.size())) break;
    const std::string& item = items[static_cast<std::size_t>(i)];
    const int g = group_of_item(item);
    const double v = (g >= 0 && table.columns >= 1) ? table.cell(g, 1) : 0;
    const double x1 = 10.0 * m + 2;
    const double x2 = 10.0 * m + 10;
    canvas.box(x1, 0, x2, v, i == selected ? kLightGrey : kBarGrey, true);
    canvas.box(x1, 0, x2, v, kBlack, false);
    canvas.text(10.0 * m + 3, -2, item.substr(0, 10), kBlack, label_pt);
    canvas.text(10.0 * m + 3, y / 3, whole(v), kBlack, kPlotTextPt);
  }
  canvas.line(10, 0, 119, 0, kGrey);
  canvas.line(10, 0, 10, y, kGrey);
  canvas.line(10, 0, 9, 0, kGrey);
  canvas.line(10, 0.99 * y, 9, 0.99 * y, kGrey);
  canvas.text(1, 1.05 * y, whole(y), kBlack, kPlotTextPt * 0.75);
  canvas.text(4, 0.04 * y, "0", kBlack, kPlotTextPt * 0.75);
}

bool draw_line_plot(common::Canvas& canvas, const GroupActivity& table,
                    std::span<const std::string> items, int selected,
                    const KineticActivity* kinetic) {
  int top = table.maximum;
  if (top < 50) top = common::round_to_int(1.5 * top);
  if (top <= 0 || table.columns < 1) return false;
  const double m_top = top;
  const int n = table.columns;
  const int bin = std::max(table.bin, 1);
  const double x_extent =
      kinetic ? common::round_to_int(kinetic->span_minutes()) + 1.0 : static_cast<double>(n) * bin;
  const double r = std::min(0.3, std::min(x_extent, m_top) / 200);
  const auto x_of = [&](int column) {
    return kinetic ? static_cast<double>(kinetic->minutes_of(column))
                   : static_cast<double>(column) * bin;
  };

  canvas.set_world(-0.1 * x_extent, 1.1 * m_top, 1.2 * x_extent, -0.1 * m_top);
  canvas.clear(kWhite);
  canvas.set_draw_width(1);
  canvas.line(0, 0, 0, m_top, kGrey);
  canvas.line(0, 0, x_extent, 0, kGrey);
  canvas.text(0, 1.1 * m_top, kinetic ? "[TAG] Kinetics PLOT" : "Line PLOT", kBlack, kPlotTextPt);

  const std::string_view unit = kinetic ? kinetic_time_unit(kinetic->span_minutes()) : "min";
  if (kinetic) {
    for (int m = 1; m <= n; ++m)
      canvas.text(x_of(m), -1, kinetic_time_label(kinetic->minutes_of(m), unit, m == 1), kBlack,
                  kPlotTextPt);
  } else {
    for (int k = 1; k <= n; ++k)
      canvas.text(static_cast<double>(k) * bin, -1, std::to_string(k * bin), kBlack, kPlotTextPt);
  }
  canvas.text(-0.05 * x_extent, -1, "Time[" + std::string(unit) + "]", kBlack, kPlotTextPt);
  canvas.text(-0.05 * x_extent, m_top + 1, std::to_string(top), kBlack, kPlotTextPt);
  canvas.line(-0.01 * x_extent, m_top, 0, m_top, kGrey);
  canvas.text(-0.05 * x_extent, m_top / 2 + 1, whole(m_top / 2), kBlack, kPlotTextPt);
  canvas.line(-0.01 * x_extent, m_top / 2, 0, m_top / 2, kGrey);

  const auto& palette = line_palette();
  const int selected_group = selected >= 0 && selected < static_cast<int>(items.size())
                                 ? group_of_item(items[static_cast<std::size_t>(selected)])
                                 : -2;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const int g = group_of_item(items[i]);
    if (g < 0) continue;
    const common::Rgb colour = palette[i % palette.size()];
    const bool chosen = g == selected_group;
    canvas.set_draw_width(chosen ? 3 : 1);
    for (int m = 1; m < n; ++m)
      canvas.line(x_of(m), table.cell(g, m), x_of(m + 1), table.cell(g, m + 1), colour);
    if (kinetic) {
      canvas.set_draw_width(2);
      for (int m = 1; m <= n; ++m)
        canvas.circle(x_of(m), table.cell(g, m), r, colour);
    }
    const double y = m_top - m_top / 20 * static_cast<double>(i);
    canvas.text(x_extent + 10 * r, y + 1, " [#" + items[i].substr(0, 10) + "]", colour,
                kPlotTextPt);
    canvas.set_draw_width(chosen ? 4 : 2);
    canvas.line(x_extent, y, x_extent + 10 * r, y, colour);
    canvas.circle(x_extent + 5 * r, y, r, colour);
  }
  canvas.set_draw_width(1);
  return true;
}

void draw_heat_map(common::Canvas& canvas, const store::PlateFormat& plate,
                   const ChannelGroups& groups,
                   const std::array<std::int64_t, store::kChannelCount>& totals) {
  const store::PlateGeometry& g = plate.geometry;
  const double pr = common::round_to_int(100 * g.row_pitch);
  const double orr = common::round_to_int(100 * g.row_offset);
  const double pc = common::round_to_int(100 * g.column_pitch);
  const double oc = common::round_to_int(100 * g.column_offset);
  const setup_editor::WorldRect world = setup_editor::plate_world(g, setup_editor::kBrowserPlate);
  canvas.set_world(world.left, world.top, world.right, world.bottom);
  canvas.clear(kWhite);
  canvas.set_draw_width(1);
  const int wells = std::max(0, g.rows) * std::max(0, g.columns);
  std::vector<std::int64_t> well_totals(static_cast<std::size_t>(wells), 0);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int w = plate.map.well_of_channel[static_cast<std::size_t>(c)];
    if (w >= 0 && w < wells)
      well_totals[static_cast<std::size_t>(w)] += totals[static_cast<std::size_t>(c)];
  }
  std::int64_t top = 255;
  for (std::int64_t t : well_totals)
    top = std::max(top, t);
  for (int w = 0; w < wells; ++w) {
    const int row = w % g.rows;
    const int column = w / g.rows;
    const double v =
        static_cast<double>(well_totals[static_cast<std::size_t>(w)]) / static_cast<double>(top);
    if (v <= 0) continue;
    const auto f =
        static_cast<std::uint8_t>(255 - std::clamp(common::round_to_int(255 * v), 0, 255));
    canvas.box(pc * column + oc + 0.6 * pc, pr * (row + 1 - v) + orr,
               pc * (column + 1) + oc - 0.05 * pc, pr * (row + 1) + orr - 0.05 * pr, {f, f, f},
               true);
  }
  for (int w = 0; w < wells; ++w) {
    const int row = w % g.rows;
    const int column = w / g.rows;
    canvas.box(oc + pc * column, orr + pr * row, oc + pc * (column + 1), orr + pr * (row + 1), kRed,
               false);
  }
  static constexpr common::Rgb kLabelColours[4] = {kGreen, kBlue, kRed, kBlack};
  for (int w = 0; w < wells; ++w) {
    const std::vector<int> beams = beams_of_well(plate, w);
    if (beams.empty() || beams[0] < 0) continue;
    const int group = groups[static_cast<std::size_t>(beams[0])];
    if (group < 0) continue;
    const int row = w % g.rows;
    const int column = w / g.rows;
    canvas.text(100 * column * g.column_pitch + oc + 25, 100 * row * g.row_pitch + orr + 45,
                std::to_string(group) + "G", kLabelColours[group % 4], kPlotTextPt);
  }
  for (int column = 0; column < g.columns; ++column)
    canvas.text(100 * column * g.column_pitch + oc + 25, 120 * g.row_offset - 50,
                std::to_string(column + 1), kBlack, kPlotTextPt);
  for (int row = 0; row < g.rows; ++row)
    canvas.text(100 * g.column_offset - 50, 100 * row * g.row_pitch + orr,
                std::string(1, static_cast<char>('A' + row % 26)), kBlack, kPlotTextPt);
}

std::vector<int> beams_of_well(const store::PlateFormat& plate, int well) {
  std::vector<int> beams(static_cast<std::size_t>(std::max(0, plate.map.greatest_position) + 1),
                         -1);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const auto i = static_cast<std::size_t>(c);
    const int p = plate.map.position_of_channel[i];
    if (plate.map.well_of_channel[i] == well && p >= 0 && p < static_cast<int>(beams.size()))
      beams[static_cast<std::size_t>(p)] = c;
  }
  return beams;
}

common::Rgb beam_colour(int b, int greatest) {
  if (greatest + 1 > 4) {
    const int red = std::clamp(common::round_to_int(255.0 * b / greatest), 0, 255);
    return {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(255 - red), 0};
  }
  static constexpr common::Rgb kFew[4] = {kRed, kBlue, kGreen, {200, 128, 0}};
  return kFew[std::clamp(b, 0, 3)];
}

void draw_channel_signal(common::Canvas& canvas, const RealtimePage& page,
                         std::span<const int> beams, int greatest_position) {
  canvas.set_world(-1000, 2150, 25000, -150);
  canvas.clear(kWhite);
  canvas.set_draw_width(1);
  canvas.line(0, 2150, 0, 0, kBlack);
  canvas.text(-1000, 2150, "100%", kBlack, kPlotTextPt);
  canvas.text(-1000, 100, "  0%", kBlack, kPlotTextPt);
  canvas.text(0, -30, std::to_string((page.page() - 1) * 25) + "k", kBlack, kPlotTextPt);
  canvas.text(12000, -25, "[sample]", kBlack, kPlotTextPt);
  canvas.text(23500, -30, std::to_string(page.page() * 25) + "k", kBlack, kPlotTextPt);
  canvas.line(0, 0, 24900, 0, kBlack);
  for (int j = 0; j < page.blocks(); ++j) {
    for (std::size_t b = 0; b < beams.size(); ++b) {
      const int channel = beams[b];
      if (channel < 0) continue;
      const common::Rgb colour = beam_colour(static_cast<int>(b), greatest_position);
      double previous = page.sample(j, 0, channel);
      for (int k = 1; k <= kShownSamples; ++k) {
        const double current = page.sample(j, k, channel);
        canvas.line(500.0 * j + k - 1, previous, 500.0 * j + k, current, colour);
        previous = current;
      }
    }
    canvas.line(500.0 * j, 2150, 500.0 * j, 0, kLightGrey);
  }
}

double preview_threshold(std::string_view text) {
  double v = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  while (first < last && *first == ' ')
    ++first;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (ec != std::errc{} || !std::isfinite(v) || v > 6 || v < 1.1) return 1.8;
  (void)end;
  return v;
}

AnalysisPreview run_analysis_preview(const RealtimePage& page, std::span<const int> beams,
                                     double threshold, int mode,
                                     const std::filesystem::path& counts_file) {
  AnalysisPreview out;
  out.beams = static_cast<int>(beams.size());
  out.channels.assign(beams.begin(), beams.end());
  out.lines.assign(static_cast<std::size_t>(kPageBlocks) * beams.size() * acquisition::kTraceLength,
                   0);
  out.minute_counts.assign(static_cast<std::size_t>(kPageBlocks / 10) * beams.size(), 0);
  acquisition::ActivityDetector detector;
  std::vector<std::int16_t> scratch(static_cast<std::size_t>(kPageBlockSamples) *
                                    store::kChannelSlots);
  const auto method = static_cast<std::int16_t>(mode);
  for (int j = 0; j < page.blocks(); ++j) {
    // Detection lowers clipped samples in its block: it works on a copy of the page's block.
    const auto block = page.block(j);
    std::copy(block.begin(), block.end(), scratch.begin());
    for (std::size_t b = 0; b < beams.size(); ++b) {
      const int channel = beams[b];
      if (channel < 0) continue;
      const int count = detector.detect_activity(acquisition::RawBlock{scratch}, channel, threshold,
                                                 method, 0, {}, 0);
      out.minute_counts[static_cast<std::size_t>(j / 10) * beams.size() + b] += count;
      const auto& line = detector.detection_line();
      std::copy(line.begin(), line.end(),
                out.lines.begin() +
                    static_cast<std::ptrdiff_t>((static_cast<std::size_t>(j) * beams.size() + b) *
                                                acquisition::kTraceLength));
    }
  }
  for (int i = 0; i < 5; ++i) {
    const int j = 10 * i + 9;
    if (j >= page.blocks()) break;
    if (const auto record = acquisition::read_counts_record(counts_file, page.record_of(j)))
      out.stamps[static_cast<std::size_t>(i)] = record->minutes;
  }
  return out;
}

void draw_analysis_preview(common::Canvas& canvas, const RealtimePage& page,
                           const AnalysisPreview& preview) {
  canvas.set_draw_width(1);
  canvas.text(100, 2150, "Time(min)", kBlack, kPlotTextPt);
  for (int j = 0; j < page.blocks(); ++j) {
    for (int b = 0; b < preview.beams; ++b) {
      if (preview.channels[static_cast<std::size_t>(b)] < 0) continue;
      for (int k = 1; k <= kShownSamples; ++k)
        canvas.line(500.0 * j + k - 1, preview.line(j, b, k - 1), 500.0 * j + k,
                    preview.line(j, b, k), kGrey);
    }
    canvas.line(500.0 * j, 2150, 500.0 * j, 0, kLightGrey);
    if (j % 10 == 9) {
      const int minute = j / 10;
      const std::int32_t stamp = preview.stamps[static_cast<std::size_t>(minute)];
      if (stamp >= 0)
        canvas.text(500.0 * j - 500, 2150, std::to_string(stamp), kBlack, kPlotTextPt);
      for (int b = 0; b < preview.beams; ++b)
        if (preview.channels[static_cast<std::size_t>(b)] >= 0)
          canvas.text(500.0 * j - 500, 100.0 * b + 100,
                      std::to_string(preview.minute_count(minute, b)), kBlack, kPlotTextPt);
    }
  }
}

void draw_progress(common::Canvas& canvas, double fraction) {
  canvas.set_world(0, 0, 100, 100);
  canvas.clear(kWhite);
  canvas.box(0, 0, 100 * std::clamp(fraction, 0.0, 1.0), 100, kBlue, true);
}

} // namespace kestrova::browser
