#pragma once

#include <memory>

#include "app/session.hpp"
#include "setup_editor/setup_host.hpp"

class QTimer;

namespace kestrova::setup_editor {
class FrmSetup;
}

namespace kestrova::reports {
class FrmReportSet;
class FrmReport;
} // namespace kestrova::reports

namespace kestrova::browser {
class FrmOffline;
}

namespace kestrova::app {

class FrmMain;
class FrmInit;
class FrmAbout;
class StartupScreens;
class ConnectionScreens;
class AcquisitionScreens;

// The desktop program: the windows over one Session. It builds the windows and the small
// adapters through which the session talks to them, and ends the Qt event loop when the
// session ends. Created once in main(); tests create their own.
class App final : private ProgramEnd,
                  private ReportWindowOpener,
                  private reports::ReportConfigObserver,
                  private setup_editor::SetupHost {
public:
  App(AppOptions options, Services& services);
  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Loads the main window (the start-up sequence). Ready: the start screen is usable.
  LoadOutcome start() { return session_->start(); }

  Session& session() { return *session_; }
  AppState& state() { return session_->state(); }
  Services& services() { return services_; }
  const AppOptions& options() const { return session_->options(); }
  FrmMain& main_window() { return *main_; }
  FrmInit& start_screen() { return *init_; }
  FrmAbout& about_window() { return *about_; }
  setup_editor::FrmSetup& setup_window() { return *setup_; }
  reports::FrmReportSet& report_settings_window() { return *report_settings_; }
  reports::FrmReport& report_window() { return *report_; }
  browser::FrmOffline& browser_window() { return *browser_; }
  // Opens the experiment browser (from the start screen or the channel console): the window is
  // loaded afresh and shown, the start screen hidden.
  void open_browser();
  // "User Defined BIN size": stores again the configuration in force and shows the report
  // settings window.
  void open_report_settings();

  // "Run Latest Project": shows the main window and connects unless connected already.
  void run_latest_project() override;
  // Returns from the main window to the start screen ("OffLine").
  void show_start_screen() override;
  // --exit-when-complete: ends the program once the unattended run has ended, with its status.
  void check_unattended_end();
  // The program's exit status.
  int exit_status() const { return exit_status_; }
  // Opens the setup window (from the start screen or the main window's "Edit"), filled from
  // the current project.
  void open_setup();
  // The main window's tool panels (calibration, light, temperature) follow the setup.
  void show_tool_panels() override;
  // The main window's detection line, signal-to-noise box and organism follow the setup.
  void show_detection(const std::string& line) override;
  // The main window's notes take the setup window's.
  void show_notes_in_main(const std::string& notes) override;

private:
  void program_ended() override;
  // The main window's "User Defined BIN size" mark and bin list follow the report settings.
  void report_config_changed(const reports::ReportConfig& config) override;
  store::ProjectState& project() override { return state().project; }
  std::string& setup_notes() override { return state().setup_notes; }
  bool ended() const override { return session_->state().ended; }
  common::Dialogs& dialogs() override { return services_.dialogs; }
  common::Shell& shell() override { return services_.shell; }
  std::string maker_web_site() const override;
  std::optional<reports::GenerateResult> open_report_window(const std::filesystem::path& folder,
                                                            bool histogram_option,
                                                            bool autoreport) override;

  Services& services_;
  std::unique_ptr<FrmMain> main_;
  std::unique_ptr<FrmInit> init_;
  std::unique_ptr<FrmAbout> about_;
  std::unique_ptr<setup_editor::FrmSetup> setup_;
  std::unique_ptr<reports::FrmReportSet> report_settings_;
  std::unique_ptr<reports::FrmReport> report_;
  std::unique_ptr<browser::FrmOffline> browser_;
  std::unique_ptr<StartupScreens> startup_view_;
  std::unique_ptr<ConnectionScreens> connection_view_;
  std::unique_ptr<AcquisitionScreens> acquisition_view_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<QTimer> wait_timer_; // a relaunched instance's wait for the instrument
  std::optional<reports::ReportBinChoice> shown_bin_; // what the main window's bin list shows
  int exit_status_ = 0;
  bool unattended_end_told_ = false; // --exit-when-complete: the end's status was taken
};

} // namespace kestrova::app
