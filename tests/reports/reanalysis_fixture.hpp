#pragma once

// An acquisition folder with real-time files for the re-analysis tests: a 2 x 2 plate on
// channels 0, 1, 16 and 17, signals with dips on those channels and on channel 2 (in no well),
// and counts.bin holding what the detection finds on each stored block. (The acquisition stores
// its blocks after the detection has clipped them, so its live counts can differ slightly from
// a count of the stored block; here the stored blocks are the unclipped signals.)

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace kestrova::reports::testing {

// Inside kestrova::reports, `testing::` names this namespace once this header is seen (in a
// unity build, by every later test file too), so it also offers the shared test support.
using namespace ::kestrova::testing;

// Every file of a folder with its bytes, to show that a run changed nothing.
std::map<std::string, std::string> folder_snapshot(const std::filesystem::path& folder);

struct Recording {
  std::vector<int> times; // minutes of the records
  int method = 1;         // detection the counts were made with
  double threshold = 1.8;
  unsigned seed = 7;
  int buffer_length = 500; // samples per block (the setup's real-time buffer length)
};

// Writes the data folder's plate file and an acquisition folder (setup, groups, counts.bin,
// real-time files) for `recording`; returns the acquisition folder.
std::filesystem::path write_recording(const std::filesystem::path& data_folder,
                                      const std::string& name, const Recording& recording);

} // namespace kestrova::reports::testing
