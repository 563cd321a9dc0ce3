// Light and temperature outputs as the operator drives them, the panel field checks, and the
// factory window's temperature calibration against a scripted serial line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition/factory_calibration.hpp"
#include "acquisition/light_temperature.hpp"
#include "device/fake_serial.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"

namespace kestrova::acquisition {
namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};

TEST(OutputLook, EveryByteShowsItsCaptionsAndColours) {
  struct Case {
    int s;
    const char* luz;
    Rgb light;
    const char* frio;
    const char* ontemp;
    Rgb temp;
  };
  const std::vector<Case> cases = {
      {0, "OFF", kRed, "COOL", "OFF", kWhite},  {1, "OFF", kRed, "COOL", "ON", kBlue},
      {2, "OFF", kRed, "HEAT", "OFF", kWhite},  {3, "OFF", kRed, "HEAT", "ON", kRed},
      {4, "ON", kGreen, "COOL", "OFF", kWhite}, {5, "ON", kGreen, "COOL", "ON", kBlue},
      {6, "ON", kGreen, "HEAT", "OFF", kWhite}, {7, "ON", kGreen, "HEAT", "ON", kRed},
  };
  for (const Case& c : cases) {
    const Outputs o{(c.s & 4) != 0, (c.s & 2) != 0, (c.s & 1) != 0};
    EXPECT_EQ(o.code(), c.s);
    const OutputLook look = output_look(o);
    EXPECT_EQ(look.light_button, c.luz) << c.s;
    EXPECT_EQ(look.light_lamp, c.light) << c.s;
    EXPECT_EQ(look.direction_button, c.frio) << c.s;
    EXPECT_EQ(look.power_button, c.ontemp) << c.s;
    EXPECT_EQ(look.temperature_lamp, c.temp) << c.s;
  }
}

TEST(OutputButtons, DirectionSwitchesThePowerOff) {
  struct Case {
    int before;
    OutputButton button;
    int after;
  };
  const std::vector<Case> cases = {
      {3, OutputButton::Direction, 0}, // heating with power: cooling, power off
      {0, OutputButton::Direction, 2}, {5, OutputButton::Direction, 6}, {0, OutputButton::Light, 4},
      {7, OutputButton::Light, 3},     {2, OutputButton::Power, 3},     {3, OutputButton::Power, 2},
  };
  for (const Case& c : cases) {
    Outputs o{(c.before & 4) != 0, (c.before & 2) != 0, (c.before & 1) != 0};
    press(o, c.button);
    EXPECT_EQ(o.code(), c.after) << c.before;
  }
}

TEST(FieldChecks, RangesMessagesAndFallbacks) {
  struct Case {
    LightField field;
    const char* entry;
    bool accepted;
    const char* text;
    int value;
    const char* message;
  };
  const char* hours = "Invalid value: 0 to 23";
  const char* minutes = "Invalid value: 0.0 to 1440.0";
  const char* degrees = "Invalid value: 5.0 to 50.0";
  const std::vector<Case> cases = {
      {LightField::HourOn, "7", true, "07", 7, ""},
      {LightField::HourOn, "24", false, "9", 9, hours},
      {LightField::HourOn, "", false, "9", 9, hours},
      {LightField::HourOn, "-1", false, "9", 9, hours},
      {LightField::HourOn, "7x", false, "9", 9, hours},
      {LightField::HourOff, "23", true, "23", 23, ""},
      {LightField::HourOff, "0", true, "00", 0, ""},
      {LightField::HourOff, "nine", false, "21", 21, hours},
      {LightField::HourOff, "22.6", true, "23", 23, ""},
      {LightField::PulseCount, "3", true, "3", 3, ""},
      {LightField::PulseCount, "100", false, "0", 0, "Invalid value: 0-99"},
      {LightField::PulseOn, "12.34", true, "12.3", 123, ""},
      {LightField::PulseOn, "1440", true, "1440.0", 14400, ""},
      {LightField::PulseOn, "1440.1", false, "0", 0, minutes},
      {LightField::PulseOff, " 2,5 ", true, "2.5", 25, ""},
      {LightField::PulseOff, "1e9", false, "0", 0, minutes},
      {LightField::Temperature, "4.9", false, "20", 200, degrees},
      {LightField::Temperature, "50", true, "50.0", 500, ""},
      {LightField::Temperature, "5", true, "5.0", 50, ""},
      {LightField::Temperature, "nan", false, "20", 200, degrees},
      {LightField::Temperature, " ", false, "20", 200, degrees},
  };
  for (const Case& c : cases) {
    const FieldCheck got = check_field(c.field, c.entry);
    EXPECT_EQ(got.accepted, c.accepted) << c.entry;
    EXPECT_EQ(got.text, c.text) << c.entry;
    EXPECT_EQ(got.value, c.value) << c.entry;
    EXPECT_EQ(got.message, c.message) << c.entry;
  }
  // The comma as decimal mark shows the value with it.
  EXPECT_EQ(check_field(LightField::Temperature, "21.5", ',').text, "21,5");

  store::SetupValues setup;
  store_field(setup, LightField::PulseOff, 25);
  store_field(setup, LightField::Temperature, 500);
  store_field(setup, LightField::HourOn, 7);
  EXPECT_EQ(setup.tool_settings[1][5], 25);
  EXPECT_EQ(setup.tool_settings[2][1], 500);
  EXPECT_EQ(setup.tool_settings[1][1], 7);
  EXPECT_DOUBLE_EQ(set_point_from_text("4.9"), 20.0);
  EXPECT_DOUBLE_EQ(set_point_from_text("31.25"), 31.2);
}

// A serial line whose instrument answers the temperature query with `raw` and acknowledges
// register writes, except those to `failing`.
class FactoryCalibration : public ::testing::Test {
protected:
  FactoryCalibration() {
    link_.port = 1;
    link_.connected = true;
    link_.factory_valid = true;
    link_.cal_month = 6;
    link_.cal_year = 25;
    io_.present = {1};
    io_.CommOpen(1, "COM1", "");
    io_.respond = [this](int, std::string_view f) -> std::string {
      const int q = static_cast<unsigned char>(f[1]);
      const int code = static_cast<unsigned char>(f[2]);
      if (q == 0 && code == device::kCodeTemperature)
        return raw_ < 0 ? std::string() : std::string(1, static_cast<char>(raw_));
      if (q == device::kQualifierWriteLow) {
        writes_.push_back({code, static_cast<unsigned char>(f[3])});
        if (code == failing_) return {};
        return std::string(1, static_cast<char>(code));
      }
      return {};
    };
  }

  FactoryCalibrationResult calibrate(std::string_view reference) {
    return calibrate_temperature(protocol_, link_, dialogs_, reference, {2026, 3, 9, 12, 0, 0, 0});
  }

  device::LinkState link_;
  testing::FakeSerialIo io_;
  testing::FakeClock clock_;
  testing::FakeDialogs dialogs_;
  device::DeviceProtocol protocol_{io_, link_, clock_, dialogs_};
  int raw_ = 100;
  int failing_ = -1;
  std::vector<std::pair<int, int>> writes_;
};

TEST_F(FactoryCalibration, CalibrationWritesTheRecordInvalidUntilTheLastRegister) {
  const FactoryCalibrationResult r = calibrate("25.0");
  EXPECT_EQ(r.outcome, FactoryCalibrationOutcome::Written);
  EXPECT_NEAR(r.offset, 3.1, 1e-9);
  const std::vector<std::pair<int, int>> expected = {{128, 0xFF}, {129, 3},   {130, 26}, {131, 0},
                                                     {132, 31},   {133, 219}, {134, 0},  {128, 0}};
  // Each register acknowledged at the first pass: 9 tries apiece.
  std::vector<std::pair<int, int>> distinct;
  for (const auto& w : writes_)
    if (distinct.empty() || distinct.back() != w) distinct.push_back(w);
  EXPECT_EQ(distinct, expected);
  EXPECT_EQ(writes_.size(), 9 * expected.size());
  EXPECT_TRUE(link_.factory_valid);
  EXPECT_NEAR(link_.temperature_offset, 3.1, 1e-9);
  EXPECT_DOUBLE_EQ(link_.temperature_slope, 0.219);
  EXPECT_EQ(r.status, "OK Last Factory Calibration 03/26 [mm/yy]");
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(current_temperature_text(protocol_, link_), "25.0");
}

TEST_F(FactoryCalibration, RegisterValuesOfOffsetsAndSlopes) {
  struct Case {
    double offset, slope;
    FactoryRegisters r;
  };
  const std::vector<Case> cases = {
      {3.1, 0.219, {0, 31, 219, 0}},
      {-2.46, 0.3, {1, 25, 44, 1}}, // 300 = 1 x 256 + 44
      {0.0, 0.256, {0, 0, 0, 1}},
      {-0.04, 0.4499, {1, 0, 194, 1}}, // 449.9 = 256 + 193.9
  };
  for (const Case& c : cases) {
    const FactoryRegisters got = factory_registers(c.offset, c.slope);
    EXPECT_EQ(got.sign, c.r.sign) << c.offset;
    EXPECT_EQ(got.offset_byte, c.r.offset_byte) << c.offset;
    EXPECT_EQ(got.slope_low, c.r.slope_low) << c.slope;
    EXPECT_EQ(got.slope_high, c.r.slope_high) << c.slope;
  }
}

TEST_F(FactoryCalibration, RefusalsWriteNothing) {
  struct Case {
    const char* reference;
    int raw;
    FactoryCalibrationOutcome outcome;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"3.9", 100, FactoryCalibrationOutcome::BadReference,
       "invalid Calibration Parameter: value must be between 4°C and 50°C"},
      {"50.1", 100, FactoryCalibrationOutcome::BadReference,
       "invalid Calibration Parameter: value must be between 4°C and 50°C"},
      {"", 100, FactoryCalibrationOutcome::BadReference,
       "invalid Calibration Parameter: value must be between 4°C and 50°C"},
      // 45 - 100 x 0.219 = 23.1: the record read at connection would refuse it.
      {"45", 100, FactoryCalibrationOutcome::OffsetOutOfRange,
       "Calibration out of range: the offset would be beyond ±10.0°C. Check the sensor and the "
       "reference temperature"},
      {"25", -1, FactoryCalibrationOutcome::NoReading,
       "No temperature reading from the instrument... Check COM and Try again"},
  };
  for (const Case& c : cases) {
    dialogs_.clear();
    raw_ = c.raw;
    const FactoryCalibrationResult r = calibrate(c.reference);
    EXPECT_EQ(r.outcome, c.outcome) << c.reference;
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{c.message}) << c.reference;
    EXPECT_TRUE(writes_.empty()) << c.reference;
    EXPECT_TRUE(link_.factory_valid);
    EXPECT_EQ(link_.cal_month, 6);
    EXPECT_EQ(r.status, "OK Last Factory Calibration 06/25 [mm/yy]");
  }
}

// A register that is never acknowledged goes through the three passes with their pauses, then
// the message; the record stays marked invalid in the instrument and in the program, and the
// conversion keeps its old offset.
TEST_F(FactoryCalibration, FailedRegisterWriteFollowsTheLadder) {
  link_.temperature_offset = 1.5;
  failing_ = 132;
  const FactoryCalibrationResult r = calibrate("25.0");
  EXPECT_EQ(r.outcome, FactoryCalibrationOutcome::WriteFailed);
  EXPECT_EQ(
      dialogs_.messages(),
      std::vector<std::string>{"Ops...Data Writing ERROR: reg(132)... Check COM and Try again"});
  int tries = 0;
  for (const auto& w : writes_)
    tries += w.first == 132 ? 1 : 0;
  EXPECT_EQ(tries, 27);
  EXPECT_EQ(writes_.back().first, 132); // nothing after it, in particular not 128 <- 0
  EXPECT_EQ(writes_.front(), (std::pair<int, int>{128, 0xFF}));
  // Recovery: 100 ms, query, 100 ms, then 9 tries each followed by 50 ms; twice.
  std::vector<int> expected;
  for (int pass = 0; pass < 2; ++pass) {
    expected.insert(expected.end(), {100, 100});
    expected.insert(expected.end(), 9, 50);
  }
  EXPECT_EQ(clock_.sleeps(), expected);
  EXPECT_FALSE(link_.factory_valid);
  EXPECT_DOUBLE_EQ(link_.temperature_offset, 1.5);
  EXPECT_EQ(r.status, "NON Calibrated");

  // A write acknowledged at the third pass counts.
  writes_.clear();
  dialogs_.clear();
  int seen = 0;
  io_.respond = [&](int, std::string_view f) -> std::string {
    const int code = static_cast<unsigned char>(f[2]);
    if (static_cast<unsigned char>(f[1]) != device::kQualifierWriteLow) return {};
    return ++seen > 18 ? std::string(1, static_cast<char>(code)) : std::string();
  };
  EXPECT_EQ(protocol_.WriteRegister(130, 26), 1);
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(protocol_.WriteRegister(130, 256), -1); // not a byte: refused, nothing sent
  EXPECT_EQ(seen, 27);
}

TEST(FactoryWindowText, CaptionsAndAccess) {
  device::LinkState link;
  link.factory_valid = false;
  link.temperature_offset = 2.0;
  link.temperature_slope = 0.3;
  EXPECT_EQ(load_factory(link), "NON Calibrated");
  EXPECT_DOUBLE_EQ(link.temperature_offset, 0.0);
  EXPECT_DOUBLE_EQ(link.temperature_slope, 0.219);
  link.factory_valid = true;
  link.cal_month = 11;
  link.cal_year = 4;
  link.temperature_offset = 2.0;
  EXPECT_EQ(load_factory(link), "OK Last Factory Calibration 11/04 [mm/yy]");
  EXPECT_DOUBLE_EQ(link.temperature_offset, 2.0);
  EXPECT_EQ(serial_caption(42), "SERIAL : KSTV00042");

  const std::string refusal = "Only possible to access in: ONLINE mode and STOP experiment";
  link.offline = true;
  EXPECT_EQ(factory_refusal(link, false), refusal);
  link.offline = false;
  EXPECT_EQ(factory_refusal(link, false), refusal); // never connected
  link.connected = true;
  EXPECT_EQ(factory_refusal(link, true), refusal);
  EXPECT_EQ(factory_refusal(link, false), std::nullopt);
}

} // namespace
} // namespace kestrova::acquisition
