// Start-up calibration, auto-zero and the recalibration of saturated beams during a run, through
// the real serial driver against the virtual instrument on a pty. Links no Qt.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/calibration.hpp"
#include "app/headless.hpp"
#include "e2e/program_on_pty.hpp"
#include "sim/pty_server.hpp"
#include "sim/sim_options.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"
#include "store/record_file.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::app {
namespace {

namespace fs = std::filesystem;
using acquisition::kBandHigh;
using acquisition::kBandLow;

class CalibrationE2E : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_fresh_data_folder(tmp_.path()));
    const auto plate = *store::BuiltInPlateFormat("w96f");
    for (int c = 0; c < store::kChannelCount; ++c)
      if (plate.map.well_of_channel[c] >= 0) wells_.push_back(c);
  }

  AppOptions options() const {
    AppOptions o = testing::pty_program_options(tmp_.path());
    device::CommTimeouts t;
    // Each channel write is nine acknowledged frames: short gaps keep the pass of 384 quick.
    t.read_interval_ms = 1;
    t.read_total_constant_ms = 5;
    t.reply_gap_ms = 1;
    o.port_timeouts = t;
    return o;
  }

  // A noise-free instrument without organisms, so a beam's level is its setting's level.
  void serve(sim::InstrumentOptions o) {
    o.noise_scale = 0;
    o.organisms_per_well = 0;
    server_ = std::make_unique<sim::PtyServer>(std::move(o));
    ASSERT_TRUE(testing::serve_on(*server_, tmp_.path(), 1));
  }

  // Project 1, w96f, a 40-sample buffer, one minute, start-up calibration and zero on.
  void prepare_project(Session& session) {
    auto& project = session.state().project;
    project.config.Actual_Project_Number = 1;
    project.project_folder = store::project_folder_path(tmp_.path(), 1);
    fs::create_directories(project.project_folder);
    project.setup.Plate_format = "w96f";
    project.plate = *store::BuiltInPlateFormat("w96f");
    project.setup.RT_Buffer = 40;
    project.setup.DSP_Interval = 5;
    project.setup.Aq_lapse = 1;
    project.setup.Save_real = 0;
    project.setup.tool_settings[0][1] = 1;
    project.setup.tool_settings[0][2] = 1;
  }

  int level(int c) {
    return server_->with_instrument([c](sim::VirtualInstrument& vi) {
      return static_cast<int>(std::lround(vi.clear_level(c)));
    });
  }
  int setting(int c) {
    return server_->with_instrument(
        [c](sim::VirtualInstrument& vi) { return vi.channel_setting(c); });
  }
  acquisition::ChannelSettings stored() const {
    acquisition::ChannelSettings s;
    EXPECT_TRUE(acquisition::LoadChannelSettings(tmp_ / "calvalue.dat", s));
    return s;
  }

  testing::TempDir tmp_;
  testing::FakeDialogs dialogs_;
  testing::FakeClock clock_;
  testing::FakeShell shell_;
  std::unique_ptr<sim::PtyServer> server_;
  std::vector<int> wells_;
};

TEST_F(CalibrationE2E, StartCalibratesZeroesAndRecalibratesSaturatedBeams) {
  const int dead = wells_[5];
  const std::vector<int> flooded{wells_[20], wells_[60]};
  sim::InstrumentOptions o;
  o.dead_beams = {dead};
  o.saturation.channels = flooded;
  o.saturation.at_seconds = 4.0; // after the start-up calibration and zero
  o.saturation.factor = 1.5;
  serve(o);
  HeadlessProgram program(options(), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  prepare_project(session);
  session.state().project.channels.threshold.fill(3);
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };

  dialogs_.script_input("calibrated");
  ASSERT_EQ(session.start_acquisition(""), acquisition::StartOutcome::Started);

  // Every healthy beam is in the band and the file holds what the instrument was given.
  auto table = stored();
  for (int c = 0; c < store::kChannelCount; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(setting(c), table.gain[c] * 32 + table.pinhole[c]);
    const bool in_well = std::find(wells_.begin(), wells_.end(), c) != wells_.end();
    if (!in_well) {
      EXPECT_EQ(table.pinhole[c] + table.gain[c], 0);
    } else if (c != dead) {
      EXPECT_GE(level(c), kBandLow);
      EXPECT_LE(level(c), kBandHigh);
    }
  }
  // The dead beam is left at the brightest setting.
  EXPECT_EQ(table.pinhole[dead], 7);
  EXPECT_EQ(table.gain[dead], 7);
  EXPECT_EQ(session.calibration().out_of_reach(), std::vector<int>{dead});
  // The auto-zero of still beams sets the lowest threshold.
  for (int c : wells_)
    ASSERT_DOUBLE_EQ(session.state().project.channels.threshold[c], 1.0) << c;
  EXPECT_TRUE(dialogs_.messages().empty());

  // The flooded beams saturate during the run and are stepped back into the band.
  const int before = setting(flooded[0]);
  const long long ticks = program.run_acquisition_until_done(5000);
  EXPECT_LT(ticks, 5000);
  EXPECT_TRUE(session.acquisition().finished());
  EXPECT_GE(session.acquisition().buffers_done(), 3);
  EXPECT_NE(setting(flooded[0]), before);
  table = stored();
  for (int c : flooded) {
    EXPECT_GE(level(c), kBandLow) << c;
    EXPECT_LE(level(c), kBandHigh) << c;
    EXPECT_EQ(setting(c), table.gain[c] * 32 + table.pinhole[c]) << c;
  }
}

// An instrument that answers every write with a wrong echo: the first write pass fails, the
// operator is told, calvalue.dat keeps its content and the acquisition goes on uncalibrated.
TEST_F(CalibrationE2E, UnacknowledgedWritesLeaveTheFileAndAreTold) {
  sim::InstrumentOptions o;
  std::string error;
  ASSERT_TRUE(sim::apply_fault_text("bad-echo", o.faults, error)) << error;
  serve(o);
  acquisition::ChannelSettings before;
  before.pinhole.fill(5);
  ASSERT_TRUE(acquisition::SaveChannelSettings(tmp_ / "calvalue.dat", before));
  const auto bytes = store::read_file_bytes(tmp_ / "calvalue.dat");
  HeadlessProgram program(options(), dialogs_, clock_, shell_);
  Session& session = program.session();
  ASSERT_EQ(session.start(), LoadOutcome::Ready);
  ASSERT_EQ(session.connect(), device::ConnectOutcome::Connected);
  prepare_project(session);
  dialogs_.script_input("no echo");
  EXPECT_EQ(session.start_acquisition(""), acquisition::StartOutcome::Started);
  const auto messages = dialogs_.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Ops...Data Writing ERROR: reg(0)... Check COM and Try again");
  EXPECT_EQ(messages[1], "Communication error. Check COM PORT and equipment connection.");
  EXPECT_EQ(store::read_file_bytes(tmp_ / "calvalue.dat"), bytes);
  session.stop_acquisition();
}

} // namespace
} // namespace kestrova::app
