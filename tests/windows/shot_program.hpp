#pragma once
// The program as the screenshot tools run it: a data folder, fakes for the dialogs, clock and
// shell, the real event loop, and an App with a 1 ms start-up timer that only sees the
// DATA/ports/COMn links, with the virtual instrument plugged in as COM1 when asked.
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/app.hpp"
#include "sim/pty_server.hpp"
#include "store/data_template.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "ui/qt_event_pump.hpp"

namespace kestrova::testing {

// Lets window events run for `ms` milliseconds.
inline void run_for(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Lets queued events (layouts, paints) run.
inline void settle(int rounds = 20) {
  for (int i = 0; i < rounds; ++i)
    QApplication::processEvents();
}

// Saves `w` at 1024x768 and 1920x1080 as OUT/NAME_WxH.png, after `wait_ms` of events at each
// size (0: only the queued ones).
inline void shoot_sizes(QWidget& w, const QString& out, const QString& name, int wait_ms = 0) {
  for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
    w.resize(size);
    if (wait_ms > 0)
      run_for(wait_ms);
    else
      settle();
    w.grab().save(out + QString("/%1_%2x%3.png").arg(name).arg(size.width()).arg(size.height()));
  }
}

// Saves the whole screen (the Xvfb display the tool runs on) as OUT/NAME_WxH.png, WxH being the
// screen's size, after letting queued events run.
inline void shoot_screen(const QString& out, const QString& name) {
  settle(30);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect g = screen->geometry();
  screen->grabWindow(0).save(out +
                             QString("/%1_%2x%3.png").arg(name).arg(g.width()).arg(g.height()));
}

class ShotProgram {
public:
  explicit ShotProgram(std::filesystem::path data) : data_(std::move(data)) {}

  // Makes the data folder a first run would leave (template and default project) unless it
  // holds a configuration already.
  void ensure_data_folder() {
    if (std::filesystem::exists(data_ / "config.dat")) return;
    store::WriteDataFolderTemplate(data_, dialogs);
    store::ProjectState fresh;
    store::SaveProject(fresh, data_, 0, 0, dialogs);
  }

  // Starts the virtual instrument and links it as DATA/ports/COM1.
  void plug_instrument(sim::InstrumentOptions instrument = {}) {
    server_.emplace(std::move(instrument));
    server_->start();
    server_->link(data_ / "ports" / "COM1");
  }
  // Stops the instrument and removes its link: the next connect finds nothing.
  void unplug_instrument() {
    if (server_) server_->stop();
    std::filesystem::remove(data_ / "ports" / "COM1");
  }

  // Builds the program on the data folder and runs its start-up; true when it is ready.
  // `configure` may change the options first.
  bool start(const std::function<void(app::AppOptions&)>& configure = {}) {
    app::AppOptions options;
    options.data_dir = data_;
    options.startup_timer_ms = 1;
    options.port_sources = {};
    if (configure) configure(options);
    app_ = std::make_unique<app::App>(std::move(options), services_);
    return app_->start() == app::LoadOutcome::Ready;
  }
  app::App& app() { return *app_; }

  FakeDialogs dialogs;

private:
  std::filesystem::path data_;
  ui::QtEventPump pump_;
  FakeClock clock_;
  FakeShell shell_;
  app::Services services_{dialogs, pump_, clock_, shell_};
  std::optional<sim::PtyServer> server_;
  std::unique_ptr<app::App> app_;
};

} // namespace kestrova::testing
