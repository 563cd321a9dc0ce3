#include "app/app.hpp"

#include <QCoreApplication>

#include "app/about_window.hpp"
#include "app/init_window.hpp"
#include "app/leaving.hpp"
#include "app/main_window.hpp"
#include "app/project_loading.hpp"

namespace kestrova::app {

App::App(AppOptions options, Services& services)
    : options_(std::move(options)), services_(services),
      ports_(device::PortMap(options_.data_dir, options_.port_sources), services.clock,
             options_.port_timeouts),
      protocol_(ports_, state_.link, services.clock, services.dialogs),
      port_writer_(state_.project, services.dialogs) {
  state_.project.app_folder = options_.data_dir;
  state_.project.project_folder = options_.data_dir;
  main_ = std::make_unique<FrmMain>(*this);
  init_ = std::make_unique<FrmInit>(*this);
  about_ = std::make_unique<FrmAbout>(main_.get());
  connection_ = std::make_unique<device::ConnectionManager>(ports_, protocol_, state_.link,
                                                            services.clock, services.dialogs,
                                                            services.pump, *main_, port_writer_);
  startup_ = std::make_unique<StartupSequence>(
      state_, services_, *main_,
      [this](AppState& s, const std::function<void(const std::string&)>& news) {
        load_current_project(s, services_.dialogs, news);
      },
      [](const AppState& s) { return read_report_bin_choice(s.project.app_folder); });
}

App::~App() {
  // The windows go first: they may still reach the link and the states while closing.
  startup_.reset();
  connection_.reset();
  about_.reset();
  init_.reset();
  main_.reset();
  if (state_.link.port > 0) ports_.CommClose(state_.link.port);
}

LoadOutcome App::start() {
  const LoadOutcome outcome = startup_->load(options_.autorun);
  if (outcome == LoadOutcome::Ready) {
    main_->check_com_port(state_.link.port);
  } else {
    end_program();
  }
  return outcome;
}

bool App::quit_from_start_screen() {
  return confirm_quit(state_, services_, [this] { close_port(); });
}

void App::leave_from_main_window() {
  leave_from_main(
      state_, services_, [this] { save_current_project(state_, services_.dialogs); },
      [this] { close_port(); });
}

void App::close_port() {
  if (state_.link.port > 0) ports_.CommClose(state_.link.port);
}

void App::end_program() {
  state_.ended = true;
  main_->Timerinicio->stop();
  about_->hide();
  init_->hide();
  main_->hide();
  QCoreApplication::quit();
}

} // namespace kestrova::app
