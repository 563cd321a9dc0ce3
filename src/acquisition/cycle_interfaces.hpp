#pragma once

// The narrow interfaces through which the acquisition cycle reaches the screen, the calibration,
// the reports and the consumers of finished buffers. Each has a default that does nothing, so a
// cycle runs headless until the later pieces are plugged in.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kestrova::acquisition {

// How much a notice of the acquisition matters. Information only replaces the status line; a
// warning shows there as trouble going on (the running count of a problem already told); a
// problem (lost data, a failure, a question nobody was there to answer) also raises the
// window's mark, which stays until the operator acknowledges it.
enum class NoticeLevel { Info, Warning, Problem };

// What the main window shows of a running acquisition. Every call is a text or a redraw
// request; the adapter copies it to its controls.
class CycleView {
public:
  virtual ~CycleView() = default;
  // Txt_time: "hh:mm:ss [Nd]".
  virtual void set_time_text(std::string_view) {}
  // picturetime: the filled part of the progress bar, 0 to 100 (may exceed 100 near the end).
  virtual void set_progress(double) {}
  // lbl_temperature: the temperature of the last buffer end, "0.0".
  virtual void set_temperature_text(std::string_view) {}
  // The tick counter beside the real-time trace, with the temperature text.
  virtual void show_tick_counter(int /*counter*/) {}
  // The light and temperature outputs after each send and after an operator change.
  virtual void show_outputs(int /*output_byte*/) {}
  // frm_autotext with lbl_autotext; an empty text hides the frame.
  virtual void set_autotext(std::string_view) {}
  // lbl_autochannel.
  virtual void set_autochannel(std::string_view) {}
  // The acquisition's status line; never waits for anyone (see NoticeLevel).
  virtual void show_notice(std::string_view /*text*/, NoticeLevel /*level*/) {}
  // txt_subproject: the acquisition's name.
  virtual void set_acquisition_name(std::string_view) {}
  // The buttons and locked fields of a running (true) or stopped (false) acquisition: CmdPlay,
  // CmdPause, Cmdsetup, Cmdoffline, Cmb_organism, txt_snr_umbral, Txt_description,
  // chk_bodybends.
  virtual void set_acquiring(bool) {}
  // Live display: the signal view is due (every D ticks), the live plots are due (every second
  // tick), a buffer was evaluated, a new acquisition clears its plots.
  virtual void refresh_signal_view() {}
  virtual void refresh_live_plots() {}
  virtual void refresh_after_buffer() {}
  virtual void prepare_plots() {}
};

// Calibration at the start and recalibration during an acquisition. The defaults do nothing and
// report success. A false return means the instrument failed and the acquisition was stopped.
class CalibrationHooks {
public:
  virtual ~CalibrationHooks() = default;
  virtual bool fast_calibrate(double /*snr*/) { return true; }
  virtual bool auto_zero(double /*snr*/) { return true; }
  // A saturated channel can be made darker: its stored gain is not 0 or its power above 1.
  virtual bool can_lower(int /*channel*/) { return true; }
  // keep[c] is false for every channel 0..383 found saturated at this buffer end.
  virtual void recalibrate(std::span<const bool> /*keep*/) {}
  // One line on how the last calibration, auto-zero or recalibration went, for the log.
  virtual std::string summary() { return {}; }
};

// The report window's entry points used by the end of an acquisition.
class ReportRequest {
public:
  virtual ~ReportRequest() = default;
  // Whether a completed acquisition writes its report by itself ("User Defined BIN size"),
  // asked at each completion.
  virtual bool automatic() const { return false; }
  // Shows the report window on an acquisition folder; `histogram_option` offers the body-bend
  // histogram output (and selects it), otherwise "Rows" is selected. With `autoreport` the
  // window writes the report by itself.
  virtual void open_report(const std::filesystem::path& /*folder*/, bool /*histogram_option*/,
                           bool /*autoreport*/) {}
};

// What the acquisition asks of the program around it.
class AcquisitionHost {
public:
  virtual ~AcquisitionHost() = default;
  // ">Edit": the setup window (the start action sends the operator there).
  virtual void open_setup() {}
  // Shows the main window again after an automatic report.
  virtual void show_main_window() {}
  // Ends this instance at once, without clean-up (after an automatic relaunch).
  virtual void end_program() {}
  // An acquisition that ran or was paused has stopped: by the operator, by its completion or
  // by a failure.
  virtual void acquisition_stopped() {}
};

// One evaluated buffer, as handed to the sinks. Spans stay valid during the call only.
struct BufferEnd {
  std::int64_t index = 0;                  // buffers since the start, from 0
  std::int32_t minutes = 0;                // whole elapsed minutes
  double minutes_2 = 0;                    // elapsed minutes rounded to 2 decimals
  double sample_period = 0;                // seconds per sample, rounded to 3 decimals
  double temperature = 0;                  // degrees C
  std::span<const std::int16_t> counts;    // 385 slots, slot 384 = temperature x 10
  std::span<const std::int16_t> totals;    // 385 slots
  std::span<const std::int16_t> raw;       // (B + 1) x 385, channel fastest
  int buffer_length = 0;                   // B
  bool save_realtime = false;              // the setup's real-time saving switch
  bool body_bends = false;                 // body-bends mode is on
  std::span<const std::int32_t> histogram; // 51 x 385 totals, bin-major
};

// Result of one sink: empty text on success, otherwise what went wrong.
struct SinkResult {
  bool ok = true;
  std::string problem;
};

// A consumer of finished buffers (activity files, live display, beam health, ...).
class BufferEndSink {
public:
  virtual ~BufferEndSink() = default;
  virtual SinkResult consume(const BufferEnd& buffer) = 0;
};

// What the live display reads of the running acquisition. Spans stay valid until the next tick.
struct DisplayData {
  std::span<const std::int16_t> counts;     // 385 slots: the last buffer's counts
  std::span<const std::int32_t> histogram;  // 51 x 385 body-bend totals, bin-major
  std::span<const std::int16_t> raw;        // (B + 1) x 385 samples, channel fastest
  std::span<const std::int16_t> lower_band; // (B + 1) x 385, the detection band drawn
  int buffer_length = 0;                    // B
  int cursor = 0;                           // the sample index being written (sweep cursor)
};

// The live display's pacing: called once per running tick, after the tick's sample statistics,
// with the tick counter (0 after a start or a resume).
class DisplayPacing {
public:
  virtual ~DisplayPacing() = default;
  virtual void display_tick(int tick_counter) = 0;
};

// The activity files' write function, like pwrite(2) (the same type as in activity_files.hpp);
// tests simulate a full disk with it.
using WriteAtFunction =
    std::function<long(int fd, const void* data, std::size_t size, std::int64_t offset)>;

// Free space of the drive that holds a folder, in whole megabytes; -1 when unknown.
using FreeSpaceFunction = std::function<long long(const std::filesystem::path&)>;
long long filesystem_free_mb(const std::filesystem::path& folder);

} // namespace kestrova::acquisition
