#pragma once

// Pure rules of starting and running an acquisition: texts, the disk check, the light and
// temperature decisions. Each is a function of its arguments, tested as tables.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "common/clock.hpp"

namespace kestrova::acquisition {

// Line break of operator texts.
inline constexpr std::string_view kCrLf = "\r\n";

// The prompt of the "New Acquisition" name box; the comments reminder is added unless both
// automatic calibration and automatic zero are on.
std::string name_prompt(bool auto_calibration, bool auto_zero);

// Outcome of the disk check before an acquisition that records raw data.
struct DiskCheck {
  long long required_mb = 0;
  std::string text; // the lines shown in the question
  bool ask = false; // the question "PROCEED?" is due
};
// Required = lapse x 4 / 10 MB (halves to even); ask when more than 1000 MB are required or
// less than 1000 MB would be left. `free_mb` -1 (unknown) always asks.
DiskCheck disk_check(int lapse_minutes, long long free_mb);
// The whole question: "WARNING:", the check's text, "PROCEED?".
std::string disk_question(const DiskCheck& check);

// "yyyymmdd_hhmm" of a start time.
std::string acquisition_folder_name(common::LocalTime start);

// The SNR from the text of its box: a comma reads as a point; not a number or below 1.3 gives
// 1.8.
double snr_from_text(std::string_view text);
// The SNR kept in the setup (tenths); 0 or below 1.3 gives 1.8.
double snr_from_tenths(int snr_x10);

// Light at the start from the hour of day and the on/off hours: on < off lights [on, off);
// off < on darkens [off, on); equal hours mean off.
bool light_by_hours(int hour, int on_hour, int off_hour);

// The temperature and light outputs sent to the instrument.
struct Outputs {
  bool light = false;
  bool heating = false; // direction: true heats, false cools
  bool power = false;   // temperature power
  // The output byte: 4 x light + 2 x heating + 1 x power.
  int code() const { return 4 * (light ? 1 : 0) + 2 * (heating ? 1 : 0) + (power ? 1 : 0); }
};

// Temperature regulation at a buffer end: T the temperature, S the set-point. Inside
// S +- 0.5 the power is off; above, cooling with power from S + 0.6; below, heating with power
// from S - 0.6. Outside 10..38 C or when disabled, direction and power are off.
void regulate(Outputs& out, double temperature, double set_point, bool enabled);

// The light pulse programme at `minutes` (with fractions) for `count` cycles of `on_min` then
// `off_min` minutes. The light state while the programme runs; nothing once it has ended.
std::optional<bool> pulse_light(double minutes, int count, double on_min, double off_min);

// Txt_time of an elapsed time: "hh:mm:ss [Nd]", hours within the day.
std::string elapsed_text(std::chrono::milliseconds elapsed);
// Whole minutes of an elapsed time, rounded down, kept within 0..32767.
int elapsed_whole_minutes(std::chrono::milliseconds elapsed);

} // namespace kestrova::acquisition
