#pragma once

#include <functional>
#include <string>

#include "app/channel_arrays.hpp"
#include "app/report_bin.hpp"
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

// Acquisition flags the start-up resets; the acquisition code owns their meaning.
struct AcquisitionFlags {
  bool running = false;
  bool paused = false;
  long long buffers_done = 0; // real-time counters
  long long samples_done = 0;
};

// The program-wide states, owned by App and passed by reference.
struct AppState {
  store::ProjectState project;
  device::LinkState link;
  StartupState startup;
  AcquisitionFlags acquisition;
  ChannelArrays channels;
  ReportBinChoice report_bin;
  bool ended = false; // the program was asked to end
};

// The project shown as number, "_", name (txt_projecto).
inline std::string project_caption(const store::ProjectState& p) {
  return std::to_string(p.config.Actual_Project_Number) + "_" + p.setup.Name;
}

} // namespace kestrova::app
