#pragma once

// The experiment list: which folders of the data folder are projects and which folders of a
// project are listed acquisitions, and the text of the list lines, which other commands read
// back. Folder names are sorted here; directory order is never relied on.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/dialogs.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

inline constexpr std::string_view kCountsFile = "counts.bin";
inline constexpr std::string_view kArchivedMark = "removed";
// The date column of a project that has no acquisition folder.
inline constexpr std::string_view kNoDate = "        ";

// True for names "p" followed by up to nine characters (the project search pattern).
bool MatchesProjectPattern(std::string_view name);
// Entries (files and folders) of the data folder matching the project search pattern.
int CountProjectMatches(const fs::path& program_folder);
// The project table: the folders of the data folder named "p" plus exactly five characters,
// sorted by name.
std::vector<std::string> ScanProjectFolders(const fs::path& program_folder);

// True for an acquisition folder name: eight characters, "_", four characters, anything after,
// and no ".".
bool IsAcquisitionName(std::string_view name);
// True when "removed" appears from the 12th character on: the folder was archived.
bool IsArchivedName(std::string_view name);
// Folders of a project whose names are acquisition names, sorted by name.
std::vector<std::string> ScanAcquisitionNames(const fs::path& project_folder);
// The acquisitions a project lists: acquisition names holding counts.bin and not archived,
// sorted by name.
std::vector<std::string> ListedAcquisitions(const fs::path& project_folder);

// "2021.0316" from an acquisition folder name; kNoDate for an empty name.
std::string ProjectDate(std::string_view first_acquisition);
// The project name in a project label "<Project> p00007: name": everything after the first
// ": ", or the whole label when it has none.
std::string ProjectNameFromLabel(std::string_view label);
// "+ " + date + TAB + folder + "_" + name.
std::string ProjectLine(std::string_view date, std::string_view folder, std::string_view name);
// The station suffix shown after the date: the last three characters when they hold "_s".
std::string StationSuffix(std::string_view acquisition_folder);
// "  > yyyy.mmdd" + suffix + TAB + " ACQhh:mm \"title\"", then TAB TAB + tags when the project
// has a tag file (`tags` set, possibly empty).
std::string AcquisitionLine(std::string_view acquisition_folder, std::string_view title,
                            const std::optional<std::string>& tags);

// Reading a line back. A project line begins with "+".
bool IsProjectLine(std::string_view line);
// The acquisition folder named by an acquisition line; nullopt when the line is too short.
std::optional<std::string> AcquisitionFolderOfLine(std::string_view line);
// The project folder of the line at `index`: the six characters after the first TAB of the
// nearest project line at or above it; nullopt when there is none.
std::optional<std::string> ProjectFolderOfLine(const std::vector<std::string>& lines,
                                               std::size_t index);

// One line of the list with the folders it stands for.
struct ListLine {
  bool is_project = false;
  std::string text;
  std::string project_folder;     // six characters
  std::string acquisition_folder; // acquisition lines only
  std::string title;              // acquisition lines: the title shown between quotes
  std::string tags;               // acquisition lines: the tag text of tags_id.dat
  std::string project_name;       // project lines: the name after the folder
};

// The tag text of each key of a project's tags_id.dat (the first line of a key wins; lines that
// begin with a space have no key); nullopt when the project has no tag file.
std::optional<std::map<std::string, std::string, std::less<>>>
ReadTagIndex(const fs::path& project_folder);

// The acquisition lines of one project, newest first when `descending`. Each title comes from
// its subproj.dat; tags are added when the project has tags_id.dat and `with_tags`.
std::vector<ListLine> AcquisitionLines(const fs::path& program_folder,
                                       std::string_view project_folder, bool descending,
                                       bool with_tags = true);

// The whole list: every project of the table that holds setup.dat (highest first when
// `descending`) and, under each project in `expanded`, its acquisition lines. The project
// name comes from the setup label, whose reading may recover setup.dat and say so.
std::vector<ListLine> BuildList(const fs::path& program_folder,
                                const std::vector<std::string>& projects,
                                const std::set<std::string>& expanded, bool descending,
                                common::Dialogs& dialogs);

} // namespace kestrova::browser
