#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_state.hpp"
#include "app/startup_sequence.hpp"
#include "device/config_port_writer.hpp"
#include "device/connection.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"

namespace kestrova::app {

class FrmMain;
class FrmInit;
class FrmAbout;

// How the program runs: its data folder, the command line's autorun switch, the start-up
// timer's interval (tests shorten it) and where serial ports are looked for.
struct AppOptions {
  std::filesystem::path data_dir;
  bool autorun = false;
  int startup_timer_ms = kStartupTimerMs;
  std::vector<device::PortMap::Source> port_sources = device::PortMap::system_sources();
  device::CommTimeouts port_timeouts = {};
};

// The program: owns the program-wide states, the serial link and the windows, and wires
// the windows' actions to core operations. Created once in main(); tests create their own.
class App final {
public:
  App(AppOptions options, Services& services);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Loads the main window (the start-up sequence). Ready: the start screen is usable.
  LoadOutcome start();

  AppState& state() { return state_; }
  Services& services() { return services_; }
  const AppOptions& options() const { return options_; }
  FrmMain& main_window() { return *main_; }
  FrmInit& start_screen() { return *init_; }
  FrmAbout& about_window() { return *about_; }
  StartupSequence& startup() { return *startup_; }
  device::ConnectionManager& connection() { return *connection_; }
  device::SerialPorts& ports() { return ports_; }
  device::DeviceProtocol& protocol() { return protocol_; }

  // Windows of later work register here; until then the choice says it is not available.
  std::function<void()> open_setup_window;    // "Setup a New Project"
  std::function<void()> open_browser_window;  // "Analyze recorded experiments"
  std::function<void()> start_acquisition;    // CmdPlay_Click
  std::function<void()> open_report_settings; // "User Defined BIN size"
  std::function<void()> open_factory_window;  // "Factory Settings"
  std::function<void()> open_technical_menu;  // "Technical Menu (require password)"
  std::function<void()> run_device_test;      // "Test DEVICE"
  // "< Back" hands the main window's notes to the setup window.
  std::function<void(const std::string&)> set_setup_description;

  // Start screen "EXIT": the quit question; true when the program ends.
  bool quit_from_start_screen();
  // Leaving through the main window (closing it or "Exit"); asks only when online.
  void leave_from_main_window();
  // Closes the serial port in use (no effect when none is open).
  void close_port();
  // Hides every window and stops the event loop. Idempotent.
  void end_program();

private:
  AppOptions options_;
  Services& services_;
  AppState state_;
  device::SerialPorts ports_;
  device::DeviceProtocol protocol_;
  device::ConfigPortWriter port_writer_; // the COM menu stores the chosen port in config.dat
  std::unique_ptr<FrmMain> main_;
  std::unique_ptr<FrmInit> init_;
  std::unique_ptr<FrmAbout> about_;
  std::unique_ptr<device::ConnectionManager> connection_;
  std::unique_ptr<StartupSequence> startup_;
};

} // namespace kestrova::app
