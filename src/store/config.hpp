#pragma once

// config.dat and the project folders: where the current project lives, which project is
// current, and which acquisition folder of a project is the latest.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/dialogs.hpp"
#include "store/project_state.hpp"

namespace kestrova::store {

inline constexpr std::string_view kConfigFileName = "config.dat";
inline constexpr std::string_view kConfigHeader =
    "Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>";
inline constexpr std::string_view kConfigNotFoundMessage =
    "Config file not found: Check correct software installation";
inline constexpr std::string_view kConfigDefaultsMessage =
    "Error opening config File >>>> Loading DEFAULT configuration...";
inline constexpr std::string_view kConfigSaveErrorMessage = "<Error Saving Config File>";

inline constexpr int kMaxProjectNumber = 32000;
inline constexpr int kMaxSerialPort = 16;

// Applies the corrections made after reading: a negative current project becomes 0, a last
// project below the current one is raised to it, the port is kept within 1..16, and the
// restart time is always 0.
ConfigValues corrected(ConfigValues values);

// Reads the data folder's config.dat into state.config and applies the corrections. When the
// file is missing or damaged, shows "Error opening config File >>>> Loading DEFAULT
// configuration...", takes the defaults 1, 1, 4, 0 and returns false. The start-up checks
// that the file exists first (config_file_exists).
bool LoadConfig(ProjectState& state, common::Dialogs& dialogs);

// Writes config.dat anew (atomically) from state.config; on failure shows
// "<Error Saving Config File>", keeps the state and returns false.
bool SaveConfig(const ProjectState& state, common::Dialogs& dialogs);

// True when the data folder holds config.dat. Without it the start-up shows
// kConfigNotFoundMessage and ends.
bool config_file_exists(const std::filesystem::path& app_folder);

// "p" followed by the project number with five digits: 7 -> "p00007".
std::string ProjectFolderName(int project_number);

// The folder of project n: the data folder for 0, else data folder / ProjectFolderName(n).
std::filesystem::path project_folder_path(const std::filesystem::path& app_folder,
                                          int project_number);

// Start-up resolution: the project folder is data folder / pNNNNN when the current project
// number is above 0 and that folder exists; otherwise the data folder, and the current
// project number becomes 0.
void ResolveProjectFolder(ProjectState& state);

// The sort key of an acquisition folder name "yyyymmdd_hhmm" (13 characters, first
// underscore ninth): its date and time digits read as a number up to the first non-digit;
// 0 for any other name.
long long acquisition_folder_key(std::string_view name);

// The name of the latest acquisition folder of a project folder (the greatest key, the first
// of equal keys, never a key of 0), or "" when there is none.
std::string PickAcquisitionFolder(const std::filesystem::path& project_folder);

} // namespace kestrova::store
