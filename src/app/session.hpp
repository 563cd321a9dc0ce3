#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/acquisition_log.hpp"
#include "acquisition/calibration.hpp"
#include "acquisition/cycle_interfaces.hpp"
#include "acquisition/recording_path.hpp"
#include "app/app_state.hpp"
#include "app/run_dialogs.hpp"
#include "app/startup_sequence.hpp"
#include "device/config_port_writer.hpp"
#include "device/connection.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_config.hpp"

namespace kestrova::acquisition {
class AcquisitionCycle;
enum class StartOutcome;
} // namespace kestrova::acquisition

namespace kestrova::app {

// How the program runs: its data folder, the command line's autorun switch, the start-up
// timer's interval (tests shorten it) and where serial ports are looked for.
struct AppOptions {
  std::filesystem::path data_dir;
  bool autorun = false;
  int startup_timer_ms = kStartupTimerMs;
  std::vector<device::PortMap::Source> port_sources = device::PortMap::system_sources();
  device::CommTimeouts port_timeouts = {};
  bool exit_when_complete = false; // an unattended run ends the program when it ends
  // This instance was relaunched after a lasting link failure: the number of relaunches in a
  // row, this one included, that came soon after the run before (0 for a normal start).
  int relaunch = 0;
  // Free space of the project folder's drive in MB (tests give a fixed figure).
  acquisition::FreeSpaceFunction free_space = acquisition::filesystem_free_mb;
  // The activity files' writes, like pwrite(2) (tests put a full disk under them); empty for
  // pwrite.
  std::function<long(int fd, const void* data, std::size_t size, std::int64_t offset)> write_at =
      {};
};

// Told when the program has been asked to end (the Qt layer hides its windows and stops the
// event loop; a headless driver stops its loop).
class ProgramEnd {
public:
  virtual ~ProgramEnd() = default;
  virtual void program_ended() = 0;
};

// The report window, which the session hands an acquisition's report to when one is set.
class ReportWindowOpener {
public:
  virtual ~ReportWindowOpener() = default;
  // Shows the report window on `folder`, the histogram layout offered when `histogram_option`.
  // With `autoreport` the window writes the report by itself, hides, and returns how it went;
  // nullopt when the window is busy with other work and wrote nothing.
  virtual std::optional<reports::GenerateResult>
  open_report_window(const std::filesystem::path& folder, bool histogram_option,
                     bool autoreport) = 0;
};

// How a run started by autorun ended, for --exit-when-complete: 0 when the acquisition
// completed (with its automatic report when the report settings ask for one), otherwise a
// status and the reason.
struct RunEnd {
  int status = 0;
  std::string reason;
};

// The screens the session talks to, each through its own narrow view.
struct SessionViews {
  StartupView& startup;
  device::ConnectionStatus& connection;
  ProgramEnd& end;
};

// The program without its windows: the program-wide states, the serial link, the start-up and
// the operations on them. The Qt program, the headless driver and the tests all drive it.
class Session final {
public:
  Session(AppOptions options, Services& services, SessionViews views);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the main window's states (the start-up sequence). Ready: the start screen is usable;
  // any other outcome ends the program.
  LoadOutcome start();
  // The start-up timer fired: runs its phase; in autorun shows the main window and connects
  // (phase 5) or starts the acquisition (phase 6).
  void startup_timer_fired();

  // The connect action; in autorun it hands over to the start-up's phase 6.
  device::ConnectOutcome connect();
  void disconnect();
  void choose_com_port(int index);
  // The idle link check (every few seconds while no acquisition runs): a port whose device has
  // gone shows the link lost.
  void check_link();
  // "Start Acquisition" (CmdPlay): in autorun without questions. `description` is the text of
  // Txt_description, `snr_text` that of txt_snr_umbral (the setup's SNR when absent),
  // `set_point` that of txttemp (the setup's temperature when absent).
  acquisition::StartOutcome start_acquisition(std::string description = {},
                                              std::optional<std::string> snr_text = {},
                                              std::optional<double> set_point = {});
  // One tick of the acquisition timer (Timeradq, every acquisition::kCycleTimerMs while
  // acquisition_timer_enabled()).
  void tick();
  bool acquisition_timer_enabled() const;
  // CmdPause: pause (asking about the time counter) or resume.
  void pause_acquisition();
  // CmdStop: stops and cleans up; stopping an acquisition ends autorun. While a relaunched
  // instance waits for the instrument, it cancels the wait (and the autorun).
  void stop_acquisition();
  // A relaunched instance that has not found the instrument (or only bad blocks) tries again
  // later, without asking anybody: after 2, 4, 8, 16 s, then every 30 s.
  bool waiting_for_instrument() const { return wait_.active; }
  // The wait's timer (every second or so): shows the time to the next try and tries when due.
  void instrument_wait_tick();
  // Tries so far in the current wait.
  int instrument_tries() const { return wait_.tries; }
  // "Show my report" (Cmdreport).
  void show_acquisition_report();
  // The last report the acquisition asked for (its folder empty when none was made).
  const reports::GenerateResult& last_report() const { return reports_.last; }
  // For an unattended run: how it ended, or nothing while it goes on.
  std::optional<RunEnd> unattended_end() const;
  // The program's report settings (repoconf.dat), read at each completion.
  reports::ReportConfig& report_config() { return report_config_; }
  // True while nobody is expected to answer: an autorun that ends the program by itself, or a
  // relaunched instance. Boxes are then noted (run_dialogs().noted()) and answered by default.
  bool unattended() const;
  const RunDialogs& run_dialogs() const { return dialogs_; }
  // What happened without a person, oldest first (the last few): boxes answered by default,
  // the waits for the instrument, the relaunch.
  const std::deque<std::string>& run_notes() const { return run_notes_; }
  // The report window that opens reports made without autoreport; null writes them directly.
  void set_report_window(ReportWindowOpener* opener) { reports_.window = opener; }
  // The acquisition engine, for the windows' views, hooks, switches and sinks.
  acquisition::AcquisitionCycle& acquisition() { return *cycle_; }
  const acquisition::AcquisitionCycle& acquisition() const { return *cycle_; }
  // The boxes that code reached from the acquisition shows (see RecordingPath).
  common::Dialogs& recording_dialogs() { return recording_path_.dialogs(); }
  // The channel calibration the start action, the buffer ends and the tools frame use.
  acquisition::Calibrator& calibration() { return *calibrator_; }
  // Where the acquisition sends the operator (setup window, main window); null for none.
  void set_acquisition_windows(acquisition::AcquisitionHost* windows) {
    cycle_host_.windows = windows;
  }

  // Start screen "EXIT": the quit question; true when the program ends.
  bool quit_from_start_screen();
  // Leaving through the main window (closing it or "Exit"); asks only when online.
  void leave_from_main_window();
  // Closes the serial port in use (no effect when none is open).
  void close_port();
  // Marks the program ended and tells the views. Idempotent.
  void end_program();

  AppState& state() { return state_; }
  const AppState& state() const { return state_; }
  Services& services() { return services_; }
  const AppOptions& options() const { return options_; }
  StartupSequence& startup() { return *startup_; }
  device::ConnectionManager& connection() { return *connection_; }
  device::SerialPorts& ports() { return ports_; }
  device::DeviceProtocol& protocol() { return protocol_; }

private:
  // Ends the program on an automatic relaunch; passes the rest on to the windows.
  struct CycleHost final : acquisition::AcquisitionHost {
    explicit CycleHost(Session& s) : session(s) {}
    void open_setup() override;
    void show_main_window() override;
    void end_program() override;
    void acquisition_stopped() override;
    Session& session;
    acquisition::AcquisitionHost* windows = nullptr;
  };
  // The report of a finished acquisition: handed to the report window when one is set,
  // otherwise written with the report settings of the data folder (and opened for the operator
  // without autoreport).
  struct Reports final : acquisition::ReportRequest {
    explicit Reports(Session& s) : session(s) {}
    bool automatic() const override { return session.report_config_.user_defined(); }
    void open_report(const std::filesystem::path& folder, bool histogram_option,
                     bool autoreport) override;
    // The status line, the mark and the log hear how the automatic report went.
    void tell_automatic_report();
    Session& session;
    reports::GenerateResult last;
    bool asked = false;
    ReportWindowOpener* window = nullptr;
  };
  // A relaunched instance waiting for the instrument.
  struct InstrumentWait {
    bool active = false;
    int tries = 0;
    common::LocalTime next_try{};
  };
  // Copies the engine's state into the program-wide acquisition flags.
  void sync_acquisition_flags();
  // The arguments of an automatic relaunch: autorun, --exit-when-complete when given, and the
  // count of relaunches in a row (noted in the acquisition log).
  std::vector<std::string> relaunch_arguments();
  // Whether the instrument answers with a sound intensity block.
  bool instrument_sends_blocks();
  void begin_wait(std::chrono::seconds delay, const std::string& why);
  void show_wait();
  void note(const std::string& text);

  AppOptions options_;
  RunDialogs dialogs_;
  Services services_; // the caller's services, with dialogs_ in front of its dialogs
  SessionViews views_;
  AppState state_;
  // The boxes and pump of everything an acquisition runs unattended (protocol, calibration,
  // automatic report): nobody is waited for there.
  acquisition::RecordingPath recording_path_;
  device::SerialPorts ports_;
  device::DeviceProtocol protocol_;
  device::ConfigPortWriter port_writer_; // the COM menu stores the chosen port in config.dat
  std::unique_ptr<device::ConnectionManager> connection_;
  std::unique_ptr<StartupSequence> startup_;
  CycleHost cycle_host_{*this};
  Reports reports_{*this};
  std::optional<acquisition::StartOutcome> autorun_start_; // the start the autorun made
  std::unique_ptr<acquisition::AcquisitionCycle> cycle_;
  std::unique_ptr<acquisition::Calibrator> calibrator_;
  reports::ReportConfig report_config_;
  InstrumentWait wait_;
  bool wait_cancelled_ = false;
  common::LocalTime run_started_{}; // when the autorun's acquisition started
  std::deque<std::string> run_notes_;
  // The acquisition log of the current acquisition folder; what is noted before there is one
  // waits for the next acquisition's log.
  acquisition::AcquisitionLog log_;
  std::deque<std::pair<common::LocalTime, std::string>> unlogged_;
  bool end_told_ = false;
};

} // namespace kestrova::app
