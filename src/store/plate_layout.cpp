#include "store/plate_layout.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "store/record_file.hpp"

namespace kestrova::store {

namespace {

constexpr std::array<PlateCatalogueEntry, 7> kCatalogue{{
    {"w384", "384 Well microplate [1microbeams/well]", "USE 'W384' plate Adapter", ""},
    {"w96f", "96 Wells flat bottom [2microbeams/well]", "USE 'W96F' plate Adapter", ""},
    {"w24", "24 Wells flat bottom [4microbeams/well]", "USE 'W384' or 'W24' plate Adapter", ""},
    {"w48", "48 Wells flat bottom [1-3microbeams/well]", "USE 'W384' or 'W48' plate Adapter", ""},
    {"w6", "6 Wells flat bottom [30-32microbeams/well]", "USE 'W384' or 'W6' plate Adapter", ""},
    {"w96u", "96 Wells U shape bottom [1microbeam/well]", "USE 'W96U' plate Adapter", ""},
    {"w96flat", "96 Wells flat bottom [4microbeams/well]", "USE 'W384' or 'W96x4' plate Adapter",
     "NOTE: DISCONTINUED. Contact provider"},
}};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

// Layouts of the installed formats. Pitches are the plate's well pitch / 4.5 mm; a centred
// plate's offsets put the middle of its well grid on beam-grid point (8, 12):
// offset = 8 - rows * pitch / 2 and 12 - columns * pitch / 2 (four decimals).
//
// Beam rules and radii (beam units; x 4.5 for mm):
//   w384     well 3.6 mm; the beam at its centre (radius 0.4).
//   w96u     U-bottom well 6.4 mm; centred on one beam (radius 0.6, next beams at 1).
//   w96f     flat well 6.86 mm; between two beams at 0.5 (radius 0.75, next at 1.12).
//   w96flat  flat well 6.86 mm (radius 0.76); four beams at 0.71 (radius 0.75, next at 1.58).
//   w24      well 15.6 mm (radius 1.73); the 2 x 2 block around the centre, all within 1.42.
//   w48      well 11.0 mm (radius 1.22); beams within 0.85 give 1 to 3 beams per well, no
//            beam closer than 0.01 to that radius.
//   w6       well 34.8 mm (radius 3.87); beams within 3.18 give 30 to 32 beams per well, no
//            beam closer than 0.01 to that radius.
std::vector<PlateLayout> make_layouts() {
  return {
      {"w384", {16, 1, 0, 24, 1, 0}, 3.6, BeamRule::Circle, 0.4, 1, 1},
      {"w96u", {8, 2, -0.5, 12, 2, -0.5}, 6.4, BeamRule::Circle, 0.6, 1, 1},
      {"w96f", {8, 2, -0.5, 12, 2, 0}, 6.86, BeamRule::Circle, 0.75, 2, 2},
      {"w96flat", {8, 2, 0, 12, 2, 0}, 6.86, BeamRule::Circle, 0.75, 4, 4},
      {"w24", {4, 4.2889, -0.5778, 6, 4.2889, -0.8667}, 15.6, BeamRule::NearestBlock, 0, 4, 4},
      {"w48", {6, 2.9067, -0.7201, 8, 2.9067, 0.3732}, 11.0, BeamRule::Circle, 0.85, 1, 3},
      {"w6", {2, 8.6933, -0.6933, 3, 8.6933, -1.04}, 34.8, BeamRule::Circle, 3.18, 30, 32},
  };
}

// True when the beam of `channel` belongs to the well of `circle` under the layout's rule.
bool beam_in_well(const PlateLayout& layout, const WellCircle& circle, int channel) {
  const double row = beam_row(channel) + 0.5;
  const double column = beam_column(channel) + 0.5;
  if (layout.rule == BeamRule::Circle) {
    return std::hypot(row - circle.row, column - circle.column) <= layout.detection_radius;
  }
  // The beam centres that bracket the well centre in each direction.
  const double first_row = std::floor(circle.row - 0.5);
  const double first_column = std::floor(circle.column - 0.5);
  const double r = beam_row(channel);
  const double c = beam_column(channel);
  return (r == first_row || r == first_row + 1) && (c == first_column || c == first_column + 1);
}

} // namespace

std::optional<PlateCatalogueEntry> DescribePlateFormat(std::string_view name) {
  const std::string key = lower(name);
  for (const PlateCatalogueEntry& entry : kCatalogue) {
    if (entry.name == key) return entry;
  }
  return std::nullopt;
}

const std::vector<PlateLayout>& InstalledPlateLayouts() {
  static const std::vector<PlateLayout> layouts = make_layouts();
  return layouts;
}

std::optional<PlateLayout> FindPlateLayout(std::string_view name) {
  const std::string key = lower(name);
  for (const PlateLayout& layout : InstalledPlateLayouts()) {
    if (layout.name == key) return layout;
  }
  return std::nullopt;
}

WellCircle well_circle(const PlateLayout& layout, int well) {
  const PlateGeometry& g = layout.geometry;
  const int row = well % g.rows;
  const int column = well / g.rows;
  return {g.row_offset + g.row_pitch * (row + 0.5),
          g.column_offset + g.column_pitch * (column + 0.5),
          layout.well_diameter_mm / 2 / kBeamPitchMm};
}

PlateFormat GeneratePlateFormat(const PlateLayout& layout) {
  PlateFormat plate;
  plate.geometry = layout.geometry;
  WellMap& map = plate.map;
  const int wells = layout.geometry.rows * layout.geometry.columns;
  std::vector<int> beams_in_well(static_cast<std::size_t>(wells), 0);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    for (int well = 0; well < wells; ++well) {
      if (!beam_in_well(layout, well_circle(layout, well), channel)) continue;
      map.well_of_channel[channel] = well;
      map.position_of_channel[channel] = beams_in_well[static_cast<std::size_t>(well)]++;
      break;
    }
  }
  map.greatest_well = 0;
  map.greatest_position = 0;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    map.greatest_well = std::max(map.greatest_well, map.well_of_channel[channel]);
    map.greatest_position = std::max(map.greatest_position, map.position_of_channel[channel]);
  }
  map.rebuild_well_channel_table();
  return plate;
}

std::string PlateFormatFileText(const PlateLayout& layout) {
  const PlateFormat plate = GeneratePlateFormat(layout);
  const PlateGeometry& g = plate.geometry;
  const auto entry = DescribePlateFormat(layout.name);
  const std::string description =
      std::string(layout.name) + ": " + std::string(entry ? entry->description : "");

  RecordWriter writer;
  writer.record({"<Plate_Format>, <Rows>, <Row_Pitch>, <Row_Offset>, <Columns>, "
                 "<Column_Pitch>, <Column_Offset>"});
  writer.record(
      {description, g.rows, g.row_pitch, g.row_offset, g.columns, g.column_pitch, g.column_offset});
  writer.record({"<Label>, <Well: -1=None>, <Position>"});
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const int well = plate.map.well_of_channel[channel];
    const std::string label = well < 0 ? "-" : WellLabel(g, well);
    writer.record({label, well, plate.map.position_of_channel[channel]});
  }
  return writer.text();
}

} // namespace kestrova::store
