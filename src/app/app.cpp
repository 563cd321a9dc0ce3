#include "app/app.hpp"

#include <QCoreApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>

#include "acquisition/acquisition_cycle.hpp"
#include "app/about_window.hpp"
#include "app/init_window.hpp"
#include "app/logo.hpp"
#include "app/main_views.hpp"
#include "app/main_window.hpp"
#include "app/version.hpp"
#include "browser/browser_window.hpp"
#include "reports/report_settings_window.hpp"
#include "reports/report_window.hpp"
#include "setup_editor/setup_window.hpp"

namespace kestrova::app {

App::App(AppOptions options, Services& services) : services_(services) {
  main_ = std::make_unique<FrmMain>(*this);
  init_ = std::make_unique<FrmInit>(*this);
  about_ = std::make_unique<FrmAbout>(main_.get());
  const QIcon icon(kestrova_logo(64));
  main_->setWindowIcon(icon);
  init_->setWindowIcon(icon);
  startup_view_ = std::make_unique<StartupScreens>(*main_, *init_, options.startup_timer_ms);
  connection_view_ = std::make_unique<ConnectionScreens>(*main_, *init_);
  acquisition_view_ = std::make_unique<AcquisitionScreens>(*main_);
  session_ = std::make_unique<Session>(std::move(options), services,
                                       SessionViews{*startup_view_, *connection_view_, *this});
  session_->acquisition().set_view(acquisition_view_.get());
  session_->set_acquisition_windows(acquisition_view_.get());
  main_->attach_live_display(session_->acquisition(), state().project);
  main_->attach_calibration(session_->calibration());
  setup_ = std::make_unique<setup_editor::FrmSetup>(static_cast<setup_editor::SetupHost&>(*this));
  setup_->setWindowIcon(icon);
  const std::filesystem::path& data_folder = state().project.app_folder;
  reports::ReportConfig& report_config = session_->report_config();
  report_config.add_observer(this);
  report_settings_ = std::make_unique<reports::FrmReportSet>(report_config, services.dialogs,
                                                             [this] { main_->show(); });
  report_settings_->setWindowIcon(icon);
  report_ = std::make_unique<reports::FrmReport>(
      report_config,
      // The report window also writes the automatic report at a completion, where nobody may
      // be waited for: its boxes go through the acquisition's recording path.
      reports::ReportServices{session_->recording_dialogs(), services.shell, services.pump,
                              services.clock});
  report_->setWindowIcon(icon);
  browser_ = std::make_unique<browser::FrmOffline>(
      data_folder,
      browser::BrowserServices{services.dialogs, services.shell, services.clock, services.pump},
      [this] { init_->show(); });
  browser_->setWindowIcon(icon);
  browser_->set_report_opener([this](const browser::ReportOpening& opening) {
    report_->open_for(opening.folder, opening.histogram, opening.caption, opening.basal);
  });
  session_->set_report_window(this);
  wait_timer_ = std::make_unique<QTimer>();
  wait_timer_->setInterval(1000);
  QObject::connect(wait_timer_.get(), &QTimer::timeout, [this] {
    if (!session_->waiting_for_instrument()) return;
    session_->instrument_wait_tick();
    check_unattended_end();
  });
  wait_timer_->start();
}

App::~App() {
  wait_timer_.reset();
  session_->report_config().remove_observer(this);
  session_->set_report_window(nullptr);
  browser_.reset();
  report_.reset();
  report_settings_.reset();
  setup_.reset();
  // The live display draws for the acquisition engine, which leaves with the session.
  main_->detach_live_display();
  // The session goes first: closing the port may still report to the windows' adapters.
  session_.reset();
  acquisition_view_.reset();
  connection_view_.reset();
  startup_view_.reset();
  about_.reset();
  init_.reset();
  main_.reset();
}

void App::run_latest_project() {
  init_->hide();
  main_->show();
  if (!state().link.connected) session_->connect();
}

void App::show_start_screen() {
  init_->show();
  main_->hide();
}

void App::check_unattended_end() {
  if (!session_->options().exit_when_complete || unattended_end_told_) return;
  const std::optional<RunEnd> end = session_->unattended_end();
  if (!end) return;
  // A relaunch has already ended the program; its status and reason are still told.
  unattended_end_told_ = true;
  exit_status_ = end->status;
  if (end->status != 0) std::fprintf(stderr, "kestrova: %s\n", end->reason.c_str());
  if (!session_->state().ended) session_->end_program();
}

void App::open_report_settings() {
  session_->report_config().store_current(services_.dialogs);
  report_settings_->Form_Load();
  report_settings_->show();
  report_settings_->raise();
}

std::optional<reports::GenerateResult> App::open_report_window(const std::filesystem::path& folder,
                                                               bool histogram_option,
                                                               bool autoreport) {
  // A window busy with other work keeps it; the automatic report is then written without it.
  if (!report_->open_for(folder, histogram_option)) return std::nullopt;
  if (!autoreport) {
    // "Show my report" starts from the bin the main window shows; the automatic report keeps
    // the bin of the user configuration.
    report_->Cmb_binsize->setCurrentText(main_->combo_minutes->currentText());
    return std::nullopt;
  }
  report_->chk_autoreport->setChecked(true);
  // How it went is told by the acquisition's status line, not by a box.
  return report_->run_autoreport(false);
}

void App::report_config_changed(const reports::ReportConfig& config) {
  // A load that changed neither leaves the list as the operator set it.
  const reports::ReportBinChoice choice = config.bin_choice();
  if (shown_bin_ && shown_bin_->user_defined == choice.user_defined &&
      shown_bin_->bin == choice.bin)
    return;
  shown_bin_ = choice;
  main_->fill_bin_list(choice);
}

void App::open_browser() {
  init_->hide();
  browser_->Form_Load();
  browser_->show();
  browser_->raise();
}

void App::open_setup() {
  init_->hide();
  main_->hide();
  setup_->Form_Load();
  setup_->show();
}

void App::show_tool_panels() {
  const store::SetupValues& setup = state().project.setup;
  main_->show_setup_controls(setup_controls(setup));
  main_->show_light_temperature(light_temperature_controls(setup));
}

void App::show_detection(const std::string& line) {
  main_->txt_detection->setText(QString::fromStdString(line));
  main_->show_setup_controls(setup_controls(state().project.setup));
}

void App::show_notes_in_main(const std::string& notes) {
  main_->Txt_description->setText(QString::fromStdString(notes));
}

std::string App::maker_web_site() const { return kMakerWebSite; }

void App::program_ended() {
  main_->Timerinicio->stop();
  setup_->hide();
  browser_->hide();
  about_->hide();
  init_->hide();
  main_->hide();
  QCoreApplication::quit();
}

} // namespace kestrova::app
