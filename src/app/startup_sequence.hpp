#pragma once

#include <optional>
#include <string>

#include "app/app_state.hpp"
#include "reports/report_bin.hpp"

namespace kestrova::app {

inline constexpr const char* kStatusReadingConfig = "STARTING........... Reading Configuration...";
inline constexpr const char* kStatusConfigOk = "STARTING........... Configuration OK...";
inline constexpr const char* kStatusNotConnected = "status = not connected yet";
inline constexpr const char* kLoadErrorPrefix = "Error loading INIT parameters #ERROR:";
inline constexpr int kStartupTimerMs = 500;

// What the start-up timer does for one phase.
struct PhaseAction {
  std::optional<std::string> status;  // new LblNews text
  bool repaint = false;               // repaint LblNews
  bool done = true;                   // sets the phase-done flag
  bool show_main_and_connect = false; // phase 5 in autorun
  bool show_main_and_start = false;   // phase 6 in autorun
};

// The start-up timer's table: phases 0..4 report progress, 5 and 6 act only in autorun.
PhaseAction phase_action(int phase, bool autorun);

// The window side of the start-up: the start screen, the main window's controls, and the
// start-up timer. A small adapter over the windows implements it; the start-up waits for its
// timer through the event pump.
class StartupView {
public:
  virtual ~StartupView() = default;
  // Step 1: make the device test menu visible.
  virtual void show_test_menu() = 0;
  // Step 3: light and temperature controls at rest, frm_autotext hidden.
  virtual void set_rest_controls() = 0;
  // Shows the start screen, usable or not; hides the main window when showing it disabled.
  virtual void show_start_screen(bool enabled) = 0;
  // Enables the start-up timer (it fires once, after its interval).
  virtual void enable_startup_timer() = 0;
  // Step 11: calibration tools, organism list, detection and calibration controls.
  virtual void apply_setup() = 0;
  // Step 11 end: light and temperature controls from the setup.
  virtual void apply_light_temperature() = 0;
  // Step 12: combo_minutes and the "User Defined BIN size" check mark.
  virtual void fill_bin_list(const reports::ReportBinChoice& choice) = 0;
  // Step 14: clears the group list and selector and shows the project caption.
  virtual void show_project(const std::string& caption) = 0;
  // Step 16: the display defaults and the plot areas; CmdPause disabled.
  virtual void prepare_display() = 0;
  // Writes a text into the start screen's status label (phase texts, the loader's notes).
  virtual void show_news(const std::string& text) = 0;
  // Hides the start screen and shows the main window (autorun).
  virtual void show_main_window() = 0;
};

// Loads the project of the current state: setup.dat, the channel tables and the plate
// format, in this order. Warnings go to `news`. Throws on a failure that stops the start-up.
using ProjectLoadStep =
    std::function<void(AppState&, const std::function<void(const std::string&)>& news)>;
// Reads the report settings and returns their bin choice.
using ReportBinStep = std::function<reports::ReportBinChoice(const AppState&)>;

// The outcome of loading the main window.
enum class LoadOutcome {
  Ready,         // the start screen is usable
  ConfigMissing, // "Config file not found..." was shown; the program ends
  Failed,        // "Error loading INIT parameters #ERROR:" + stage was shown; the program ends
  Ended,         // the program was asked to end while loading
};

// Runs the loading of the main window in its fixed order, handing the phases to the
// start-up timer and waiting for each while window events run.
class StartupSequence {
public:
  StartupSequence(AppState& state, Services& services, StartupView& view,
                  ProjectLoadStep load_project, ReportBinStep read_report_bin);

  LoadOutcome load(bool autorun);

  // The start-up timer's handler body: disables nothing itself (the view's timer is single
  // shot), applies the table, and returns the action for the window to carry out.
  PhaseAction on_timer();

  // Starts phase n without waiting (phase 5 at the end of loading, phase 6 after connecting).
  void begin_phase(int phase);

private:
  void run_phase(int phase);
  void load_steps();

  AppState& state_;
  Services& services_;
  StartupView& view_;
  ProjectLoadStep load_project_;
  ReportBinStep read_report_bin_;
};

} // namespace kestrova::app
