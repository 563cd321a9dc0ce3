#include "acquisition/cycle_rules.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

std::string line(std::string_view text) {
  std::string s(text);
  s += kCrLf;
  return s;
}

} // namespace

std::string name_prompt(bool auto_calibration, bool auto_zero) {
  const std::string stars(49, '*');
  std::string p = line(stars) + line("***   Enter a Name for this Experiment  ***") + line(stars);
  if (!(auto_calibration && auto_zero)) {
    p += line("Comments:") + line("~~~~~~~") +
         line("> Auto Calibration is OFF: Remember to read Blank.");
  }
  return p;
}

DiskCheck disk_check(int lapse_minutes, long long free_mb) {
  DiskCheck c;
  c.required_mb = static_cast<long long>(common::round_half_even(lapse_minutes * 4 / 10.0));
  const long long left = free_mb - c.required_mb;
  c.text =
      line("Programmed Acquisition lapse = " + std::to_string(lapse_minutes) +
           "minutes & RealTime_recording=YES") +
      line("Required Disk space for RealTime Saving = " + std::to_string(c.required_mb) + "MB") +
      line("Current Disk Space=" + std::to_string(free_mb) + "MB");
  if (left <= 999) c.text += line("LOW DISK SPACE");
  if (left < 200) {
    c.text += line("NOT ENOUGH DISK SPACE") +
              line(" (Please, Increase Disk Space Availablility or Deselect Realtime recording)");
  }
  c.ask = c.required_mb > 1000 || left <= 999;
  return c;
}

std::string disk_question(const DiskCheck& check) {
  return line("WARNING:") + check.text + "PROCEED?";
}

std::string acquisition_folder_name(common::LocalTime start) {
  const common::CivilTime c = common::to_civil(start);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d_%02d%02d", c.year, c.month, c.day, c.hour, c.minute);
  return buf;
}

double snr_from_text(std::string_view text) {
  std::string t(text);
  std::replace(t.begin(), t.end(), ',', '.');
  const auto first = t.find_first_not_of(' ');
  double v = 0;
  if (first == std::string::npos) return 1.8;
  const auto r = std::from_chars(t.data() + first, t.data() + t.size(), v);
  if (r.ec != std::errc() || !std::isfinite(v) || v < 1.3) return 1.8;
  return v;
}

double snr_from_tenths(int snr_x10) {
  const double v = snr_x10 / 10.0;
  return v < 1.3 ? 1.8 : v;
}

bool light_by_hours(int hour, int on_hour, int off_hour) {
  if (on_hour < off_hour) return on_hour <= hour && hour < off_hour;
  if (off_hour < on_hour) return !(off_hour <= hour && hour < on_hour);
  return false;
}

void regulate(Outputs& out, double t, double s, bool enabled) {
  if (!enabled || !(t > 10 && t < 38)) {
    out.heating = false;
    out.power = false;
    return;
  }
  if (t > s - 0.5 && t < s + 0.5) {
    out.power = false;
  } else if (t >= s + 0.5) {
    out.heating = false;
    out.power = t >= s + 0.6;
  } else {
    out.heating = true;
    out.power = t <= s - 0.6;
  }
}

std::optional<bool> pulse_light(double m, int count, double on_min, double off_min) {
  const double cycle = on_min + off_min;
  if (count < 1 || cycle <= 0 || m - cycle * count >= 0) return std::nullopt;
  const double p = m - std::floor(m / cycle) * cycle;
  return p < on_min;
}

std::string elapsed_text(std::chrono::milliseconds elapsed) {
  using namespace std::chrono;
  const long long total_s = std::max<long long>(0, duration_cast<seconds>(elapsed).count());
  const long long days = total_s / 86400;
  const long long in_day = total_s % 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld [%lldd]", in_day / 3600, (in_day / 60) % 60,
                in_day % 60, days);
  return buf;
}

int elapsed_whole_minutes(std::chrono::milliseconds elapsed) {
  const long long m = elapsed.count() / 60000;
  return static_cast<int>(std::clamp<long long>(m, 0, 32767));
}

} // namespace kestrova::acquisition
