#include "acquisition/calibration.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "store/record_file.hpp"

namespace kestrova::acquisition {

namespace {

constexpr int kChannels = store::kChannelCount;
constexpr int kScanPauseMs = 50;
constexpr std::string_view kCommError =
    "Communication error. Check COM PORT and equipment connection.";

// Leading integer of a field as the reading rules take it (spaces skipped, 0 when none).
int leading_integer(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  const std::string rest(text.substr(i));
  char* end = nullptr;
  const double v = std::strtod(rest.c_str(), &end);
  if (end == rest.c_str() || !std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(common::round_half_even(v), -32768.0, 32767.0));
}

} // namespace

void ParseChannelSettings(std::string_view text, ChannelSettings& settings) {
  std::size_t pos = 0;
  bool header = true;
  int channel = 0;
  while (pos < text.size() && channel < store::kChannelSlots) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header) {
      header = false;
      continue;
    }
    if (line.empty()) continue;
    std::erase(line, '"');
    const std::size_t first = line.find(',');
    const std::size_t second = first == std::string::npos ? first : line.find(',', first + 1);
    std::string_view view(line);
    const std::string_view p = first == std::string::npos ? std::string_view{}
                               : second == std::string::npos
                                   ? view.substr(first + 1)
                                   : view.substr(first + 1, second - first - 1);
    const std::string_view g =
        second == std::string::npos ? std::string_view{} : view.substr(second + 1);
    settings.pinhole[channel] = static_cast<std::int16_t>(leading_integer(p));
    settings.gain[channel] = static_cast<std::int16_t>(leading_integer(g));
    ++channel;
  }
}

std::string FormatChannelSettings(const ChannelSettings& settings) {
  store::RecordWriter w;
  w.record({std::string(kCalibrationHeader)});
  for (int c = 0; c < kChannels; ++c)
    w.line(std::to_string(c) + "," + std::to_string(settings.pinhole[c]) + "," +
           std::to_string(settings.gain[c]));
  return w.text();
}

bool LoadChannelSettings(const std::filesystem::path& file, ChannelSettings& settings) {
  const auto text = store::read_text_file(file);
  if (!text) return false;
  ParseChannelSettings(*text, settings);
  return true;
}

bool SaveChannelSettings(const std::filesystem::path& file, const ChannelSettings& settings) {
  return store::save_file_atomically(file, FormatChannelSettings(settings));
}

bool ApplyStepRule(int v, std::int16_t& pinhole, std::int16_t& gain, StepState& state) {
  const int d = state.direction;
  if (v >= kBandLow && v <= kBandHigh) {
    state.finished = true;
    state.direction = 0;
    return false;
  }
  if (v < kBandLow && d != -1) {
    if (gain >= kBrightest) {
      if (pinhole >= kBrightest) {
        state.finished = true;
        state.direction = 0;
      } else {
        gain = 0;
        ++pinhole;
        state.direction = +1;
      }
    } else {
      ++gain;
      state.direction = +1;
    }
  } else if (v > kBandHigh && d != +1) {
    if (gain <= 0) {
      if (pinhole <= kDarkestPinHole) {
        state.finished = true;
        state.direction = 0;
      } else {
        gain = kBrightest;
        --pinhole;
        state.direction = -1;
      }
    } else {
      --gain;
      state.direction = -1;
    }
  } else if (v < kBandLow) { // after a step down: stop just below the band
    state.direction = 0;
    state.finished = true;
  } else { // above the band after a step up: written unchanged, steps down next time
    state.direction = 0;
  }
  return !state.finished;
}

// ---------------------------------------------------------------------------------------------
// SNR and service rules

const std::vector<std::string>& OrganismNames() {
  static const std::vector<std::string> names{"C elegans(>L4)", "Zebrafish(Larvae)", "Echinococcus",
                                              "Drosophila"};
  return names;
}

std::optional<double> ParseSnrText(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), ',', '.');
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const auto last = s.find_last_not_of(" \t");
  s = s.substr(first, last - first + 1);
  if (!s.empty() && s.front() == '+') s.erase(0, 1);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

void ApplyOrganism(int organism, SnrControls& c) {
  switch (organism) {
  case 0:
  case 1:
    c.box_text = organism == 0 ? "1.8" : "2.1";
    c.snr = organism == 0 ? 1.8 : 2.1;
    c.caption = ">>>>";
    c.box_visible = false;
    break;
  case 2:
    c.snr = ParseSnrText(c.box_text).value_or(0);
    c.caption = "> Zero SNR:";
    c.box_visible = true;
    break;
  default:
    break;
  }
  if (c.snr <= 1.4) {
    c.snr = 1.8;
    c.box_text = "1.8";
  }
}

void ToggleSnrBox(SnrControls& c) {
  c.box_visible = !c.box_visible;
  c.caption = c.box_visible ? "> Zero SNR:" : ">>>>";
}

SnrBoxResult SnrBoxLeft(SnrControls& c) {
  SnrBoxResult r;
  const auto v = ParseSnrText(c.box_text);
  if (v && *v > 1 && *v <= 5) {
    r.snr_x10 = common::round_to_int(*v * 10);
    c.box_text = common::format_display(*v, "0.0");
  } else {
    r.message = std::string(kInvalidSnrMessage);
    r.snr_x10 = 18;
    c.box_text = "1.8";
  }
  return r;
}

bool TechnicalPasswordAccepted(std::string_view answer) { return answer == "Servo4821"; }

// ---------------------------------------------------------------------------------------------
// Calibrator

Calibrator::Calibrator(CalibrationContext context) : ctx_(std::move(context)) {}

std::filesystem::path Calibrator::file() const {
  return ctx_.project.app_folder / kCalibrationFile;
}

bool Calibrator::in_well(int channel) const {
  return ctx_.project.plate.map.well_of_channel[channel] >= 0;
}

void Calibrator::prepare_channels(std::array<StepState, store::kChannelSlots>& states) {
  for (int c = 0; c < kChannels; ++c) {
    states[c] = {};
    if (!in_well(c)) {
      settings_.pinhole[c] = 0;
      settings_.gain[c] = 0;
      states[c].finished = true;
    } else if (settings_.pinhole[c] == 0 && settings_.gain[c] == 0) {
      settings_.pinhole[c] = kDefaultPinHole;
    }
  }
}

void Calibrator::discarding_scan(device::BlockRead how) {
  for (int k : device::kBlockStarts)
    (void)ctx_.protocol.ReadIntensityBlock(k, how);
  ctx_.clock.sleep_ms(kScanPauseMs);
}

void Calibrator::scan(std::span<std::int16_t> values, device::BlockRead how) {
  for (int k : device::kBlockStarts) {
    const device::ParsedBlock block = ctx_.protocol.ReadIntensityBlock(k, how);
    if (block.received != device::kBlockBytes) continue;
    device::distribute_block(k, block.values, values);
  }
}

void Calibrator::show_iteration(int previous_writes) {
  view_->set_autochannel("Calibrating... [" + std::to_string(previous_writes) + "]");
  view_->set_progress(kChannels - 1 - previous_writes, kChannels - 1);
}

void Calibrator::note_limits(const std::array<StepState, store::kChannelSlots>& states,
                             std::span<const std::int16_t> values, std::span<const bool> adjusted) {
  out_of_reach_.clear();
  for (int c = 0; c < kChannels; ++c) {
    if (!adjusted[c]) continue;
    if (!states[c].finished) continue;
    const int v = values[c];
    const bool brightest = settings_.pinhole[c] >= kBrightest && settings_.gain[c] >= kBrightest;
    const bool darkest = settings_.pinhole[c] <= kDarkestPinHole && settings_.gain[c] <= 0;
    if ((v < kBandLow && brightest) || (v > kBandHigh && darkest)) out_of_reach_.push_back(c);
  }
}

CalibrationOutcome Calibrator::FastCalibrate() {
  if (ctx_.link.offline) {
    ctx_.dialogs.message("Operation not possible in OFFLINE mode");
    return CalibrationOutcome::Offline;
  }
  std::array<StepState, store::kChannelSlots> states{};
  if (std::filesystem::exists(file())) {
    view_->set_autochannel("Writing Calibration...");
    settings_ = ChannelSettings{};
    LoadChannelSettings(file(), settings_);
  } else {
    view_->set_autochannel("Writing First Time Calibration...");
    settings_ = ChannelSettings{};
    SaveChannelSettings(file(), settings_);
  }
  loaded_ = true;
  prepare_channels(states);
  view_->set_progress(-1, kChannels - 1);

  // Write pass: every channel gets its setting, finished or not.
  for (int c = 0; c < kChannels && ctx_.acquisition_active(); ++c) {
    view_->set_autochannel("Writing calibration..." + std::to_string(c));
    view_->set_progress(c, kChannels - 1);
    // Nine acknowledged frames per channel: events run after each, so the window stays live.
    ctx_.pump.process_events();
    if (ctx_.protocol.WriteChannelSetting(c, settings_.pinhole[c], settings_.gain[c]) != 1) {
      view_->set_autochannel(kCommError);
      ctx_.dialogs.message(std::string(kCommError));
      return CalibrationOutcome::WriteFailed;
    }
  }

  // The fresh values start where a new acquisition's raw buffer does: at 0.
  std::array<std::int16_t, store::kChannelSlots> values{};
  std::array<bool, store::kChannelSlots> adjusted{};
  for (int c = 0; c < kChannels; ++c)
    adjusted[c] = !states[c].finished;
  int writes = kChannels - 1;
  bool out_of_band = true;
  iterations_ = 0;
  while (out_of_band && ctx_.acquisition_active()) {
    ++iterations_;
    view_->set_autochannel("Acquiring...");
    discarding_scan(device::BlockRead::TwoHalves);
    scan(values, device::BlockRead::TwoHalves);
    show_iteration(writes);
    writes = 0;
    out_of_band = false;
    for (int c = 0; c < kChannels; ++c) {
      if (states[c].finished) continue;
      const bool write = ApplyStepRule(std::max<int>(values[c], 0), settings_.pinhole[c],
                                       settings_.gain[c], states[c]);
      if (!write) continue;
      out_of_band = true;
      ++writes;
      if (ctx_.protocol.WriteChannelSetting(c, settings_.pinhole[c], settings_.gain[c]) != 1) {
        ctx_.stop_acquisition();
        ctx_.pump.process_events();
        note_limits(states, values, adjusted);
        return CalibrationOutcome::Stopped;
      }
    }
    ctx_.pump.process_events();
  }
  note_limits(states, values, adjusted);
  view_->set_autochannel("Calibration OK");
  if (!SaveChannelSettings(file(), settings_)) {
    ctx_.dialogs.message("Cannot write " + file().string(), common::Buttons::Ok,
                         common::Icon::Error);
    return CalibrationOutcome::SaveFailed;
  }
  return CalibrationOutcome::Done;
}

CalibrationOutcome Calibrator::RecalibrateChannels(std::span<const bool> keep) {
  if (!loaded_) {
    // The table follows the file when no fast calibration has loaded it in this run.
    LoadChannelSettings(file(), settings_);
    loaded_ = true;
  }
  std::array<StepState, store::kChannelSlots> states{};
  std::array<bool, store::kChannelSlots> flag{};
  std::array<bool, store::kChannelSlots> adjusted{};
  for (int c = 0; c < kChannels; ++c)
    flag[c] = c < static_cast<int>(keep.size()) ? keep[c] : true;
  prepare_channels(states);
  for (int c = 0; c < kChannels; ++c) {
    if (!in_well(c)) flag[c] = true;
    states[c].finished = flag[c];
    adjusted[c] = !flag[c];
  }
  view_->set_autotext("<AUTOCALIBRATION>");
  view_->set_autochannel("Auto-Adjustment...");
  view_->set_progress(-1, kChannels - 1);

  std::array<std::int16_t, store::kChannelSlots> values{};
  int writes = kChannels - 1;
  bool out_of_band = true;
  iterations_ = 0;
  while (out_of_band && ctx_.acquisition_active()) {
    ++iterations_;
    discarding_scan(device::BlockRead::Whole);
    if (!ctx_.link.offline) scan(values, device::BlockRead::Whole);
    show_iteration(writes);
    writes = 0;
    out_of_band = false;
    for (int c = 0; c < kChannels; ++c) {
      if (states[c].finished) continue;
      if (!ApplyStepRule(std::max<int>(values[c], 0), settings_.pinhole[c], settings_.gain[c],
                         states[c]))
        continue;
      out_of_band = true;
      ++writes;
      if (ctx_.protocol.WriteChannelSetting(c, settings_.pinhole[c], settings_.gain[c]) != 1) {
        view_->set_autotext("");
        note_limits(states, values, adjusted);
        return CalibrationOutcome::WriteFailed;
      }
    }
    ctx_.pump.process_events();
  }
  note_limits(states, values, adjusted);
  view_->set_autochannel("Calibration OK");
  const bool saved = SaveChannelSettings(file(), settings_);
  view_->set_autotext("");
  return saved ? CalibrationOutcome::Done : CalibrationOutcome::SaveFailed;
}

int Calibrator::AutoZeroLength() const {
  const auto& tool = ctx_.project.setup.tool_settings[0];
  return tool[1] == 1 && tool[2] == 1 ? 30 : 100;
}

bool Calibrator::AutoZero(double snr) {
  view_->set_autochannel("AutoZero Calculation .... <000>");
  view_->set_progress(-1, 1);
  view_->enable_station_1();
  const int n = AutoZeroLength();
  const bool online = !ctx_.link.offline;
  if (online) discarding_scan(device::BlockRead::TwoHalves);

  std::vector<std::int16_t> raw(static_cast<std::size_t>(n) * store::kChannelSlots, 0);
  auto at = [&](int i, int c) -> std::int16_t& {
    return raw[static_cast<std::size_t>(i) * store::kChannelSlots + c];
  };
  for (int i = 0; i < n; ++i) {
    if (online) {
      for (int k : device::kBlockStarts) {
        const device::ParsedBlock block =
            ctx_.protocol.ReadIntensityBlock(k, device::BlockRead::Whole);
        if (block.received != device::kBlockBytes) continue;
        device::distribute_block(
            k, block.values,
            std::span<std::int16_t>(&at(i, 0), static_cast<std::size_t>(store::kChannelSlots)));
      }
    }
    view_->set_autochannel("AutoZero... <" + std::to_string(i) + ">");
    view_->set_progress(i, n);
    if (i % 10 == 0) {
      ctx_.pump.process_events();
      if (!ctx_.acquisition_active()) return false;
    }
  }

  auto& thresholds = ctx_.project.channels.threshold;
  for (int c = 0; c < kChannels; ++c) {
    int upper = at(10, c);
    int lower = upper;
    long amplitude_sum = 0;
    long level_sum = 0;
    int tally = 0;
    for (int j = 11; j <= n - 2; ++j) {
      const int v = at(j, c);
      if (v < at(j - 1, c) && v < at(j + 1, c)) lower = v;
      if (v > at(j - 1, c) && v > at(j + 1, c)) upper = v;
      amplitude_sum += upper - lower;
      level_sum += v;
      ++tally;
    }
    long amplitude = 0;
    long level = 0;
    if (tally > 0) {
      amplitude = common::round_to_int(static_cast<double>(amplitude_sum) / tally);
      level = common::round_to_int(static_cast<double>(level_sum) / tally);
    }
    double t = level <= 0 ? 0 : (1 - static_cast<double>(level - amplitude) / level) * 100 * snr;
    thresholds[c] = std::max(1.0, t + 1);
  }
  return true;
}

void Calibrator::summarise(CalibrationOutcome outcome) {
  switch (outcome) {
  case CalibrationOutcome::Done:
    summary_ = std::to_string(iterations_) + " iteration(s)";
    break;
  case CalibrationOutcome::SaveFailed:
    summary_ = std::to_string(iterations_) + " iteration(s), " + file().string() + " not written";
    break;
  case CalibrationOutcome::Offline:
    summary_ = "offline";
    return;
  case CalibrationOutcome::WriteFailed:
  case CalibrationOutcome::Stopped:
    summary_ = "a channel setting could not be written to the instrument";
    return;
  }
  if (out_of_reach_.empty()) return;
  summary_ += ", " + std::to_string(out_of_reach_.size()) + " channel(s) out of reach:";
  constexpr std::size_t kListed = 12;
  for (std::size_t i = 0; i < out_of_reach_.size() && i < kListed; ++i)
    summary_ += " " + std::to_string(out_of_reach_[i]);
  if (out_of_reach_.size() > kListed) summary_ += " ...";
}

bool Calibrator::fast_calibrate(double /*snr*/) {
  // A failed first pass is told and the acquisition goes on; a failure while adjusting stops it.
  const CalibrationOutcome outcome = FastCalibrate();
  summarise(outcome);
  return outcome != CalibrationOutcome::Stopped;
}

bool Calibrator::auto_zero(double snr) {
  if (!AutoZero(snr)) {
    summary_ = "interrupted";
    return true;
  }
  double low = 0;
  double high = 0;
  bool any = false;
  for (int c = 0; c < kChannels; ++c) {
    if (!in_well(c)) continue;
    const double t = ctx_.project.channels.threshold[c];
    low = any ? std::min(low, t) : t;
    high = any ? std::max(high, t) : t;
    any = true;
  }
  summary_ = any ? "thresholds " + common::format_display(low, "0.0", '.') + " to " +
                       common::format_display(high, "0.0", '.') + " %"
                 : "no channel in a well";
  return true;
}

bool Calibrator::can_lower(int channel) {
  if (channel < 0 || channel >= kChannels) return false;
  return settings_.gain[channel] != 0 || settings_.pinhole[channel] > kDarkestPinHole;
}

void Calibrator::recalibrate(std::span<const bool> keep) { summarise(RecalibrateChannels(keep)); }

} // namespace kestrova::acquisition
