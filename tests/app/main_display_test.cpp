#include "app/main_display.hpp"

#include <gtest/gtest.h>

namespace kestrova::app {
namespace {

store::SetupValues with_tool1(int organism, int calibrate, int zero, int snr_tenths) {
  store::SetupValues s;
  s.tool_settings[0][0] = organism;
  s.tool_settings[0][1] = calibrate;
  s.tool_settings[0][2] = zero;
  s.tool_settings[0][3] = snr_tenths;
  return s;
}

TEST(MainDisplay, SetupControls) {
  struct Case {
    int organism, calibrate, zero, snr;
    int index;
    std::size_t entries;
    const char* snr_text;
    bool calibrate_button;
  };
  for (const Case c :
       {Case{0, 0, 0, 35, 0, 4, "3.5", true}, Case{3, 1, 1, 120, 3, 4, "12.0", false},
        Case{7, 0, 0, 5, 4, 5, "0.5", true}, // older size presets add an entry
        Case{9, 0, 0, 5, 4, 5, "0.5", true},
        Case{4, 0, 0, 5, -1, 4, "0.5", true}, // unknown: nothing selected
        Case{-1, 0, 0, 0, -1, 4, "0.0", true}}) {
    const SetupControls got = setup_controls(with_tool1(c.organism, c.calibrate, c.zero, c.snr));
    EXPECT_EQ(got.organism_index, c.index) << c.organism;
    EXPECT_EQ(got.organisms.size(), c.entries) << c.organism;
    EXPECT_EQ(got.snr_text, c.snr_text) << c.snr;
    EXPECT_EQ(got.calibrate_button_visible, c.calibrate_button) << c.calibrate;
    EXPECT_EQ(got.calibrate_on_start, c.calibrate == 1);
    EXPECT_EQ(got.zero_on_start, c.zero == 1);
  }
  EXPECT_EQ(setup_controls(with_tool1(9, 0, 0, 0)).organisms.back(), "size >1mm");
  EXPECT_EQ(setup_controls(with_tool1(7, 0, 0, 0)).organisms.back(), "size <100um");
}

TEST(MainDisplay, LightAndTemperature) {
  struct Case {
    std::array<int, 6> light; // enabled, on, off, pulses, pulse on x10, pulse off x10
    int temperature_tenths;
    const char* on;
    const char* off;
    bool pulses_visible;
    bool hours_enabled;
    const char* pulse_on;
    const char* temperature;
  };
  for (const Case& c : {
           Case{{0, 0, 0, 0, 0, 0}, 250, "9", "21", false, true, "", "25.0"},      // never set
           Case{{1, 7, 19, 0, 0, 0}, 19, "7", "19", false, true, "0.0", "20.0"},   // too cold
           Case{{1, 0, 0, 3, 15, 25}, 501, "9", "21", true, false, "1.5", "20.0"}, // too hot
           Case{{1, 0, 22, 1, 5, 5}, 500, "0", "22", true, false, "0.5", "50.0"},
           Case{{0, 8, 20, 3, 15, 25}, 20, "8", "20", false, true, "", "2.0"}, // pulses off
       }) {
    store::SetupValues s;
    for (std::size_t i = 0; i < 6; ++i)
      s.tool_settings[1][i] = c.light[i];
    s.tool_settings[2][1] = c.temperature_tenths;
    const LightTemperatureControls got = light_temperature_controls(s);
    EXPECT_EQ(got.light_on, c.on);
    EXPECT_EQ(got.light_off, c.off);
    EXPECT_EQ(got.pulses_visible, c.pulses_visible);
    EXPECT_EQ(got.light_hours_enabled, c.hours_enabled);
    EXPECT_EQ(got.pulse_on, c.pulse_on);
    EXPECT_EQ(got.temperature, c.temperature) << c.temperature_tenths;
  }
}

TEST(MainDisplay, LinkStatusLines) {
  device::LinkState link;
  EXPECT_EQ(link_status_line(link).text, "Not connected");
  link.port = 3;
  EXPECT_EQ(link_status_line(link).text, "Not connected (COM3)");
  EXPECT_EQ(start_screen_link_text(link), "status = not connected yet");
  link.connected = true;
  link.serial = 250;
  EXPECT_EQ(link_status_line(link).text, "Connected: COM3, instrument 250");
  EXPECT_EQ(link_status_line(link).tone, LinkStatusLine::Tone::Good);
  EXPECT_EQ(start_screen_link_text(link), "status: Connected in COM3");
  link.lost = true;
  EXPECT_EQ(link_status_line(link).text, "Link lost: COM3, instrument 250 is not answering");
  EXPECT_EQ(link_status_line(link).tone, LinkStatusLine::Tone::Bad);
  EXPECT_EQ(start_screen_link_text(link), "status: link lost in COM3");
  link = {};
  link.offline = true;
  EXPECT_EQ(link_status_line(link).text, "Offline: no instrument found");
  EXPECT_EQ(start_screen_link_text(link), "") << "the connect action said why";
}

TEST(MainDisplay, AcquisitionStatusAndProblemMark) {
  EXPECT_EQ(acquisition_status_text({2026, 3, 29, 4, 5, 6, 700}, "Writing resumed"),
            "04:05:06  Writing resumed");
  EXPECT_EQ(problem_mark_text(0), "");
  EXPECT_EQ(problem_mark_text(1), "(!) 1 problem: click to acknowledge");
  EXPECT_EQ(problem_mark_text(3), "(!) 3 problems: click to acknowledge");
}

} // namespace
} // namespace kestrova::app
