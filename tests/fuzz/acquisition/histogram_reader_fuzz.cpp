// Histogram files of any content and length.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/activity_files.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace kestrova::acquisition;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Short inputs are repeated so that whole records occur.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty())
    while (bytes.size() < kHistogramRecordBytes + 100)
      bytes += bytes;
  const auto& folder = kestrova::fuzz::scratch_folder();
  const auto file = folder / histogram_file_name(0);
  kestrova::fuzz::write_bytes(file, bytes);

  const std::int64_t records = histogram_record_count(file);
  if (records != static_cast<std::int64_t>(bytes.size() / kHistogramRecordBytes)) __builtin_trap();
  for (std::int64_t r : {std::int64_t{0}, records - 1, records, std::int64_t{-3}}) {
    const auto record = read_histogram_record(file, r);
    if (record.has_value() != (r >= 0 && r < records)) __builtin_trap();
    if (record) {
      // Decoding and encoding again gives the same bytes.
      const auto again =
          encode_histogram_record(record->minutes, record->sample_period, record->totals);
      if (std::string_view(reinterpret_cast<const char*>(again.data()), again.size()) !=
          std::string_view(bytes).substr(r * kHistogramRecordBytes, kHistogramRecordBytes))
        __builtin_trap();
    }
  }
  if (!has_histogram_files(folder)) __builtin_trap();
  return 0;
}
