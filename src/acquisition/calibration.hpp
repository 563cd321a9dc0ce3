#pragma once

// Channel light settings and their adjustment: the channel setting table and calvalue.dat, the
// step rule, the fast calibration, the recalibration of saturated channels during an
// acquisition and the auto-zero of the detection thresholds. Also the detection threshold (SNR)
// rules of the organism list and the SNR box, and the access rules of the service menus.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/cycle_interfaces.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "store/channel_grid.hpp"
#include "store/project_state.hpp"

namespace kestrova::acquisition {

// Target band of a calibrated beam (40 % to 45 % of the 12-bit range).
inline constexpr int kBandLow = 1638;
inline constexpr int kBandHigh = 1843;
inline constexpr int kDefaultPinHole = 2;
inline constexpr int kDefaultGain = 3;
inline constexpr int kBrightest = 7;
// The darkest setting the adjustment uses is (1, 0).
inline constexpr int kDarkestPinHole = 1;

inline constexpr std::string_view kCalibrationFile = "calvalue.dat";
inline constexpr std::string_view kCalibrationHeader = "<Num_Channel>, <PinHole>, <Gain> ";

// Emitter power (PinHole) and receiver gain of every channel, 0..7 each (385 slots).
struct ChannelSettings {
  std::array<std::int16_t, store::kChannelSlots> pinhole;
  std::array<std::int16_t, store::kChannelSlots> gain;
  ChannelSettings() {
    pinhole.fill(kDefaultPinHole);
    gain.fill(kDefaultGain);
  }
  friend bool operator==(const ChannelSettings&, const ChannelSettings&) = default;
};

// Reads calvalue.dat text: the header line is skipped, then up to 385 non-empty lines fill
// channels 0, 1, 2, ... (quotes removed; PinHole between the first and second comma, Gain after
// the second; the channel column is ignored). Lines that do not come fill nothing.
void ParseChannelSettings(std::string_view text, ChannelSettings& settings);
// The file's bytes for channels 0..383.
std::string FormatChannelSettings(const ChannelSettings& settings);
// False when the file is missing or unreadable (the table is left as it was).
bool LoadChannelSettings(const std::filesystem::path& file, ChannelSettings& settings);
// Writes beside the file and renames over it, so the file is never left half written.
bool SaveChannelSettings(const std::filesystem::path& file, const ChannelSettings& settings);

// Working state of one channel during an adjustment.
struct StepState {
  bool finished = false;
  int direction = 0; // -1 down, 0 none, +1 up
};

// Applies the step rule to an unfinished channel with fresh value `v`. Returns true when the
// channel's setting (possibly unchanged) must be written.
bool ApplyStepRule(int v, std::int16_t& pinhole, std::int16_t& gain, StepState& state);

// The SNR controls of the main window: txt_snr_umbral, the detection threshold, lbl_umbral and
// whether the box is shown.
struct SnrControls {
  std::string box_text = "1.8";
  double snr = 1.8;
  std::string caption = ">>>>";
  bool box_visible = false;
};

// The organism list entries of Cmb_organism.
const std::vector<std::string>& OrganismNames();
// The number in an SNR text (a comma counts as a decimal point); nullopt when not numeric.
std::optional<double> ParseSnrText(std::string_view text);
// Organism defaults of the SNR for list entry `organism`, then the floor of 1.4.
void ApplyOrganism(int organism, SnrControls& controls);
// lbl_umbral click: shows or hides the box.
void ToggleSnrBox(SnrControls& controls);
// The SNR box lost focus: a valid text (above 1, at most 5) is kept as "0.0"; anything else
// gives the message and "1.8". Returns the setup's new SNRx10 and the message (empty when
// valid). The caller then selects organism entry 2.
struct SnrBoxResult {
  int snr_x10 = 18;
  std::string message;
};
SnrBoxResult SnrBoxLeft(SnrControls& controls);
inline constexpr std::string_view kInvalidSnrMessage = "Invalid value: 1.1 to 5.0";

// The technical menu's password check (letter case counts).
bool TechnicalPasswordAccepted(std::string_view answer);
inline constexpr std::string_view kWrongPasswordMessage = "Wrong Password";

// picturecal and the autotext frame, as the calibration drives them.
class CalibrationView {
public:
  virtual ~CalibrationView() = default;
  // frm_autotext with lbl_autotext; an empty text hides the frame.
  virtual void set_autotext(std::string_view) {}
  virtual void set_autochannel(std::string_view) {}
  // picturecal: a filled box from 0 to `value` on a scale of 0..`scale`; value < 0 clears it.
  virtual void set_progress(int /*value*/, int /*scale*/) {}
  // chk_enabled item 0: station 1 enabled.
  virtual void enable_station_1() {}
};

struct CalibrationContext {
  store::ProjectState& project;
  device::LinkState& link;
  device::DeviceProtocol& protocol;
  common::Dialogs& dialogs;
  common::EventPump& pump;
  common::Clock& clock;
  // The acquisition is running or paused; the adjustment loops run only then.
  std::function<bool()> acquisition_active = [] { return false; };
  // The stop action, run when the instrument fails during the fast calibration's iterations.
  std::function<void()> stop_acquisition = [] {};
};

enum class CalibrationOutcome {
  Done,        // "Calibration OK", table saved (also when the acquisition was stopped)
  Offline,     // refused: no instrument
  WriteFailed, // a write of the first pass was not acknowledged; table not saved
  Stopped,     // a write while adjusting failed: the acquisition was stopped; table not saved
  SaveFailed,  // adjusted, but calvalue.dat could not be written
};

// The calibration of the program. Runs on the caller's thread and lets events run between
// channels, iterations and samples, so the operator can stop the acquisition.
class Calibrator final : public CalibrationHooks {
public:
  explicit Calibrator(CalibrationContext context);

  void set_view(CalibrationView* view) { view_ = view ? view : &default_view_; }
  std::filesystem::path file() const;

  // "Fast CALIB" and the start action's calibration.
  CalibrationOutcome FastCalibrate();
  // Steps the channels whose keep flag is false back into the band.
  CalibrationOutcome RecalibrateChannels(std::span<const bool> keep);
  // Records N samples and sets every channel's threshold from its noise. False when it ended
  // without computing (the acquisition was stopped).
  bool AutoZero(double snr);
  // N of the auto-zero: 30 when the automatic calibration and zero are both on, else 100.
  int AutoZeroLength() const;

  ChannelSettings& settings() { return settings_; }
  const ChannelSettings& settings() const { return settings_; }
  // Adjustment iterations of the last fast calibration or recalibration.
  int iterations() const { return iterations_; }
  // Channels the last adjustment left at the brightest or darkest setting out of the band.
  const std::vector<int>& out_of_reach() const { return out_of_reach_; }

  // CalibrationHooks for the acquisition cycle.
  bool fast_calibrate(double snr) override;
  bool auto_zero(double snr) override;
  bool can_lower(int channel) override;
  void recalibrate(std::span<const bool> keep) override;
  std::string summary() override { return summary_; }

private:
  // The summary of an adjustment that ended with `outcome`.
  void summarise(CalibrationOutcome outcome);
  bool in_well(int channel) const;
  void prepare_channels(std::array<StepState, store::kChannelSlots>& states);
  void discarding_scan(device::BlockRead how);
  // Reads every block into `values` (a block that answers short leaves its channels as they
  // are). `whole` reads 192 bytes at once and needs exactly 192.
  void scan(std::span<std::int16_t> values, device::BlockRead how);
  void show_iteration(int previous_writes);
  void note_limits(const std::array<StepState, store::kChannelSlots>& states,
                   std::span<const std::int16_t> values, std::span<const bool> adjusted);

  CalibrationContext ctx_;
  CalibrationView default_view_;
  CalibrationView* view_ = &default_view_;
  ChannelSettings settings_;
  bool loaded_ = false;
  int iterations_ = 0;
  std::vector<int> out_of_reach_;
  std::string summary_;
};

} // namespace kestrova::acquisition
