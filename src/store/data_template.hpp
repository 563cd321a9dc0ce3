#pragma once

// The data folder of a fresh installation: config.dat on the default project and the plate
// format files of every installed format. The repository keeps the generated files in data/;
// the plate_gen tool writes them, and a test checks that they are up to date.

#include <filesystem>
#include <string>
#include <vector>

#include "common/dialogs.hpp"
#include "store/project_state.hpp"

namespace kestrova::store {

// config.dat of a fresh installation: the default project 0, no project handed out yet,
// serial port 1 (the first port the instrument scan tries is then the first serial device).
ConfigValues FreshInstallationConfig();

// Writes config.dat and the plate format files "<format>.dat" into `folder` (which must
// exist). Returns the names of the files written; a failure shows its message through
// `dialogs` and leaves the name out.
std::vector<std::string> WriteDataFolderTemplate(const std::filesystem::path& folder,
                                                 common::Dialogs& dialogs);

} // namespace kestrova::store
