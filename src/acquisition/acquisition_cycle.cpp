#include "acquisition/acquisition_cycle.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "acquisition/activity_files.hpp"
#include "acquisition/activity_sink.hpp"
#include "acquisition/detection.hpp"
#include "acquisition/recording_path.hpp"
#include "common/number_format.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

// The pause after a discarding scan, taken in steps between which window events run.
constexpr int kDiscardPauseMs = 50;
constexpr int kDiscardPauseStepMs = 5;

std::int16_t rounded16(double v) {
  return static_cast<std::int16_t>(std::clamp(common::round_to_int(v), -32768, 32767));
}

// Marks a tick as running for its whole body, so a tick started from inside it returns.
class TickGuard {
public:
  explicit TickGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~TickGuard() { flag_ = false; }
  TickGuard(const TickGuard&) = delete;
  TickGuard& operator=(const TickGuard&) = delete;

private:
  bool& flag_;
};

} // namespace

AcquisitionCycle::AcquisitionCycle(CycleContext context)
    : ctx_(std::move(context)), detector_(std::make_unique<ActivityDetector>()) {
  if (!ctx_.free_space) ctx_.free_space = filesystem_free_mb;
  if (ctx_.recording_path) {
    path_ = ctx_.recording_path;
  } else {
    own_path_ = std::make_unique<RecordingPath>(ctx_.dialogs, ctx_.pump);
    path_ = own_path_.get();
  }
  path_->set_notice([this](std::string_view text, NoticeLevel level) { notice(text, level); });
  reset(kDefaultBufferLength);
}

AcquisitionCycle::~AcquisitionCycle() { path_->set_notice({}); }

void AcquisitionCycle::set_view(CycleView* view) { view_ = view ? view : &default_view_; }
void AcquisitionCycle::set_calibration(CalibrationHooks* hooks) {
  calibration_ = hooks ? hooks : &default_calibration_;
}
void AcquisitionCycle::set_report(ReportRequest* report) {
  report_ = report ? report : &default_report_;
}
void AcquisitionCycle::set_host(AcquisitionHost* host) { host_ = host ? host : &default_host_; }

void AcquisitionCycle::add_sink(BufferEndSink* sink) {
  if (sink && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
}

void AcquisitionCycle::remove_sink(BufferEndSink* sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

std::filesystem::path AcquisitionCycle::folder() const {
  if (folder_name_.empty()) return {};
  return ctx_.project.project_folder / folder_name_;
}

bool AcquisitionCycle::body_bends() const {
  std::string plate = ctx_.project.setup.Plate_format;
  std::transform(plate.begin(), plate.end(), plate.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return switches_.body_bends && plate == store::kPlateW96u;
}

void AcquisitionCycle::tick() {
  if (in_tick_ || !timer_enabled_ || relaunched_) return;
  TickGuard guard(in_tick_);
  // Nobody may be needed from here on: boxes become notices with their default answers.
  const RecordingPath::Scope unattended(*path_);
  if (state_ == AcquisitionState::Running) {
    running_tick();
  } else {
    idle_tick();
  }
}

void AcquisitionCycle::running_tick() {
  const store::SetupValues& setup = ctx_.project.setup;
  const int d = setup.DSP_Interval;
  if (!scan()) return;
  if (tick_counter_ == d) view_->refresh_signal_view();
  sample_statistics(d);
  if (tick_counter_ % 2 == 0) {
    view_->refresh_live_plots();
    view_->set_temperature_text(
        common::format_display(temperature_, "0.0", common::locale_decimal_separator()));
    view_->show_tick_counter(tick_counter_);
  }
  if (pacing_) pacing_->display_tick(tick_counter_);
  if (++sample_index_ >= buffer_length_) {
    sample_index_ = 0;
    buffer_end();
    // A box shown at the buffer end lets clicks run: the operator may have stopped meanwhile.
    if (state_ != AcquisitionState::Running || relaunched_) return;
  }
  update_time();
  // A completed acquisition has left light and heater off: nothing of this tick may switch
  // them on again (the pulse programme would).
  if (minutes_ >= setup.Aq_lapse && sample_index_ == 0) {
    complete();
    return;
  }
  if (sample_index_ % 25 == 0) paced_outputs();
  ++tick_counter_;
}

void AcquisitionCycle::idle_tick() {
  update_time();
  if (minutes_ >= ctx_.project.setup.Aq_lapse) {
    complete();
    return;
  }
  paced_outputs();
}

bool AcquisitionCycle::scan() {
  const bool online = !ctx_.link.offline;
  if (!online) return true;
  if (sample_index_ <= 1 || tick_counter_ <= 1) {
    for (int k : device::kBlockStarts)
      ctx_.protocol.ReadIntensityBlock(k);
    // The 50 ms pause lets window events run, so that a click is answered within one scan
    // even on the two ticks that open a buffer; a stop or pause made meanwhile ends the tick.
    for (int waited = 0; waited < kDiscardPauseMs; waited += kDiscardPauseStepMs) {
      ctx_.clock.sleep_ms(kDiscardPauseStepMs);
      path_->pump().process_events();
      if (state_ != AcquisitionState::Running || relaunched_) return false;
    }
  }
  std::array<int, 4> blocks = device::kBlockStarts;
  int count = 4;
  if (body_bends()) {
    blocks = {window_start_, window_start_ + 32, 0, 0};
    count = 2;
  }
  bool last_good = false;
  for (int i = 0; i < count; ++i) {
    const device::ParsedBlock block = ctx_.protocol.ReadIntensityBlock(blocks[i]);
    last_good = block.good();
    const int s = sample_index_;
    for (int v = 0; v < device::kBlockValues; ++v) {
      const int c = device::block_channel(blocks[i], v);
      if (c >= kChannelCount) continue;
      if (last_good) {
        raw_at(s, c) = static_cast<std::int16_t>(std::max(0, block.values[v]));
      } else if (s > 1) {
        raw_at(s, c) = raw_at(s - 1, c);
      }
    }
  }
  return supervise_link(last_good);
}

bool AcquisitionCycle::supervise_link(bool last_good) {
  if (last_good) {
    note_good_scan();
    com_errors_ = 0;
    return true;
  }
  note_bad_scan();
  if (com_errors_ < kComErrorsSilent) {
    ++com_errors_;
    return true;
  }
  view_->set_autotext("<COM ERROR>");
  if (!switches_.auto_restart) {
    view_->set_autochannel("VERIFY COM PORT!");
    return true;
  }
  view_->set_autochannel("Restarting COM.." + std::to_string(kComErrorsRestart - com_errors_));
  if (com_errors_ < kComErrorsRestart) {
    ++com_errors_;
    return true;
  }
  // A lasting link failure: a fresh instance in autorun reconnects and starts anew; this one
  // ends at once without clean-up. When no new instance could be started, ending would leave
  // nothing running: this one goes on and counts down again.
  log_event("The instrument has not answered for " + std::to_string(kComErrorsRestart) +
            " scans: relaunching the program (" + record_summary() + ")");
  const std::vector<std::string> arguments =
      ctx_.relaunch_arguments ? ctx_.relaunch_arguments() : std::vector<std::string>{"/run"};
  if (!ctx_.shell.relaunch(arguments)) {
    com_errors_ = kComErrorsSilent;
    view_->set_autochannel("VERIFY COM PORT!");
    notice("The program could not be relaunched; this instance goes on recording",
           NoticeLevel::Problem);
    return true;
  }
  relaunched_ = true;
  timer_enabled_ = false;
  host_->end_program();
  return false;
}

void AcquisitionCycle::sample_statistics(int d) {
  const int b = buffer_length_;
  const int s = sample_index_;
  const int span = std::clamp(d, 1, b);
  const auto wrap = [b](int p) { return ((p % b) + b) % b; };
  const auto& thresholds = ctx_.project.channels.threshold;
  const bool reset_path = d >= tick_counter_ || s < 2;
  for (int c : well_channels_) {
    const double t = thresholds[c];
    if (reset_path) {
      amp_sum_[c] = level_sum_[c] = tally_[c] = 0;
      const std::int16_t r = raw_at(s, c);
      upper_env_[at(s, c)] = lower_env_[at(s, c)] = r;
      lower_band_[at(s, c)] = rounded16(r * (100 - t) / 100);
      upper_band_[at(s, c)] = rounded16(r * (t + 100) / 100);
      continue;
    }
    const std::int16_t r0 = raw_at(s, c);
    const std::int16_t r2 = raw_at(s - 2, c);
    std::int16_t& r1 = raw_at(s - 1, c);
    if (r1 > upper_band_[at(s - 1, c)] && r1 > r0 && r1 > r2) r1 = rounded16((r0 + r2) / 2.0);
    std::int16_t up = upper_env_[at(s - 1, c)];
    std::int16_t low = lower_env_[at(s - 1, c)];
    if (r1 > r0 && r1 > r2) up = r1;
    if (r1 < r0 && r1 < r2) low = r1;
    upper_env_[at(s, c)] = up;
    lower_env_[at(s, c)] = low;
    amp_sum_[c] += up - low;
    level_sum_[c] += r1;
    tally_[c] += 1;
    int m = 0;
    for (int k = 1; k <= span; ++k)
      m = std::max<int>(m, raw_at(wrap(s - k), c));
    const auto previous = [&](const std::vector<std::int16_t>& band) {
      return band[at(s - 1, c)] + band[at(s - 2, c)] + band[at(wrap(s - 3), c)];
    };
    lower_band_[at(s, c)] = rounded16(((100 - t) * m / 100 + previous(lower_band_)) / 4);
    upper_band_[at(s, c)] = rounded16(((t + 100) * m / 100 + previous(upper_band_)) / 4);
  }
}

void AcquisitionCycle::buffer_end() {
  const common::LocalTime now = ctx_.clock.now();
  const common::SteadyTime steady = ctx_.clock.steady();
  const double minutes_since =
      std::chrono::duration<double, std::ratio<60>>(steady - last_buffer_end_).count();
  sample_period_ = common::round_half_even(minutes_since * 60 / buffer_length_, 3);
  last_buffer_end_ = steady;
  if (com_errors_ == 0) last_good_period_ = sample_period_;

  read_temperature();
  const store::SetupValues& setup = ctx_.project.setup;
  const auto& light = setup.tool_settings[1];
  const auto& heat = setup.tool_settings[2];
  regulate(outputs_, temperature_, set_point_, heat[0] == 1);
  // A pulse programme replaces the daily hours (as at the start); otherwise the "on" hour
  // would light the lamp in its dark phases and after it has ended.
  if (light[0] == 1 && light[3] < 1) {
    const int hour = common::to_civil(now).hour;
    if (hour == light[1]) outputs_.light = true;
    if (hour == light[2]) outputs_.light = false;
  }
  send_outputs();

  evaluate_channels();
  if (body_bends()) {
    window_start_ += 64;
    if (window_start_ >= window_end_) window_start_ = 0;
  }
  if (const auto n = std::count(keep_.begin(), keep_.end(), false); n > 0) {
    calibration_->recalibrate(keep_);
    const std::string summary = calibration_->summary();
    log_event("Recalibrated " + std::to_string(n) + " saturated channel(s)" +
              (summary.empty() ? std::string() : ": " + summary));
  }
  view_->refresh_after_buffer();
  if (recording_) hand_to_sinks();
  ++buffers_done_;
}

void AcquisitionCycle::evaluate_channels() {
  const store::SetupValues& setup = ctx_.project.setup;
  auto& thresholds = ctx_.project.channels.threshold;
  const bool auto_cal = setup.tool_settings[0][1] == 1;
  keep_.fill(true);
  for (int c : well_channels_) {
    long amplitude = 0;
    long level = 0;
    if (tally_[c] > 0) {
      amplitude = common::round_to_int(static_cast<double>(amp_sum_[c]) / tally_[c]);
      level = common::round_to_int(static_cast<double>(level_sum_[c]) / tally_[c]);
    }
    double t = (level <= amplitude || level <= 0)
                   ? snr_ * 100
                   : (1 - static_cast<double>(level - amplitude) / level) * 100 * snr_;
    thresholds[c] = std::max(1.0, t + 1);
    if (level >= kSaturationLevel && auto_cal && recording_ && calibration_->can_lower(c))
      keep_[c] = false;
  }

  std::fill(counts_.begin(), counts_.end(), 0);
  const RawBlock block{raw_};
  detector_->detect_channels(block, well_channels_, snr_,
                             static_cast<std::int16_t>(setup.DSP_Method), well_counts_);
  const bool bends = body_bends();
  std::array<std::int16_t, kBodyBendBins> bins{};
  for (std::size_t i = 0; i < well_channels_.size(); ++i) {
    const int c = well_channels_[i];
    counts_[c] = well_counts_[i];
    if (bends) {
      detector_->body_bend_histogram(block, c, bins, thresholds[c]);
      for (int k = 0; k < kBodyBendBins; ++k) {
        std::int32_t& total = histogram_[static_cast<std::size_t>(k) * kChannelSlots + c];
        total += bins[k];
        histogram_max_[c] = std::max(histogram_max_[c], total);
      }
    }
    if (totals_[c] < kTotalsLimit) totals_[c] = static_cast<std::int16_t>(totals_[c] + counts_[c]);
  }
}

void AcquisitionCycle::hand_to_sinks() {
  counts_[kChannelCount] = temperature_tenths(temperature_);
  BufferEnd end;
  end.index = buffers_done_;
  end.minutes = minutes_;
  end.minutes_2 = minutes_2_;
  end.sample_period = sample_period_;
  end.temperature = temperature_;
  end.counts = counts_;
  end.totals = totals_;
  end.raw = raw_;
  end.buffer_length = buffer_length_;
  end.save_realtime = ctx_.project.setup.Save_real == 1;
  end.body_bends = body_bends();
  end.histogram = histogram_;

  sink_problems_.clear();
  // The activity files first; every other consumer sees the buffer whatever happened before.
  std::vector<BufferEndSink*> all;
  if (activity_) all.push_back(activity_.get());
  all.insert(all.end(), sinks_.begin(), sinks_.end());
  for (BufferEndSink* sink : all) {
    SinkResult r = sink->consume(end);
    if (!r.ok) sink_problems_.push_back(std::move(r.problem));
  }
  const bool files_ok = !activity_ || activity_->last_ok();
  if (end.body_bends && files_ok) {
    period_sum_ += sample_period_;
    ++period_records_;
  }
  note_files_written(files_ok);
  // The other consumers' failures: told once per run of failures, without waiting.
  const std::size_t others = sink_problems_.size() - (files_ok ? 0 : 1);
  if (others == 0) {
    sink_failure_told_ = false;
    return;
  }
  if (sink_failure_told_) return;
  sink_failure_told_ = true;
  std::string text = "A consumer of the recorded data failed:";
  for (std::size_t i = files_ok ? 0 : 1; i < sink_problems_.size(); ++i)
    text += " " + sink_problems_[i] + ";";
  notice(text + " the acquisition goes on", NoticeLevel::Problem);
}

std::chrono::milliseconds AcquisitionCycle::elapsed() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(ctx_.clock.steady() - start_steady_);
}

void AcquisitionCycle::update_time() {
  const std::chrono::milliseconds elapsed = this->elapsed();
  view_->set_time_text(elapsed_text(elapsed));
  minutes_ = elapsed_whole_minutes(elapsed);
  minutes_2_ = common::round_half_even(elapsed.count() / 60000.0, 2);
}

void AcquisitionCycle::paced_outputs() {
  const store::SetupValues& setup = ctx_.project.setup;
  if (setup.Aq_lapse > 0) view_->set_progress(100.0 * minutes_ / setup.Aq_lapse);
  const auto& light = setup.tool_settings[1];
  if (light[3] >= 1 && light[0] == 1) {
    const double m = std::chrono::duration<double, std::ratio<60>>(elapsed()).count();
    if (auto on = pulse_light(m, light[3], light[4] / 10.0, light[5] / 10.0)) outputs_.light = *on;
    send_outputs();
  }
  if (output_refresh_) {
    output_refresh_ = false;
    send_outputs();
  }
}

void AcquisitionCycle::send_outputs() {
  if (!ctx_.link.offline) ctx_.protocol.SetOutputs(outputs_.code());
  view_->show_outputs(outputs_.code());
}

void AcquisitionCycle::press_output(OutputButton button) {
  press(outputs_, button);
  if (timer_enabled_) {
    output_refresh_ = true;
    view_->show_outputs(outputs_.code());
  } else {
    send_outputs();
  }
}

void AcquisitionCycle::read_temperature() {
  if (ctx_.link.offline) return;
  const int raw = ctx_.protocol.ReadTemperatureRaw();
  // A failed query keeps the last temperature instead of recording a reading of -1.
  if (raw < 0) return;
  temperature_ =
      device::temperature_celsius(raw, ctx_.link.temperature_slope, ctx_.link.temperature_offset);
}

} // namespace kestrova::acquisition
