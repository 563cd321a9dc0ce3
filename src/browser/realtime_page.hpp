#pragma once

// The raw signal page of the channel view: 50 consecutive real-time blocks (25,000 samples of
// every channel) kept in memory so that redrawing and the analysis preview do not read the
// files again.
//
// Blocks are numbered over all real-time files as they were recorded: file f holds blocks
// 11 f .. 11 f + 10, and block b belongs to record b of counts.bin. Page p (from 1) shows blocks
// 50 (p - 1) .. 50 p - 1, so every recorded block lies on exactly one page.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/canvas.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::browser {

inline constexpr int kPageBlocks = 50;
inline constexpr int kPageBlockSamples = 501; // positions 0..500; 500 repeats 499
inline constexpr int kShownSamples = 500;     // positions drawn per block

class RealtimePage {
public:
  // The progress shown while a page loads: fraction 0..1 before each file.
  using Progress = std::function<void(double fraction)>;

  // Finds the real-time files of `folder` ("0.bin", "1.bin", ... without a gap) recorded with
  // `buffer_length` samples per block, and counts their whole blocks. Clears the page.
  void open(const std::filesystem::path& folder, int buffer_length = 500);

  int file_count() const { return files_; }
  std::int64_t block_count() const { return blocks_; }
  // Pages of 50 blocks, the last one partial: every block is on a page.
  int page_count() const;
  int page() const { return page_; }
  // Blocks of the current page held (0..50).
  int blocks() const { return page_blocks_; }

  // Reads page `page` (clamped to 1..page_count) into memory. False when there is no block.
  bool load(int page, const Progress& progress = {});

  // Sample `position` (0..500) of `channel` (0..384) in page block `block` (0..blocks() - 1).
  std::int16_t sample(int block, int position, int channel) const {
    return data_[(static_cast<std::size_t>(block) * kPageBlockSamples +
                  static_cast<std::size_t>(position)) *
                     store::kChannelSlots +
                 static_cast<std::size_t>(channel)];
  }
  // The whole block (501 x 385 samples, channel fastest).
  std::span<const std::int16_t> block(int block) const {
    return {data_.get() +
                static_cast<std::size_t>(block) * kPageBlockSamples * store::kChannelSlots,
            static_cast<std::size_t>(kPageBlockSamples) * store::kChannelSlots};
  }
  // The counts.bin record of page block `block`.
  std::int64_t record_of(int block) const {
    return static_cast<std::int64_t>(page_ - 1) * kPageBlocks + block;
  }
  // "page/pages" for the page box.
  std::string page_text() const;
  // Bytes of sample memory held.
  std::size_t bytes() const { return capacity_ * sizeof(std::int16_t); }

private:
  std::filesystem::path folder_;
  int buffer_length_ = 500;
  int files_ = 0;
  std::int64_t blocks_ = 0;
  std::vector<std::int64_t> file_blocks_; // whole blocks of each file
  int page_ = 0;
  int page_blocks_ = 0;
  // Samples of the page, allocated without being cleared first (a load writes every one).
  std::unique_ptr<std::int16_t[]> data_;
  std::size_t capacity_ = 0;
};

} // namespace kestrova::browser
