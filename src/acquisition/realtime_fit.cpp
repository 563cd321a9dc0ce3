#include "acquisition/realtime_fit.hpp"

#include <cstdint>
#include <system_error>

#include "acquisition/activity_files.hpp"

namespace kestrova::acquisition {

namespace fs = std::filesystem;

std::optional<std::string> realtime_size_misfit(const fs::path& folder, int buffer_length,
                                                const fs::path& setup_file) {
  const std::string length =
      "the buffer length " + std::to_string(buffer_length) + " of " + setup_file.string();
  if (!valid_buffer_length(buffer_length))
    return "The real-time files of " + folder.string() + " cannot be read with " + length;
  const auto block = static_cast<std::uintmax_t>(realtime_block_bytes(buffer_length));
  for (std::int64_t k = 0;; ++k) {
    const fs::path file = folder / realtime_file_name(k);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return std::nullopt; // unreadable: the reader that needs it says so
    const bool later = fs::is_regular_file(folder / realtime_file_name(k + 1), ec);
    const std::uintmax_t blocks = size / block;
    if (size % block == 0 && blocks <= kBlocksPerRealtimeFile &&
        (!later || blocks == kBlocksPerRealtimeFile))
      continue;
    return "Real-time file " + file.string() + " holds " + std::to_string(size) +
           " bytes, which is not " + (later ? "11 blocks" : "a whole number of blocks (up to 11)") +
           " of " + std::to_string(block) + " bytes for " + length;
  }
}

} // namespace kestrova::acquisition
