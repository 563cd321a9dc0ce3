#include "browser/realtime_page.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

#include "acquisition/activity_files.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSlots = store::kChannelSlots;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

void RealtimePage::open(const fs::path& folder, int buffer_length) {
  folder_ = folder;
  buffer_length_ = acquisition::valid_buffer_length(buffer_length) ? buffer_length : 500;
  files_ = 0;
  blocks_ = 0;
  file_blocks_.clear();
  page_ = 0;
  page_blocks_ = 0;
  // The memory of the last page is kept for the next load.
  const std::size_t block_bytes = acquisition::realtime_block_bytes(buffer_length_);
  // Files are numbered from 0 without a gap; histogram files and counts.bin are not real-time.
  for (std::int64_t f = 0;; ++f) {
    std::error_code ec;
    const fs::path file = folder / acquisition::realtime_file_name(f);
    if (!fs::is_regular_file(file, ec)) break;
    const auto size = fs::file_size(file, ec);
    if (ec) break;
    const auto whole = static_cast<std::int64_t>(
        std::min<std::uintmax_t>(size / block_bytes, acquisition::kBlocksPerRealtimeFile));
    file_blocks_.push_back(whole);
    ++files_;
    blocks_ += whole;
    // A short file ends the recording: later blocks would not line up with counts.bin.
    if (whole < acquisition::kBlocksPerRealtimeFile) break;
  }
}

int RealtimePage::page_count() const {
  return static_cast<int>((blocks_ + kPageBlocks - 1) / kPageBlocks);
}

bool RealtimePage::load(int page, const Progress& progress) {
  const int pages = page_count();
  if (pages == 0) return false;
  page = std::clamp(page, 1, pages);
  const std::int64_t first = static_cast<std::int64_t>(page - 1) * kPageBlocks;
  const int count = static_cast<int>(std::min<std::int64_t>(kPageBlocks, blocks_ - first));
  const std::size_t page_block = static_cast<std::size_t>(kPageBlockSamples) * kSlots;
  // Only what this page holds; the memory of a fuller page is kept for the next one.
  const std::size_t needed = static_cast<std::size_t>(count) * page_block;
  if (needed > capacity_) {
    data_.reset();
    data_ = std::make_unique_for_overwrite<std::int16_t[]>(needed);
    capacity_ = needed;
  }
  const int positions = std::min(buffer_length_ + 1, kPageBlockSamples);
  const std::size_t block_bytes = acquisition::realtime_block_bytes(buffer_length_);
  const std::int64_t per_file = acquisition::kBlocksPerRealtimeFile;
  const std::int64_t first_file = first / per_file;
  const std::int64_t last_file = (first + count - 1) / per_file;
  std::vector<std::int16_t> scratch;
  int loaded = 0;
  for (std::int64_t f = first_file; f <= last_file; ++f) {
    if (progress)
      progress(static_cast<double>(f - first_file) /
               static_cast<double>(last_file - first_file + 1));
    File file(std::fopen((folder_ / acquisition::realtime_file_name(f)).c_str(), "rb"));
    const std::int64_t from = std::max(first, f * per_file);
    const std::int64_t to = std::min(first + count, (f + 1) * per_file); // exclusive
    const auto offset =
        static_cast<long>((from - f * per_file) * static_cast<std::int64_t>(block_bytes));
    const bool seek = file && std::fseek(file.get(), offset, SEEK_SET) == 0;
    std::int16_t* dest = data_.get() + static_cast<std::size_t>(from - first) * page_block;
    const auto blocks = static_cast<std::size_t>(to - from);
    std::size_t read = 0; // whole blocks read
    if (seek && block_bytes == page_block * sizeof(std::int16_t)) {
      // The file's blocks have the page's layout: one read for the whole run.
      read = std::fread(dest, block_bytes, blocks, file.get());
    } else if (seek) {
      scratch.resize(block_bytes / sizeof(std::int16_t));
      for (; read < blocks; ++read) {
        if (std::fread(scratch.data(), block_bytes, 1, file.get()) != 1) break;
        std::int16_t* block = dest + read * page_block;
        std::fill(block, block + page_block, std::int16_t{0});
        std::memcpy(block, scratch.data(), static_cast<std::size_t>(positions) * kSlots * 2);
      }
    }
    // Blocks that could not be read (a file changed since it was counted) show nothing.
    std::fill(dest + read * page_block, dest + blocks * page_block, std::int16_t{0});
    for (std::size_t b = 0; b < blocks; ++b) {
      std::int16_t* block = dest + b * page_block;
      if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < page_block; ++i)
          block[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(block[i]) >> 8 |
                                               static_cast<std::uint16_t>(block[i]) << 8);
      // Position 500 repeats 499, as the views expect 501 positions.
      std::memcpy(block + (kPageBlockSamples - 1) * kSlots, block + (kShownSamples - 1) * kSlots,
                  kSlots * sizeof(std::int16_t));
    }
    loaded += static_cast<int>(blocks);
  }
  page_ = page;
  page_blocks_ = loaded;
  return loaded > 0;
}

std::string RealtimePage::page_text() const {
  return std::to_string(page_) + "/" + std::to_string(page_count());
}

} // namespace kestrova::browser
