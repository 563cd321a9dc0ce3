#include "browser/track_fixture.hpp"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "acquisition/activity_files.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_layout.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::browser::testing {

namespace fs = std::filesystem;
using store::kChannelSlots;

std::vector<std::vector<std::int16_t>> craft_blocks(std::int64_t blocks,
                                                    const std::vector<Dip>& dips) {
  constexpr int kPositions = 501;
  std::vector<std::vector<std::int16_t>> out(static_cast<std::size_t>(blocks));
  for (auto& block : out) {
    block.assign(static_cast<std::size_t>(kPositions) * kChannelSlots, kBeamLevel);
    for (int k = 0; k < kPositions; ++k) {
      block[static_cast<std::size_t>(k) * kChannelSlots + store::kChannelCount] = 0;
    }
  }
  for (const Dip& dip : dips)
    for (const int c : dip.channels)
      for (int k = dip.sample; k < std::min(dip.sample + kDipSamples, 500); ++k)
        out.at(static_cast<std::size_t>(
            dip.block))[static_cast<std::size_t>(k) * kChannelSlots + c] = kDipLevel;
  return out;
}

std::vector<std::vector<int>> w6_wells() {
  const store::PlateFormat plate = store::GeneratePlateFormat(*store::FindPlateLayout("w6"));
  std::vector<std::vector<int>> wells(static_cast<std::size_t>(plate.map.greatest_well) + 1);
  std::vector<std::map<int, int>> by_position(wells.size());
  for (int c = 0; c < store::kChannelCount; ++c)
    if (plate.map.well_of_channel[c] >= 0)
      by_position[plate.map.well_of_channel[c]][plate.map.position_of_channel[c]] = c;
  for (std::size_t w = 0; w < wells.size(); ++w)
    for (const auto& [position, channel] : by_position[w])
      wells[w].push_back(channel);
  return wells;
}

void write_acquisition(const fs::path& folder, const Acquisition& a) {
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Plate_format = a.plate;
  setup.tool_settings[0][0] = a.organism;
  if (!store::save_file_atomically(folder / store::kSetupFileName,
                                   store::setup_file_text(1, setup)))
    throw std::runtime_error("setup.dat");
  store::GroupTable groups;
  for (std::size_t g = 0; g < a.group_names.size(); ++g)
    groups.names[g] = a.group_names[g];
  if (!store::save_file_atomically(folder / store::kGroupNamesFile, store::GroupNamesText(groups)))
    throw std::runtime_error("groups.dat");

  acquisition::ActivityWriter writer(folder, 500);
  std::vector<std::int16_t> counts(store::kChannelCount, 0);
  for (std::size_t r = 0; r < a.minutes.size(); ++r) {
    acquisition::BufferEndRecords records;
    records.minutes = a.minutes[r];
    records.counts = counts;
    records.temperature = 25;
    records.save_realtime = r < a.blocks.size();
    if (records.save_realtime) records.raw_block = a.blocks[r];
    if (!writer.append_buffer(records)) throw std::runtime_error("activity files");
  }
}

std::vector<std::pair<std::string, std::string>> folder_files(const fs::path& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files.emplace_back(fs::relative(e.path(), folder).string(), bytes.str());
  }
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace kestrova::browser::testing
