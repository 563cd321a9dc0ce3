#pragma once

// The device self-test: with no plate in the slot, switches the beams on and off in a fixed
// sequence (all, one column at a time, one row at a time, then a low setting), reads every beam
// after each change, judges each pattern and writes a plain-text report that it finally opens.
// The window's Timer_test calls tick(); tests call it directly with a virtual clock.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/canvas.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::acquisition {

// Timer intervals: the first tick after the start, then every tick.
inline constexpr int kSelfTestFirstTickMs = 200;
inline constexpr int kSelfTestTickMs = 100;
// The test ends after the tick whose step passes this.
inline constexpr int kSelfTestLastStep = 110;
// Full scale of the judgements and the pass levels: lit from 80 % of it, dark up to 50 %.
inline constexpr int kSelfTestFullScale = 2048;
inline constexpr double kSelfTestLitLevel = 0.8 * kSelfTestFullScale;  // 1638.4
inline constexpr double kSelfTestDarkLevel = 0.5 * kSelfTestFullScale; // 1024

// Beam settings the test writes (gain, power).
struct BeamSetting {
  int gain = 0;
  int power = 0;
};
inline constexpr BeamSetting kBeamOn{7, 7};
inline constexpr BeamSetting kBeamOff{0, 0};
inline constexpr BeamSetting kBeamLow{2, 2};

// The labels of the main window the test writes, and the live display it gives back.
class SelfTestView {
public:
  virtual ~SelfTestView() = default;
  virtual void set_temperature_label(std::string_view) {}
  // The instruction banner below the left panel.
  virtual void set_banner(std::string_view, bool) {}
  // Picact cleared and set back to the live display's frame and axis.
  virtual void restore_live_display() {}
};

struct SelfTestContext {
  device::LinkState& link;
  device::SerialIo& io;
  device::DeviceProtocol& protocol;
  common::Dialogs& dialogs;
  common::Clock& clock;
  common::Shell& shell;
  std::filesystem::path report_folder;
  // The probe of the connected port: the serial number, or -1 when nothing answered.
  std::function<int()> probe;
};

// Per-channel judgement of one pattern.
struct PatternResult {
  int lit_passed = 0;
  int dark_passed = 0;
  std::string lit_failures;  // "CH<n>[<p>%], " for every lit channel below the lit level
  std::string dark_failures; // the same for every dark channel above the dark level
};

// Judges the table against a pattern: `lit(channel)` says which channels should be lit.
PatternResult judge_pattern(const std::array<std::int16_t, store::kChannelSlots>& channels,
                            const std::function<bool(int)>& lit);
// Whole percent of the full scale.
int self_test_percent(int value);

// How the last test ended (or where it stands).
enum class SelfTestEnd {
  None,         // never started, or still running
  Refused,      // an acquisition was under way
  Cancelled,    // Cancel at the start question
  Declined,     // No at "OK to proceed?"
  ComError,     // a block read came short
  WriteFailed,  // a channel setting was not acknowledged
  ReportFailed, // the report could not be written
  Completed,    // every step ran
};

class SelfTest {
public:
  explicit SelfTest(SelfTestContext context) : ctx_(std::move(context)) {}

  // Not owned; null draws nothing / writes no labels.
  void set_view(SelfTestView* view) { view_ = view ? view : &default_view_; }
  void set_canvases(common::Canvas* grid, common::Canvas* progress) {
    grid_ = grid;
    progress_ = progress;
  }

  // "Test DEVICE": refuses while an acquisition runs, asks, then draws the grid, probes the
  // serial number and creates the report. True when the timer was started.
  bool start(bool acquisition_active);
  // One Timer_test tick; nothing while the timer is off or when called from inside a tick.
  void tick();
  // Draws the whole grid again from the last scan (the picture was resized or wiped).
  void redraw();

  bool timer_enabled() const { return timer_enabled_; }
  // The interval the timer runs at now.
  int interval_ms() const { return interval_ms_; }
  int step() const { return step_; }
  int serial() const { return serial_; }
  SelfTestEnd end() const { return end_; }
  const std::filesystem::path& report_path() const { return report_path_; }
  const std::array<std::int16_t, store::kChannelSlots>& channels() const { return channels_; }

private:
  bool scan_twice(); // false on a short block
  bool scan_once();
  void draw_grid_frame();
  void draw_grid_labels();
  void draw_grid_values();
  void draw_progress();
  void run_step(int n);
  // Writes one setting to the channels; false (and the test set to end) at the first failure.
  bool write(const std::vector<int>& channels, BeamSetting s);
  bool write_one(int channel, BeamSetting s);
  bool report(const std::vector<std::string>& lines, bool create = false);
  void all_judgement(bool lit);
  void column_judgement(int column);
  void row_judgement(int row);
  void finish();
  void restore_display();
  void wait(int ms) { ctx_.clock.sleep_ms(ms); }

  SelfTestContext ctx_;
  SelfTestView default_view_;
  SelfTestView* view_ = &default_view_;
  common::Canvas* grid_ = nullptr;
  common::Canvas* progress_ = nullptr;

  bool timer_enabled_ = false;
  bool in_tick_ = false;
  bool write_failed_ = false;
  int interval_ms_ = kSelfTestFirstTickMs;
  int step_ = 0;
  int serial_ = -1;
  SelfTestEnd end_ = SelfTestEnd::None;
  std::filesystem::path report_path_;
  std::array<std::int16_t, store::kChannelSlots> channels_{};
};

} // namespace kestrova::acquisition
