#include "setup_editor/setup_fields.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "store/record_file.hpp"

namespace kestrova::setup_editor {

namespace {

constexpr int kLapseMax = 32000;
constexpr int kLapseFallback = 2;
constexpr int kBufferMin = 200;
constexpr int kBufferMax = 10000;

// Rounds half to even and holds the result within the 16-bit range of setup.dat.
int rounded_16bit(double value) {
  const double r = common::round_half_even(value);
  return static_cast<int>(std::clamp(r, static_cast<double>(store::kIntegerMin),
                                     static_cast<double>(store::kIntegerMax)));
}

const std::array<OrganismPreset, 4> kPresets = {{
    {"C.elegans", 18, 1},
    {"Zebrafish", 28, 1},
    {"Echinococcus", 18, 2},
    {"Drosophila", 8, 3},
}};

} // namespace

double typed_number(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  std::string digits;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) digits += text[i++];
  bool point = false;
  bool any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
      digits += c;
      any = true;
    } else if (c == '.' && !point) {
      digits += c;
      point = true;
    } else {
      break;
    }
  }
  if (!any) return 0;
  // At most a few hundred digits reach here; strtod saturates to infinity, which clamps later.
  const double v = std::strtod(digits.c_str(), nullptr);
  return std::isfinite(v) ? v : (v > 0 ? 1e300 : -1e300);
}

FieldEntry lapse_entry(std::string_view text) {
  const double typed = typed_number(text);
  FieldEntry e;
  if (typed >= kLapseMax) {
    e = {kLapseMax, std::to_string(kLapseMax)};
  } else {
    e.value = rounded_16bit(typed);
  }
  if (e.value <= 0) e = {kLapseFallback, std::to_string(kLapseFallback)};
  return e;
}

FieldEntry whole_number_entry(std::string_view text) {
  const double typed = typed_number(text);
  FieldEntry e{rounded_16bit(typed), std::nullopt};
  if (common::round_half_even(typed) != e.value) e.shown = std::to_string(e.value);
  return e;
}

FieldEntry buffer_entry(std::string_view text) {
  const double typed = typed_number(text);
  if (typed < kBufferMin || typed > kBufferMax) return {kBufferMin, std::to_string(kBufferMin)};
  return {rounded_16bit(typed), std::nullopt};
}

const std::vector<std::string>& acquisition_mode_items() {
  static const std::vector<std::string> kItems = {
      "0_Offline", "1_Default", "2_Fast(0.31)", "3_Fast(32.63)", "4_Fast(64.95)", "5_Fast(96.127)"};
  return kItems;
}

const std::vector<std::string>& dsp_method_items() {
  static const std::vector<std::string> kItems = {
      "0_Threshold+Binary (Old Method.w/filters)", "1_Threshold Avrg (Default.Agar&Liquid)",
      "2_Motility Index(ameboid movement)", "3_Drosophila (Threshold)"};
  return kItems;
}

const std::vector<std::string>& organism_items() {
  static const std::vector<std::string> kItems = [] {
    std::vector<std::string> names;
    for (const auto& p : kPresets)
      names.emplace_back(p.name);
    return names;
  }();
  return kItems;
}

const std::vector<std::string>& yes_no_items() {
  static const std::vector<std::string> kItems = {"NO", "YES"};
  return kItems;
}

const OrganismPreset& organism_preset(int index) {
  if (index < 0 || index >= static_cast<int>(kPresets.size())) return kPresets[0];
  return kPresets[static_cast<std::size_t>(index)];
}

std::string snr_text(int snr_x10) { return common::format_display(snr_x10 / 10.0, "0.0"); }

void choose_organism(store::SetupValues& setup, int index) {
  if (index < 0 || index >= static_cast<int>(kPresets.size())) return;
  const OrganismPreset& p = organism_preset(index);
  organism_of(setup) = index;
  snr_x10_of(setup) = p.snr_x10;
  setup.DSP_Method = p.dsp_method;
}

std::string load_snr(store::SetupValues& setup) {
  if (snr_x10_of(setup) != 0) return snr_text(snr_x10_of(setup));
  const OrganismPreset& p = organism_preset(organism_of(setup));
  if (organism_of(setup) != kDrosophila) snr_x10_of(setup) = p.snr_x10;
  return snr_text(p.snr_x10);
}

SnrCheck check_snr(int organism, std::string_view text) {
  std::string dotted(text);
  std::replace(dotted.begin(), dotted.end(), ',', '.');
  // Reformatted with one decimal first, so the check sees what the box shows.
  const double value = common::round_half_even(typed_number(dotted), 1);
  const int tenths = static_cast<int>(common::round_half_even(std::clamp(value, -1e6, 1e6) * 10));
  SnrCheck c;
  if (organism == kDrosophila) {
    c.accepted = tenths >= 5 && tenths < 10;
    if (!c.accepted) c.message = "Enter a valid SNR: 0.5 to 0.9";
  } else {
    c.accepted = tenths >= 14 && tenths <= 50;
    if (!c.accepted) c.message = "Enter a valid SNR: 1.4 to 5.0";
  }
  c.snr_x10 = c.accepted ? tenths : organism_preset(organism).snr_x10;
  c.shown = snr_text(c.snr_x10);
  return c;
}

void apply_default_snr(store::SetupValues& setup) {
  if (snr_x10_of(setup) == 0) snr_x10_of(setup) = organism_preset(organism_of(setup)).snr_x10;
}

std::string detection_line(const store::SetupValues& setup) {
  return "Detection Mode" + std::to_string(setup.DSP_Method) + ", " +
         std::string(organism_preset(organism_of(setup)).name) + " [snr " +
         snr_text(snr_x10_of(setup)) + "]";
}

void set_light_tool(store::SetupValues& setup, bool checked) {
  setup.tool_flags[kToolLight] = checked ? 1 : 0;
  setup.tool_settings[kToolLight][0] = checked ? 1 : 0;
}

int save_real_value(std::string_view text) { return text == "YES" ? 1 : 0; }

} // namespace kestrova::setup_editor
