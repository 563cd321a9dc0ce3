#include "app/app.hpp"

#include <QCoreApplication>
#include <QIcon>

#include "app/about_window.hpp"
#include "app/init_window.hpp"
#include "app/logo.hpp"
#include "app/main_views.hpp"
#include "app/main_window.hpp"

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
  session_ = std::make_unique<Session>(std::move(options), services,
                                       SessionViews{*startup_view_, *connection_view_, *this});
  main_->attach_live_display(session_->acquisition(), state().project);
}

App::~App() {
  main_
      ->detach_live_display(); // it draws for the acquisition engine, which leaves with the session
  // The session goes first: closing the port may still report to the windows' adapters.
  session_.reset();
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

void App::program_ended() {
  main_->Timerinicio->stop();
  about_->hide();
  init_->hide();
  main_->hide();
  QCoreApplication::quit();
}

} // namespace kestrova::app
