#pragma once

// Loading and saving a whole project: setup.dat, the channel tables and the plate format.

#include <filesystem>

#include "common/dialogs.hpp"
#include "store/project_state.hpp"
#include "store/setup_file.hpp"

namespace kestrova::store {

// Loads project n into the state, in this order: setup.dat (LoadSetup, with its recovery),
// status.dat, threshld.dat, groups.dat, chgroup.dat, then the plate format named by the setup
// from the data folder. state.project_folder must already point at the project. Each file's
// own fallback and message applies; returns the setup outcome (for the start screen's status).
SetupLoadResult LoadProject(ProjectState& state, int project_number, common::Dialogs& dialogs);

// Saves the project files into `folder`: setup.dat (after copying it over setup.bak) with
// `project_number`, then status.dat and threshld.dat, then groups.dat and chgroup.dat of the
// group set named by `station` (-1 or 0: the main set, 1..3: sets 1..3). Every file is
// replaced atomically. When any file cannot be written the operator is told
// "Error saving project files in <folder>" and false is returned; the state is untouched.
bool SaveProject(const ProjectState& state, const std::filesystem::path& folder, int project_number,
                 int station, common::Dialogs& dialogs);

} // namespace kestrova::store
