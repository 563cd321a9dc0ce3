#include "reanalysis_fixture.hpp"

#include <random>

#include "acquisition/activity_files.hpp"
#include "acquisition/detection.hpp"
#include "store/channel_tables.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"

namespace kestrova::reports::testing {

namespace fs = std::filesystem;
using kestrova::testing::read_file;
using kestrova::testing::write_file;

std::map<std::string, std::string> folder_snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = read_file(e.path());
  return files;
}

fs::path write_recording(const fs::path& data_folder, const std::string& name,
                         const Recording& recording) {
  std::string plate = "\"Test plate\",\"2x2\"\r\n2,2,0,2,2,0\r\n\"channels\"\r\n";
  for (int c = 0; c < 385; ++c) {
    const int well = c == 0 ? 0 : c == 1 ? 1 : c == 16 ? 2 : c == 17 ? 3 : -1;
    plate += "\"CH" + std::to_string(c) + "\"," + std::to_string(well) + ",0\r\n";
  }
  write_file(data_folder / "wtest.dat", plate);

  const fs::path folder = data_folder / "p00001" / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Plate_format = "wtest";
  setup.RT_Buffer = recording.buffer_length;
  write_file(folder / "setup.dat", store::setup_file_text(1, setup));
  store::GroupTable groups;
  groups.names[0] = "Ctrl";
  groups.names[1] = "Drug";
  groups.channel_group.fill(-1);
  groups.channel_group[0] = groups.channel_group[1] = 0;
  groups.channel_group[16] = groups.channel_group[17] = 1;
  write_file(folder / "groups.dat", store::GroupNamesText(groups));
  write_file(folder / "chgroup.dat", store::ChannelGroupsText(groups));
  store::WriteAcquisitionIndex(folder, "Raw run", "");

  std::mt19937 random(recording.seed);
  acquisition::ActivityDetector detector;
  const int positions = recording.buffer_length + 1;
  acquisition::ActivityWriter writer(folder, recording.buffer_length);
  constexpr int kSlots = acquisition::kChannelSlots;
  std::vector<std::int16_t> block(static_cast<std::size_t>(positions) * kSlots, 0);
  const int signal_channels[] = {0, 1, 2, 16, 17};
  for (std::size_t r = 0; r < recording.times.size(); ++r) {
    std::fill(block.begin(), block.end(), 0);
    for (int c = 0; c < 384; ++c) {
      const bool lively = std::find(std::begin(signal_channels), std::end(signal_channels), c) !=
                          std::end(signal_channels);
      for (int k = 0; k < positions - 1; ++k)
        block[k * kSlots + c] = static_cast<std::int16_t>(2000 + random() % 40);
      if (!lively) continue;
      const int dips = static_cast<int>(random() % 12);
      for (int d = 0; d < dips; ++d) {
        const int at = static_cast<int>(random() % static_cast<unsigned>(positions - 10));
        const int depth = 300 + static_cast<int>(random() % 900);
        for (int k = at; k < at + 3 + static_cast<int>(random() % 6) && k < positions - 1; ++k)
          block[k * kSlots + c] = static_cast<std::int16_t>(block[k * kSlots + c] - depth);
      }
    }
    std::array<std::int16_t, kSlots> counts{};
    std::vector<std::int16_t> clipped = block;
    for (int c : {0, 1, 16, 17})
      counts[c] = detector.detect_activity(acquisition::RawBlock{clipped}, c, recording.threshold,
                                           static_cast<std::int16_t>(recording.method), 0, {}, 0);
    acquisition::BufferEndRecords records;
    records.minutes = recording.times[r];
    records.counts = counts;
    records.temperature = 20.0 + static_cast<double>(r % 7);
    records.save_realtime = true;
    records.raw_block = block;
    writer.append_buffer(records);
  }
  return folder;
}

} // namespace kestrova::reports::testing
