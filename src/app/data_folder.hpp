#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "common/dialogs.hpp"

namespace kestrova::app {

namespace fs = std::filesystem;

// The data folder the program works in, and whether it is the per-user default.
struct DataFolderChoice {
  fs::path folder;
  bool is_default = false; // ~/Kestrova: created from the template when missing
};

// --data-dir wins, then $KESTROVA_HOME, then ~/Kestrova (HOME unset: ./Kestrova).
// Empty strings count as not given.
DataFolderChoice choose_data_folder(const std::optional<std::string>& command_line_dir,
                                    const char* kestrova_home, const char* home);

// The template of a new data folder: `share/kestrova/data` beside the installed program
// (<exe>/../share/kestrova/data) when present, else `build_time_dir` (the source tree's data/).
// nullopt when neither holds a config.dat.
std::optional<fs::path> find_data_template(const fs::path& executable_dir,
                                           const fs::path& build_time_dir);

// Outcome of preparing the data folder.
struct DataFolderResult {
  bool created = false;
  std::string error; // non-empty when the default folder was missing and could not be made
};

// Creates the default data folder from the template on first run. An explicit folder is
// never created or filled: a missing config.dat there is reported by the start-up itself.
// Template files are copied only where the folder holds no file of that name; the default
// project 0 gets its setup and channel tables with the default values when the template has
// none (a failure to write them is reported through `dialogs` and in the result).
DataFolderResult prepare_data_folder(const DataFolderChoice& choice,
                                     const std::optional<fs::path>& template_dir,
                                     common::Dialogs& dialogs);

// What keeps the program from working in the chosen folder, said with the folder's path: the
// preparation's error, a path that names a file, or an explicit folder that does not exist.
// Empty when the folder is usable (a folder without config.dat is the start-up's to report).
std::string data_folder_problem(const DataFolderChoice& choice, const DataFolderResult& prepared);

} // namespace kestrova::app
