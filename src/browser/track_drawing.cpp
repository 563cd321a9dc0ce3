#include "browser/track_drawing.hpp"

#include <cmath>
#include <string>

#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "setup_editor/plate_map.hpp"

namespace kestrova::browser {

namespace {

constexpr common::Rgb kWhite{255, 255, 255};
constexpr common::Rgb kBlack{0, 0, 0};
constexpr common::Rgb kYellow{255, 255, 0};
constexpr double kLabelPoints = 10;

common::Rgb group_colour(int group) {
  switch (group % 4) {
  case 0:
    return {0, 255, 0};
  case 1:
    return {0, 0, 255};
  case 2:
    return {255, 0, 0};
  default:
    return kBlack;
  }
}

// Pitches and offsets x 100, rounded, as the plate drawing places wells.
struct Scaled {
  double pc, oc, pr, orow;
};
Scaled scaled(const store::PlateGeometry& g) {
  return {common::round_half_even(100 * g.column_pitch),
          common::round_half_even(100 * g.column_offset),
          common::round_half_even(100 * g.row_pitch), common::round_half_even(100 * g.row_offset)};
}

} // namespace

void draw_track_plate(common::Canvas& canvas, const TrackInputs& inputs) {
  const store::PlateGeometry& g = inputs.plate.geometry;
  const Scaled s = scaled(g);
  const setup_editor::WorldRect world = setup_editor::plate_world(g, setup_editor::kBrowserPlate);
  canvas.set_world(world.left, world.top, world.right, world.bottom);
  canvas.clear(kWhite);
  canvas.set_draw_width(1);
  for (int c = 0; c < g.columns; ++c)
    for (int r = 0; r < g.rows; ++r)
      canvas.box(s.oc + c * s.pc, s.orow + r * s.pr, s.oc + (c + 1) * s.pc, s.orow + (r + 1) * s.pr,
                 kTrackWellOutline, false);
  for (int ch = 0; ch < store::kChannelCount; ++ch) {
    const bool in_well = inputs.plate.map.well_of_channel[ch] >= 0;
    canvas.circle(track_world(store::beam_column(ch)), track_world(store::beam_row(ch)), 5,
                  in_well && inputs.enabled[ch] ? kTrackBeam : kYellow);
  }
  const auto wells = inputs.well_channels();
  for (std::size_t w = 0; w < wells.size(); ++w) {
    if (wells[w].empty() || g.rows <= 0) continue;
    const int group = inputs.channel_group[wells[w].front()];
    if (group < 0) continue;
    const int column = static_cast<int>(w) / g.rows, row = static_cast<int>(w) % g.rows;
    canvas.text(s.oc + column * s.pc + 20, s.orow + (row + 1) * s.pr - 120,
                "G" + std::to_string(group), group_colour(group), kLabelPoints);
  }
  for (int c = 0; c < g.columns; ++c)
    canvas.text(s.oc + c * s.pc + s.pc / 2, s.orow - 45, std::to_string(c + 1), kBlack,
                kLabelPoints);
  for (int r = 0; r < g.rows; ++r)
    canvas.text(s.oc - 45, s.orow + r * s.pr + s.pr / 2, std::string(1, static_cast<char>('A' + r)),
                kBlack, kLabelPoints);
}

void draw_track_label(common::Canvas& canvas, const TrackInputs& inputs, int well,
                      double cumulative) {
  const store::PlateGeometry& g = inputs.plate.geometry;
  if (g.rows <= 0) return;
  const int column = well / g.rows, row = well % g.rows;
  const double x = 100 * g.column_offset + 100 * column * g.column_pitch + 20;
  const double y = 100 * g.row_offset + 100 * row * g.row_pitch + 20;
  canvas.box(x, y, x + 260, y + 60, kWhite, true);
  canvas.text(x + 5, y + 5, track_millimetres(cumulative) + "mm", kBlack, kLabelPoints);
}

void draw_track_step(common::Canvas& canvas, const TrackInputs& inputs, const TrackModel& model) {
  const auto& moved = model.last_step();
  auto next = moved.begin();
  for (int well = 0; well < model.wells(); ++well) {
    if (next == moved.end() || next->well != well) {
      draw_track_label(canvas, inputs, well, model.cumulative(well));
      continue;
    }
    const TrackWellStep& s = *next++;
    for (const int ch : model.channels_of(s.well))
      canvas.circle(track_world(store::beam_column(ch)), track_world(store::beam_row(ch)), 2,
                    kTrackBeam);
    const auto& h = s.history;
    const auto at = [](const TrackPoint& p) {
      return std::pair{track_world(p.x), track_world(p.y)};
    };
    const auto [px, py] = at(s.position);
    const auto [x0, y0] = at(h[0]);
    const auto [x1, y1] = at(h[1]);
    const auto [x2, y2] = at(h[2]);
    const auto [x3, y3] = at(h[3]);
    const auto [x4, y4] = at(h[4]);
    // The marker and path are drawn once per interrupted beam, each time with its beam.
    for (const int ch : s.interrupted) {
      canvas.circle(x0, y0, 16, kWhite);
      canvas.circle(track_world(store::beam_column(ch)), track_world(store::beam_row(ch)), 2,
                    kBlack);
      canvas.circle(px, py, 16, kTrackMarker);
      canvas.line(px, py, x0, y0, kTrackMarker);
      canvas.line(x0, y0, x1, y1, kTrackMarker);
      canvas.line(x1, y1, x2, y2, kTrackMarker);
      canvas.line(x2, y2, x3, y3, kTrackOldPath);
      canvas.line(x3, y3, x4, y4, kTrackOldPath);
    }
    draw_track_label(canvas, inputs, s.well, s.cumulative);
  }
}

std::filesystem::path track_frame_file(const std::filesystem::path& folder, std::int64_t position) {
  return folder / "bmp" / (common::format_display(static_cast<double>(position), "00000") + ".bmp");
}

} // namespace kestrova::browser
