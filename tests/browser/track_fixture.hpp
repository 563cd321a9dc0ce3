#pragma once

// Crafted acquisitions for the track: beams at a steady level that an animal interrupts by
// short dips, so the detection marks fall exactly on the samples a test chooses.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::browser::testing {

inline constexpr std::int16_t kBeamLevel = 2000;
inline constexpr std::int16_t kDipLevel = 1000;
inline constexpr int kDipSamples = 4;

// The animal at `sample` of `block` interrupts `channels`: each dips for kDipSamples samples
// from there, so the detection marks that sample (and no other) on each of them. Samples 0 and 1
// are not for dips: the envelopes start from sample 1, so a dip there hides the block's level.
struct Dip {
  std::int64_t block = 0;
  int sample = 0;
  std::vector<int> channels;
};

// Raw blocks of 501 x 385 samples: every channel 0..383 at kBeamLevel, with the dips.
std::vector<std::vector<std::int16_t>> craft_blocks(std::int64_t blocks,
                                                    const std::vector<Dip>& dips);

// The channels of each well of the installed w6 plate, in beam-position order.
std::vector<std::vector<int>> w6_wells();

// An acquisition folder to write.
struct Acquisition {
  std::string plate = "w6";
  int organism = 1;
  std::vector<int> minutes;                      // one counts.bin record each
  std::vector<std::vector<std::int16_t>> blocks; // real-time blocks, one per record at most
  std::vector<std::string> group_names;          // groups 0.. (the rest keep their defaults)
};

// Writes setup.dat, groups.dat, counts.bin and the real-time files into `folder` (created).
void write_acquisition(const std::filesystem::path& folder, const Acquisition& acquisition);

// Every file of a folder with its bytes.
std::vector<std::pair<std::string, std::string>> folder_files(const std::filesystem::path& folder);

} // namespace kestrova::browser::testing
