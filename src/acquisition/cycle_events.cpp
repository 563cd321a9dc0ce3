// The acquisition log and the operator notices of AcquisitionCycle: what happened, when, and
// what it cost the recording.

#include <algorithm>
#include <cmath>

#include "acquisition/acquisition_cycle.hpp"
#include "common/number_format.hpp"

namespace kestrova::acquisition {

namespace {

std::string on_off(bool on) { return on ? "on" : "off"; }

std::string minutes_text(double minutes) { return common::format_display(minutes, "0.0", '.'); }

} // namespace

void AcquisitionCycle::log_event(std::string_view text) { log_.write(ctx_.clock.now(), text); }

void AcquisitionCycle::notice(std::string_view text, NoticeLevel level) {
  last_notice_ = text;
  if (level == NoticeLevel::Problem) ++problems_noticed_;
  log_event(text);
  view_->show_notice(text, level);
}

std::string AcquisitionCycle::record_summary() const {
  return std::to_string(buffers_done_) + " buffer(s) evaluated, " + std::to_string(buffers_lost_) +
         " lost";
}

void AcquisitionCycle::log_start(const std::string& name, bool autorun) {
  const store::SetupValues& s = ctx_.project.setup;
  const auto& cal = s.tool_settings[0];
  const auto& light = s.tool_settings[1];
  const auto& heat = s.tool_settings[2];
  std::string text = "Started \"" + name + "\"" + (autorun ? " (autorun)" : "") + ", program " +
                     (ctx_.program_version.empty() ? "version unknown" : ctx_.program_version) +
                     "; project " + std::to_string(ctx_.project.config.Actual_Project_Number) +
                     " \"" + s.Name + "\", plate " + s.Plate_format + ", lapse " +
                     std::to_string(s.Aq_lapse) + " min, buffer " + std::to_string(buffer_length_) +
                     " samples, detection method " + std::to_string(s.DSP_Method) + " interval " +
                     std::to_string(s.DSP_Interval) + ", SNR " +
                     common::format_display(snr_, "0.00", '.') + ", real-time saving " +
                     on_off(s.Save_real == 1) + ", auto calibration " + on_off(cal[1] == 1) +
                     ", auto zero " + on_off(cal[2] == 1) + ", light " + on_off(light[0] == 1);
  if (light[0] == 1) {
    text += light[3] >= 1
                ? " (" + std::to_string(light[3]) + " pulses of " + minutes_text(light[4] / 10.0) +
                      " min on, " + minutes_text(light[5] / 10.0) + " min off)"
                : " (hours " + std::to_string(light[1]) + " to " + std::to_string(light[2]) + ")";
  }
  text += ", temperature control " + on_off(heat[0] == 1);
  if (heat[0] == 1) text += " at " + minutes_text(set_point_) + " C";
  if (body_bends()) text += ", body-bends mode";
  log_event(text);
}

void AcquisitionCycle::log_calibration(const char* what, bool ok) {
  const std::string summary = calibration_->summary();
  log_event(std::string(what) + (ok ? " done" : " failed") +
            (summary.empty() ? std::string() : ": " + summary));
}

void AcquisitionCycle::note_bad_scan() {
  if (com_errors_ == 0 && !link_lost_logged_) {
    first_bad_scan_ = ctx_.clock.steady();
    first_bad_wall_ = ctx_.clock.now();
    first_bad_minute_ = minutes_;
    first_bad_buffers_ = buffers_done_;
  }
  if (com_errors_ + 1 == kComErrorsSilent && !link_lost_logged_) {
    link_lost_logged_ = true;
    const common::CivilTime at = common::to_civil(first_bad_wall_);
    notice("Link to the instrument lost at minute " + std::to_string(first_bad_minute_) + " (" +
               common::format_display(at.hour, "00") + ":" +
               common::format_display(at.minute, "00") + ":" +
               common::format_display(at.second, "00") + "): no valid reply for " +
               std::to_string(kComErrorsSilent) + " scans",
           NoticeLevel::Problem);
  }
}

void AcquisitionCycle::note_good_scan() {
  if (!link_lost_logged_) return;
  link_lost_logged_ = false;
  const auto lost = ctx_.clock.steady() - first_bad_scan_;
  const double lost_min = std::chrono::duration<double, std::ratio<60>>(lost).count();
  // Buffers the lost time would have filled at the pace before the loss, against those that
  // ended meanwhile (their failing blocks repeat the last good samples).
  const double period = last_good_period_ > 0 ? last_good_period_ : kCycleTimerMs / 1000.0;
  const double buffer_seconds = period * buffer_length_;
  const std::int64_t ended = buffers_done_ - first_bad_buffers_;
  const auto expected =
      static_cast<std::int64_t>(std::llround(lost_min * 60.0 / std::max(buffer_seconds, 1e-3)));
  const std::int64_t missing = std::max<std::int64_t>(0, expected - ended);
  notice("Link to the instrument restored after " + minutes_text(lost_min) + " min (minute " +
             std::to_string(first_bad_minute_) + " to " + std::to_string(minutes_) +
             "): " + std::to_string(missing) + " buffer(s) missing, " + std::to_string(ended) +
             " recorded with repeated samples",
         NoticeLevel::Problem);
}

void AcquisitionCycle::note_files_written(bool ok) {
  if (ok) {
    if (lost_run_ == 0) return;
    notice("Writing resumed at minute " + std::to_string(minutes_) + ": " +
               std::to_string(lost_run_) + " buffer(s) lost since minute " +
               std::to_string(lost_from_minute_) + " (" + std::to_string(buffers_lost_) +
               " in all)",
           NoticeLevel::Problem);
    lost_run_ = 0;
    return;
  }
  ++buffers_lost_;
  if (lost_run_++ == 0) {
    lost_from_minute_ = minutes_;
    const std::string problem = sink_problems_.empty() ? std::string() : sink_problems_.front();
    // "Cannot write FILE: reason": the reason is what the status line keeps showing.
    const std::size_t colon = problem.rfind(": ");
    lost_reason_ = colon == std::string::npos ? problem : problem.substr(colon + 2);
    notice("Recording error at minute " + std::to_string(minutes_) + ": " + problem +
               ". The acquisition goes on; buffers are dropped until writing works again",
           NoticeLevel::Problem);
    return;
  }
  // The status line keeps count without another log line for each buffer.
  view_->show_notice("Recording error (" + lost_reason_ + "): " + std::to_string(lost_run_) +
                         " buffer(s) lost since minute " + std::to_string(lost_from_minute_),
                     NoticeLevel::Warning);
}

} // namespace kestrova::acquisition
