#pragma once

// The virtual instrument: a stand-in for the motility tracker that speaks its 5-byte serial
// protocol. This class is the core (bytes in, bytes out, no I/O); PtyServer puts it on a
// pseudo-terminal. Everything it does is deterministic from the seed in its options and from its
// time source: by default its clock moves with the scans it is asked for, never with the host's.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.hpp"
#include "store/channel_grid.hpp"
#include "store/plate_format.hpp"

namespace kestrova::sim {

using store::kBeamColumns;
using store::kBeamRows;
using store::kChannelCount;
inline constexpr double kBeamPitchMm = 4.5;
inline constexpr int kBankChannels = 128; // channels per register bank and per block triplet step
inline constexpr int kBlockValues = 96;
inline constexpr int kBlockBytes = 192;
inline constexpr int kLineBaud = 115200;

// Frame marks and command codes of the serial protocol.
inline constexpr std::uint8_t kFrameStart = 0xFF;
inline constexpr std::uint8_t kFrameEnd = 0xF0;
inline constexpr std::uint8_t kCodeProbe = 0x00;
inline constexpr std::uint8_t kCodeSetOutputs = 0x10;
inline constexpr std::uint8_t kCodeSetHalf = 0x11;
inline constexpr std::uint8_t kCodeReadRegister = 0x20;
inline constexpr std::uint8_t kCodeReadTemperature = 0x21;
inline constexpr std::uint8_t kCodeReadBlock = 0x30;
inline constexpr std::uint8_t kQualifierWriteBank0 = 0x80; // channels 0-127, registers 128-255
inline constexpr std::uint8_t kQualifierWriteBank1 = 0x81; // channels 128-383

// Channel setting byte: gain × 32 + power.
constexpr std::uint8_t setting_byte(int power, int gain) {
  return static_cast<std::uint8_t>(((gain & 7) << 5) | (power & 31));
}

// Which wells the beams lie in: well_of_channel[c] is the well of channel c or -1 for a beam
// between wells; wells are numbered 0 .. well_count - 1.
struct PlateMap {
  std::array<int, kChannelCount> well_of_channel{};
  int well_count = 0;

  // The map of a plate format of the project store; the well count is one more than the
  // greatest well any beam lies in.
  static PlateMap from_format(const store::PlateFormat& format);
  // The store's built-in maps: one beam per well (w384), two beams side by side on even beam
  // rows (w96f), one beam on even rows and columns (w96u).
  static PlateMap w384();
  static PlateMap w96f();
  static PlateMap w96u();
  // One of the names above ("w384", "w96f", "w96u"), or nullopt.
  static std::optional<PlateMap> builtin(std::string_view name);
};

enum class FactoryRecordKind {
  kValid,    // marker 0, month 6, year 24, offset and slope of the sensor (below)
  kInvalid,  // month 13: the program must reject it and fall back to its defaults
  kBlank,    // erased memory: every byte 0xFF
  kExplicit, // the eight bytes of InstrumentOptions::factory_bytes
};

// How the served replies leave the line: all at once, or at 115200 baud (10 bits per byte, so a
// 192-byte block takes about 16.7 ms). Only PtyServer uses this; the core returns bytes at once.
enum class Pacing { kInstant, kLine };

// Where the instrument's clock takes its time from.
enum class TimeMode {
  kPerScan, // moves only with block reads (scan_seconds per full scan of four blocks) and advance()
  kClock,   // follows the time source, so temperature, organisms and scheduled faults move while
            // nothing scans
};

// Seconds from any fixed origin, never decreasing. Called from the serving thread when the
// instrument is served by PtyServer, so a test's fake must be safe to read from there.
using TimeSource = std::function<double()>;
// The host's steady clock.
TimeSource steady_time_source();

// Beams flooded with light: from `at_seconds` on, the light of these channels is multiplied by
// `factor`. 2.7 takes every beam the calibration finished (in the target band or one step below
// it) to 4095; stepping its setting down brings it back as far as the darkest setting allows.
struct Saturation {
  std::vector<int> channels;
  double at_seconds = 0.0;
  double factor = 2.7;
};

// A beam whose receiver reads `level` (0 to 4095, before noise) at every setting.
struct FixedBeam {
  int channel = 0;
  double level = 0.0;
};

struct InstrumentOptions {
  int serial_number = 42; // probe answer: first byte serial / 255, second serial % 255
  PlateMap plate = PlateMap::w96f();
  std::uint64_t seed = 1;
  int organisms_per_well = 1;
  std::vector<int> empty_wells; // wells that hold no organism
  FactoryRecordKind factory = FactoryRecordKind::kValid;
  std::array<std::uint8_t, 8> factory_bytes{}; // registers 128-135 for kExplicit
  double sensor_offset_c = 1.2;                // true sensor: °C = raw × slope + offset
  double sensor_slope = 0.219;
  double ambient_c = 22.0;
  std::uint8_t initial_setting = setting_byte(2, 3); // every channel at power-up
  TimeMode time_mode = TimeMode::kPerScan;
  TimeSource time_source;      // kClock: empty means the host's steady clock
  double scan_seconds = 0.030; // kPerScan: simulated time one full scan (four blocks) takes
  // Sensor noise: a deviation of (2 counts + 0.4 % of the level) times this; 0 gives noise-free
  // samples. The generator is drawn all the same, so a seed gives the same organisms whatever
  // the noise.
  double noise_scale = 1.0;
  // Beam drift: every beam's light changes by about this many percent per simulated minute,
  // compounding, each beam at its own rate of 0.75 to 1.25 times this (negative dims).
  double drift_percent_per_min = 0.0;
  Saturation saturation;
  // Beams whose emitter gives no light: fixed beams at the receiver's dark level.
  std::vector<int> dead_beams;
  // Beams that read a fixed level whatever their setting and whatever crosses them (a beam stuck
  // dark reads about 15, the receiver's dark level).
  std::vector<FixedBeam> fixed_beams;
  Pacing pacing = Pacing::kInstant;
  FaultSchedule faults;
};

// A piece of the reply to the bytes fed, to leave the line after a pause. PtyServer honours the
// pauses; feed() joins the pieces.
struct ReplyPiece {
  double pause_s = 0.0;
  std::string bytes;
};

// One frame as the instrument took it.
struct FrameRecord {
  std::array<std::uint8_t, 5> bytes{};
  double sim_time = 0.0;
  std::size_t reply_size = 0;
  bool ignored = false; // swallowed: a fault, an unknown command, unplugged or the cable out

  std::uint8_t qualifier() const { return bytes[1]; }
  std::uint8_t code() const { return bytes[2]; }
  std::uint8_t argument() const { return bytes[3]; }
};

// An organism in a well, in millimetres on the beam grid (beam (col,row) at col×4.5, row×4.5).
struct OrganismState {
  int well = 0;
  double x_mm = 0.0;
  double y_mm = 0.0;
  bool active = true;
};

class World; // beams, organisms and the temperature plant

class VirtualInstrument {
public:
  explicit VirtualInstrument(InstrumentOptions options = {});
  ~VirtualInstrument();
  VirtualInstrument(VirtualInstrument&&) noexcept;
  VirtualInstrument& operator=(VirtualInstrument&&) noexcept;

  // Takes bytes from the line (any split: partial frames are kept for the next call; bytes that
  // do not form a frame 0xFF ... 0xF0 are skipped) and returns the reply bytes that reach the
  // line, without their timing (a stalled reply that never finishes gives its first part).
  std::string feed(std::string_view bytes_in);
  // The same with the timing of late and stalled replies.
  std::vector<ReplyPiece> respond(std::string_view bytes_in);

  // Moves simulated time without a scan (for example while the line is unplugged). With a clock
  // time source the clock is put ahead by that much for good.
  void advance(double seconds);
  // Brings simulated time up to the time source (TimeMode::kClock; nothing per scan). feed()
  // does it before every frame; PtyServer also while the line is quiet.
  void update();
  double sim_time() const;
  TimeMode time_mode() const { return options_.time_mode; }
  // False between unplug_at and replug_at; while unplugged feed() swallows everything.
  bool plugged() const;
  // False while the cable is out (cable_out, or between cable_out_at and cable_in_at); the
  // instrument then swallows everything too, but the node stays.
  bool cable_connected() const;

  // Beam options that can change while running.
  void set_noise_scale(double scale);
  void set_drift(double percent_per_min);
  void set_saturation(Saturation saturation);
  // Replaces the fixed beams (out-of-range channels are ignored).
  void set_fixed_beams(const std::vector<FixedBeam>& beams);
  // One beam at a time: fixed at `level` (0 to 4095, before noise), dark (the receiver's dark
  // level, as a dead emitter), or back to following its setting. Other beams keep theirs.
  void set_beam_level(int channel, double level);
  void set_beam_dark(int channel);
  void release_beam(int channel);

  FaultSchedule& faults() { return faults_; }
  const FaultSchedule& faults() const { return faults_; }
  Pacing pacing() const { return options_.pacing; }
  void set_pacing(Pacing pacing) { options_.pacing = pacing; }
  const InstrumentOptions& options() const { return options_; }

  // Output bits of the last set-outputs frame: 4 light, 2 heating direction, 1 power.
  std::uint8_t outputs() const { return outputs_; }
  bool light_on() const { return (outputs_ & 4) != 0; }
  bool heating() const { return (outputs_ & 2) != 0; }
  bool temperature_power() const { return (outputs_ & 1) != 0; }

  std::uint8_t channel_setting(int channel) const;
  void set_channel_setting(int channel, std::uint8_t setting);
  // Register a of bank b as the register read sees it (bank 0: channels 0-127, then the
  // factory record at 128-135; bank 1: channels 128-383).
  std::uint8_t register_value(int bank, int address) const;
  std::array<std::uint8_t, 8> factory_record() const;

  double temperature_c() const;         // true temperature of the plate
  std::uint8_t raw_temperature() const; // what the temperature query answers

  // Noise-free beam level of a channel now, with organisms (beam_level) and without (clear_level).
  double beam_level(int channel) const;
  double clear_level(int channel) const;
  const std::vector<OrganismState>& organisms() const;

  // Frames taken so far (at most the last 100000), and bytes skipped while looking for a frame.
  const std::vector<FrameRecord>& frames() const { return frames_; }
  std::size_t skipped_bytes() const { return skipped_bytes_; }
  void clear_log();

private:
  std::string handle_frame(const std::array<std::uint8_t, 5>& frame, FrameRecord& record);
  std::string block_reply(int start_channel);
  std::string write_reply(std::uint8_t qualifier, std::uint8_t address, std::uint8_t value);
  std::uint8_t read_register(std::uint8_t bank, std::uint8_t address);
  void add_timed(const std::array<std::uint8_t, 5>& frame, std::string reply,
                 std::vector<ReplyPiece>& out);

  InstrumentOptions options_;
  TimeSource time_source_;
  double time_origin_ = 0.0; // time source reading at construction
  double time_ahead_ = 0.0;  // advance() calls under a clock time source
  FaultSchedule faults_;
  std::array<std::uint8_t, 256> bank0_{};
  std::array<std::uint8_t, 256> bank1_{};
  std::uint8_t outputs_ = 0;
  std::string pending_;
  std::vector<FrameRecord> frames_;
  std::size_t skipped_bytes_ = 0;
  std::unique_ptr<World> world_;
};

// Line time of n bytes at 115200 baud, 8N1 (10 bits per byte), in seconds.
constexpr double line_seconds(std::size_t bytes) {
  return static_cast<double>(bytes) * 10.0 / kLineBaud;
}

} // namespace kestrova::sim
