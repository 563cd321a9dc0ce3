#pragma once

// A project of three acquisitions recorded by the acquisition's own writer and tagged "[K1]"
// in tags_id.dat (listed out of date order), one more tagged "[K2]", for the joint report.

#include <filesystem>
#include <string>
#include <vector>

namespace kestrova::browser::testing {

struct TaggedProject {
  std::filesystem::path project; // data folder/p00001
  // The "[K1]" acquisitions in date order: 20210316_1405, 20210317_0905 (19 h later),
  // 20210318_1405 (48 h after the first).
  std::vector<std::string> k1;
};

TaggedProject write_tagged_project(const std::filesystem::path& data_folder);

// The joint report row of `group` (0 "Ctrl" on channels 0 and 1, 1 "Drug" on 16 and 17) over
// the acquisitions: "[#000_Ctrl]" and, per acquisition, the group's counts per channel summed
// over every record of its counts.bin, rounded half to even, each after `separator`.
std::string expected_row(const TaggedProject& p, int group, const std::string& separator);

// The lines of a text file without their line ends; none when it cannot be read.
std::vector<std::string> file_lines(const std::filesystem::path& file);

} // namespace kestrova::browser::testing
