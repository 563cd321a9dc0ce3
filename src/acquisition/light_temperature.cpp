#include "acquisition/light_temperature.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/number_format.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};

struct FieldRule {
  double low, high;
  double scale;        // stored value = entry x scale, rounded
  const char* pattern; // how an accepted entry is shown
  const char* message;
  const char* fallback_text;
  int fallback_value;
};

FieldRule rule(LightField field) {
  switch (field) {
  case LightField::HourOn:
    return {0, 23, 1, "00", "Invalid value: 0 to 23", "9", 9};
  case LightField::HourOff:
    return {0, 23, 1, "00", "Invalid value: 0 to 23", "21", 21};
  case LightField::PulseCount:
    return {0, 99, 1, "0", "Invalid value: 0-99", "0", 0};
  case LightField::PulseOn:
  case LightField::PulseOff:
    return {0, 1440, 10, "0.0", "Invalid value: 0.0 to 1440.0", "0", 0};
  case LightField::Temperature:
    break;
  }
  return {5, 50, 10, "0.0", "Invalid value: 5.0 to 50.0", "20", 200};
}

} // namespace

OutputLook output_look(const Outputs& o) {
  OutputLook look;
  look.light_button = o.light ? "ON" : "OFF";
  look.light_lamp = o.light ? kGreen : kRed;
  look.direction_button = o.heating ? "HEAT" : "COOL";
  look.power_button = o.power ? "ON" : "OFF";
  look.temperature_lamp = !o.power ? kWhite : (o.heating ? kRed : kBlue);
  return look;
}

void press(Outputs& o, OutputButton button) {
  switch (button) {
  case OutputButton::Light:
    o.light = !o.light;
    break;
  case OutputButton::Power:
    o.power = !o.power;
    break;
  case OutputButton::Direction:
    // Switching direction never leaves the unit driving the other way unasked.
    o.heating = !o.heating;
    o.power = false;
    break;
  }
}

std::optional<double> parse_entry(std::string_view entry) {
  const auto first = entry.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = entry.find_last_not_of(' ');
  std::string t(entry.substr(first, last - first + 1));
  std::replace(t.begin(), t.end(), ',', '.');
  const char* begin = t.data();
  if (*begin == '+') ++begin;
  double v = 0;
  const auto r = std::from_chars(begin, t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

FieldCheck check_field(LightField field, std::string_view entry, char decimal_separator) {
  const FieldRule r = rule(field);
  const std::optional<double> v = parse_entry(entry);
  FieldCheck out;
  if (!v || *v < r.low || *v > r.high) {
    out.text = r.fallback_text;
    out.value = r.fallback_value;
    out.message = r.message;
    return out;
  }
  out.accepted = true;
  out.value = common::round_to_int(*v * r.scale);
  // Shown as stored, so that the field and the setting never disagree.
  out.text = common::format_display(out.value / r.scale, r.pattern, decimal_separator);
  return out;
}

SettingSlot setting_slot(LightField field) {
  switch (field) {
  case LightField::HourOn:
    return {1, 1};
  case LightField::HourOff:
    return {1, 2};
  case LightField::PulseCount:
    return {1, 3};
  case LightField::PulseOn:
    return {1, 4};
  case LightField::PulseOff:
    return {1, 5};
  case LightField::Temperature:
    break;
  }
  return {2, 1};
}

void store_field(store::SetupValues& setup, LightField field, int value) {
  const SettingSlot s = setting_slot(field);
  setup.tool_settings[s.tool][s.value] = value;
}

double set_point_from_text(std::string_view entry) {
  return check_field(LightField::Temperature, entry).value / 10.0;
}

} // namespace kestrova::acquisition
