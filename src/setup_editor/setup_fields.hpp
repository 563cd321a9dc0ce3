#pragma once

// The acquisition and detection fields of the setup window: what each entry box stores and
// shows, the organism presets and the signal-to-noise check. Pure rules over SetupValues.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/project_state.hpp"

namespace kestrova::setup_editor {

// A field's stored value and, when the rule replaced what was typed, the text to show instead.
struct FieldEntry {
  int value = 0;
  std::optional<std::string> shown;
  friend bool operator==(const FieldEntry&, const FieldEntry&) = default;
};

// The number at the start of a text, as an entry box reads it: leading blanks, a sign, digits
// and one '.' with decimals; anything after that is ignored. 0 for a text without a number.
double typed_number(std::string_view text);

// Txtlapse (on every change): 32000 or more gives 32000 shown "32000"; otherwise the number
// rounded; then 0 or less (an empty box too) gives 2 shown "2".
FieldEntry lapse_entry(std::string_view text);

// Txtsample and Txt_dspinterval (on every change): the number rounded. The fields are 16-bit
// in setup.dat: a value beyond -32768..32767 is held at the limit, which is then shown.
FieldEntry whole_number_entry(std::string_view text);

// Txtbuffer (on leaving the box): below 200 or above 10000 gives 200 shown "200"; otherwise
// the number rounded.
FieldEntry buffer_entry(std::string_view text);

// The entries of the drop-down lists, in order (the stored value is the entry's index).
const std::vector<std::string>& acquisition_mode_items(); // Combo_aqmode
const std::vector<std::string>& dsp_method_items();       // ComboDSP
const std::vector<std::string>& organism_items();         // Cmb_organism
const std::vector<std::string>& yes_no_items();           // Combosavecount, Combosavereal

// The preset of an organism: its name, default signal-to-noise ratio x10 and the detection
// method that choosing it sets.
struct OrganismPreset {
  std::string_view name;
  int snr_x10 = 18;
  int dsp_method = 1;
};
inline constexpr int kDrosophila = 3;

// The preset of organism `index`; an index outside 0..3 (older setups) gets C.elegans'.
const OrganismPreset& organism_preset(int index);

// SNRx10 / 10 with one decimal ("1.8").
std::string snr_text(int snr_x10);

// Cmb_organism click: Organism, SNRx10 and DSP_Method take the organism's preset.
void choose_organism(store::SetupValues& setup, int index);

// What lbl_snr shows when the window loads: SNRx10 / 10, or the organism's default when SNRx10
// is 0, which SNRx10 then takes (except for Drosophila, whose 0 is kept).
std::string load_snr(store::SetupValues& setup);

// The outcome of lbl_snr losing the focus.
struct SnrCheck {
  bool accepted = false;
  int snr_x10 = 0;     // the value stored
  std::string shown;   // what lbl_snr shows
  std::string message; // the message box when refused, else empty
};

// The text reformatted with one decimal (a comma read as the decimal point) is accepted from
// 0.5 up to but not including 1 for Drosophila ("Enter a valid SNR: 0.5 to 0.9", fallback 0.8)
// and from 1.4 to 5 for the others ("Enter a valid SNR: 1.4 to 5.0", fallback the organism's
// default).
SnrCheck check_snr(int organism, std::string_view text);

// Run action: an SNRx10 of 0 takes the organism's default.
void apply_default_snr(store::SetupValues& setup);

// The main window's detection line: "Detection Mode1, C.elegans [snr 1.8]".
std::string detection_line(const store::SetupValues& setup);

// Tool flag and its setting for the tool check boxes: index 0 is calibration (tool 1), 1 light,
// 2 temperature, 3..5 the reserved menus.
inline constexpr std::size_t kToolCalibration = 0;
inline constexpr std::size_t kToolLight = 1;
inline constexpr std::size_t kToolTemperature = 2;

// chklight: the light tool flag and the light programme's enable follow the box.
void set_light_tool(store::SetupValues& setup, bool checked);

// The stored Save_real of a Combosavereal text ("YES" gives 1).
int save_real_value(std::string_view text);

// Organism and SNRx10 of tool 1, by name.
inline int& organism_of(store::SetupValues& s) { return s.tool_settings[0][0]; }
inline int& snr_x10_of(store::SetupValues& s) { return s.tool_settings[0][3]; }
inline int organism_of(const store::SetupValues& s) { return s.tool_settings[0][0]; }
inline int snr_x10_of(const store::SetupValues& s) { return s.tool_settings[0][3]; }

} // namespace kestrova::setup_editor
