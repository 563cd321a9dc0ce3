#pragma once

// Creating, saving, renaming, listing and loading projects from the setup window. A project
// is the folder "p" + five digits in the data folder (project 0 lives in the data folder
// itself); new numbers are handed out from Last_Project of config.dat.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/dialogs.hpp"
#include "store/project_state.hpp"

namespace kestrova::setup_editor {

// What txtprj shows: number, "_", name ("0_Default").
std::string project_box_text(const store::ProjectState& project);

// Hands out the next project number: Last_Project + 1, Last_Project above 31999 restarting at
// 0 first. Last_Project takes the new number at once.
int take_next_project_number(store::ConfigValues& config);

// "New...": asks "Do you like to Create a New Project?" (OK / Cancel), then creates the next
// project (create_project) with the title "Saving <Last_Project + 1> with a new name". True
// when a project was created.
bool new_project(store::ProjectState& project, common::Dialogs& dialogs);

// Asks for the new project's name under `title`, takes the next number, creates its folder
// (asking before reusing an existing one), makes it the current project and saves the current
// setup, channel tables and groups into it, then config.dat. A cancelled name box gives an
// empty name. False when the operator declined the overwrite or the folder could not be made
// (Last_Project stays advanced).
bool create_project(store::ProjectState& project, common::Dialogs& dialogs, std::string_view title);

// "Save...": asks "Do you like to Update <txtprj> values?" (Yes / No / Cancel). Yes saves in
// place, No saves under a new number, Cancel does nothing. True when something was saved.
bool save_project(store::ProjectState& project, common::Dialogs& dialogs);

// txtprj double-click: the default project cannot be renamed; otherwise a non-empty answer
// becomes the name (as a record file keeps it). True when renamed.
bool rename_project(store::ProjectState& project, common::Dialogs& dialogs);

// "Load...": asks "Do you like to save current values before new load?" (Yes / No / Cancel);
// Yes saves first. True when the list is to be shown.
bool prepare_load(store::ProjectState& project, common::Dialogs& dialogs);

// The project list: for every entry of the data folder named "p" + five characters without an
// extension that holds a setup.dat, its name, "_" and the name from its summary (or the whole
// summary when that has no colon). Sorted by name.
std::vector<std::string> list_projects(const std::filesystem::path& app_folder,
                                       common::Dialogs& dialogs);

// The project number of a list entry: its first six characters, read from the last five when
// the second is a digit, else from the last four. nullopt for an entry under six characters.
std::optional<int> project_number_of_entry(std::string_view entry);

// List_project double-click: makes the entry's project current (a number below 1 is the
// default project in the data folder), saves config.dat and loads the project. False for an
// entry that names no project.
bool load_listed_project(store::ProjectState& project, common::Dialogs& dialogs,
                         std::string_view entry);

} // namespace kestrova::setup_editor
