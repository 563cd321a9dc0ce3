#pragma once

#include <string>
#include <vector>

#include "common/clock.hpp"
#include "device/link_state.hpp"
#include "store/project_state.hpp"

namespace kestrova::app {

// What the main window's detection and calibration tools show for a setup (tool 1).
struct SetupControls {
  bool tools_visible = false;           // frm_mn1
  std::vector<std::string> organisms;   // Cmb_organism's entries
  int organism_index = -1;              // selected entry; -1 leaves none selected
  std::string snr_text;                 // txt_snr_umbral
  bool calibrate_on_start = false;      // mnCalibra
  bool calibrate_button_visible = true; // cmd_calibra: hidden when the start action calibrates
  bool zero_on_start = false;           // mnZero
};

// What the light (tool 2) and temperature (tool 3) panels show for a setup.
struct LightTemperatureControls {
  bool light_enabled = false; // Chk_lenabled
  std::string light_on;       // txt_lon (hour)
  std::string light_off;      // txt_loff (hour)
  bool light_hours_enabled = true;
  bool pulses_visible = false; // frm_pulse
  // The pulse fields are filled only when the light programme is enabled; empty otherwise.
  std::string pulse_times, pulse_on, pulse_off;
  bool temperature_enabled = false;       // Chk_tenabled
  std::string temperature;                // txttemp, degrees with one decimal
  bool light_panel_visible = false;       // Frame_light
  bool temperature_panel_visible = false; // Frame_temp
};

// The organism presets offered in Cmb_organism, in order.
const std::vector<std::string>& organism_names();

SetupControls setup_controls(const store::SetupValues& setup);
LightTemperatureControls light_temperature_controls(const store::SetupValues& setup);

// The main window's status bar line for the link, and how it is coloured.
struct LinkStatusLine {
  enum class Tone { Neutral, Good, Bad };
  std::string text;
  Tone tone = Tone::Neutral;
};
LinkStatusLine link_status_line(const device::LinkState& link);

// The main window's status line of the acquisition: the time of the notice, then its text.
std::string acquisition_status_text(const common::CivilTime& when, std::string_view text);
// The main window's mark for problems of the acquisition that the operator has not yet
// acknowledged (by clicking it); empty when there are none.
std::string problem_mark_text(int problems);

// The start screen's status line for the link, or empty to keep what it shows.
std::string start_screen_link_text(const device::LinkState& link);

// Help > Content when the user guide is not where it should be.
std::string help_missing_text(std::string_view path);

// The message a menu item or choice gives while the window behind it is not built yet.
std::string not_available_text(std::string_view what);

} // namespace kestrova::app
