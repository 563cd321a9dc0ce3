#include "store/plate_format.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

#include "store/record_file.hpp"

namespace kestrova::store {

namespace {

namespace fs = std::filesystem;

// The densest plates made have 48 x 72 wells; larger counts in a file mean damage, and the
// limits keep the well-channel table small whatever a file holds.
constexpr int kMaxPlateRows = 64;
constexpr int kMaxPlateColumns = 96;

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

bool is_plain_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The file `target` in `folder`, or a file whose name differs from it only by case.
std::optional<fs::path> find_case_insensitive(const fs::path& folder, const std::string& target) {
  std::error_code ec;
  const fs::path exact = folder / target;
  if (fs::is_regular_file(exact, ec)) return exact;
  const std::string wanted = lower(target);
  std::optional<fs::path> found;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (lower(name) != wanted || !fs::is_regular_file(it->path(), type_ec)) continue;
    // Several spellings on a case-sensitive file system: take the first in name order.
    if (!found || name < found->filename().string()) found = it->path();
  }
  return found;
}

bool valid_geometry(const PlateGeometry& g) {
  return g.rows >= 1 && g.rows <= kMaxPlateRows && g.columns >= 1 &&
         g.columns <= kMaxPlateColumns && std::isfinite(g.row_pitch) && g.row_pitch > 0 &&
         std::isfinite(g.column_pitch) && g.column_pitch > 0 && std::isfinite(g.row_offset) &&
         std::isfinite(g.column_offset);
}

// Reads the file into `plate`; `step` tracks progress. False on a read error or damage.
bool read_plate_file(const fs::path& file, PlateFormat& plate, int& step) {
  step = 0;
  auto reader = RecordReader::open(file);
  if (!reader) return false;
  step = 1;

  PlateGeometry& g = plate.geometry;
  g.row_offset = 0;
  g.column_offset = 0;
  std::string text1, text2, text3;
  if (!reader->read(text1, text2, g.rows, g.row_pitch, g.row_offset, g.columns, g.column_pitch,
                    g.column_offset, text3) ||
      !valid_geometry(g)) {
    return false;
  }
  step = 2;

  WellMap& map = plate.map;
  map.greatest_well = 0;
  map.greatest_position = 0;
  const int wells = g.rows * g.columns;
  for (int channel = 0; channel < kChannelSlots && !reader->at_end(); ++channel) {
    std::string label;
    int well = 0;
    int position = 0;
    if (!reader->read(label, well, position)) return false;
    if (well < -1 || well >= wells || position < 0 || position >= kChannelCount) return false;
    map.well_of_channel[channel] = well;
    map.position_of_channel[channel] = position;
    map.greatest_well = std::max(map.greatest_well, well);
    map.greatest_position = std::max(map.greatest_position, position);
  }
  step = 3;
  map.rebuild_well_channel_table();
  return true;
}

WellMap built_in_w384() {
  WellMap map;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    map.well_of_channel[channel] = channel;
    map.position_of_channel[channel] = 0;
  }
  map.greatest_well = kChannelCount - 1;
  map.greatest_position = 0;
  return map;
}

// One beam per well on even beam columns and even beam rows; wells counted down each column.
WellMap built_in_w96u() {
  WellMap map;
  int well = 0;
  for (int column = 0; column < kBeamColumns; ++column) {
    for (int row = 0; row < kBeamRows; row += 2) {
      const int channel = channel_of_beam(column, row);
      if (column % 2 == 1) {
        map.well_of_channel[channel] = -1;
      } else {
        map.well_of_channel[channel] = well++;
      }
      map.position_of_channel[channel] = 0;
      map.well_of_channel[channel + 1] = -1;
      map.position_of_channel[channel + 1] = 0;
    }
  }
  map.greatest_well = well;
  map.greatest_position = 0;
  return map;
}

// Two beams per well side by side on even beam rows: the even beam column is position 0,
// the odd one beside it position 1.
WellMap built_in_w96f() {
  WellMap map;
  int well = 0;
  for (int column = 0; column < kBeamColumns; ++column) {
    for (int row = 0; row < kBeamRows; row += 2) {
      const int channel = channel_of_beam(column, row);
      if (column % 2 == 0) {
        map.well_of_channel[channel] = well++;
        map.position_of_channel[channel] = 0;
      } else {
        map.well_of_channel[channel] = map.well_of_channel[channel - kBeamRows];
        map.position_of_channel[channel] = 1;
      }
      map.well_of_channel[channel + 1] = -1;
      map.position_of_channel[channel + 1] = 0;
    }
  }
  map.greatest_well = well;
  map.greatest_position = 1;
  return map;
}

} // namespace

void WellMap::rebuild_well_channel_table() {
  greatest_well = std::max(greatest_well, 0);
  greatest_position = std::max(greatest_position, 0);
  const std::size_t positions = static_cast<std::size_t>(greatest_position) + 1;
  well_channel.assign((static_cast<std::size_t>(greatest_well) + 1) * positions, 0);
  for (int channel = 0; channel < kChannelCount; ++channel) {
    const int well = well_of_channel[channel];
    const int position = position_of_channel[channel];
    if (well < 0 || well > greatest_well || position < 0 || position > greatest_position) continue;
    well_channel[static_cast<std::size_t>(well) * positions + static_cast<std::size_t>(position)] =
        channel;
  }
}

int WellMap::ChannelOfWell(int well, int position) const {
  const std::size_t positions = static_cast<std::size_t>(greatest_position) + 1;
  const std::size_t index =
      static_cast<std::size_t>(well) * positions + static_cast<std::size_t>(position);
  if (well < 0 || well > greatest_well || position < 0 || position > greatest_position ||
      index >= well_channel.size()) {
    return -1;
  }
  return well_channel[index];
}

WellPosition WellMap::WellOfChannel(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return {};
  const int well = well_of_channel[channel];
  if (well < 0) return {-1, position_of_channel[channel]};
  return {well, position_of_channel[channel]};
}

std::optional<PlateFormat> BuiltInPlateFormat(std::string_view name) {
  const std::string key = lower(name);
  PlateFormat plate;
  if (key == kPlateW384) {
    plate.geometry = {16, 1, 0, 24, 1, 0};
    plate.map = built_in_w384();
  } else if (key == kPlateW96u) {
    plate.geometry = {8, 2, -0.5, 12, 2, -0.5};
    plate.map = built_in_w96u();
  } else if (key == kPlateW96f) {
    plate.geometry = {8, 2, -0.5, 12, 2, 0};
    plate.map = built_in_w96f();
  } else {
    return std::nullopt;
  }
  plate.map.rebuild_well_channel_table();
  return plate;
}

PlateReadResult ReadPlateFormatFile(const fs::path& file, PlateFormat& plate) {
  PlateFormat candidate = plate;
  PlateReadResult result;
  result.ok = read_plate_file(file, candidate, result.step);
  if (result.ok) plate = std::move(candidate);
  return result;
}

std::optional<fs::path> FindPlateFormatFile(const fs::path& folder, std::string_view name,
                                            bool accept_bak) {
  if (!is_plain_file_name(name)) return std::nullopt;
  if (auto dat = find_case_insensitive(folder, std::string(name) + ".dat")) return dat;
  if (accept_bak) return find_case_insensitive(folder, std::string(name) + ".bak");
  return std::nullopt;
}

PlateReadResult ReadPlateFormat(const fs::path& folder, std::string_view name, PlateFormat& plate) {
  const auto file = FindPlateFormatFile(folder, name);
  if (!file) return {false, 0};
  return ReadPlateFormatFile(*file, plate);
}

bool LoadPlateFormat(const fs::path& folder, std::string& format_name, PlateFormat& plate,
                     common::Dialogs& dialogs) {
  const PlateReadResult result = ReadPlateFormat(folder, format_name, plate);
  if (result.ok) return true;

  dialogs.message("Error [/" + format_name + ".dat] ID#" + std::to_string(result.step) +
                      " => Loading plate format from default: 384,96f or 96u...",
                  common::Buttons::Ok, common::Icon::Warning);
  auto built_in = BuiltInPlateFormat(format_name);
  if (!built_in) {
    format_name = std::string(kPlateW96f);
    built_in = BuiltInPlateFormat(kPlateW96f);
  }
  plate = std::move(*built_in);
  return false;
}

std::vector<std::string> ListPlateFormats(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!fs::is_regular_file(it->path(), type_ec)) continue;
    const std::string name = lower(it->path().filename().string());
    if (name.size() < 5 || name.front() != 'w' || !name.ends_with(".dat")) continue;
    std::string format = name.substr(0, name.size() - 4);
    if (format.find_first_of("\"\r\n") != std::string::npos) continue;
    names.push_back(std::move(format));
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string PlateFileNotFoundMessage(std::string_view name) {
  return "Multiwell Configuration File " + std::string(name) + ".dat or .bak not found";
}

PlateReadResult ReadPlateFormatOrBackup(const fs::path& folder, std::string_view name,
                                        PlateFormat& plate, common::Dialogs& dialogs) {
  const auto file = FindPlateFormatFile(folder, name, true);
  if (!file) {
    dialogs.message(PlateFileNotFoundMessage(name), common::Buttons::Ok, common::Icon::Warning);
    return {false, 0};
  }
  return ReadPlateFormatFile(*file, plate);
}

std::string WellLabel(const PlateGeometry& geometry, int well) {
  if (well < 0 || geometry.rows <= 0) return {};
  const char letter = static_cast<char>('A' + well % geometry.rows);
  return std::string(1, letter) + std::to_string(well / geometry.rows + 1);
}

} // namespace kestrova::store
