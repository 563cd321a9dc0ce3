// counts.bin and real-time files of any content and length, read with any buffer length.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "acquisition/activity_files.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace kestrova::acquisition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the buffer length, including lengths out of range.
  const int buffer_length = static_cast<std::int16_t>(data[0] | (data[1] << 8)) % 600;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const auto& folder = kestrova::fuzz::scratch_folder();
  kestrova::fuzz::write_bytes(folder / "counts.bin", bytes);
  kestrova::fuzz::write_bytes(folder / "0.bin", bytes);

  const std::int64_t records = counts_record_count(folder / "counts.bin");
  if (records != static_cast<std::int64_t>(bytes.size() / kCountsRecordBytes)) __builtin_trap();
  for (std::int64_t r : {std::int64_t{0}, records - 1, records, records + 1, std::int64_t{-1}}) {
    const auto record = read_counts_record(folder / "counts.bin", r);
    if (record.has_value() != (r >= 0 && r < records)) __builtin_trap();
  }
  for (std::int64_t b = -1; b <= 11; ++b) {
    const auto block = read_realtime_block(folder, b, buffer_length);
    const bool whole = valid_buffer_length(buffer_length) && b >= 0 && b < 11 &&
                       (b + 1) * static_cast<std::int64_t>(realtime_block_bytes(buffer_length)) <=
                           static_cast<std::int64_t>(bytes.size());
    if (block.has_value() != whole) __builtin_trap();
    if (block && block->size() != realtime_block_bytes(buffer_length) / 2) __builtin_trap();
  }
  return 0;
}
