#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <functional>
#include <memory>

#include "app/app.hpp"
#include "app/init_window.hpp"
#include "app/main_window.hpp"
#include "qt_test_app.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"
#include "ui/qt_event_pump.hpp"

namespace kestrova::testing {

// Turns off the calibration and the zeroing at an acquisition's start. On the virtual
// instrument the start-up calibration ladder takes most of a minute, so only the tests about
// calibration keep it.
inline void no_start_calibration(store::SetupValues& setup) {
  setup.tool_settings[0][1] = 0; // Enab_Cal
  setup.tool_settings[0][2] = 0; // Enab_Zero
}

// A data folder, the fakes, and an App built on them with a 1 ms start-up timer and no
// system serial devices (only DATA/ports/COMn links count).
class AppFixture : public ::testing::Test {
protected:
  // A data folder as a first run leaves it: the default project's files and the plate
  // format files of the template (each test writes its own config.dat).
  void SetUp() override {
    ensure_qt_application();
    for (const auto& entry : std::filesystem::directory_iterator(KESTROVA_SOURCE_DIR "/data"))
      if (entry.path().filename().string().starts_with("w"))
        std::filesystem::copy_file(entry.path(), tmp_ / entry.path().filename().string());
    store::ProjectState fresh;
    fresh.config.Actual_Project_Number = 0;
    FakeDialogs quiet;
    ASSERT_TRUE(store::SaveProject(fresh, tmp_.path(), 0, 0, quiet));
  }
  void TearDown() override { app_.reset(); }

  void write_config(const std::string& numbers) {
    write_file(
        tmp_ / "config.dat",
        "\"Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>\"\r\n" +
            numbers + "\r\n");
  }

  app::App& make_app(bool autorun = false, int relaunch = 0) {
    app::AppOptions options;
    options.data_dir = tmp_.path();
    options.autorun = autorun;
    options.relaunch = relaunch;
    options.startup_timer_ms = 1;
    options.port_sources = {};
    device::CommTimeouts t;
    t.read_total_constant_ms = 10;
    t.read_interval_ms = 10;
    options.port_timeouts = t;
    app_ = std::make_unique<app::App>(std::move(options), services_);
    return *app_;
  }

  app::App& started_app(const std::string& config = "0,0,4,0") {
    write_config(config);
    app::App& a = make_app();
    EXPECT_EQ(a.start(), app::LoadOutcome::Ready);
    return a;
  }

  // Lets window events run until `done` holds or the time is up. The default only catches a
  // wait that never ends: a loaded machine may take seconds for what usually takes a moment.
  static bool run_until(const std::function<bool()>& done, int timeout_ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeout_ms)
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
  }

  bool shown(const std::string& message) const {
    for (const auto& m : dialogs_.texts())
      if (m == message) return true;
    return false;
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  ui::QtEventPump pump_; // the start-up waits for its timer through the real event loop
  FakeClock clock_;
  FakeShell shell_;
  app::Services services_{dialogs_, pump_, clock_, shell_};
  std::unique_ptr<app::App> app_;
};

} // namespace kestrova::testing
