#pragma once

// The offline plots drawn on a Canvas: the group activity bar plot, the line plot (one
// acquisition over time, or a kinetic group over its acquisitions), the plate heat map, the raw
// signal of one well and the analysis preview over it.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "acquisition/detection.hpp"
#include "browser/group_table.hpp"
#include "browser/realtime_page.hpp"
#include "common/canvas.hpp"
#include "store/plate_format.hpp"

namespace kestrova::browser {

inline constexpr double kPlotTextPt = 8;
inline constexpr int kBarsShown = 10;

// The bar plot: column 1 of up to ten items of `items` (the `lstgrup_plot` texts) from
// `first_bar`; `selected` is the index of the selected item (-1 for none).
void draw_bar_plot(common::Canvas& canvas, const GroupActivity& table,
                   std::span<const std::string> items, int first_bar, int selected);

// The line plot of every item's series over the table's columns, or over the kinetic group's
// acquisitions when `kinetic` is given (its table is then the one drawn). `maximum` is the
// table's maximum, after relativizing if any. Returns false, drawing nothing, when the plot's
// height is 0 (all counts zero).
bool draw_line_plot(common::Canvas& canvas, const GroupActivity& table,
                    std::span<const std::string> items, int selected,
                    const KineticActivity* kinetic);

// The plate heat map of per-channel totals, with well outlines, group labels and row and column
// names.
void draw_heat_map(common::Canvas& canvas, const store::PlateFormat& plate,
                   const ChannelGroups& groups,
                   const std::array<std::int64_t, store::kChannelCount>& totals);

// The channel of each beam position 0..greatest position of `well`; -1 where none.
std::vector<int> beams_of_well(const store::PlateFormat& plate, int well);

// The colour of beam position `b` of a plate whose greatest position is `greatest`.
common::Rgb beam_colour(int b, int greatest);

// The raw signal of the beams `beams` (channel per beam position, -1 for none) over the page.
void draw_channel_signal(common::Canvas& canvas, const RealtimePage& page,
                         std::span<const int> beams, int greatest_position);

// The detection routine run over every block of the page for each beam.
struct AnalysisPreview {
  int beams = 0;
  std::vector<int> channels; // channel of each beam, -1 for none
  // lines[(block * beams + beam) * 501 + position]
  std::vector<std::int16_t> lines;
  // counts[minute * beams + beam], minutes 0..4 of the page
  std::vector<int> minute_counts;
  // Time stamp of the counts.bin record of blocks 9, 19, 29, 39, 49; -1 when missing.
  std::array<std::int32_t, 5> stamps{-1, -1, -1, -1, -1};

  std::int16_t line(int block, int beam, int position) const {
    return lines[(static_cast<std::size_t>(block) * static_cast<std::size_t>(beams) +
                  static_cast<std::size_t>(beam)) *
                     acquisition::kTraceLength +
                 static_cast<std::size_t>(position)];
  }
  int minute_count(int minute, int beam) const {
    return minute_counts[static_cast<std::size_t>(minute * beams + beam)];
  }
};

// The threshold of the preview: `text` as a number, 1.8 when outside 1.1..6 or not a number.
double preview_threshold(std::string_view text);

// Runs detection (method `mode`, 0 or 1) with `threshold` over the page for each beam with a
// channel; the page itself is left as it is. `counts_file` gives the time stamps.
AnalysisPreview run_analysis_preview(const RealtimePage& page, std::span<const int> beams,
                                     double threshold, int mode,
                                     const std::filesystem::path& counts_file);

// The preview drawn over the channel view: detection lines, minute marks and counts.
void draw_analysis_preview(common::Canvas& canvas, const RealtimePage& page,
                           const AnalysisPreview& preview);

// The loading progress picture: a blue box up to `fraction` of its width.
void draw_progress(common::Canvas& canvas, double fraction);

} // namespace kestrova::browser
