#pragma once

// Whether the real-time files of an acquisition can be blocks of the buffer length its setup
// gives: read with another length, every block would be misaligned.

#include <filesystem>
#include <optional>
#include <string>

namespace kestrova::acquisition {

// The first real-time file of `folder` (0.bin, 1.bin, ... up to the first missing number) whose
// size is not a whole number of blocks of `buffer_length` samples, holds more than 11 blocks, or
// fewer than 11 while a later file follows: a message naming that file and its size, the buffer
// length and `setup_file`, which gives it. nullopt when every file fits.
std::optional<std::string> realtime_size_misfit(const std::filesystem::path& folder,
                                                int buffer_length,
                                                const std::filesystem::path& setup_file);

} // namespace kestrova::acquisition
