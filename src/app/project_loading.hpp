#pragma once

#include <functional>
#include <string>

#include "app/app_state.hpp"

namespace kestrova::app {

// Loads the current project in its fixed order: setup.dat, the channel tables, then the
// plate format named by the setup. The setup's identity warning goes to `news` (LblNews).
void load_current_project(AppState& state, common::Dialogs& dialogs,
                          const std::function<void(const std::string&)>& news);

// Writes the current project's files into its folder (the exit question's "Yes").
bool save_current_project(const AppState& state, common::Dialogs& dialogs);

} // namespace kestrova::app
