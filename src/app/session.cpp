#include "app/session.hpp"

#include <algorithm>

#include "acquisition/acquisition_cycle.hpp"
#include "app/leaving.hpp"
#include "app/main_display.hpp"
#include "app/project_loading.hpp"
#include "app/version.hpp"
#include "reports/automatic_report.hpp"

namespace kestrova::app {

namespace {

// A relaunch that comes sooner than this after the start of the run before it counts as one
// more in a row, and the instance it starts waits before it tries the instrument.
constexpr auto kRelaunchInARow = std::chrono::minutes(10);
// The longest the waits grow to: between two tries for the instrument, and before a relaunch
// that follows others in a row.
constexpr std::chrono::seconds kLongestTryInterval{30};
constexpr std::chrono::seconds kLongestRelaunchDelay{15 * 60};

// 2, 4, 8, 16 s, then every 30 s.
std::chrono::seconds try_interval(int tries) {
  return std::min(std::chrono::seconds(2 << std::min(std::max(tries - 1, 0), 5)),
                  kLongestTryInterval);
}

// Nothing for the first relaunch in a row; 30 s for the second, doubling up to 15 minutes.
std::chrono::seconds relaunch_delay(int relaunch) {
  if (relaunch < 2) return std::chrono::seconds(0);
  return std::min(std::chrono::seconds(30 << std::min(relaunch - 2, 5)), kLongestRelaunchDelay);
}

const char* start_outcome_text(acquisition::StartOutcome outcome) {
  using acquisition::StartOutcome;
  switch (outcome) {
  case StartOutcome::Started:
    return "started";
  case StartOutcome::AlreadyActive:
    return "an acquisition was already running";
  case StartOutcome::NoName:
    return "no name";
  case StartOutcome::ProjectZero:
    return "project 0 cannot record";
  case StartOutcome::Offline:
    return "no instrument";
  case StartOutcome::DiskRefused:
    return "not enough disk space";
  case StartOutcome::FolderFailed:
    return "the acquisition folder could not be written";
  case StartOutcome::CalibrationFailed:
    return "the calibration failed";
  }
  return "unknown";
}

} // namespace

Session::Session(AppOptions options, Services& services, SessionViews views)
    : options_(std::move(options)),
      dialogs_(services.dialogs, [this] { return unattended(); }), services_{dialogs_,
                                                                             services.pump,
                                                                             services.clock,
                                                                             services.shell},
      views_(views), recording_path_(dialogs_, services.pump),
      ports_(device::PortMap(options_.data_dir, options_.port_sources), services.clock,
             options_.port_timeouts),
      protocol_(ports_, state_.link, services.clock, recording_path_.dialogs()),
      port_writer_(state_.project, dialogs_), report_config_(options_.data_dir) {
  state_.project.app_folder = options_.data_dir;
  state_.project.project_folder = options_.data_dir;
  connection_ = std::make_unique<device::ConnectionManager>(ports_, protocol_, state_.link,
                                                            services.clock, dialogs_, services.pump,
                                                            views_.connection, port_writer_);
  startup_ = std::make_unique<StartupSequence>(
      state_, services_, views_.startup,
      [this](AppState& s, const std::function<void(const std::string&)>& news) {
        load_current_project(s, services_.dialogs, news);
      },
      [this](const AppState&) {
        report_config_.read();
        return report_config_.bin_choice();
      });
  cycle_ = std::make_unique<acquisition::AcquisitionCycle>(acquisition::CycleContext{
      state_.project, state_.link, ports_, protocol_, dialogs_, services.pump, services.clock,
      services.shell, options_.free_space, options_.write_at,
      [this] { return relaunch_arguments(); }, &recording_path_, version_banner()});
  dialogs_.set_note([this](const std::string& text) { note(text); });
  // What the recording path tells instead of a box reaches the status line and the cycle's log,
  // and the run's notes (the reason an unattended run ended).
  recording_path_.set_notice([this](std::string_view text, acquisition::NoticeLevel level) {
    cycle_->notice(text, level);
    run_notes_.push_back("Message: " + std::string(text));
    if (run_notes_.size() > RunDialogs::kNotesKept) run_notes_.pop_front();
  });
  cycle_->set_host(&cycle_host_);
  cycle_->set_report(&reports_);
  calibrator_ = std::make_unique<acquisition::Calibrator>(acquisition::CalibrationContext{
      state_.project, state_.link, protocol_, recording_path_.dialogs(), recording_path_.pump(),
      services.clock, [this] { return cycle_->state() != acquisition::AcquisitionState::Stopped; },
      [this] { stop_acquisition(); }});
  cycle_->set_calibration(calibrator_.get());
}

Session::~Session() { close_port(); }

LoadOutcome Session::start() {
  const LoadOutcome outcome = startup_->load(options_.autorun);
  if (outcome == LoadOutcome::Ready) {
    views_.connection.check_com_port(state_.link.port);
  } else {
    end_program();
  }
  return outcome;
}

void Session::startup_timer_fired() {
  const PhaseAction a = startup_->on_timer();
  if (a.status) views_.startup.show_news(*a.status);
  if (a.show_main_and_connect) {
    views_.startup.show_main_window();
    // A relaunch soon after others waits before it tries the instrument again.
    if (const std::chrono::seconds delay = relaunch_delay(options_.relaunch); delay.count() > 0) {
      begin_wait(delay, "relaunch " + std::to_string(options_.relaunch) + " in a row");
      return;
    }
    connect();
  } else if (a.show_main_and_start) {
    views_.startup.show_main_window();
    start_acquisition();
  }
}

device::ConnectOutcome Session::connect() {
  device::ConnectOutcome outcome = connection_->Connect();
  // A relaunched instance waits for an instrument that answers with sound blocks instead of
  // starting an acquisition that would only fail again.
  if (options_.relaunch > 0 && state_.startup.autorun && !state_.ended) {
    const bool sound = outcome == device::ConnectOutcome::Connected && instrument_sends_blocks();
    if (!sound) {
      if (outcome == device::ConnectOutcome::Connected) connection_->Disconnect();
      views_.startup.show_main_window();
      begin_wait(try_interval(wait_.tries + 1), outcome == device::ConnectOutcome::Connected
                                                    ? "the instrument sends bad blocks"
                                                    : "no instrument found");
      return device::ConnectOutcome::Offline;
    }
    if (wait_.active)
      note("The instrument answered after " + std::to_string(wait_.tries) + " tries");
    wait_ = {};
    views_.connection.set_autotext("");
    views_.connection.set_autochannel("");
  }
  if (state_.startup.autorun && !state_.ended) startup_->begin_phase(6);
  return outcome;
}

bool Session::instrument_sends_blocks() {
  for (int block : device::kBlockStarts)
    if (!protocol_.ReadIntensityBlock(block).good()) return false;
  return true;
}

void Session::begin_wait(std::chrono::seconds delay, const std::string& why) {
  wait_.active = true;
  ++wait_.tries;
  wait_.next_try = services_.clock.now() + delay;
  note("Waiting for the instrument (" + why + "): try " + std::to_string(wait_.tries) +
       ", next in " + std::to_string(delay.count()) + " s");
  show_wait();
}

void Session::show_wait() {
  const auto left = std::chrono::ceil<std::chrono::seconds>(wait_.next_try - services_.clock.now());
  views_.connection.set_autotext("WAITING FOR THE INSTRUMENT");
  views_.connection.set_autochannel(
      "Next try in " + std::to_string(std::max<long long>(left.count(), 0)) + " s (Stop cancels)");
}

void Session::instrument_wait_tick() {
  if (!wait_.active || state_.ended) return;
  if (services_.clock.now() < wait_.next_try) {
    show_wait();
    return;
  }
  connect();
}

std::vector<std::string> Session::relaunch_arguments() {
  std::vector<std::string> args{"/run"};
  // An unattended run stays unattended after a relaunch: the new instance ends too.
  if (options_.exit_when_complete) args.push_back("--exit-when-complete");
  const bool soon = services_.clock.now() - run_started_ < kRelaunchInARow;
  const int relaunch = soon ? std::max(options_.relaunch, 0) + 1 : 1;
  args.push_back("--relaunched");
  args.push_back(std::to_string(relaunch));
  note("Relaunching the program after a lost link (relaunch " + std::to_string(relaunch) +
       " in a row" +
       (relaunch > 1 ? ", the next instance waits " +
                           std::to_string(relaunch_delay(relaunch).count()) + " s first"
                     : std::string()) +
       ")");
  return args;
}

void Session::note(const std::string& text) {
  run_notes_.push_back(text);
  if (run_notes_.size() > RunDialogs::kNotesKept) run_notes_.pop_front();
  const common::LocalTime now = services_.clock.now();
  if (log_.active()) {
    log_.write(now, text);
    return;
  }
  unlogged_.emplace_back(now, text);
  if (unlogged_.size() > RunDialogs::kNotesKept) unlogged_.pop_front();
}

void Session::disconnect() { connection_->Disconnect(); }

void Session::choose_com_port(int index) { connection_->ChooseComPort(index); }

void Session::check_link() {
  if (cycle_->state() == acquisition::AcquisitionState::Stopped) connection_->CheckLink();
}

acquisition::StartOutcome Session::start_acquisition(std::string description,
                                                     std::optional<std::string> snr_text,
                                                     std::optional<double> set_point) {
  acquisition::StartRequest request;
  request.autorun = state_.startup.autorun;
  request.description = std::move(description);
  request.snr_text = std::move(snr_text);
  request.set_point = set_point;
  const acquisition::StartOutcome outcome = cycle_->start(request);
  if (outcome == acquisition::StartOutcome::Started) {
    // From now on the notes go to this acquisition's log, the waits before it first.
    run_started_ = services_.clock.now();
    log_.open(cycle_->folder());
    for (const auto& [when, text] : unlogged_)
      log_.write(when, text);
    unlogged_.clear();
  }
  if (request.autorun) {
    autorun_start_ = outcome;
    if (outcome == acquisition::StartOutcome::Started && options_.relaunch > 0)
      note("Relaunched after a lost link (relaunch " + std::to_string(options_.relaunch) +
           " in a row)");
  }
  sync_acquisition_flags();
  return outcome;
}

bool Session::acquisition_timer_enabled() const { return cycle_->timer_enabled(); }

void Session::tick() {
  cycle_->tick();
  sync_acquisition_flags();
  // The screen shows the link lost from the COM alarm on, and found again with a good scan.
  if (state_.link.connected)
    connection_->SetLinkLost(cycle_->com_errors() >= acquisition::kComErrorsSilent);
}

void Session::pause_acquisition() {
  cycle_->pause_or_resume();
  sync_acquisition_flags();
}

void Session::stop_acquisition() {
  if (wait_.active) {
    wait_ = {};
    wait_cancelled_ = true;
    state_.startup.autorun = false;
    note("The wait for the instrument was cancelled");
    views_.connection.set_autotext("");
    views_.connection.set_autochannel("");
  }
  if (cycle_->stop()) state_.startup.autorun = false;
  sync_acquisition_flags();
}

bool Session::unattended() const {
  return state_.startup.autorun && (options_.exit_when_complete || options_.relaunch > 0);
}

void Session::show_acquisition_report() { cycle_->show_report(); }

void Session::sync_acquisition_flags() {
  auto& flags = state_.acquisition;
  flags.running = cycle_->state() == acquisition::AcquisitionState::Running;
  flags.paused = cycle_->state() == acquisition::AcquisitionState::Paused;
  flags.buffers_done = cycle_->buffers_done();
  flags.samples_done = cycle_->buffers_done() * cycle_->buffer_length() + cycle_->sample_index();
}

void Session::Reports::open_report(const std::filesystem::path& folder, bool histogram_option,
                                   bool autoreport) {
  asked = autoreport;
  last = {};
  reports::ReportConfig& config = session.report_config_;
  const bool unattended = session.unattended();
  // Nobody looks at a report window in an unattended run: a report for the operator is not
  // made, and the automatic report is written directly.
  if (!autoreport && unattended) {
    session.note("Report not opened: nobody to look at it (User Defined BIN size is off)");
    return;
  }
  if (window && !unattended) {
    std::optional<reports::GenerateResult> written =
        window->open_report_window(folder, histogram_option, autoreport);
    if (!autoreport) return;
    if (written) {
      last = *written;
      tell_automatic_report();
      return;
    }
    // The window is busy (a re-analysis of another acquisition, say): written without it.
  }
  Services& sv = session.services_;
  common::Dialogs& dialogs = session.recording_path_.dialogs();
  reports::ReportServices services{dialogs, sv.shell, session.recording_path_.pump(), sv.clock};
  if (!autoreport) {
    // As the report window would: its load's settings, the report opened for the operator.
    config.load_for_report(dialogs);
    reports::AutomaticReportRequest request = reports::automatic_report_request(
        folder, config.data_folder(), config.settings(), histogram_option);
    request.report.open_result = true;
    last = reports::generate_report(request.report, services);
    return;
  }
  reports::AutomaticReportRequest request = reports::automatic_report_request(
      folder, config.data_folder(), config.settings(), histogram_option);
  request.announce = false; // told by the status line instead
  last = reports::run_automatic_report(request, services).report;
  tell_automatic_report();
}

void Session::Reports::tell_automatic_report() {
  if (last.ok) {
    // A box for an operator who asked for it; a status line on the recording path.
    session.recording_path_.dialogs().message("Report File AutoGenerated", common::Buttons::Ok,
                                              common::Icon::Information);
  } else {
    session.cycle_->notice("The automatic report could not be written",
                           acquisition::NoticeLevel::Problem);
  }
}

std::optional<RunEnd> Session::unattended_end() const {
  if (wait_cancelled_) return RunEnd{6, "the wait for the instrument was cancelled"};
  if (!autorun_start_) return std::nullopt;
  using acquisition::StartOutcome;
  if (*autorun_start_ != StartOutcome::Started)
    return RunEnd{2, std::string("the acquisition did not start (") +
                         start_outcome_text(*autorun_start_) + ")"};
  if (cycle_->relaunched())
    return RunEnd{3, "the instrument stopped answering; the program relaunched itself"};
  if (cycle_->finished()) {
    if (!reports_.asked || reports_.last.ok) return RunEnd{0, {}};
    std::string reason = "the acquisition completed but its report could not be written";
    const auto message = std::find_if(run_notes_.rbegin(), run_notes_.rend(),
                                      [](const auto& n) { return n.starts_with("Message: "); });
    if (message != run_notes_.rend()) reason += ": " + *message;
    return RunEnd{4, reason};
  }
  if (cycle_->state() == acquisition::AcquisitionState::Stopped)
    return RunEnd{5, "the acquisition was stopped before it completed"};
  return std::nullopt;
}

void Session::CycleHost::open_setup() {
  if (windows) windows->open_setup();
}

void Session::CycleHost::show_main_window() {
  if (windows) windows->show_main_window();
}

void Session::CycleHost::acquisition_stopped() {
  // However it ended (Stop, completion, a failure), the next Start asks for a name again.
  session.state_.startup.autorun = false;
}

void Session::CycleHost::end_program() {
  if (windows) windows->end_program();
  session.end_program();
}

bool Session::quit_from_start_screen() {
  return confirm_quit(state_, services_, [this] { close_port(); });
}

void Session::leave_from_main_window() {
  leave_from_main(
      state_, services_, [this] { save_current_project(state_, services_.dialogs); },
      [this] { close_port(); });
}

void Session::close_port() {
  if (state_.link.port > 0) ports_.CommClose(state_.link.port);
}

void Session::end_program() {
  state_.ended = true;
  if (end_told_) return;
  end_told_ = true;
  views_.end.program_ended();
}

} // namespace kestrova::app
