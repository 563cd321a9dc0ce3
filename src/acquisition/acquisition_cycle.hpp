#pragma once

// One acquisition from its start to its end: the start action, the 30 ms tick that reads the
// instrument and evaluates each full buffer, pause, stop, completion and the report hand-over.
// The window's Timeradq calls tick(); tests call it directly with a virtual clock.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <functional>
#include <span>

#include "acquisition/acquisition_log.hpp"
#include "acquisition/cycle_interfaces.hpp"
#include "acquisition/cycle_rules.hpp"
#include "acquisition/light_temperature.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "store/channel_grid.hpp"
#include "store/folder_lock.hpp"
#include "store/project_state.hpp"

namespace kestrova::acquisition {

// This header stays free of the activity file and detection headers, so that window code
// (where Qt defines `slots`) can include it.
class ActivityFileSink;
class ActivityDetector;
class RecordingPath;

// Interval of the acquisition timer.
inline constexpr int kCycleTimerMs = 30;
// Consecutive bad scans that pass silently, and the count at which the program relaunches.
inline constexpr int kComErrorsSilent = 20;
inline constexpr int kComErrorsRestart = 30;
// Minutes after the start minute tried for a free acquisition folder name.
inline constexpr int kFolderMinutesTried = 1440;
// Totals stop growing once they reach this.
inline constexpr int kTotalsLimit = 10000;
// Average level from which a channel counts as saturated.
inline constexpr int kSaturationLevel = 1945;

enum class AcquisitionState { Stopped = 0, Running = 1, Paused = 2 };

// Operator switches of the main window that the cycle reads while it runs.
struct CycleSwitches {
  bool body_bends = false;  // chk_bodybends (effective only with the w96u plate)
  bool auto_restart = true; // "AutoRestart on ComError"
};

// What the start action is given besides the project.
struct StartRequest {
  bool autorun = false;                // no questions; the name is "Autorun project"
  std::string description;             // Txt_description, stored in subproj.dat
  std::optional<std::string> snr_text; // txt_snr_umbral; the setup's SNR when absent
  std::optional<double> set_point;     // txttemp, degrees; the setup's temperature when absent
};

enum class StartOutcome {
  Started,
  AlreadyActive,     // an acquisition is running or paused
  NoName,            // the name box was left empty or cancelled
  ProjectZero,       // project 0 cannot record
  Offline,           // no instrument
  DiskRefused,       // the operator declined the disk warning
  FolderFailed,      // the acquisition folder or its snapshot could not be written
  CalibrationFailed, // the start-up calibration or zero stopped the acquisition
};

// The surroundings of the cycle: the project, the link and the side-effect services.
struct CycleContext {
  store::ProjectState& project;
  device::LinkState& link;
  device::SerialIo& io;
  device::DeviceProtocol& protocol;
  common::Dialogs& dialogs;
  common::EventPump& pump;
  common::Clock& clock;
  common::Shell& shell;
  FreeSpaceFunction free_space = filesystem_free_mb;
  WriteAtFunction write_at = {}; // the activity files' writes (tests simulate a full disk)
  // The arguments of the automatic relaunch after a lasting link failure, asked at the
  // relaunch (they may depend on how this run went); "/run" when empty.
  std::function<std::vector<std::string>()> relaunch_arguments = {};
  // The boxes and pump of the recording path, shared with the code the cycle calls (protocol,
  // calibration, reports); null: the cycle keeps its own around `dialogs` and `pump`.
  RecordingPath* recording_path = nullptr;
  // The program's version, written into the acquisition log at each start.
  std::string program_version = {};
};

// The acquisition engine. Owns the acquisition's counters, buffers, running statistics and
// flags. Every entry point runs on the caller's thread; a tick that re-enters itself (through
// the event pump or a modal box) returns at once.
class AcquisitionCycle {
public:
  explicit AcquisitionCycle(CycleContext context);
  ~AcquisitionCycle();
  AcquisitionCycle(const AcquisitionCycle&) = delete;
  AcquisitionCycle& operator=(const AcquisitionCycle&) = delete;

  // Plug-ins; each may be null for the default that does nothing. Not owned.
  void set_view(CycleView* view);
  void set_calibration(CalibrationHooks* hooks);
  void set_report(ReportRequest* report);
  void set_host(AcquisitionHost* host);
  // Consumers of finished buffers, after the activity files; not owned. Removing is by address.
  void add_sink(BufferEndSink* sink);
  void remove_sink(BufferEndSink* sink);
  // The live display's per-tick call; null for none. Not owned.
  void set_display_pacing(DisplayPacing* pacing) { pacing_ = pacing; }
  CycleSwitches& switches() { return switches_; }

  // "Start Acquisition": every question, the folder, the resets, the start-up calibration and
  // zero, then the timer. The outcome says where it ended.
  StartOutcome start(const StartRequest& request);
  // One Timeradq tick; does nothing while the timer is off or when called from inside a tick.
  void tick();
  // CmdPause: pause (asking whether the time counter stops) or resume.
  void pause_or_resume();
  // CmdStop: stop and clean up; harmless when nothing runs. True when an acquisition was
  // running or paused (the host hears of it through acquisition_stopped).
  bool stop();
  // "Show my report" for the current acquisition.
  void show_report(bool autoreport = false);
  // Asks for the outputs to be sent again at the next paced tick.
  void request_output_refresh() { output_refresh_ = true; }
  bool output_refresh_requested() const { return output_refresh_; }
  void cancel_output_refresh() { output_refresh_ = false; }
  // An operator's output button: sent at once while the timer is off, otherwise by the next
  // paced tick. The view shows the new state at once either way.
  void press_output(OutputButton button);
  // SendOutputs: the output byte to the instrument (nothing offline), then the view.
  void send_outputs();
  // Cmd_settemp: the set-point the regulation works to from now on.
  void set_set_point(double celsius) { set_point_ = celsius; }
  double set_point() const { return set_point_; }

  // State for the windows, the session and the tests.
  AcquisitionState state() const { return state_; }
  bool timer_enabled() const { return timer_enabled_; }
  bool finished() const { return finished_; }
  bool recording() const { return recording_; }
  bool time_counter_off() const { return time_counter_off_; }
  bool relaunched() const { return relaunched_; }
  int sample_index() const { return sample_index_; }
  int tick_counter() const { return tick_counter_; }
  int com_errors() const { return com_errors_; }
  std::int64_t buffers_done() const { return buffers_done_; }
  int elapsed_minutes() const { return minutes_; }
  double elapsed_minutes_2() const { return minutes_2_; }
  double sample_period() const { return sample_period_; }
  double temperature() const { return temperature_; }
  double snr() const { return snr_; }
  const Outputs& outputs() const { return outputs_; }
  int buffer_length() const { return buffer_length_; }
  const std::string& folder_name() const { return folder_name_; }
  std::filesystem::path folder() const;
  common::LocalTime start_time() const { return start_time_; }
  bool body_bends() const;
  // Per-channel results of the last buffer end (385 slots; slot 384 = temperature x 10).
  std::span<const std::int16_t> counts() const { return counts_; }
  std::span<const std::int16_t> totals() const { return totals_; }
  std::span<const std::int32_t> histogram_totals() const { return histogram_; }
  std::span<const std::int16_t> raw() const { return raw_; }
  // The tables the live display draws from.
  DisplayData display_data() const {
    return {counts_, histogram_, raw_, lower_band_, buffer_length_, sample_index_};
  }
  // The last buffer end's sink problems (empty when every sink took it).
  const std::vector<std::string>& sink_problems() const { return sink_problems_; }
  // Buffers evaluated while recording whose records could not be written (dropped, not
  // queued), since the start.
  std::int64_t buffers_lost() const { return buffers_lost_; }

  // Tells the operator without waiting for anyone: the status line, the window's mark for a
  // problem, and a line in the acquisition log.
  void notice(std::string_view text, NoticeLevel level);
  // A line in the acquisition log only.
  void log_event(std::string_view text);
  const AcquisitionLog& log() const { return log_; }
  // The last notice and the problems noticed since the program started.
  const std::string& last_notice() const { return last_notice_; }
  int problems_noticed() const { return problems_noticed_; }
  // The boxes and the event pump of the recording path (see RecordingPath).
  RecordingPath& recording_path() { return *path_; }

private:
  // Start helpers.
  bool check_disk(bool autorun);
  bool create_folder(const std::string& name, const std::string& description);
  // Creates the acquisition folder named by `start` in `project_folder`, or by the first free
  // minute after it; its name, or nothing with `problem` set.
  static std::optional<std::string> make_folder(const std::filesystem::path& project_folder,
                                                common::LocalTime start, std::string& problem);
  void reset(int buffer_length);
  void read_temperature();
  bool run_startup_calibration();

  // Tick helpers.
  void running_tick();
  void idle_tick();
  bool scan(); // false when the program ended (relaunch)
  void read_block(int start_channel);
  bool supervise_link(bool last_good);
  void sample_statistics(int d);
  void buffer_end();
  void evaluate_channels();
  void hand_to_sinks();
  void update_time();
  void paced_outputs();
  void complete();
  // Ends the acquisition; `why` completes the log line ("stopped by the operator", ...).
  bool stop_because(const std::string& why);
  std::chrono::milliseconds elapsed() const;

  // Acquisition log and notices (cycle_events.cpp).
  void log_start(const std::string& name, bool autorun);
  void log_calibration(const char* what, bool ok);
  void note_bad_scan();
  void note_good_scan();
  void note_files_written(bool ok);
  std::string record_summary() const;
  std::int16_t& raw_at(int position, int channel) {
    return raw_[static_cast<std::size_t>(position) * store::kChannelSlots + channel];
  }
  std::size_t at(int position, int channel) const {
    return static_cast<std::size_t>(position) * store::kChannelSlots + channel;
  }

  CycleContext ctx_;
  std::unique_ptr<RecordingPath> own_path_;
  RecordingPath* path_ = nullptr;
  AcquisitionLog log_;
  CycleView default_view_;
  CalibrationHooks default_calibration_;
  ReportRequest default_report_;
  AcquisitionHost default_host_;
  CycleView* view_ = &default_view_;
  CalibrationHooks* calibration_ = &default_calibration_;
  ReportRequest* report_ = &default_report_;
  AcquisitionHost* host_ = &default_host_;
  DisplayPacing* pacing_ = nullptr;
  std::unique_ptr<ActivityFileSink> activity_;
  std::vector<BufferEndSink*> sinks_;
  CycleSwitches switches_;

  AcquisitionState state_ = AcquisitionState::Stopped;
  bool timer_enabled_ = false;
  bool in_tick_ = false;
  bool recording_ = false;
  bool finished_ = false;
  bool time_counter_off_ = false;
  bool relaunched_ = false;
  bool output_refresh_ = false;
  bool sink_failure_told_ = false;
  // Elapsed times come from the monotonic clock; the wall clock only names and stamps.
  std::chrono::milliseconds paused_elapsed_{0};
  common::LocalTime start_time_{};
  common::SteadyTime start_steady_{};
  common::SteadyTime last_buffer_end_{};
  common::SteadyTime paused_at_{};
  std::string stop_reason_; // set while an action that may stop the acquisition runs

  // Lost buffers: all since the start, and the current run of failures.
  std::int64_t buffers_lost_ = 0;
  std::int64_t lost_run_ = 0;
  int lost_from_minute_ = 0;
  std::string lost_reason_;
  // Link supervision for the log: the first bad scan of the current run of bad scans.
  bool link_lost_logged_ = false;
  common::SteadyTime first_bad_scan_{};
  common::LocalTime first_bad_wall_{};
  int first_bad_minute_ = 0;
  std::int64_t first_bad_buffers_ = 0;
  double last_good_period_ = 0;
  std::string last_notice_;
  int problems_noticed_ = 0;
  std::string folder_name_;
  std::filesystem::path folder_;
  std::optional<store::FolderLock> lock_; // held while the acquisition runs

  int buffer_length_ = 0;
  int sample_index_ = 0;
  int tick_counter_ = 0;
  int com_errors_ = 0;
  int window_start_ = 0;
  int window_end_ = 127;
  std::int64_t buffers_done_ = 0;
  int minutes_ = 0;
  double minutes_2_ = 0;
  double sample_period_ = 0;
  double period_sum_ = 0;
  int period_records_ = 0;
  double temperature_ = 0;
  double set_point_ = 0;
  double snr_ = 1.8;
  Outputs outputs_;

  std::vector<int> well_channels_;
  std::vector<std::int16_t> raw_;           // (B + 1) x 385
  std::vector<std::int16_t> upper_env_;     // (B + 1) x 385
  std::vector<std::int16_t> lower_env_;     // (B + 1) x 385
  std::vector<std::int16_t> lower_band_;    // (B + 1) x 385
  std::vector<std::int16_t> upper_band_;    // (B + 1) x 385
  std::vector<std::int32_t> amp_sum_;       // 385
  std::vector<std::int32_t> level_sum_;     // 385
  std::vector<std::int32_t> tally_;         // 385
  std::vector<std::int16_t> counts_;        // 385
  std::vector<std::int16_t> totals_;        // 385
  std::vector<std::int32_t> histogram_;     // 51 x 385, bin-major
  std::vector<std::int32_t> histogram_max_; // 385
  std::vector<std::int16_t> well_counts_;   // one per well channel
  std::array<bool, store::kChannelCount> keep_{};
  std::vector<std::string> sink_problems_;
  std::unique_ptr<ActivityDetector> detector_;
};

} // namespace kestrova::acquisition
