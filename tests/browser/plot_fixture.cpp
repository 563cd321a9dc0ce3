#include "plot_fixture.hpp"

#include <fstream>
#include <vector>

#include "acquisition/activity_files.hpp"

namespace kestrova::browser::testing {

namespace fs = std::filesystem;

std::string counts_bytes(int records, const std::function<std::int32_t(int)>& minutes,
                         const std::function<std::int16_t(int, int)>& count) {
  std::string out;
  for (int r = 0; r < records; ++r) {
    acquisition::CountsRecord record;
    record.minutes = minutes(r);
    for (int k = 0; k < store::kChannelCount; ++k)
      record.slots[static_cast<std::size_t>(k)] = count(r, k);
    record.slots[store::kChannelCount] = 250; // temperature, never a count
    const auto bytes = acquisition::encode_counts_record(record);
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  return out;
}

void write_counts(const fs::path& folder, int records,
                  const std::function<std::int32_t(int)>& minutes,
                  const std::function<std::int16_t(int, int)>& count) {
  fs::create_directories(folder);
  std::ofstream(folder / "counts.bin", std::ios::binary) << counts_bytes(records, minutes, count);
}

void write_realtime(const fs::path& folder, int blocks,
                    const std::function<std::int16_t(int, int, int)>& sample, int positions) {
  fs::create_directories(folder);
  std::vector<std::int16_t> block(static_cast<std::size_t>(positions) * store::kChannelSlots);
  std::vector<std::byte> bytes;
  for (int b = 0; b < blocks; ++b) {
    for (int p = 0; p < positions; ++p)
      for (int c = 0; c < store::kChannelSlots; ++c)
        block[static_cast<std::size_t>(p * store::kChannelSlots + c)] = sample(b, p, c);
    bytes.clear();
    acquisition::encode_samples(block, bytes);
    std::ofstream out(folder / acquisition::realtime_file_name(b / 11),
                      std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

ChannelGroups column_groups(int used) {
  ChannelGroups g{};
  for (int k = 0; k < store::kChannelSlots; ++k)
    g[static_cast<std::size_t>(k)] = k < store::kChannelCount && k / 16 < used ? k / 16 : -1;
  return g;
}

} // namespace kestrova::browser::testing
