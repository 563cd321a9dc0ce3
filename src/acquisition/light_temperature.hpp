#pragma once

// The light and temperature outputs as the operator sees and changes them: the captions and
// lamp colours of an output state, the three operator buttons, and the checks of the schedule
// and set-point fields. Pure functions of their arguments; the windows copy the results.

#include <optional>
#include <string>
#include <string_view>

#include "acquisition/cycle_rules.hpp"
#include "store/project_state.hpp"

namespace kestrova::acquisition {

struct Rgb {
  int r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// What the two panels show for an output state.
struct OutputLook {
  std::string light_button;     // cmd_luz: "ON" / "OFF"
  Rgb light_lamp;               // shape_light: green on, red off
  std::string direction_button; // cmd_frio: "HEAT" / "COOL"
  std::string power_button;     // cmd_ontemp: "ON" / "OFF"
  Rgb temperature_lamp;         // shape_temp: white off, blue cooling, red heating
};
OutputLook output_look(const Outputs& outputs);

// The operator's buttons.
enum class OutputButton {
  Light,     // cmd_luz: toggles the light
  Power,     // cmd_ontemp: toggles the temperature power
  Direction, // cmd_frio: toggles heat/cool and switches the power off
};
void press(Outputs& outputs, OutputButton button);

// The fields of the two panels that are checked when they lose the focus.
enum class LightField { HourOn, HourOff, PulseCount, PulseOn, PulseOff, Temperature };

// Outcome of a field check. On a refused entry `message` holds the text to show; `text` and
// `value` are then the fallback.
struct FieldCheck {
  bool accepted = false;
  std::string text; // what the field shows afterwards
  int value = 0;    // what the setting holds afterwards (tenths for minutes and degrees)
  std::string message;
};
FieldCheck check_field(LightField field, std::string_view entry, char decimal_separator = '.');

// The setting a field is kept in: tool 2 (index 1) or tool 3 (index 2), value index 0..9.
struct SettingSlot {
  std::size_t tool = 0;
  std::size_t value = 0;
};
SettingSlot setting_slot(LightField field);

// Stores an accepted or fallen-back field value in the setup.
void store_field(store::SetupValues& setup, LightField field, int value);

// A number typed by the operator: blanks around it allowed, '.' or ',' as the decimal mark.
// Empty or anything else is not a number.
std::optional<double> parse_entry(std::string_view entry);

// The set-point in degrees from the temperature field; the field's fallback (20.0) when the
// text is not a valid temperature.
double set_point_from_text(std::string_view entry);

} // namespace kestrova::acquisition
