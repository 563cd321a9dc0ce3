#pragma once

// The plate map of the setup window: the world coordinates of the picture (100 units per
// beam), which well lies under a point, and the drawing of wells, beams, group labels,
// captions and the rubber band of a drag.

#include <array>
#include <optional>
#include <string>

#include "common/canvas.hpp"
#include "store/project_state.hpp"

namespace kestrova::setup_editor {

inline constexpr double kUnitsPerBeam = 100;

// A rectangle in world units, (left, top) to (right, bottom).
struct WorldRect {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
  friend bool operator==(const WorldRect&, const WorldRect&) = default;
};

// A well by its row and column on the plate, and its number (rows x column + row).
struct WellCell {
  int row = 0;
  int column = 0;
  int well = 0;
  friend bool operator==(const WellCell&, const WellCell&) = default;
};

// How a plate picture looks: the setup window's and the browser's group editor draw the same
// plate with their own margins and colours.
struct PlateStyle {
  double margin = 100; // world shown before the plate's first row and column
  double right = 2425; // right and bottom edges of the world shown
  double bottom = 1625;
  common::Rgb well{0, 0, 255};
  common::Rgb beam_in_use{200, 200, 200}; // an enabled beam in a well; others are yellow
  std::array<common::Rgb, 4> groups{
      {{0, 128, 0}, {0, 0, 128}, {255, 0, 0}, {255, 150, 0}}}; // label colour by group mod 4
  double caption_size = 12; // points of the column numbers and row letters
};

// The setup window's plate.
inline constexpr PlateStyle kSetupPlate{};
// The plate as the experiment browser draws it (group editor, heat map, track): red wells, blue
// beams in use, group labels in green, blue, red and black, half a beam of margin.
inline constexpr PlateStyle kBrowserPlate{
    50, 2450, 1650, {255, 0, 0}, {0, 0, 255}, {{{0, 255, 0}, {0, 0, 255}, {255, 0, 0}, {0, 0, 0}}},
    10};

// What the picture shows: from `style.margin` before the plate's first row and column to
// (style.right, style.bottom), or a little beyond the plate's last well where the plate is
// larger than the beam grid (6 wells); the setup window's plate by default.
WorldRect plate_world(const store::PlateGeometry& g, const PlateStyle& style = kSetupPlate);

// True when (x, y) lies on the plate's wells.
bool over_plate(const store::PlateGeometry& g, double x, double y);

// The well under (x, y): row and column counted from the plate's offsets by its pitches, a
// negative value counting as 0 and a value past the last row or column as the last.
WellCell well_at(const store::PlateGeometry& g, double x, double y);

// The rectangle of the well at (row, column).
WorldRect well_rect(const store::PlateGeometry& g, int row, int column);

// The colour of a group label: group mod 4 picks one of the style's four (the setup window's
// dark green, navy, red, orange by default).
common::Rgb group_colour(int group, const PlateStyle& style = kSetupPlate);

// The rubber band of a drag: the wells from the anchor to the well under the pointer.
struct RubberBand {
  WellCell anchor;
  WellCell current;
};

// Draws the plate of the project: the world window, the wells outlined, each beam as a small
// circle (yellow when disabled or in no well), "G" + group at every well whose first beam is
// in a group, the column numbers and row letters, and the band.
void draw_plate(common::Canvas& canvas, const store::ProjectState& project,
                const std::optional<RubberBand>& band = std::nullopt,
                const PlateStyle& style = kSetupPlate);

} // namespace kestrova::setup_editor
