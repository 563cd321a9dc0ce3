#include "acquisition/self_test.hpp"

#include <algorithm>
#include <cstdio>

#include "common/rounding.hpp"
#include "common/safe_file.hpp"

namespace kestrova::acquisition {

namespace {

constexpr common::Rgb kRed{255, 0, 0};
constexpr common::Rgb kBlue{0, 0, 255};
constexpr common::Rgb kWhite{255, 255, 255};
constexpr int kCell = 100; // grid cell size in world units
constexpr double kLabelPt = 8.0;

constexpr const char* kStartQuestion =
    "DEVICE TEST:\r\nLigth Microbeams will be adjusted to maximum and minimum.\r\n"
    "Please, remove any microplate from the slot\r\n and close Kestrova door";
constexpr const char* kBanner = "Open and close Kestrova Door to see sensing changes";

std::vector<int> column_channels(int column) {
  std::vector<int> out;
  for (int r = 0; r < store::kBeamRows; ++r)
    out.push_back(column * store::kBeamRows + r);
  return out;
}

std::vector<int> row_channels(int row) {
  std::vector<int> out;
  for (int c = 0; c < store::kBeamColumns; ++c)
    out.push_back(row + store::kBeamRows * c);
  return out;
}

std::string failure_entry(int channel, int value) {
  return "CH" + std::to_string(channel) + "[" + std::to_string(self_test_percent(value)) + "%], ";
}

std::string two_digits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

} // namespace

int self_test_percent(int value) { return value * 100 / kSelfTestFullScale; }

PatternResult judge_pattern(const std::array<std::int16_t, store::kChannelSlots>& channels,
                            const std::function<bool(int)>& lit) {
  PatternResult r;
  for (int ch = 0; ch < store::kChannelCount; ++ch) {
    const int v = channels[static_cast<std::size_t>(ch)];
    if (lit(ch)) {
      if (v >= kSelfTestLitLevel)
        ++r.lit_passed;
      else
        r.lit_failures += failure_entry(ch, v);
    } else {
      if (v <= kSelfTestDarkLevel)
        ++r.dark_passed;
      else
        r.dark_failures += failure_entry(ch, v);
    }
  }
  return r;
}

bool SelfTest::start(bool acquisition_active) {
  if (in_tick_) return false;
  if (acquisition_active) {
    ctx_.dialogs.message("Stop acquisition before Testing", common::Buttons::Ok);
    end_ = SelfTestEnd::Refused;
    return false;
  }
  if (ctx_.dialogs.message(kStartQuestion, common::Buttons::OkCancel) != common::Answer::Ok) {
    timer_enabled_ = false;
    step_ = 0;
    restore_display();
    end_ = SelfTestEnd::Cancelled;
    return false;
  }
  draw_grid_frame();
  timer_enabled_ = true;
  interval_ms_ = kSelfTestFirstTickMs;
  step_ = 0;
  write_failed_ = false;
  end_ = SelfTestEnd::None;
  view_->set_banner(kBanner, true);
  serial_ = ctx_.probe ? ctx_.probe() : -1;
  view_->set_temperature_label("SN" + std::to_string(serial_));
  report_path_ = ctx_.report_folder / ("testdev" + std::to_string(serial_) + ".txt");
  const common::CivilTime t = common::to_civil(ctx_.clock.now());
  const std::string stamp = std::to_string(t.year) + "-" + two_digits(t.month) + "-" +
                            two_digits(t.day) + "_" + two_digits(t.hour) + ":" +
                            two_digits(t.minute);
  if (!report({"Serial:SN" + std::to_string(serial_) + " " + stamp}, true)) {
    finish();
    return false;
  }
  return true;
}

void SelfTest::tick() {
  if (!timer_enabled_ || in_tick_) return;
  in_tick_ = true;
  interval_ms_ = kSelfTestTickMs;
  if (step_ <= 120) {
    if (!scan_twice()) {
      ctx_.dialogs.message("COM Error", common::Buttons::Ok);
      timer_enabled_ = false;
      end_ = SelfTestEnd::ComError;
      in_tick_ = false;
      return;
    }
    // The whole picture, not only the cells: the window may have wiped or resized it since.
    redraw();
    draw_progress();
    run_step(step_);
    ++step_;
  }
  if (step_ > kSelfTestLastStep) finish();
  in_tick_ = false;
}

bool SelfTest::scan_once() {
  for (int k : device::kBlockStarts) {
    const device::ParsedBlock block = ctx_.protocol.ReadIntensityBlock(k, device::BlockRead::Whole);
    if (block.received != device::kBlockBytes) return false;
    std::array<int, device::kBlockValues> values = block.values;
    for (int& v : values)
      v = std::max(v, 0);
    device::distribute_block(k, values, channels_);
  }
  return true;
}

bool SelfTest::scan_twice() {
  if (ctx_.link.offline) return true; // nothing to read: the table keeps its values
  if (!scan_once()) return false;
  wait(100);
  return scan_once();
}

void SelfTest::draw_grid_labels() {
  for (int c = 0; c < store::kBeamColumns; ++c)
    grid_->text(kCell * c + 25, -75, std::to_string(c + 1), kRed, kLabelPt);
  for (int r = 0; r < store::kBeamRows; ++r)
    grid_->text(-50, kCell * r, std::string(1, static_cast<char>('A' + r)), kRed, kLabelPt);
}

void SelfTest::draw_grid_frame() {
  if (!grid_) return;
  grid_->clear(kWhite);
  grid_->set_world(-75, -75, 2400, 1600);
  draw_grid_labels();
  for (int c = 0; c < store::kBeamColumns; ++c) {
    for (int r = 0; r < store::kBeamRows; ++r) {
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, kRed, false);
      grid_->circle(kCell * c + 50, kCell * r + 50, 5, kBlue);
    }
  }
}

void SelfTest::redraw() {
  draw_grid_frame();
  draw_grid_values();
}

void SelfTest::draw_grid_values() {
  if (!grid_) return;
  for (int c = 0; c < store::kBeamColumns; ++c) {
    for (int r = 0; r < store::kBeamRows; ++r) {
      const int v = channels_[static_cast<std::size_t>(c * store::kBeamRows + r)];
      const auto g = static_cast<std::uint8_t>(std::clamp(common::round_to_int(v / 8.0), 0, 255));
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, {g, g, g}, true);
      grid_->box(kCell * c, kCell * r, kCell * c + kCell, kCell * r + kCell, kRed, false);
      grid_->circle(kCell * c + 50, kCell * r + 50, 5, kBlue);
    }
  }
}

void SelfTest::draw_progress() {
  if (!progress_) return;
  progress_->set_world(0, 0, 100, 100);
  progress_->box(0, 0, 0.83 * step_, 100, kBlue, true);
}

bool SelfTest::write_one(int channel, BeamSetting s) {
  if (write_failed_) return false;
  if (ctx_.protocol.WriteChannelSetting(channel, s.power, s.gain) == 1) return true;
  // The protocol has shown its message; the test ends with this tick.
  write_failed_ = true;
  timer_enabled_ = false;
  end_ = SelfTestEnd::WriteFailed;
  step_ = 121;
  return false;
}

bool SelfTest::write(const std::vector<int>& channels, BeamSetting s) {
  for (int ch : channels)
    if (!write_one(ch, s)) return false;
  return true;
}

bool SelfTest::report(const std::vector<std::string>& lines, bool create) {
  if (write_failed_) return false;
  std::string entry;
  for (const std::string& l : lines)
    entry += l + "\r\n";
  if (create ? common::write_file_atomically(report_path_, entry)
             : common::append_to_file(report_path_, entry))
    return true;
  ctx_.dialogs.message("The test report could not be written to " + report_path_.string() +
                           ". The test stops.",
                       common::Buttons::Ok, common::Icon::Error);
  write_failed_ = true;
  timer_enabled_ = false;
  end_ = SelfTestEnd::ReportFailed;
  step_ = 121;
  return false;
}

void SelfTest::all_judgement(bool lit) {
  const PatternResult r = judge_pattern(channels_, [lit](int) { return lit; });
  const int passed = lit ? r.lit_passed : r.dark_passed;
  const bool pass = passed == store::kChannelCount;
  const std::string tag = lit ? "100%" : "0%";
  const std::string count_text =
      lit ? "Number of Channels > 80% = " : "Number of Channels < 20% = ";
  std::vector<std::string> lines{""};
  if (pass) {
    lines.push_back("Test_all_" + tag + ": OK PASS!");
    lines.push_back(count_text + std::to_string(store::kChannelCount));
  } else {
    lines.push_back("Test_all_" + tag + ":  NEEDS REVISION!");
    lines.push_back(count_text + std::to_string(passed));
    lines.push_back(
        (lit ? "Channels < 80%: " + r.lit_failures : "Channels > 20%: " + r.dark_failures));
  }
  view_->set_temperature_label(pass ? "[Test" + tag + "=PASS!]" : "[Test" + tag + "= CHECK!]");
  report(lines);
}

namespace {

// "Col[3]" / "Row[C]" verdicts of a one-line pattern.
std::string line_verdict(const std::string& name, const PatternResult& r, int lit, int dark,
                         std::string& label) {
  if (r.lit_passed == lit && r.dark_passed == dark) {
    label = name + "]: PASS!";
    return label;
  }
  label = name + "]: CHECK!";
  // The two halves of the line are a tab apart, so the dark count stays readable.
  return name + "]: NONPASS " + std::to_string(r.lit_passed) +
         "\tCH > 80% (NONOK:" + r.lit_failures + "); " + std::to_string(r.dark_passed) +
         "CH < 20% (NONOK:" + r.dark_failures + ")";
}

} // namespace

void SelfTest::column_judgement(int column) {
  const PatternResult r =
      judge_pattern(channels_, [column](int ch) { return store::beam_column(ch) == column; });
  std::string label;
  const std::string line = line_verdict("Col[" + std::to_string(column + 1), r, store::kBeamRows,
                                        store::kChannelCount - store::kBeamRows, label);
  view_->set_temperature_label(label);
  report({line});
}

void SelfTest::row_judgement(int row) {
  const PatternResult r =
      judge_pattern(channels_, [row](int ch) { return store::beam_row(ch) == row; });
  std::string label;
  const std::string line =
      line_verdict("Row[" + std::string(1, static_cast<char>('A' + row)), r, store::kBeamColumns,
                   store::kChannelCount - store::kBeamColumns, label);
  view_->set_temperature_label(label);
  report({line});
}

void SelfTest::run_step(int n) {
  if (n == 1 || n == 2) {
    ctx_.dialogs.message(n == 1 ? "Turning ON A1-D1" : "Turning OFF A1-D1", common::Buttons::Ok);
    write({0, 1, 2, 3}, n == 1 ? kBeamOn : kBeamOff);
  } else if (n == 3) {
    if (ctx_.dialogs.message("OK to proceed?", common::Buttons::YesNo) == common::Answer::No) {
      timer_enabled_ = false;
      end_ = SelfTestEnd::Declined;
    }
  } else if (n >= 4 && n <= 19) {
    view_->set_temperature_label("[ON ALL]");
    if (write(row_channels(n - 4), kBeamOn)) wait(100);
  } else if (n == 20) {
    all_judgement(true);
    wait(500);
  } else if (n >= 21 && n <= 36) {
    view_->set_temperature_label("[OFF ALL]");
    if (write(row_channels(n - 21), kBeamOff)) wait(100);
  } else if (n == 37) {
    all_judgement(false);
    wait(500);
  } else if (n == 38) {
    view_->set_temperature_label("[1 COLUMN]");
    if (report({"", "Test_24_Columns:"}) && write(column_channels(0), kBeamOn)) wait(100);
  } else if (n >= 39 && n <= 62) {
    view_->set_temperature_label("[1 COLUMN]");
    const int p = n - 39;
    column_judgement(p);
    if (write(column_channels(p), kBeamOff) && (p == 23 || write(column_channels(p + 1), kBeamOn)))
      wait(p == 23 ? 500 : 100);
  } else if (n == 63) {
    view_->set_temperature_label("[1 ROW]");
    if (report({"", "Test_16_Rows:"}) && write(row_channels(0), kBeamOn)) wait(100);
  } else if (n >= 64 && n <= 79) {
    const int p = n - 64;
    if (p < 15) view_->set_temperature_label("[1 ROW]");
    row_judgement(p);
    if (write(row_channels(p), kBeamOff) && p < 15 && write(row_channels(p + 1), kBeamOn))
      wait(100);
  } else if (n >= 80 && n <= 95) {
    view_->set_temperature_label("[GAIN/POWER=2]");
    for (int c = 0; c < 12; ++c) {
      if (!write_one(n - 80 + 16 * c, kBeamLow) || !write_one(463 - n - 16 * c, kBeamLow)) break;
    }
  } else if (n == 96) {
    std::vector<std::string> lines{"", "Gain/Power[2] Values:"};
    for (int k = 0; k < store::kChannelCount; ++k)
      lines.push_back("CH[" + std::to_string(k) + "] " +
                      std::to_string(self_test_percent(channels_[static_cast<std::size_t>(k)])) +
                      "%");
    report(lines);
  } else if (n == 100) {
    if (!ctx_.shell.open(report_path_))
      ctx_.dialogs.message("The test report is in " + report_path_.string(), common::Buttons::Ok,
                           common::Icon::Information);
  }
}

void SelfTest::finish() {
  view_->set_temperature_label("T = __ °C");
  timer_enabled_ = false;
  view_->set_banner({}, false);
  restore_display();
  if (end_ == SelfTestEnd::None) end_ = SelfTestEnd::Completed;
}

void SelfTest::restore_display() {
  view_->set_banner({}, false);
  view_->restore_live_display();
}

} // namespace kestrova::acquisition
