#pragma once

// The files the experiment browser writes besides the project files: the watched-folder list
// foldview.dat and the archived name of an acquisition folder.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/clock.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kWatchedFoldersFile = "foldview.dat";
inline constexpr int kWatchedFolderCount = 5;
using WatchedFolders = std::array<std::string, kWatchedFolderCount>;

// The captions of entries never set: "_folder1" .. "_folder5".
WatchedFolders DefaultWatchedFolders();

// Reads up to five fields of foldview.dat in the data folder over `folders`; a field is taken
// only when it names an existing folder. A missing file changes nothing.
void ReadWatchedFolders(const std::filesystem::path& program_folder, WatchedFolders& folders);

// Writes the five captions to foldview.dat, one plain line each (a caption holding a comma is
// quoted so that it reads back as one field). False when the file could not be written.
bool WriteWatchedFolders(const std::filesystem::path& program_folder,
                         const WatchedFolders& folders);

// "removed" + the date and time as YYYYMMDDhhss (year, month, day, hour, second).
std::string ArchiveSuffix(const common::CivilTime& now);

// Renames an acquisition folder to its name followed by ArchiveSuffix(now). Nothing is deleted.
// False, leaving the folder as it was, when it is not a folder, the new name is taken, or the
// rename fails.
bool ArchiveAcquisitionFolder(const std::filesystem::path& acquisition_folder,
                              const common::CivilTime& now);

} // namespace kestrova::browser
