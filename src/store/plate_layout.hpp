#pragma once

// The plate formats installed with the program: their catalogue texts, their physical layout
// over the beam grid, and the generation of their plate format files.
//
// Physical facts (1 beam unit = 4.5 mm, the beam pitch): the beams sit on the 16 x 24 grid of
// a 384-well plate; 96-well plates have a 9 mm well pitch (8 x 12), 48-well 13.08 mm (6 x 8),
// 24-well 19.3 mm (4 x 6) and 6-well 39.12 mm (2 x 3).
//
// Placement: with the W384 adapter every plate lies centred on the beam grid, like all
// standard plates share one footprint centre; its centre is beam-grid point (8, 12). The W96F
// adapter shifts a 96-well plate up by half a beam, so each well sits on two beams side by
// side; the W96U adapter shifts it half a beam up and left, so each well sits on one beam.
//
// Which beams belong to a well (the beams a well is read with): either every beam whose centre
// lies within the format's detection radius of the well centre, or the 2 x 2 block of beams
// around the well centre. Every such beam lies inside the well's circle.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/plate_format.hpp"

namespace kestrova::store {

inline constexpr double kBeamPitchMm = 4.5;

// What the setup window tells about a format: its description and adapter lines.
struct PlateCatalogueEntry {
  std::string_view name;
  std::string_view description; // "96 Wells flat bottom [2microbeams/well]"
  std::string_view adapter;     // "USE 'W96F' plate Adapter"
  std::string_view note;        // a second adapter line, or empty
};

// The catalogue entry of a format (name compared without regard to case); nullopt when the
// format is not one of the catalogue.
std::optional<PlateCatalogueEntry> DescribePlateFormat(std::string_view name);

enum class BeamRule {
  Circle,       // beams whose centres lie within detection_radius of the well centre
  NearestBlock, // the 2 x 2 block of beams around the well centre
};

// The physical layout of one installed format.
struct PlateLayout {
  std::string_view name;
  PlateGeometry geometry;  // in beam units, as written to the file
  double well_diameter_mm; // diameter of a well's circle
  BeamRule rule;
  double detection_radius; // beam units; used by BeamRule::Circle
  int min_beams_per_well;  // catalogue range of beams per well
  int max_beams_per_well;
};

// The installed formats, in the order w384, w96u, w96f, w96flat, w24, w48, w6.
const std::vector<PlateLayout>& InstalledPlateLayouts();

// The layout of an installed format; nullopt for any other name.
std::optional<PlateLayout> FindPlateLayout(std::string_view name);

// A well's circle in beam units: centre (row, column coordinates) and radius.
struct WellCircle {
  double row = 0;
  double column = 0;
  double radius = 0;
};

// The circle of well `well` (numbered down each column) of a layout.
WellCircle well_circle(const PlateLayout& layout, int well);

// Builds the format's well map from its layout by its beam rule; positions count the beams
// of a well in channel order.
PlateFormat GeneratePlateFormat(const PlateLayout& layout);

// The bytes of the format's plate format file.
std::string PlateFormatFileText(const PlateLayout& layout);

} // namespace kestrova::store
