#include "setup_editor/plate_map.hpp"

#include <algorithm>
#include <cmath>

namespace kestrova::setup_editor {

namespace {

constexpr common::Rgb kBeamUnused{255, 255, 0};
constexpr common::Rgb kCaptionColour{0, 0, 0};
constexpr common::Rgb kBandColour{255, 0, 255};
constexpr double kBeamRadius = 5;
constexpr double kLabelSize = 10;

double left_edge(const store::PlateGeometry& g) { return kUnitsPerBeam * g.column_offset; }
double top_edge(const store::PlateGeometry& g) { return kUnitsPerBeam * g.row_offset; }
double column_width(const store::PlateGeometry& g) { return kUnitsPerBeam * g.column_pitch; }
double row_height(const store::PlateGeometry& g) { return kUnitsPerBeam * g.row_pitch; }

int cell_index(double offset, double pitch, int count) {
  if (pitch <= 0 || count <= 0) return 0;
  const double f = std::floor(offset / pitch);
  if (!(f > 0)) return 0; // negative (or not a number) counts as 0
  return static_cast<int>(std::min(f, static_cast<double>(count - 1)));
}

} // namespace

WorldRect plate_world(const store::PlateGeometry& g, const PlateStyle& style) {
  // Room for the outline of the last well, whose line would otherwise fall on the edge.
  constexpr double kBeyondPlate = 20;
  const double right = left_edge(g) + column_width(g) * std::max(0, g.columns) + kBeyondPlate;
  const double bottom = top_edge(g) + row_height(g) * std::max(0, g.rows) + kBeyondPlate;
  return {left_edge(g) - style.margin, top_edge(g) - style.margin, std::max(style.right, right),
          std::max(style.bottom, bottom)};
}

bool over_plate(const store::PlateGeometry& g, double x, double y) {
  return x >= left_edge(g) && x < left_edge(g) + column_width(g) * g.columns && y >= top_edge(g) &&
         y < top_edge(g) + row_height(g) * g.rows;
}

WellCell well_at(const store::PlateGeometry& g, double x, double y) {
  WellCell c;
  c.column = cell_index(x - left_edge(g), column_width(g), g.columns);
  c.row = cell_index(y - top_edge(g), row_height(g), g.rows);
  c.well = g.rows * c.column + c.row;
  return c;
}

WorldRect well_rect(const store::PlateGeometry& g, int row, int column) {
  const double left = left_edge(g) + column_width(g) * column;
  const double top = top_edge(g) + row_height(g) * row;
  return {left, top, left + column_width(g), top + row_height(g)};
}

common::Rgb group_colour(int group, const PlateStyle& style) {
  return style.groups[static_cast<std::size_t>(((group % 4) + 4) % 4)];
}

void draw_plate(common::Canvas& canvas, const store::ProjectState& project,
                const std::optional<RubberBand>& band, const PlateStyle& style) {
  const store::PlateGeometry& g = project.plate.geometry;
  const store::WellMap& map = project.plate.map;
  const auto& groups = project.groups.main().channel_group;
  const WorldRect world = plate_world(g, style);
  canvas.set_world(world.left, world.top, world.right, world.bottom);
  canvas.clear({255, 255, 255});
  canvas.set_draw_width(1);

  for (int column = 0; column < g.columns; ++column)
    for (int row = 0; row < g.rows; ++row) {
      const WorldRect r = well_rect(g, row, column);
      canvas.box(r.left, r.top, r.right, r.bottom, style.well, false);
    }

  for (int c = 0; c < store::kChannelCount; ++c) {
    const bool in_use = project.channels.enabled[static_cast<std::size_t>(c)] &&
                        map.well_of_channel[static_cast<std::size_t>(c)] >= 0;
    canvas.circle(kUnitsPerBeam * store::beam_column(c) + 50,
                  kUnitsPerBeam * store::beam_row(c) + 50, kBeamRadius,
                  in_use ? style.beam_in_use : kBeamUnused, true);
  }

  // Group labels: the group of each well's first beam.
  for (int column = 0; column < g.columns; ++column)
    for (int row = 0; row < g.rows; ++row) {
      const int well = g.rows * column + row;
      for (int c = 0; c < store::kChannelCount; ++c) {
        const auto slot = static_cast<std::size_t>(c);
        if (map.well_of_channel[slot] != well || map.position_of_channel[slot] != 0) continue;
        const int group = groups[slot];
        if (group >= 0)
          canvas.text(column_width(g) * column + left_edge(g) + 25,
                      row_height(g) * row + top_edge(g) + 45, "G" + std::to_string(group),
                      group_colour(group, style), kLabelSize);
        break;
      }
    }

  // The captions sit in the margin before the plate, whatever its width.
  const double caption_top = top_edge(g) - style.margin * 0.9;
  const double caption_left = left_edge(g) - style.margin * 0.8;
  for (int column = 0; column < g.columns; ++column)
    canvas.text(left_edge(g) + column_width(g) * column + column_width(g) / 2 - 20, caption_top,
                std::to_string(column + 1), kCaptionColour, style.caption_size);
  for (int row = 0; row < g.rows; ++row)
    canvas.text(caption_left, top_edge(g) + row_height(g) * row + row_height(g) / 2 - 40,
                std::string(1, static_cast<char>('A' + row % 26)), kCaptionColour,
                style.caption_size);

  if (band) {
    const WorldRect a = well_rect(g, band->anchor.row, band->anchor.column);
    const WorldRect b = well_rect(g, band->current.row, band->current.column);
    canvas.set_draw_width(2);
    canvas.box(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
               std::max(a.bottom, b.bottom), kBandColour, false);
    canvas.set_draw_width(1);
  }
}

} // namespace kestrova::setup_editor
