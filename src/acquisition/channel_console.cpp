#include "acquisition/channel_console.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "common/rounding.hpp"
#include "common/safe_file.hpp"
#include "store/record_file.hpp"

namespace kestrova::acquisition {

namespace {

constexpr int kChannels = store::kChannelCount;
constexpr int kCell = 100; // grid cell size in world units
constexpr double kLabelPt = 8.0;
constexpr int kFullScale = 4096;
constexpr int kMeasurePauseMs = 100;
constexpr int kMeasureRetryMs = 200;
constexpr int kMeasureTries = 3;

constexpr common::Rgb kRed{255, 0, 0};
constexpr common::Rgb kBlue{0, 0, 255};
constexpr common::Rgb kWhite{255, 255, 255};
constexpr common::Rgb kBlack{0, 0, 0};
constexpr common::Rgb kGreyAxis{128, 128, 128};

constexpr std::string_view kCommError =
    "Communication error. Check COM PORT and equipment connection.";

int write_qualifier(int channel) {
  return channel < 128 ? device::kQualifierWriteLow : device::kQualifierWriteHigh;
}
int write_address(int channel) { return channel < 128 ? channel : channel - 128; }

// The leading number of a box's text, as the operator typed it (spaces skipped).
std::optional<double> leading_number(std::string_view text) {
  const std::string s(text);
  const char* begin = s.c_str();
  while (*begin == ' ' || *begin == '\t')
    ++begin;
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(v)) return std::nullopt;
  return v;
}

} // namespace

GainPower split_setting(int setting) {
  return {setting / 32, std::min(setting % 32, kConsoleMaxLevel)};
}

std::string beam_name(int channel) {
  return std::string(1, static_cast<char>('A' + store::beam_row(channel))) +
         std::to_string(store::beam_column(channel) + 1);
}

CalibrationBand calibration_band(double target_percent) {
  return {common::round_to_int((target_percent - 5) * 20.48),
          common::round_to_int((target_percent + 5) * 20.48)};
}

SetValue set_value_from_text(std::string_view text, int max) {
  const std::optional<double> v = leading_number(text);
  if (!v) return {0, true};
  const double whole = std::trunc(*v);
  if (whole < 0 || whole > max) return {0, true};
  return {static_cast<int>(whole), false};
}

// ---------------------------------------------------------------------------------------------
// multitsk.dat

std::optional<MultitaskTable> ReadMultitask(const std::filesystem::path& file) {
  auto reader = store::RecordReader::open(file);
  if (!reader) return std::nullopt;
  MultitaskTable table;
  for (MultitaskEntry& e : table)
    if (!reader->read(e.port, e.in_use)) return std::nullopt;
  return table;
}

bool WriteMultitask(const std::filesystem::path& file, const MultitaskTable& table) {
  store::RecordWriter w;
  for (const MultitaskEntry& e : table)
    w.record({e.port, e.in_use});
  return w.save(file);
}

bool ReleaseMultitaskPort(const std::filesystem::path& folder, int port, common::Clock& clock,
                          int pause_ms) {
  const std::filesystem::path file = folder / kMultitaskFile;
  std::optional<MultitaskTable> table = ReadMultitask(file);
  if (!table) return false;
  for (MultitaskEntry& e : *table)
    if (e.port == port) e.in_use = false;
  clock.sleep_ms(pause_ms);
  return WriteMultitask(file, *table);
}

// ---------------------------------------------------------------------------------------------
// The calibration's "write, then measure" and "measure" steps: the write runs at once, the
// measurement after the pause, and a failure ends the job.

struct ChannelConsole::Measurement {
  ChannelConsole& console;
  int channel;
  bool write_first;
  bool failed = false;

  bool await_ready() {
    if (!write_first) return false;
    const int setting = console_setting(console.gain_[channel], console.power_[channel]);
    if (console.write_verified(channel, setting)) return false;
    console.last_end_ = ConsoleEnd::WriteFailed;
    failed = true;
    return true;
  }
  void await_suspend(std::coroutine_handle<common::StepJob::promise_type> h) const {
    h.promise().pause_ms = kMeasurePauseMs;
  }
  bool await_resume() {
    if (failed) return false;
    if (console.measure(channel)) return true;
    console.last_end_ = ConsoleEnd::ReadFailed;
    return false;
  }
};

// ---------------------------------------------------------------------------------------------
// ChannelConsole

ChannelConsole::ChannelConsole(ConsoleContext context)
    : ctx_(context), samples_(static_cast<std::size_t>(kChannels) * kConsoleSamples, 0),
      traces_(samples_.size(), 0) {
  gain_.fill(7);
  power_.fill(3);
}

void ChannelConsole::set_canvases(common::Canvas* grid, common::Canvas* plot,
                                  common::Canvas* dots) {
  grid_ = grid;
  plot_ = plot;
  dots_ = dots;
}

void ChannelConsole::load() {
  clear_samples();
  view_->set_online_lamp(false);
  view_->set_calibrating({}, false);
  draw_grid_frame();
  draw_plot_axis();
  if (dots_) dots_->clear(kWhite);
}

void ChannelConsole::redraw() {
  draw_grid_frame();
  draw_grey_map();
  draw_plot();
}

void ChannelConsole::clear_samples() {
  std::fill(samples_.begin(), samples_.end(), 0);
  std::fill(traces_.begin(), traces_.end(), 0);
  latest_.fill(0);
  sample_index_ = 0;
  filled_ = 0;
}

void ChannelConsole::start(ConsoleJob kind, common::StepJob job) {
  job_ = std::move(job);
  job_kind_ = kind;
  stop_requested_ = false;
}

void ChannelConsole::stop_job() {
  if (in_tick_) {
    stop_requested_ = true;
  } else {
    job_.reset();
    job_kind_ = ConsoleJob::None;
  }
}

void ChannelConsole::resume_live() {
  if (online_ && !job_.running()) start(ConsoleJob::Live, live_loop());
}

void ChannelConsole::go_online() {
  if (online_ || in_tick_) return;
  if (job_.running() && job_kind_ == ConsoleJob::Calibration) return;
  view_->set_online_lamp(true);
  draw_grid_frame();
  draw_plot_axis();
  clear_samples();
  online_ = true;
  // A write or test in progress keeps the line; the live loop follows when it ends.
  resume_live();
}

void ChannelConsole::go_offline() {
  online_ = false;
  const ConsoleJob kind = job();
  if (kind == ConsoleJob::Live || kind == ConsoleJob::GainTest || kind == ConsoleJob::Calibration) {
    if (kind != ConsoleJob::Live) last_end_ = ConsoleEnd::Stopped;
    stop_job();
  }
  if (dots_) dots_->clear(kWhite);
  dots_shown_ = false;
  view_->set_online_lamp(false);
  view_->set_calibrating({}, false);
  view_->set_online_enabled(true);
}

void ChannelConsole::tick() {
  if (!job_.running() || in_tick_) return;
  in_tick_ = true;
  job_.resume();
  in_tick_ = false;
  if (stop_requested_) {
    stop_requested_ = false;
    job_.reset();
  }
  if (job_.running()) return;
  const ConsoleJob ended = job_kind_;
  job_kind_ = ConsoleJob::None;
  // A short block ends the live loop and the gain test alike and takes the console offline.
  if (!online_) {
    view_->set_online_lamp(false);
  } else if (ended != ConsoleJob::Calibration) {
    resume_live();
  }
}

// ---------------------------------------------------------------------------------------------
// Reading

bool ChannelConsole::read_cycle(bool force) {
  const bool connected = ctx_.link.connected && !ctx_.link.offline;
  if ((online_ || force) && connected) {
    for (int b : device::kBlockStarts) {
      const device::ParsedBlock block =
          ctx_.protocol.ReadIntensityBlock(b, device::BlockRead::TwoHalves);
      if (block.received != device::kBlockBytes) {
        ctx_.dialogs.message("COM Error", common::Buttons::Ok);
        online_ = false;
        return false;
      }
      std::array<int, device::kBlockValues> values = block.values;
      for (int& v : values)
        v = std::clamp(v, 0, kFullScale - 1);
      device::distribute_block(b, values, latest_);
    }
  }
  const auto& thresholds = ctx_.project.channels.threshold;
  for (int c = 0; c < kChannels; ++c) {
    samples_[slot(c, sample_index_)] = latest_[static_cast<std::size_t>(c)];
    int recent = 0;
    for (int k = 0; k < kRecentMaximumSamples; ++k) {
      const int i = (sample_index_ - k + kConsoleSamples) % kConsoleSamples;
      recent = std::max<int>(recent, samples_[slot(c, i)]);
    }
    const double t = thresholds[static_cast<std::size_t>(c)];
    traces_[slot(c, sample_index_)] = static_cast<std::int16_t>(
        std::clamp(common::round_to_int((100 - t) * recent / 100.0), 0, kFullScale - 1));
  }
  draw_grey_map();
  draw_plot();
  filled_ = std::min(filled_ + 1, kConsoleSamples);
  sample_index_ = (sample_index_ + 1) % kConsoleSamples;
  return true;
}

bool ChannelConsole::measure(int channel) {
  const int m = channel % 128;
  const int holder = m - m % 32; // the block whose values hold this channel
  for (int b : device::kBlockStarts) {
    device::ParsedBlock block;
    int tries = 0;
    for (;;) {
      block = ctx_.protocol.ReadIntensityBlock(b, device::BlockRead::TwoHalves);
      if (block.received == device::kBlockBytes) break;
      if (++tries >= kMeasureTries) {
        ctx_.dialogs.message("Ops...Data Sending ERROR reg(" + std::to_string(b) + ")... Try again",
                             common::Buttons::Ok);
        return false;
      }
      ctx_.clock.sleep_ms(kMeasureRetryMs);
    }
    std::array<int, device::kBlockValues> values = block.values;
    for (int& v : values)
      v = std::max(v, 0);
    device::distribute_block(b, values, latest_);
    if (b == holder) measured_[static_cast<std::size_t>(channel)] = latest_[channel];
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Writing

bool ChannelConsole::write_verified(int channel, int setting) {
  if (channel < 0 || channel >= kChannels || setting < 0 || setting > 255) return false;
  const int qualifier = write_qualifier(channel);
  const int address = write_address(channel);
  auto pass = [&](int pause_ms) {
    int last = -1;
    for (int i = 0; i < 9; ++i) {
      last = ctx_.protocol.DeviceQuery(address, setting, qualifier);
      if (pause_ms > 0) ctx_.clock.sleep_ms(pause_ms);
    }
    return last == address;
  };
  if (pass(0)) return true;
  for (int round = 2; round <= 3; ++round) {
    ctx_.clock.sleep_ms(100);
    ctx_.protocol.DeviceQuery(device::kCodeTemperature, 0, 0);
    ctx_.clock.sleep_ms(100);
    if (pass(50)) return true;
  }
  ctx_.dialogs.message("Ops...Data Writing ERROR: reg(" + std::to_string(channel) +
                           ")... Check COM and Try again",
                       common::Buttons::Ok);
  return false;
}

void ChannelConsole::write_selected(int gain, int power) {
  if (!online_) return;
  const int setting = console_setting(gain, power);
  if (setting < 0 || setting > 255) return;
  for (int i = 0; i < 9; ++i) {
    const int reply =
        ctx_.protocol.DeviceQuery(write_address(selected_), setting, write_qualifier(selected_));
    view_->set_output(std::to_string(reply));
  }
}

bool ChannelConsole::start_set_all(int gain, int power) {
  if (!online_ || in_tick_) return false;
  const int setting = console_setting(gain, power);
  if (gain < 0 || gain > kConsoleMaxLevel || power < 0 || power > 31) return false;
  start(ConsoleJob::SetAll, set_all_job(setting));
  return true;
}

common::StepJob ChannelConsole::set_all_job(int setting) {
  unacknowledged_.clear();
  for (int c = 0; c < kChannels; ++c) {
    int reply = -1;
    for (int i = 0; i < 9; ++i) {
      reply = ctx_.protocol.DeviceQuery(write_address(c), setting, write_qualifier(c));
      view_->set_output(std::to_string(reply));
    }
    if (reply != write_address(c)) unacknowledged_.push_back(c);
    view_->set_progress(c, kChannels - 1);
    co_await common::StepJob::Pause{0};
  }
  view_->set_progress(-1, kChannels - 1);
  // Every reply went by in lblout; a channel that never echoed is named at the end.
  if (!unacknowledged_.empty())
    view_->set_output("No echo: " + std::to_string(unacknowledged_.size()) + " channel(s), CH" +
                      std::to_string(unacknowledged_.front()) + "...");
}

bool ChannelConsole::start_write_all(std::string& gain_text, std::string& power_text) {
  if (in_tick_ || (job_.running() && job_kind_ != ConsoleJob::Live)) return false;
  // Gain 8 would not fit the three bits of the setting byte; power keeps the wider range.
  const SetValue gain = set_value_from_text(gain_text, kConsoleMaxLevel);
  const SetValue power = set_value_from_text(power_text, kConsoleMaxLevel + 1);
  if (gain.reset) gain_text = "0";
  if (power.reset) power_text = "0";
  start(ConsoleJob::WriteAll, write_all_job(gain.value, power.value));
  return true;
}

common::StepJob ChannelConsole::write_all_job(int gain, int power) {
  const int setting = console_setting(gain, power);
  last_end_ = ConsoleEnd::None;
  for (int c = 0; c < kChannels; ++c) {
    view_->set_progress(c, kChannels - 1);
    if (!write_verified(c, setting)) {
      ctx_.dialogs.message(kCommError, common::Buttons::Ok);
      last_end_ = ConsoleEnd::WriteFailed;
      co_return;
    }
    gain_[static_cast<std::size_t>(c)] = gain;
    power_[static_cast<std::size_t>(c)] = power;
    co_await common::StepJob::Pause{0};
  }
  last_end_ = ConsoleEnd::Completed;
  keep_settings();
}

void ChannelConsole::keep_settings() {
  if (ctx_.settings == nullptr) return;
  for (int c = 0; c < kChannels; ++c) {
    ctx_.settings->pinhole[static_cast<std::size_t>(c)] =
        static_cast<std::int16_t>(power_[static_cast<std::size_t>(c)]);
    ctx_.settings->gain[static_cast<std::size_t>(c)] =
        static_cast<std::int16_t>(gain_[static_cast<std::size_t>(c)]);
  }
  const std::filesystem::path file = ctx_.project.app_folder / kCalibrationFile;
  if (!SaveChannelSettings(file, *ctx_.settings))
    ctx_.dialogs.message("Cannot write " + file.string(), common::Buttons::Ok, common::Icon::Error);
}

// ---------------------------------------------------------------------------------------------
// Automatic calibration

bool ChannelConsole::start_calibration(double target_percent, std::string_view mode) {
  if (in_tick_ || (job_.running() && job_kind_ != ConsoleJob::Live)) return false;
  go_offline();
  stop_job();
  view_->set_online_enabled(false);
  band_ = calibration_band(target_percent);
  if (mode != kModeMaxGain) {
    view_->set_calibrating({}, false);
    last_end_ = ConsoleEnd::NotMaxGain;
    return false;
  }
  last_end_ = ConsoleEnd::None;
  start(ConsoleJob::Calibration, calibration_job());
  return true;
}

common::StepJob ChannelConsole::calibration_job() {
  out_of_band_.clear();
  measured_.fill(0);
  view_->set_calibrating("starting", true);
  for (int c = 0; c < kChannels; ++c) {
    gain_[static_cast<std::size_t>(c)] = 7;
    power_[static_cast<std::size_t>(c)] = 3;
    view_->set_progress(c, kChannels - 1);
    if (!write_verified(c, console_setting(7, 3))) {
      // One message is enough: the rest would fail the same way.
      last_end_ = ConsoleEnd::WriteFailed;
      view_->set_calibrating({}, false);
      co_return;
    }
    co_await common::StepJob::Pause{0};
  }
  const int lower = band_.lower;
  const int upper = band_.upper;
  for (int c = 0; c < kChannels; ++c) {
    view_->set_calibrating("Calibrating CH" + std::to_string(c), true);
    view_->set_progress(c, kChannels - 1);
    int& gain = gain_[static_cast<std::size_t>(c)];
    int& power = power_[static_cast<std::size_t>(c)];
    const int& v = measured_[static_cast<std::size_t>(c)];
    auto measure_only = [&] { return Measurement{*this, c, false}; };
    auto write_measure = [&] { return Measurement{*this, c, true}; };
    bool ok = co_await measure_only();
    // Too dark: more power at full gain.
    while (ok && v < lower && power <= 6) {
      gain = 7;
      ++power;
      ok = co_await write_measure();
    }
    // Too bright: find the power at which the gain can bring it into the band.
    if (ok && v > upper) {
      gain = 0;
      ok = co_await write_measure();
      while (ok) {
        if (v <= upper || power <= 2) {
          gain = 7;
          ok = co_await write_measure();
          while (ok && v > upper && gain >= 1) {
            --gain;
            ok = co_await write_measure();
          }
          break;
        }
        --power;
        gain = 7;
        ok = co_await write_measure();
        if (ok && v > upper) {
          gain = 0;
          ok = co_await write_measure();
        }
      }
    }
    // Stepped down to the darkest useful setting and now too dark: try one power lower at
    // full gain, and keep whichever reads higher.
    if (ok && v < lower && gain == 0 && power == 3) {
      const int remembered = v;
      gain = 7;
      power = 2;
      ok = co_await write_measure();
      while (ok && v > upper && gain >= 1) {
        --gain;
        ok = co_await write_measure();
      }
      if (ok && v < remembered) {
        gain = 0;
        power = 3;
        ok = co_await write_measure();
      }
    }
    if (!ok) {
      view_->set_calibrating({}, false);
      co_return;
    }
    if (v < lower || v > upper) out_of_band_.push_back(c);
    draw_grey_map();
  }
  view_->set_progress(-1, kChannels - 1);
  view_->set_calibrating({}, false);
  last_end_ = ConsoleEnd::Completed;
  keep_settings();
  if (!out_of_band_.empty()) {
    std::string text =
        "Calibration done. Outside " + std::to_string(lower) + ".." + std::to_string(upper) + ":";
    for (std::size_t i = 0; i < out_of_band_.size() && i < 24; ++i) {
      const int c = out_of_band_[i];
      text += " CH" + std::to_string(c) + "[" + std::to_string(measured_[c]) + "]";
    }
    if (out_of_band_.size() > 24) text += " ...";
    ctx_.dialogs.message(text, common::Buttons::Ok, common::Icon::Warning);
  }
}

// ---------------------------------------------------------------------------------------------
// Gain test

bool ChannelConsole::start_gain_test() {
  if (in_tick_ || (job_.running() && job_kind_ != ConsoleJob::Live)) return false;
  const std::filesystem::path folder = ctx_.project.app_folder;
  std::error_code ec;
  for (std::string_view name : {kGainTestRawFile, kGainTestMeanFile, kGainTestDeviationFile})
    std::filesystem::remove(folder / name, ec);
  last_end_ = ConsoleEnd::None;
  view_->set_test_text("Gain=0;Pinhole=0");
  start(ConsoleJob::GainTest, gain_test_job());
  return true;
}

common::StepJob ChannelConsole::gain_test_job() {
  std::vector<std::array<int, kGainTestSamples>> kept(kChannels);
  for (int power = 0; power <= 7; ++power) {
    for (int gain = 0; gain <= 7; ++gain) {
      if (ctx_.protocol.SetAllChannels(gain, power) != 1) {
        ctx_.dialogs.message(kCommError, common::Buttons::Ok);
        last_end_ = ConsoleEnd::WriteFailed;
        co_return;
      }
      view_->set_test_text("Gain=" + std::to_string(gain) + ";Pinhole=" + std::to_string(power));
      co_await common::StepJob::Pause{10};
      for (int i = 0; i < 2; ++i) {
        if (!read_cycle(true)) {
          last_end_ = ConsoleEnd::ReadFailed;
          co_return;
        }
        co_await common::StepJob::Pause{0};
      }
      sample_index_ = 0;
      for (int k = 0; k < kGainTestSamples; ++k) {
        if (!read_cycle(true)) {
          last_end_ = ConsoleEnd::ReadFailed;
          co_return;
        }
        for (int c = 0; c < kChannels; ++c)
          kept[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)] = latest_[c];
        co_await common::StepJob::Pause{0};
      }
      if (!append_gain_test(power, gain, kept)) {
        last_end_ = ConsoleEnd::FileFailed;
        co_return;
      }
    }
  }
  last_end_ = ConsoleEnd::Completed;
}

bool ChannelConsole::append_gain_test(int power, int gain,
                                      const std::vector<std::array<int, kGainTestSamples>>& kept) {
  std::string raw = "p=" + std::to_string(power) + ",g=" + std::to_string(gain) + "\r\n";
  for (int k = 0; k < kGainTestSamples; ++k) {
    raw += "[" + std::to_string(k) + "]";
    for (int c = 0; c < kChannels; ++c)
      raw += " " + std::to_string(kept[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)]);
    raw += "\r\n";
  }
  const std::string tag = "[p" + std::to_string(power) + ",g" + std::to_string(gain) + "]";
  std::string mean_line = tag;
  std::string deviation_line = tag;
  for (int c = 0; c < kChannels; ++c) {
    const auto& s = kept[static_cast<std::size_t>(c)];
    double sum = 0;
    for (int x : s)
      sum += x;
    const double mean = sum / kGainTestSamples;
    double spread = 0;
    for (int x : s)
      spread += std::abs(x - mean);
    mean_line += " " + std::to_string(common::round_to_int(mean));
    deviation_line += " " + std::to_string(common::round_to_int(spread / kGainTestSamples));
  }
  const std::filesystem::path folder = ctx_.project.app_folder;
  // Each file gets its whole entry in one write, so a failure never leaves half an entry.
  auto append = [](const std::filesystem::path& file, const std::string& text) {
    return common::append_to_file(file, text);
  };
  if (append(folder / kGainTestRawFile, raw) &&
      append(folder / kGainTestMeanFile, mean_line + "\r\n") &&
      append(folder / kGainTestDeviationFile, deviation_line + "\r\n"))
    return true;
  ctx_.dialogs.message("The gain test files could not be written in " + folder.string() +
                           ". The test stops.",
                       common::Buttons::Ok, common::Icon::Error);
  return false;
}

// ---------------------------------------------------------------------------------------------
// The live loop

common::StepJob ChannelConsole::live_loop() {
  for (;;) {
    draw_dots(true);
    if (!read_cycle(false)) co_return;
    co_await common::StepJob::Pause{kConsoleTickMs};
    draw_dots(false);
    ++dot_step_;
  }
}

// ---------------------------------------------------------------------------------------------
// Selection, thresholds, enable flags

void ChannelConsole::select_channel(int channel, bool read_setting) {
  selected_ = std::clamp(channel, 0, kChannels - 1);
  view_->set_channel_status(channel_enabled());
  draw_plot();
  if (!online_ || !read_setting) return;
  draw_plot_axis();
  const int reply = ctx_.protocol.ReadRegister(write_address(selected_), selected_ < 128 ? 0 : 1);
  view_->set_output(std::to_string(reply));
  if (reply >= 0) {
    const GainPower gp = split_setting(reply);
    view_->show_setting(gp.gain, gp.power);
  }
}

std::pair<int, int> ChannelConsole::beam_at(double world_x, double world_y) {
  const int column =
      std::clamp(static_cast<int>(std::floor(world_x / kCell)), 0, store::kBeamColumns - 1);
  const int row =
      std::clamp(static_cast<int>(std::floor(world_y / kCell)), 0, store::kBeamRows - 1);
  return {column, row};
}

bool ChannelConsole::channel_enabled() const {
  return ctx_.project.channels.enabled[static_cast<std::size_t>(selected_)];
}

void ChannelConsole::toggle_enabled() {
  const bool enabled = channel_enabled();
  const std::string question =
      std::string(enabled ? "Do you like to Disable Channel " : "Do you like to Enable Channel ") +
      std::to_string(selected_) + "?";
  if (ctx_.dialogs.message(question, common::Buttons::YesNoCancel, common::Icon::Question) !=
      common::Answer::Yes)
    return;
  auto& tables = ctx_.project.channels;
  tables.enabled[static_cast<std::size_t>(selected_)] = !enabled;
  tables.status[static_cast<std::size_t>(selected_)] = enabled ? 0 : 1;
  view_->set_channel_status(!enabled);
}

void ChannelConsole::set_threshold(int value) {
  ctx_.project.channels.threshold[static_cast<std::size_t>(selected_)] = value;
}

int ChannelConsole::threshold() const {
  return common::round_to_int(ctx_.project.channels.threshold[static_cast<std::size_t>(selected_)]);
}

void ChannelConsole::zoom_in() {
  zoom_ = std::min(zoom_ + 1, kConsoleMaxZoom);
  draw_plot();
}
void ChannelConsole::zoom_out() {
  zoom_ = std::max(zoom_ - 1, 0);
  draw_plot();
}
void ChannelConsole::brighter() { brightness_ = std::min(brightness_ + 15, 255); }
void ChannelConsole::darker() { brightness_ = std::max(brightness_ - 15, 0); }
void ChannelConsole::larger_dots() { dot_size_ = std::min(dot_size_ + 1, 30); }
void ChannelConsole::smaller_dots() { dot_size_ = std::max(dot_size_ - 1, 1); }

// ---------------------------------------------------------------------------------------------
// Drawing

void ChannelConsole::draw_grid_frame() {
  if (!grid_) return;
  grid_->clear(kWhite);
  grid_->set_world(-75, -75, 2400, 1600);
  for (int c = 0; c < store::kBeamColumns; ++c)
    grid_->text(kCell * c + 25, -75, std::to_string(c + 1), kRed, kLabelPt);
  for (int r = 0; r < store::kBeamRows; ++r)
    grid_->text(-50, kCell * r, std::string(1, static_cast<char>('A' + r)), kRed, kLabelPt);
  for (int c = 0; c < store::kBeamColumns; ++c) {
    for (int r = 0; r < store::kBeamRows; ++r) {
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, kRed, false);
      grid_->circle(kCell * c + 50, kCell * r + 50, 5, kBlue);
    }
  }
}

void ChannelConsole::draw_grey_map() {
  if (!grid_) return;
  for (int c = 0; c < store::kBeamColumns; ++c) {
    for (int r = 0; r < store::kBeamRows; ++r) {
      const int v = latest_[static_cast<std::size_t>(store::channel_of_beam(c, r))];
      const auto g = static_cast<std::uint8_t>(std::clamp(v / 8, 0, 255));
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, {g, g, g}, true);
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, kRed, false);
      grid_->circle(kCell * c + 50, kCell * r + 50, 5, kBlue);
    }
  }
}

void ChannelConsole::draw_plot_axis() {
  if (!plot_) return;
  plot_->clear(kWhite);
  plot_->set_world(-40, kFullScale + 100, kConsoleSamples + 10, -420);
  plot_->line(0, 0, kConsoleSamples, 0, kBlack);
  plot_->line(0, 0, 0, kFullScale, kBlack);
  for (int v = 1024; v < kFullScale; v += 1024)
    plot_->line(0, v, kConsoleSamples, v, kGreyAxis);
  plot_->text(kConsoleSamples / 2 - 20, -80, "Time", kBlack, kLabelPt);
  plot_->text(5, kFullScale + 80, "CH" + std::to_string(selected_) + " " + beam_name(selected_),
              kBlack, kLabelPt);
}

void ChannelConsole::draw_plot() {
  if (!plot_) return;
  draw_plot_axis();
  const int c = selected_;
  const int filled = std::max(filled_, 1);
  double mean = 0;
  if (zoom_ >= 1) {
    for (int i = 0; i < filled; ++i)
      mean += samples_[slot(c, i)];
    mean /= filled;
  }
  // With zoom n the traces swing n times wider around the signal's mean, kept mid-scale.
  auto y = [&](int value) {
    if (zoom_ < 1) return static_cast<double>(value);
    return std::clamp(kFullScale / 2 + (value - mean) * zoom_, 0.0, kFullScale - 1.0);
  };
  const int newest = (sample_index_ + kConsoleSamples - 1) % kConsoleSamples;
  for (int i = 1; i < filled; ++i) {
    if (i == newest + 1) continue; // the sweep's gap between the newest and the oldest sample
    plot_->line(i - 1, y(traces_[slot(c, i - 1)]), i, y(traces_[slot(c, i)]), kBlue);
    plot_->line(i - 1, y(samples_[slot(c, i - 1)]), i, y(samples_[slot(c, i)]), kRed);
  }
}

void ChannelConsole::draw_dots(bool visible) {
  if (!dots_) return;
  if (!visible) {
    if (dots_shown_) dots_->clear(kWhite);
    dots_shown_ = false;
    return;
  }
  // One dot per beam, each stepping one unit per cycle across its cell.
  constexpr int kDotCell = 20;
  dots_->set_world(0, 0, kDotCell * store::kBeamColumns, kDotCell * store::kBeamRows);
  const auto g = static_cast<std::uint8_t>(brightness_);
  const int offset = dot_step_ % kDotCell;
  for (int c = 0; c < store::kBeamColumns; ++c)
    for (int r = 0; r < store::kBeamRows; ++r)
      dots_->circle(kDotCell * c + offset, kDotCell * r + offset, dot_size_ / 2.0, {g, g, g}, true);
  dots_shown_ = true;
}

} // namespace kestrova::acquisition
