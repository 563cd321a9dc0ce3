#include "app/main_display.hpp"

#include "common/number_format.hpp"

namespace kestrova::app {

namespace {

std::string one_decimal(int tenths) { return common::format_display(tenths / 10.0, "0.0"); }

} // namespace

const std::vector<std::string>& organism_names() {
  static const std::vector<std::string> kNames = {"C elegans(>L4)", "Zebrafish(Larvae)",
                                                  "Echinococcus", "Drosophila"};
  return kNames;
}

SetupControls setup_controls(const store::SetupValues& setup) {
  const auto& tool1 = setup.tool_settings[0];
  SetupControls c;
  c.tools_visible = setup.tool_flags[0] == 1;
  c.organisms = organism_names();
  const int organism = tool1[0];
  if (organism >= 0 && organism <= 3) {
    c.organism_index = organism;
  } else if (organism >= 7 && organism <= 9) {
    // Older setups name the organism by its size; that entry is added and selected.
    static const char* const kSizes[] = {"size <100um", "size 0.1-1mm", "size >1mm"};
    c.organisms.emplace_back(kSizes[organism - 7]);
    c.organism_index = static_cast<int>(c.organisms.size()) - 1;
  }
  c.snr_text = one_decimal(tool1[3]);
  c.calibrate_on_start = tool1[1] == 1;
  c.calibrate_button_visible = tool1[1] != 1;
  c.zero_on_start = tool1[2] == 1;
  return c;
}

LightTemperatureControls light_temperature_controls(const store::SetupValues& setup) {
  const auto& light = setup.tool_settings[1];
  const auto& temp = setup.tool_settings[2];
  LightTemperatureControls c;
  c.light_enabled = light[0] == 1;
  int on = light[1];
  int off = light[2];
  if (on == 0 && off == 0) { // never set: lights on from 9 to 21
    on = 9;
    off = 21;
  }
  c.light_on = std::to_string(on);
  c.light_off = std::to_string(off);
  if (c.light_enabled) {
    c.pulse_times = std::to_string(light[3]);
    c.pulse_on = one_decimal(light[4]);
    c.pulse_off = one_decimal(light[5]);
    c.pulses_visible = light[3] >= 1;
    c.light_hours_enabled = !c.pulses_visible;
  }
  c.temperature_enabled = temp[0] == 1;
  c.temperature = one_decimal((temp[1] < 20 || temp[1] > 500) ? 200 : temp[1]);
  c.light_panel_visible = setup.tool_flags[1] == 1;
  c.temperature_panel_visible = setup.tool_flags[2] == 1;
  return c;
}

LinkStatusLine link_status_line(const device::LinkState& link) {
  const std::string port = "COM" + std::to_string(link.port);
  const std::string instrument = "instrument " + std::to_string(link.serial);
  if (link.connected && link.lost)
    return {"Link lost: " + port + ", " + instrument + " is not answering",
            LinkStatusLine::Tone::Bad};
  if (link.connected) return {"Connected: " + port + ", " + instrument, LinkStatusLine::Tone::Good};
  if (link.offline) return {"Offline: no instrument found", LinkStatusLine::Tone::Bad};
  if (link.port > 0) return {"Not connected (" + port + ")", LinkStatusLine::Tone::Neutral};
  return {"Not connected", LinkStatusLine::Tone::Neutral};
}

std::string start_screen_link_text(const device::LinkState& link) {
  if (link.connected && link.lost) return "status: link lost in COM" + std::to_string(link.port);
  if (link.connected) return "status: Connected in COM" + std::to_string(link.port);
  if (!link.offline) return "status = not connected yet";
  return {}; // the connect action has said why it went offline
}

std::string help_missing_text(std::string_view path) {
  return "The user guide is not installed: " + std::string(path) + " was not found.";
}

std::string not_available_text(std::string_view what) {
  return std::string(what) + " is not available in this version.";
}

std::string acquisition_status_text(const common::CivilTime& when, std::string_view text) {
  const auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return two(when.hour) + ":" + two(when.minute) + ":" + two(when.second) + "  " +
         std::string(text);
}

std::string problem_mark_text(int problems) {
  if (problems <= 0) return {};
  return "(!) " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") +
         ": click to acknowledge";
}

} // namespace kestrova::app
