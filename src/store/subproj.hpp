#pragma once

// subproj.dat, the index file of an acquisition folder: record 1 is the acquisition's title,
// record 2 its protocol comments as one String whose line breaks are kept, so the record may
// span several lines. No header record. subproj.bak is its copy taken before a field edit.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/dialogs.hpp"

namespace kestrova::store {

inline constexpr std::string_view kAcquisitionIndexFile = "subproj.dat";

// The bytes of subproj.dat for a title and comments. Double quotes become single quotes; the
// title's line breaks become spaces; the comments' line breaks are written as CR LF.
std::string AcquisitionIndexText(std::string_view title, std::string_view comments);

// Writes subproj.dat anew in an acquisition folder (atomically). False on failure.
bool WriteAcquisitionIndex(const std::filesystem::path& acquisition_folder, std::string_view title,
                           std::string_view comments);

// The first field of subproj.dat; empty when the file is missing or unreadable.
std::string ReadAcquisitionTitle(const std::filesystem::path& acquisition_folder);

// The comments of subproj.dat: every line after the first, empty lines skipped, double quotes
// removed, joined with CR LF. Empty when the file is missing.
std::string ReadAcquisitionComments(const std::filesystem::path& acquisition_folder);

// Replaces the title through subproj.bak, keeping the comments. Without subproj.dat nothing
// changes and the new title is returned; a failed copy to subproj.bak shows "error"; any
// error returns an empty String. Otherwise returns the new title.
std::string SetAcquisitionTitle(const std::filesystem::path& acquisition_folder,
                                std::string_view title, common::Dialogs& dialogs);

// Replaces the comments through subproj.bak, keeping the title. Returns "OK" (also when there
// is no subproj.dat, which is left alone), or an empty String on any error.
std::string SetAcquisitionComments(const std::filesystem::path& acquisition_folder,
                                   std::string_view comments, common::Dialogs& dialogs);

} // namespace kestrova::store
