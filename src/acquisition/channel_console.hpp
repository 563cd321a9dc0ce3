#pragma once

// The channel calibration console: the live signal of every beam as a grey map and of one
// channel over time, power and gain writes for one channel or all, enabling and thresholds,
// the automatic per-channel calibration towards a target band and the gain/power response test.
// Every long operation is a step job driven by the window's timer: tick() runs the current job
// to its next pause and interval_ms() is the pause it asked for, so the window stays live and
// OFFLINE stops the job between two steps. Tests drive tick() with a virtual clock.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/calibration.hpp"
#include "common/canvas.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/step_job.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "store/channel_grid.hpp"
#include "store/project_state.hpp"

namespace kestrova::acquisition {

inline constexpr int kConsoleSamples = 600;
// Pace of the live loop: one read cycle per tick.
inline constexpr int kConsoleTickMs = 50;
inline constexpr int kConsoleMaxZoom = 10;
// Samples the detection trace takes its recent maximum over.
inline constexpr int kRecentMaximumSamples = 20;
// Shown and accepted range of power and gain.
inline constexpr int kConsoleMaxLevel = 7;
// Gain test: samples kept per setting, and the files it appends to.
inline constexpr int kGainTestSamples = 21;
inline constexpr std::string_view kGainTestRawFile = "test_bk.txt";
inline constexpr std::string_view kGainTestMeanFile = "test_mean.txt";
inline constexpr std::string_view kGainTestDeviationFile = "test_desv.txt";
inline constexpr std::string_view kMultitaskFile = "multitsk.dat";
inline constexpr int kMultitaskPorts = 15;

inline constexpr std::string_view kModeMaxGain = "Max.Gain";
inline constexpr std::string_view kModeMaxPower = "Max.Power";

// The setting byte of a channel and its two fields as the console shows them.
constexpr int console_setting(int gain, int power) { return gain * 32 + power; }
struct GainPower {
  int gain = 0;
  int power = 0; // capped at 7 for display
  friend bool operator==(const GainPower&, const GainPower&) = default;
};
GainPower split_setting(int setting);

// Channel of a grid position: row letter index 0..15 (A..P), column 1..24.
constexpr int console_channel(int row, int column) { return (column - 1) * store::kBeamRows + row; }
// "C2" for channel 18.
std::string beam_name(int channel);

// Lower and upper signal limits of the automatic calibration for a target in percent.
struct CalibrationBand {
  int lower = 0;
  int upper = 0;
};
CalibrationBand calibration_band(double target_percent);

// The value SET writes for a box's text: its whole part, or 0 when that is outside 0..max or
// the text holds no number (`reset` then tells the box to show "0").
struct SetValue {
  int value = 0;
  bool reset = false;
};
SetValue set_value_from_text(std::string_view text, int max);

// multitsk.dat: 15 records of a serial port number and its in-use flag, kept in file order.
struct MultitaskEntry {
  int port = 0;
  bool in_use = false;
  friend bool operator==(const MultitaskEntry&, const MultitaskEntry&) = default;
};
using MultitaskTable = std::array<MultitaskEntry, kMultitaskPorts>;
std::optional<MultitaskTable> ReadMultitask(const std::filesystem::path& file);
bool WriteMultitask(const std::filesystem::path& file, const MultitaskTable& table);
// Exit: marks `port` free in the folder's multitsk.dat, `pause_ms` between reading and
// writing. False (file untouched) when the file cannot be read whole or written.
bool ReleaseMultitaskPort(const std::filesystem::path& folder, int port, common::Clock& clock,
                          int pause_ms = 50);

// The console window's controls that the engine writes.
class ConsoleView {
public:
  virtual ~ConsoleView() = default;
  virtual void set_output(std::string_view) {}               // lblout
  virtual void set_calibrating(std::string_view, bool) {}    // lblcalibrando, text and shown
  virtual void set_online_enabled(bool) {}                   // Cmd_online
  virtual void set_online_lamp(bool) {}                      // shapeonline / shapeoffline
  virtual void set_test_text(std::string_view) {}            // txt_test
  virtual void show_setting(int /*gain*/, int /*power*/) {}  // scroll/txt gain and power
  virtual void set_progress(int /*value*/, int /*scale*/) {} // picturecal; value < 0 clears
  virtual void set_channel_status(bool /*enabled*/) {}       // lblstatus
};

struct ConsoleContext {
  store::ProjectState& project; // thresholds, enable flags, Cal_value, the application folder
  device::LinkState& link;
  device::DeviceProtocol& protocol;
  common::Dialogs& dialogs;
  common::Clock& clock;
  // The program's channel setting table: a completed calibration or SET is kept in it and in
  // calvalue.dat, so the acquisition's calibration starts from there. Null keeps nothing.
  ChannelSettings* settings = nullptr;
};

// What the console's timer is running.
enum class ConsoleJob { None, Live, Calibration, SetAll, WriteAll, GainTest };

// How the last calibration, SET or gain test ended.
enum class ConsoleEnd {
  None,
  Completed,
  Stopped,     // OFFLINE
  NotMaxGain,  // the calibration mode is not "Max.Gain": nothing was done
  Offline,     // no instrument
  WriteFailed, // a setting could not be written
  ReadFailed,  // block requests failed three times (calibration) / a short block (gain test)
  FileFailed,  // a gain test file could not be written
};

class ChannelConsole {
public:
  explicit ChannelConsole(ConsoleContext context);
  ChannelConsole(const ChannelConsole&) = delete;
  ChannelConsole& operator=(const ChannelConsole&) = delete;

  // Not owned; null draws nothing / writes no controls.
  void set_view(ConsoleView* view) { view_ = view ? view : &default_view_; }
  // Picwell (grid and grey map), Picreal (time plot), Picwell_out (the moving dots).
  void set_canvases(common::Canvas* grid, common::Canvas* plot, common::Canvas* dots);

  // Window load: clears the samples, draws the grid and the plot axis, lights the offline lamp.
  void load();
  // Draws the grey map and the time plot again (resize, activation).
  void redraw();

  // ONLINE / OFFLINE. OFFLINE stops the live loop, the gain test and the calibration at once.
  void go_online();
  void go_offline();
  bool online() const { return online_; }
  bool busy() const { return job_kind_ == ConsoleJob::GainTest; }

  // The timer: runs the current job to its next pause. Nothing while no job runs or when
  // called from inside a step (a message box of the step lets the timer fire).
  void tick();
  bool timer_enabled() const { return job_.running(); }
  int interval_ms() const { return job_.pause_ms(); }
  ConsoleJob job() const { return job_.running() ? job_kind_ : ConsoleJob::None; }
  ConsoleEnd last_end() const { return last_end_; }

  // Channel selection: a Picwell press reads the channel's setting back when online
  // (`read_setting`); the row and column lists only select.
  void select_channel(int channel, bool read_setting = true);
  int selected_channel() const { return selected_; }
  // The beam nearest to a point of the grid's world (Picwell mouse move): column 0..23, row
  // 0..15.
  static std::pair<int, int> beam_at(double world_x, double world_y);

  // scrollgain / scrollpower change: when online, writes the selected channel nine times.
  void write_selected(int gain, int power);
  // "Set All": when online, writes the setting to every channel nine times each.
  bool start_set_all(int gain, int power);
  // "SET": writes one setting to every channel with verification. The texts are those of
  // txt_ganancia and txt_power; a value out of range is written as 0 and its box shows "0".
  bool start_write_all(std::string& gain_text, std::string& power_text);
  // "<CALIBRATE>& Auto-Gain": target in percent and the Combomode text.
  bool start_calibration(double target_percent, std::string_view mode);
  // "TEST CURVA DE GANANCIA".
  bool start_gain_test();

  // One channel, one setting byte, with the three-round acknowledge check; false after the
  // writing-error message.
  bool write_verified(int channel, int setting);

  // lblstatus double-click: asks, then enables or disables the selected channel.
  void toggle_enabled();
  bool channel_enabled() const;
  // Scroll_threshold change.
  void set_threshold(int value);
  int threshold() const;

  void zoom_in();
  void zoom_out();
  int zoom() const { return zoom_; }
  void brighter();
  void darker();
  int brightness() const { return brightness_; }
  void larger_dots();
  void smaller_dots();
  int dot_size() const { return dot_size_; }

  // Samples and detection trace of a channel, oldest slot first (the ring as stored).
  std::int16_t sample(int channel, int index) const { return samples_[slot(channel, index)]; }
  std::int16_t trace(int channel, int index) const { return traces_[slot(channel, index)]; }
  int sample_index() const { return sample_index_; }
  // The calibration's last measured value of each channel and the channels it left outside the
  // band.
  const std::array<int, store::kChannelCount>& calibrated_values() const { return measured_; }
  const std::vector<int>& out_of_band() const { return out_of_band_; }
  CalibrationBand band() const { return band_; }
  // Channels whose last "Set All" write did not echo their address.
  const std::vector<int>& unacknowledged() const { return unacknowledged_; }

private:
  struct Measurement; // the calibration's write-then-measure step

  static std::size_t slot(int channel, int index) {
    return static_cast<std::size_t>(channel) * kConsoleSamples + static_cast<std::size_t>(index);
  }
  void start(ConsoleJob kind, common::StepJob job);
  void stop_job();
  // Starts the live loop again after a job that suspended it, when still online.
  void resume_live();

  common::StepJob live_loop();
  common::StepJob set_all_job(int setting);
  common::StepJob write_all_job(int gain, int power);
  common::StepJob calibration_job();
  common::StepJob gain_test_job();

  // One read cycle; false on a short block ("COM Error" shown unless `quiet`).
  bool read_cycle(bool force);
  // The calibration's measurement of channel c into measured_[c]; false after the message.
  bool measure(int channel);
  void clear_samples();
  void draw_grid_frame();
  void draw_grey_map();
  void draw_plot_axis();
  void draw_plot();
  void draw_dots(bool visible);
  // Copies the console's settings into the program's table and calvalue.dat.
  void keep_settings();
  bool append_gain_test(int power, int gain, const std::vector<std::array<int, kGainTestSamples>>&);

  ConsoleContext ctx_;
  ConsoleView default_view_;
  ConsoleView* view_ = &default_view_;
  common::Canvas* grid_ = nullptr;
  common::Canvas* plot_ = nullptr;
  common::Canvas* dots_ = nullptr;

  std::vector<std::int16_t> samples_;
  std::vector<std::int16_t> traces_;
  std::array<std::int16_t, store::kChannelSlots> latest_{};
  int sample_index_ = 0;
  int filled_ = 0; // slots holding a sample since the buffer was cleared
  bool online_ = false;
  int selected_ = 0;
  int zoom_ = 0;
  int brightness_ = 120;
  int dot_size_ = 3;
  int dot_step_ = 0;
  bool dots_shown_ = false;

  CalibrationBand band_{};
  std::string mode_;
  std::array<int, store::kChannelCount> gain_{};
  std::array<int, store::kChannelCount> power_{};
  std::array<int, store::kChannelCount> measured_{};
  std::vector<int> out_of_band_;
  std::vector<int> unacknowledged_;

  ConsoleEnd last_end_ = ConsoleEnd::None;
  bool in_tick_ = false;
  bool stop_requested_ = false;
  ConsoleJob job_kind_ = ConsoleJob::None;
  // Last member: the job refers to the console and must go first.
  common::StepJob job_;
};

} // namespace kestrova::acquisition
