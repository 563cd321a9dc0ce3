// The temperature regulation closing the loop through the real serial driver: the virtual
// instrument's plate warms or cools with the outputs the acquisition sends, on the test's clock.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "acquisition/acquisition_cycle.hpp"
#include "app/headless.hpp"
#include "e2e/program_on_pty.hpp"
#include "sim/pty_server.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "store/plate_format.hpp"
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

struct Case {
  double set_point;
  bool heating; // the direction the plate must be driven from the 22 degree ambient
};

class Thermostat : public ::testing::TestWithParam<Case> {
protected:
  void SetUp() override { ASSERT_TRUE(testing::write_fresh_data_folder(tmp_.path())); }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeClock clock_;
  FakeShell shell_;
  std::atomic<double> sim_seconds_{0.0}; // the test clock as the serving thread reads it
};

TEST_P(Thermostat, DrivesThePlateToTheSetPoint) {
  const Case c = GetParam();
  sim::InstrumentOptions instrument;
  instrument.time_mode = sim::TimeMode::kClock;
  instrument.time_source = [this] { return sim_seconds_.load(); };
  sim::PtyServer server(instrument);
  ASSERT_TRUE(testing::serve_on(server, tmp_.path(), 1));

  HeadlessProgram program(testing::pty_program_options(tmp_.path()), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);

  auto& project = session.state().project;
  project.config.Actual_Project_Number = 1;
  project.project_folder = store::project_folder_path(tmp_.path(), 1);
  std::filesystem::create_directories(project.project_folder);
  project.setup.RT_Buffer = 10; // a regulation step about every 10 s
  project.setup.Aq_lapse = 12;
  project.setup.tool_settings[0][1] = 0;
  project.setup.tool_settings[0][2] = 0;
  project.setup.tool_settings[2] = {1, static_cast<int>(std::lround(c.set_point * 10))};

  // Each timer tick stands for one second of the test clock, which the instrument follows.
  const auto start = clock_.now();
  clock_.on_sleep = [&](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(970);
    sim_seconds_ = std::chrono::duration<double>(clock_.now() - start).count();
  };
  dialogs_.script_input("thermostat");
  ASSERT_EQ(session.start_acquisition({}, {}, c.set_point), acquisition::StartOutcome::Started);

  // The plate is first driven the way the set-point lies; later steps may correct an overshoot.
  std::optional<bool> first_heating;
  double worst_late = 0; // the largest miss during the last half of the run
  const auto& cycle = session.acquisition();
  for (int tick = 0; tick < 12 * 60 && session.acquisition_timer_enabled(); ++tick) {
    program.run_acquisition_until_done(1);
    const auto outputs = server.with_instrument([](sim::VirtualInstrument& vi) {
      return std::pair{vi.outputs(), vi.temperature_c()};
    });
    if ((outputs.first & 1) != 0 && !first_heating) first_heating = (outputs.first & 2) != 0;
    if (tick > 6 * 60) worst_late = std::max(worst_late, std::abs(outputs.second - c.set_point));
  }
  EXPECT_EQ(first_heating, std::optional<bool>(c.heating));
  // The dead band is +-0.6 with a reading every buffer end; the sensor reads in 0.219 steps.
  EXPECT_LT(worst_late, 1.0);
  EXPECT_NEAR(cycle.temperature(), c.set_point, 1.0);
  // Completion switches the power off.
  EXPECT_TRUE(cycle.finished());
  EXPECT_EQ(server.with_instrument([](sim::VirtualInstrument& vi) { return vi.outputs(); }) & 1, 0);
}

INSTANTIATE_TEST_SUITE_P(HeatAndCool, Thermostat,
                         ::testing::Values(Case{27.0, true}, Case{17.5, false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.heating ? "heat" : "cool");
                         });

} // namespace
} // namespace kestrova::app
