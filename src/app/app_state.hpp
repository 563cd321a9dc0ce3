#pragma once

#include <functional>
#include <string>

#include "acquisition/acquisition_state.hpp"
#include "acquisition/channel_arrays.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"
#include "device/link_state.hpp"
#include "store/project_state.hpp"

namespace kestrova::app {

// The side-effect services every part of the program reaches its surroundings through.
struct Services {
  common::Dialogs& dialogs;
  common::EventPump& pump;
  common::Clock& clock;
  common::Shell& shell;
};

// The start-up hand-shake between the loader and the start-up timer, and the command line.
struct StartupState {
  int load_stage = 0; // last loading step reached: 0, 1, 2, 3, 4, 5, 7, 8, 9
  int phase = 0;      // 0..6
  bool phase_done = false;
  bool autorun = false;
};

// The program-wide states, owned by App and passed by reference.
struct AppState {
  store::ProjectState project;
  device::LinkState link;
  StartupState startup;
  acquisition::AcquisitionFlags acquisition;
  acquisition::ChannelArrays channels;
  std::string setup_notes; // the main window's notes, handed to the setup window by "< Back"
  bool ended = false;      // the program was asked to end
};

// The project shown as number, "_", name (txt_projecto).
inline std::string project_caption(const store::ProjectState& p) {
  return std::to_string(p.config.Actual_Project_Number) + "_" + p.setup.Name;
}

} // namespace kestrova::app
