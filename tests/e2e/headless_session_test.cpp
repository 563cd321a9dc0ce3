// The program's core without any window: start-up and connect against the virtual instrument
// through the real serial driver. This test program links no Qt.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/headless.hpp"
#include "app/main_display.hpp"
#include "sim/pty_server.hpp"
#include "store/data_template.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeShell;
using testing::TempDir;

class HeadlessSession : public ::testing::Test {
protected:
  void SetUp() override {
    FakeDialogs quiet;
    store::WriteDataFolderTemplate(tmp_.path(), quiet);
    store::ProjectState fresh;
    ASSERT_TRUE(store::SaveProject(fresh, tmp_.path(), 0, 0, quiet));
  }

  AppOptions options(bool autorun) const {
    AppOptions o;
    o.data_dir = tmp_.path();
    o.autorun = autorun;
    o.port_sources = {};
    device::CommTimeouts t;
    t.read_interval_ms = 5;
    t.read_total_constant_ms = 15;
    o.port_timeouts = t;
    return o;
  }

  void serve(int port) {
    std::string error;
    ASSERT_TRUE(server_.start(&error)) << error;
    ASSERT_TRUE(server_.link(tmp_ / "ports" / ("COM" + std::to_string(port)), &error)) << error;
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  sim::PtyServer server_;
};

// "/run": the start-up loads the default project, shows the main window, connects to the
// instrument on its configured port, then goes on to start the acquisition.
TEST_F(HeadlessSession, AutorunLoadsAndConnects) {
  serve(1);
  HeadlessProgram program(options(true), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  EXPECT_EQ(session.state().startup.phase, 5);
  // Phase 5 runs when the program next lets events run.
  program.pump().process_events();
  const auto& link = session.state().link;
  EXPECT_TRUE(link.connected);
  EXPECT_FALSE(link.offline);
  EXPECT_EQ(link.port, 1);
  EXPECT_EQ(link.serial, sim::InstrumentOptions().serial_number);
  EXPECT_TRUE(program.main_window_shown());
  EXPECT_EQ(program.link_status(), "Connected: COM1, instrument " + std::to_string(link.serial));
  EXPECT_EQ(session.state().startup.phase, 6);
  program.pump().process_events();
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{not_available_text("Acquisition")});

  session.disconnect();
  EXPECT_FALSE(session.state().link.connected);
  EXPECT_EQ(program.link_status(), "Not connected (COM1)");
  EXPECT_EQ(program.news(), "status = not connected yet");
}

// Without an instrument the connect action goes offline and says so.
TEST_F(HeadlessSession, NoInstrumentGoesOffline) {
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  dialogs_.script_answer(common::Answer::Cancel); // the port input box
  EXPECT_EQ(session.connect(), device::ConnectOutcome::Offline);
  EXPECT_TRUE(session.state().link.offline);
  EXPECT_TRUE(program.start_screen_shown());
  EXPECT_EQ(program.link_status(), "Offline: no instrument found");
  EXPECT_EQ(dialogs_.texts().back(), "PORT NOT FOUND");
}

// A data folder without config.dat stops the start-up and ends the program.
TEST_F(HeadlessSession, MissingConfigEndsTheProgram) {
  std::filesystem::remove(tmp_ / "config.dat");
  HeadlessProgram program(options(false), dialogs_, clock_, shell_);
  EXPECT_EQ(program.session().start(), LoadOutcome::ConfigMissing);
  EXPECT_TRUE(program.ended());
  EXPECT_TRUE(program.session().state().ended);
}

} // namespace
} // namespace kestrova::app
