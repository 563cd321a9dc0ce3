#include "app/session.hpp"

#include "acquisition/acquisition_cycle.hpp"
#include "app/leaving.hpp"
#include "app/main_display.hpp"
#include "app/project_loading.hpp"

namespace kestrova::app {

namespace {

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
    : options_(std::move(options)), services_(services), views_(views),
      ports_(device::PortMap(options_.data_dir, options_.port_sources), services.clock,
             options_.port_timeouts),
      protocol_(ports_, state_.link, services.clock, services.dialogs),
      port_writer_(state_.project, services.dialogs) {
  state_.project.app_folder = options_.data_dir;
  state_.project.project_folder = options_.data_dir;
  connection_ = std::make_unique<device::ConnectionManager>(
      ports_, protocol_, state_.link, services.clock, services.dialogs, services.pump,
      views_.connection, port_writer_);
  startup_ = std::make_unique<StartupSequence>(
      state_, services_, views_.startup,
      [this](AppState& s, const std::function<void(const std::string&)>& news) {
        load_current_project(s, services_.dialogs, news);
      },
      [](const AppState& s) { return reports::read_report_bin_choice(s.project.app_folder); });
  cycle_ = std::make_unique<acquisition::AcquisitionCycle>(acquisition::CycleContext{
      state_.project,
      state_.link,
      ports_,
      protocol_,
      services.dialogs,
      services.pump,
      services.clock,
      services.shell,
      options_.free_space,
      {},
      // An unattended run stays unattended after a relaunch: the new instance ends too.
      options_.exit_when_complete ? std::vector<std::string>{"/run", "--exit-when-complete"}
                                  : std::vector<std::string>{"/run"}});
  cycle_->set_host(&cycle_host_);
  cycle_->set_report(&reports_);
  calibrator_ = std::make_unique<acquisition::Calibrator>(acquisition::CalibrationContext{
      state_.project, state_.link, protocol_, services.dialogs, services.pump, services.clock,
      [this] { return cycle_->state() != acquisition::AcquisitionState::Stopped; },
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
    connect();
  } else if (a.show_main_and_start) {
    views_.startup.show_main_window();
    start_acquisition();
  }
}

device::ConnectOutcome Session::connect() {
  const device::ConnectOutcome outcome = connection_->Connect();
  if (state_.startup.autorun && !state_.ended) startup_->begin_phase(6);
  return outcome;
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
  cycle_->switches().user_bin = state_.report_bin.user_defined;
  const acquisition::StartOutcome outcome = cycle_->start(request);
  if (request.autorun) autorun_start_ = outcome;
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
  if (cycle_->stop()) state_.startup.autorun = false;
  sync_acquisition_flags();
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
  asked = true;
  if (window) {
    std::optional<reports::GenerateResult> written =
        window->open_report_window(folder, histogram_option, autoreport);
    if (!autoreport) return;
    if (written) {
      last = *written;
      return;
    }
    // The window is busy (a re-analysis of another acquisition, say): written without it.
  }
  Services& sv = session.services_;
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = session.state_.project.app_folder;
  reports::load_report_settings(request.data_folder, 1, request.settings, sv.dialogs);
  request.file_type = static_cast<reports::ReportFileType>(request.settings.filetype);
  request.layout = histogram_option
                       ? reports::ReportLayout::Histogram
                       : static_cast<reports::ReportLayout>(request.settings.out_format);
  request.autoreport = autoreport;
  request.open_result = !autoreport;
  reports::ReportServices services{sv.dialogs, sv.shell, sv.pump, sv.clock};
  last = reports::generate_report(request, services);
}

std::optional<RunEnd> Session::unattended_end() const {
  if (!autorun_start_) return std::nullopt;
  using acquisition::StartOutcome;
  if (*autorun_start_ != StartOutcome::Started)
    return RunEnd{2, std::string("the acquisition did not start (") +
                         start_outcome_text(*autorun_start_) + ")"};
  if (cycle_->relaunched())
    return RunEnd{3, "the instrument stopped answering; the program relaunched itself"};
  if (cycle_->finished()) {
    if (reports_.last.ok) return RunEnd{0, {}};
    return RunEnd{4, "the acquisition completed but its report could not be written"};
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
