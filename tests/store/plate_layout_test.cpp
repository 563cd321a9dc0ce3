#include "store/plate_layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "store/data_template.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::FakeDialogs;
using testing::TempDir;

const std::filesystem::path kDataFolder = std::filesystem::path(KESTROVA_SOURCE_DIR) / "data";

// Every installed format: beams per well within the catalogue range (both ends reached), every
// well read by at least one beam, every beam of a well inside the well's circle, and no beam
// claimed by two wells' circles.
TEST(PlateLayout, BeamsPerWellAndInsideTheirWell) {
  for (const PlateLayout& layout : InstalledPlateLayouts()) {
    SCOPED_TRACE(std::string(layout.name));
    const PlateFormat plate = GeneratePlateFormat(layout);
    const int wells = layout.geometry.rows * layout.geometry.columns;
    std::map<int, int> beams;
    for (int channel = 0; channel < kChannelCount; ++channel) {
      const WellPosition wp = plate.map.WellOfChannel(channel);
      if (wp.well < 0) continue;
      ASSERT_LT(wp.well, wells);
      EXPECT_EQ(wp.position, beams[wp.well]) << "positions count beams in channel order";
      ++beams[wp.well];
      const WellCircle circle = well_circle(layout, wp.well);
      const double distance = std::hypot(beam_row(channel) + 0.5 - circle.row,
                                         beam_column(channel) + 0.5 - circle.column);
      EXPECT_LT(distance, circle.radius) << "channel " << channel;
    }
    ASSERT_EQ(static_cast<int>(beams.size()), wells);
    int fewest = kChannelCount;
    int most = 0;
    for (const auto& [well, count] : beams) {
      fewest = std::min(fewest, count);
      most = std::max(most, count);
    }
    EXPECT_EQ(fewest, layout.min_beams_per_well);
    EXPECT_EQ(most, layout.max_beams_per_well);
    // Wells' circles do not overlap, so no beam can lie in two wells.
    EXPECT_LT(2 * well_circle(layout, 0).radius,
              std::min(layout.geometry.row_pitch, layout.geometry.column_pitch));
    ASSERT_TRUE(DescribePlateFormat(layout.name));
  }
}

// Pitches are the plate's well pitch in beam units, and plates used with the W384 adapter lie
// centred on the beam grid.
TEST(PlateLayout, GeometryFollowsThePlateDimensions) {
  const std::map<std::string, double> pitch_mm = {{"w384", 4.5},  {"w96u", 9},   {"w96f", 9},
                                                  {"w96flat", 9}, {"w24", 19.3}, {"w48", 13.08},
                                                  {"w6", 39.12}};
  for (const PlateLayout& layout : InstalledPlateLayouts()) {
    SCOPED_TRACE(std::string(layout.name));
    const PlateGeometry& g = layout.geometry;
    const double pitch = pitch_mm.at(std::string(layout.name)) / kBeamPitchMm;
    EXPECT_NEAR(g.row_pitch, pitch, 1e-4);
    EXPECT_NEAR(g.column_pitch, pitch, 1e-4);
    const std::string adapter(DescribePlateFormat(layout.name)->adapter);
    if (adapter.find("'W384'") != std::string::npos) {
      EXPECT_NEAR(g.row_offset + g.rows * g.row_pitch / 2, kBeamRows / 2.0, 1e-3);
      EXPECT_NEAR(g.column_offset + g.columns * g.column_pitch / 2, kBeamColumns / 2.0, 1e-3);
    }
  }
}

// Same wells and positions for every channel. Only the greatest well differs: the built-in
// 96-well maps give 96, a file the largest well it holds (95).
TEST(PlateLayout, BuiltInFormatsMatchTheirGeneratedMaps) {
  for (const char* name : {"w384", "w96u", "w96f"}) {
    SCOPED_TRACE(name);
    const PlateFormat generated = GeneratePlateFormat(*FindPlateLayout(name));
    const PlateFormat built_in = *BuiltInPlateFormat(name);
    EXPECT_EQ(generated.geometry, built_in.geometry);
    EXPECT_EQ(generated.map.well_of_channel, built_in.map.well_of_channel);
    EXPECT_EQ(generated.map.position_of_channel, built_in.map.position_of_channel);
    EXPECT_EQ(generated.map.greatest_position, built_in.map.greatest_position);
    for (int well = 0; well <= generated.map.greatest_well; ++well) {
      for (int position = 0; position <= generated.map.greatest_position; ++position) {
        EXPECT_EQ(generated.map.ChannelOfWell(well, position),
                  built_in.map.ChannelOfWell(well, position));
      }
    }
  }
}

// The files kept in data/ are exactly what the generator writes today, and read back to the
// generated maps.
TEST(DataFolderTemplate, RepositoryFilesAreUpToDate) {
  TempDir dir;
  FakeDialogs dialogs;
  const std::vector<std::string> written = WriteDataFolderTemplate(dir.path(), dialogs);
  EXPECT_TRUE(dialogs.messages().empty());
  ASSERT_EQ(written.size(), InstalledPlateLayouts().size() + 1);
  for (const std::string& name : written) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(std::filesystem::exists(kDataFolder / name)) << "run kestrova-plate-gen data";
    EXPECT_EQ(testing::read_file(kDataFolder / name), testing::read_file(dir / name))
        << "run kestrova-plate-gen data";
  }
  EXPECT_EQ(testing::read_file(kDataFolder / "config.dat"),
            "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n"
            "0,0,1,0\r\n");

  std::vector<std::string> names;
  for (const PlateLayout& layout : InstalledPlateLayouts())
    names.emplace_back(layout.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(ListPlateFormats(kDataFolder), names);

  for (const PlateLayout& layout : InstalledPlateLayouts()) {
    SCOPED_TRACE(std::string(layout.name));
    PlateFormat plate;
    ASSERT_TRUE(ReadPlateFormat(kDataFolder, layout.name, plate).ok);
    EXPECT_EQ(plate, GeneratePlateFormat(layout));
  }
}

} // namespace
} // namespace kestrova::store
