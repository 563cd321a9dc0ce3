#pragma once

// What the setup window needs from the program that shows it: the current project, the
// services, and the way back to the other screens.

#include <string>

#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "store/project_state.hpp"

namespace kestrova::setup_editor {

class SetupHost {
public:
  virtual ~SetupHost() = default;

  // The current project, which the window edits in place.
  virtual store::ProjectState& project() = 0;
  // The operator's notes of the setup, shared with the main window.
  virtual std::string& setup_notes() = 0;
  // True once the program is ending.
  virtual bool ended() const = 0;
  virtual common::Dialogs& dialogs() = 0;
  virtual common::Shell& shell() = 0;
  // The maker's web site (the logo's link).
  virtual std::string maker_web_site() const = 0;

  // The main window's tool panels (calibration, light, temperature) follow the setup.
  virtual void show_tool_panels() = 0;
  // The main window's detection line, signal-to-noise box and organism follow the setup.
  virtual void show_detection(const std::string& line) = 0;
  // The main window's notes take the setup window's.
  virtual void show_notes_in_main(const std::string& notes) = 0;
  // "Continue to Run": the main window, connected.
  virtual void run_latest_project() = 0;
  // Back to the start screen.
  virtual void show_start_screen() = 0;
};

} // namespace kestrova::setup_editor
