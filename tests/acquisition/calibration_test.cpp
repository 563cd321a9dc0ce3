// Channel settings, their adjustment and the detection threshold rules. The adjustment runs
// against the virtual instrument in process (its beams answer the written settings) through the
// real protocol, with a virtual clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/calibration.hpp"
#include "device/fake_serial.hpp"
#include "sim/virtual_instrument.hpp"
#include "store/record_file.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeEventPump;
using testing::FakeSerialIo;
using testing::TempDir;

constexpr int kPort = 3;

// ---------------------------------------------------------------------------------------------
// Step rule

TEST(StepRule, TakesOneStepTowardsTheBand) {
  struct Case {
    int v;
    int p, g, d;
    int want_p, want_g, want_d;
    bool finished, written;
  };
  const Case cases[] = {
      {1700, 2, 3, 0, 2, 3, 0, true, false},   // in the band: finished, not written
      {1638, 2, 3, +1, 2, 3, 0, true, false},  // band edges count as inside
      {1843, 2, 3, -1, 2, 3, 0, true, false},  //
      {1637, 2, 3, 0, 2, 4, +1, false, true},  // just below: one gain step up
      {1000, 2, 7, 0, 3, 0, +1, false, true},  // gain 7 rolls over to the next power
      {1000, 7, 7, 0, 7, 7, 0, true, false},   // brightest reached
      {1844, 2, 3, 0, 2, 2, -1, false, true},  // just above: one gain step down
      {3000, 3, 0, 0, 2, 7, -1, false, true},  // gain 0 rolls back to the power below
      {3000, 1, 0, 0, 1, 0, 0, true, false},   // darkest reached
      {1500, 3, 2, -1, 3, 2, 0, true, false},  // below after a step down: stays below
      {2000, 3, 2, +1, 3, 2, 0, false, true},  // above after a step up: written unchanged
      {1000, 3, 2, +1, 3, 3, +1, false, true}, // still below after a step up: goes on
      {3000, 3, 2, -1, 3, 1, -1, false, true}, // still above after a step down: goes on
  };
  for (const Case& c : cases) {
    std::int16_t p = static_cast<std::int16_t>(c.p);
    std::int16_t g = static_cast<std::int16_t>(c.g);
    StepState s{false, c.d};
    const bool written = ApplyStepRule(c.v, p, g, s);
    SCOPED_TRACE(::testing::Message() << "v=" << c.v << " (" << c.p << "," << c.g << ") d=" << c.d);
    EXPECT_EQ(p, c.want_p);
    EXPECT_EQ(g, c.want_g);
    EXPECT_EQ(s.direction, c.want_d);
    EXPECT_EQ(s.finished, c.finished);
    EXPECT_EQ(written, c.written);
  }
}

TEST(StepRule, AboveAfterAStepUpThenStepsDownAndStops) {
  std::int16_t p = 3, g = 2;
  StepState s{false, +1};
  EXPECT_TRUE(ApplyStepRule(2000, p, g, s));
  EXPECT_TRUE(ApplyStepRule(2000, p, g, s));
  EXPECT_EQ(g, 1);
  EXPECT_FALSE(ApplyStepRule(1500, p, g, s));
  EXPECT_TRUE(s.finished);
}

// ---------------------------------------------------------------------------------------------
// calvalue.dat

TEST(ChannelSettingsFile, ReadsLinesInOrderSkippingEmptyOnes) {
  const std::string text = "\"<Num_Channel>, <PinHole>, <Gain> \"\r\n"
                           "0,4,5\r\n"
                           "\r\n"
                           "\"7\",\"1\",\"6\"\r\n"
                           "99,x,2\r\n";
  ChannelSettings s;
  ParseChannelSettings(text, s);
  EXPECT_EQ(s.pinhole[0], 4);
  EXPECT_EQ(s.gain[0], 5);
  EXPECT_EQ(s.pinhole[1], 1); // the empty line used no channel; the channel column is ignored
  EXPECT_EQ(s.gain[1], 6);
  EXPECT_EQ(s.pinhole[2], 0); // not a number
  EXPECT_EQ(s.gain[2], 2);
  EXPECT_EQ(s.pinhole[3], kDefaultPinHole); // no line: as it was
  EXPECT_EQ(s.gain[3], kDefaultGain);
}

TEST(ChannelSettingsFile, FiveHundredLinesFillChannelsUpTo384Only) {
  std::string text = "header\n";
  for (int i = 0; i < 500; ++i)
    text +=
        std::to_string(i) + "," + std::to_string(i % 8) + "," + std::to_string(7 - i % 8) + "\n";
  ChannelSettings s;
  ParseChannelSettings(text, s);
  EXPECT_EQ(s.pinhole[384], 384 % 8);
  EXPECT_EQ(s.gain[384], 7 - 384 % 8);
}

TEST(ChannelSettingsFile, WritesHeaderAndEveryChannelAndReadsBack) {
  TempDir dir;
  ChannelSettings s;
  for (int c = 0; c < store::kChannelSlots; ++c) {
    s.pinhole[c] = static_cast<std::int16_t>(c % 8);
    s.gain[c] = static_cast<std::int16_t>((c / 8) % 8);
  }
  s.pinhole[384] = kDefaultPinHole; // slot 384 is not written
  s.gain[384] = kDefaultGain;
  const fs::path file = dir.path() / "calvalue.dat";
  ASSERT_TRUE(SaveChannelSettings(file, s));
  const std::string text = *store::read_file_bytes(file);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "\"<Num_Channel>, <PinHole>, <Gain> \"\r\n");
  EXPECT_NE(text.find("\r\n9,1,1\r\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 385);
  ChannelSettings back;
  ASSERT_TRUE(LoadChannelSettings(file, back));
  EXPECT_EQ(back, s);
  EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

// ---------------------------------------------------------------------------------------------
// SNR and access rules

TEST(OrganismDefaults, SetTheSnrControls) {
  struct Case {
    int organism;
    std::string box_before;
    double snr_before;
    std::string box, caption;
    double snr;
    bool visible;
  };
  const Case cases[] = {
      {0, "3.0", 3.0, "1.8", ">>>>", 1.8, false},       {1, "3.0", 3.0, "2.1", ">>>>", 2.1, false},
      {2, "3,5", 2.0, "3,5", "> Zero SNR:", 3.5, true}, // the box's number, comma as point
      {2, "1.2", 2.0, "1.8", "> Zero SNR:", 1.8, true}, // 1.4 floor
      {2, "abc", 2.0, "1.8", "> Zero SNR:", 1.8, true}, // not a number reads as 0
      {3, "3.0", 2.5, "3.0", "keep", 2.5, false},       // Drosophila: unchanged
      {3, "3.0", 1.3, "1.8", "keep", 1.8, false},       // ... but the floor applies
  };
  for (const Case& c : cases) {
    SnrControls s{c.box_before, c.snr_before, "keep", false};
    ApplyOrganism(c.organism, s);
    SCOPED_TRACE(::testing::Message() << "organism " << c.organism << " box " << c.box_before);
    EXPECT_EQ(s.box_text, c.box);
    EXPECT_DOUBLE_EQ(s.snr, c.snr);
    EXPECT_EQ(s.caption, c.caption);
    EXPECT_EQ(s.box_visible, c.visible);
  }
  EXPECT_EQ(OrganismNames().at(2), "Echinococcus");
}

TEST(SnrBox, AcceptsAboveOneUpToFiveThenTheOrganismRuleApplies) {
  struct Case {
    std::string typed;
    bool valid;
    int snr_x10;
    std::string box;
    double snr; // after the organism rule of entry 2
  };
  const Case cases[] = {
      {"0.8", false, 18, "1.8", 1.8},   {"1.2", true, 12, "1.8", 1.8}, // raised by the floor
      {"2,5", true, 25, "2.5", 2.5},    {"5", true, 50, "5.0", 5.0},
      {"5.01", false, 18, "1.8", 1.8},  {"1", false, 18, "1.8", 1.8},
      {"", false, 18, "1.8", 1.8},      {"two", false, 18, "1.8", 1.8},
      {" 3.14 ", true, 31, "3.1", 3.1},
  };
  for (const Case& c : cases) {
    SnrControls s{c.typed, 2.0, ">>>>", true};
    const SnrBoxResult r = SnrBoxLeft(s);
    ApplyOrganism(2, s);
    SCOPED_TRACE("typed '" + c.typed + "'");
    EXPECT_EQ(r.message.empty(), c.valid);
    if (!c.valid) {
      EXPECT_EQ(r.message, "Invalid value: 1.1 to 5.0");
    }
    EXPECT_EQ(r.snr_x10, c.snr_x10);
    EXPECT_EQ(s.box_text, c.box);
    EXPECT_DOUBLE_EQ(s.snr, c.snr);
  }
}

TEST(SnrBox, CaptionClickShowsAndHidesTheBox) {
  SnrControls s;
  ToggleSnrBox(s);
  EXPECT_TRUE(s.box_visible);
  EXPECT_EQ(s.caption, "> Zero SNR:");
  ToggleSnrBox(s);
  EXPECT_FALSE(s.box_visible);
  EXPECT_EQ(s.caption, ">>>>");
}

TEST(ServiceMenus, TechnicalPassword) {
  for (const auto& [answer, ok] : std::vector<std::pair<std::string, bool>>{{"Servo4821", true},
                                                                            {"servo4821", false},
                                                                            {"Servo4821 ", false},
                                                                            {"", false},
                                                                            {"Servo482", false}})
    EXPECT_EQ(TechnicalPasswordAccepted(answer), ok) << answer;
}

// ---------------------------------------------------------------------------------------------
// Adjustment against the virtual instrument

struct RecordingCalView final : CalibrationView {
  void set_autotext(std::string_view t) override { autotext.emplace_back(t); }
  void set_autochannel(std::string_view t) override { autochannel.emplace_back(t); }
  void set_progress(int v, int s) override { progress.emplace_back(v, s); }
  std::vector<std::string> autotext, autochannel;
  std::vector<std::pair<int, int>> progress;
};

class CalibrationRun : public ::testing::Test {
protected:
  void make(sim::InstrumentOptions options = quiet()) {
    vi = std::make_unique<sim::VirtualInstrument>(std::move(options));
    io.present.insert(kPort);
    io.CommOpen(kPort, "COM3", "");
    io.respond = [this](int, std::string_view frame) {
      if (drop_writes && static_cast<std::uint8_t>(frame[1]) >= 0x80) return std::string();
      std::string reply = vi->feed(frame);
      if (flicker_channel >= 0 && frame[2] == 0x30 && reply.size() == 192) {
        const int start = static_cast<std::uint8_t>(frame[3]);
        for (int i = 0; i < device::kBlockValues; ++i) {
          if (device::block_channel(start, i) != flicker_channel) continue;
          const int v = (block_scans++ / 2) % 2 ? 3000 : 1000; // discarding scan + scan
          reply[2 * i] = static_cast<char>(v >> 8);
          reply[2 * i + 1] = static_cast<char>(v & 0xFF);
        }
      }
      return reply;
    };
    link.port = kPort;
    project.app_folder = dir.path();
    const auto& wells = vi->options().plate.well_of_channel;
    std::copy(wells.begin(), wells.end(), project.plate.map.well_of_channel.begin());
    cal = std::make_unique<Calibrator>(CalibrationContext{project, link, protocol, dialogs, pump,
                                                          clock, [this] { return active; },
                                                          [this] {
                                                            active = false;
                                                            ++stops;
                                                          }});
    cal->set_view(&view);
  }
  static sim::InstrumentOptions quiet() {
    sim::InstrumentOptions o;
    o.noise_scale = 0;
    o.organisms_per_well = 0;
    return o;
  }
  int level(int c) { return static_cast<int>(std::lround(vi->clear_level(c))); }
  fs::path file() const { return dir.path() / "calvalue.dat"; }
  int writes_to(int channel) {
    int n = 0;
    for (const auto& f : vi->frames())
      if (f.qualifier() == (channel < 128 ? 0x80 : 0x81) &&
          f.code() == (channel < 128 ? channel : channel - 128) && !f.ignored)
        ++n;
    return n;
  }
  int block_reads() {
    return static_cast<int>(
        std::count_if(vi->frames().begin(), vi->frames().end(), [](const sim::FrameRecord& f) {
          return f.qualifier() == 0 && f.code() == 0x30;
        }));
  }
  std::vector<int> well_channels() const {
    std::vector<int> out;
    for (int c = 0; c < store::kChannelCount; ++c)
      if (project.plate.map.well_of_channel[c] >= 0) out.push_back(c);
    return out;
  }

  TempDir dir;
  FakeClock clock;
  FakeDialogs dialogs;
  FakeEventPump pump;
  FakeSerialIo io;
  device::LinkState link;
  store::ProjectState project;
  device::DeviceProtocol protocol{io, link, clock, dialogs};
  std::unique_ptr<sim::VirtualInstrument> vi;
  std::unique_ptr<Calibrator> cal;
  RecordingCalView view;
  bool active = true;
  bool drop_writes = false;
  int stops = 0;
  int flicker_channel = -1; // reads 1000 and 3000 by turns
  int block_scans = 0;
};

TEST_F(CalibrationRun, BringsEveryBeamIntoTheBandAndKeepsTheSettings) {
  make();
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  EXPECT_TRUE(cal->out_of_reach().empty());
  ChannelSettings stored;
  ASSERT_TRUE(LoadChannelSettings(file(), stored));
  const auto wells = well_channels();
  ASSERT_FALSE(wells.empty());
  for (int c = 0; c < store::kChannelCount; ++c) {
    SCOPED_TRACE(c);
    // The file holds what the instrument was given.
    EXPECT_EQ(vi->channel_setting(c), stored.gain[c] * 32 + stored.pinhole[c]);
    if (project.plate.map.well_of_channel[c] >= 0) {
      EXPECT_GE(level(c), kBandLow);
      EXPECT_LE(level(c), kBandHigh);
    } else {
      EXPECT_EQ(stored.pinhole[c], 0);
      EXPECT_EQ(stored.gain[c], 0);
    }
  }
  EXPECT_EQ(view.autochannel.front(), "Writing First Time Calibration...");
  EXPECT_EQ(view.autochannel.back(), "Calibration OK");
  EXPECT_TRUE(std::find(view.autochannel.begin(), view.autochannel.end(), "Calibrating... [383]") !=
              view.autochannel.end());
  EXPECT_TRUE(dialogs.messages().empty());

  // A second calibration starts from the file and has nothing left to step.
  view.autochannel.clear();
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  EXPECT_EQ(view.autochannel.front(), "Writing Calibration...");
  EXPECT_EQ(cal->iterations(), 1);
}

TEST_F(CalibrationRun, BeamsThatCannotReachTheBandEndAtTheirLimit) {
  sim::InstrumentOptions o = quiet();
  make(o);
  const auto wells = well_channels();
  const int dead = wells[0], flooded = wells[1], healthy = wells[2];
  o.dead_beams = {dead};
  o.saturation.channels = {flooded};
  o.saturation.factor = 1000;
  make(o);
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  EXPECT_EQ(cal->out_of_reach(), (std::vector<int>{dead, flooded}));
  ChannelSettings stored;
  ASSERT_TRUE(LoadChannelSettings(file(), stored));
  EXPECT_EQ(stored.pinhole[dead], 7);
  EXPECT_EQ(stored.gain[dead], 7);
  EXPECT_EQ(stored.pinhole[flooded], 1);
  EXPECT_EQ(stored.gain[flooded], 0);
  EXPECT_FALSE(cal->can_lower(flooded));
  EXPECT_TRUE(cal->can_lower(dead));
  EXPECT_GE(level(healthy), kBandLow); // the others are calibrated all the same
  EXPECT_LE(level(healthy), kBandHigh);
}

// Below, above, below, ... : each "below" steps up and each "above" after a step up only holds,
// so the beam climbs to the brightest setting and the calibration ends there.
TEST_F(CalibrationRun, AFlickeringBeamEndsAtTheBrightestSetting) {
  make();
  flicker_channel = well_channels()[10];
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  EXPECT_LE(cal->iterations(), 2 * 64);
  EXPECT_EQ(cal->settings().pinhole[flicker_channel], 7);
  EXPECT_EQ(cal->settings().gain[flicker_channel], 7);
  EXPECT_EQ(cal->out_of_reach(), std::vector<int>{flicker_channel});
  EXPECT_EQ(view.autochannel.back(), "Calibration OK");
}

TEST_F(CalibrationRun, StoppedAcquisitionOnlyPreparesAndSavesTheTable) {
  make();
  active = false;
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  EXPECT_TRUE(vi->frames().empty());
  EXPECT_EQ(view.autochannel.back(), "Calibration OK");
  ChannelSettings stored;
  ASSERT_TRUE(LoadChannelSettings(file(), stored));
  EXPECT_EQ(stored.pinhole[well_channels().front()], kDefaultPinHole);
}

TEST_F(CalibrationRun, OfflineIsRefused) {
  make();
  link.offline = true;
  EXPECT_EQ(cal->FastCalibrate(), CalibrationOutcome::Offline);
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Operation not possible in OFFLINE mode"});
  EXPECT_FALSE(fs::exists(file()));
}

TEST_F(CalibrationRun, FailedWritesKeepThePreviousFile) {
  make();
  ChannelSettings before;
  before.pinhole.fill(4);
  ASSERT_TRUE(SaveChannelSettings(file(), before));
  const std::string bytes = *store::read_file_bytes(file());

  // In the write pass: the message, no stop.
  drop_writes = true;
  EXPECT_EQ(cal->FastCalibrate(), CalibrationOutcome::WriteFailed);
  EXPECT_NE(std::find(dialogs.messages().begin(), dialogs.messages().end(),
                      "Communication error. Check COM PORT and equipment connection."),
            dialogs.messages().end());
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(*store::read_file_bytes(file()), bytes);

  // In the iterations: the acquisition is stopped.
  drop_writes = false;
  pump.calls = 0;
  pump.hook = [this](int calls) {
    if (calls > 384) drop_writes = true; // the write pass lets events run once per channel
  };
  EXPECT_EQ(cal->FastCalibrate(), CalibrationOutcome::Stopped);
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(active);
  EXPECT_EQ(*store::read_file_bytes(file()), bytes);
}

TEST_F(CalibrationRun, RecalibrationStepsOnlyTheFlaggedChannelsBack) {
  make();
  ASSERT_EQ(cal->FastCalibrate(), CalibrationOutcome::Done);
  const auto wells = well_channels();
  const int a = wells[3], b = wells[40], untouched = wells[41];
  sim::Saturation flood;
  flood.channels = {a, b, untouched};
  flood.at_seconds = 0;
  flood.factor = 1.5; // above the saturation level, within reach of the darker settings
  vi->set_saturation(flood);
  vi->clear_log();
  std::array<bool, store::kChannelCount> keep{};
  keep.fill(true);
  keep[a] = keep[b] = false;
  ASSERT_EQ(cal->RecalibrateChannels(keep), CalibrationOutcome::Done);
  for (int c : {a, b}) {
    EXPECT_GE(level(c), kBandLow) << c;
    EXPECT_LE(level(c), kBandHigh) << c;
  }
  EXPECT_GT(level(untouched), kBandHigh);
  EXPECT_TRUE(cal->out_of_reach().empty());
  EXPECT_EQ(writes_to(untouched), 0);
  EXPECT_GT(writes_to(a), 0);
  EXPECT_EQ(view.autotext.front(), "<AUTOCALIBRATION>");
  EXPECT_EQ(view.autotext.back(), "");
  ChannelSettings stored;
  ASSERT_TRUE(LoadChannelSettings(file(), stored));
  EXPECT_EQ(vi->channel_setting(a), stored.gain[a] * 32 + stored.pinhole[a]);
}

TEST_F(CalibrationRun, AutoZeroLengthFollowsBothAutomaticFlags) {
  struct Case {
    int enab_cal, enab_zero, samples;
  };
  for (const Case& c : {Case{1, 1, 30}, Case{1, 0, 100}, Case{0, 1, 100}}) {
    make();
    project.setup.tool_settings[0][1] = c.enab_cal;
    project.setup.tool_settings[0][2] = c.enab_zero;
    EXPECT_TRUE(cal->AutoZero(1.8));
    // A discarding scan, then one scan of four blocks per sample.
    EXPECT_EQ(block_reads(), 4 + 4 * c.samples) << c.enab_cal << c.enab_zero;
  }
}

TEST_F(CalibrationRun, AutoZeroStoppedReadsOneSampleAndKeepsTheThresholds) {
  make();
  active = false;
  project.channels.threshold.fill(7);
  EXPECT_FALSE(cal->AutoZero(1.8));
  EXPECT_EQ(block_reads(), 8);
  EXPECT_EQ(project.channels.threshold[0], 7);
}

// A line whose channel 0 alternates 1000 and 1100 and whose other channels hold 2000.
TEST(AutoZero, ThresholdFromTheNoiseOfEachChannel) {
  FakeClock clock;
  FakeDialogs dialogs;
  FakeEventPump pump;
  FakeSerialIo io;
  device::LinkState link;
  link.port = kPort;
  io.present.insert(kPort);
  io.CommOpen(kPort, "COM3", "");
  store::ProjectState project;
  int reads = 0;
  io.respond = [&](int, std::string_view frame) {
    if (static_cast<std::uint8_t>(frame[2]) != 0x30) return std::string();
    const int sample = reads++ / 4 - 1; // the first scan is discarded
    const int start = static_cast<std::uint8_t>(frame[3]);
    std::string out;
    for (int i = 0; i < device::kBlockValues; ++i) {
      const int c = device::block_channel(start, i);
      const int v = c == 0 ? (sample % 2 ? 1100 : 1000) : 2000;
      out += static_cast<char>(v >> 8);
      out += static_cast<char>(v & 0xFF);
    }
    return out;
  };
  device::DeviceProtocol protocol{io, link, clock, dialogs};
  Calibrator cal(CalibrationContext{project, link, protocol, dialogs, pump, clock,
                                    [] { return true; }, [] {}});
  ASSERT_TRUE(cal.AutoZero(2.0));
  // Envelope 1000..1100 from the first extremes on: amplitude 100, level 1050 (halves to even).
  const double want = (1 - (1050.0 - 100) / 1050) * 100 * 2 + 1;
  EXPECT_NEAR(project.channels.threshold[0], want, 1e-9);
  EXPECT_DOUBLE_EQ(project.channels.threshold[1], 1.0); // a still beam: the minimum
  EXPECT_DOUBLE_EQ(project.channels.threshold[384], store::kDefaultThreshold);
}

} // namespace
} // namespace kestrova::acquisition
