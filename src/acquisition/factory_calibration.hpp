#pragma once

// The factory window's core: the status and serial captions, the live temperature, and the
// temperature calibration written into the instrument's factory record (registers 128-134).

#include <optional>
#include <string>
#include <string_view>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"

namespace kestrova::acquisition {

// The refusal shown by mn_factory, or nothing when the window may open: it needs the
// instrument connected and no acquisition running or paused.
std::optional<std::string> factory_refusal(const device::LinkState& link, bool acquisition_active);

// Loading the window: without a valid record the conversion falls back to offset 0 and slope
// 0.219. Returns txt_mensaje.
std::string load_factory(device::LinkState& link);
// txt_mensaje for the record as it stands.
std::string factory_status_text(const device::LinkState& link);
// lblserial.
std::string serial_caption(int serial);

// txt_current_temp from one sensor reading, or nothing when the instrument did not answer.
std::optional<std::string> current_temperature_text(device::DeviceProtocol& protocol,
                                                    const device::LinkState& link,
                                                    char decimal_separator = '.');

// The register bytes of an offset and a slope.
struct FactoryRegisters {
  int sign = 0;        // 1 for a negative offset
  int offset_byte = 0; // |offset x 10| rounded
  int slope_low = 0;
  int slope_high = 0;
};
FactoryRegisters factory_registers(double offset, double slope);

// Offsets the record can carry: the record read at connection refuses anything outside.
inline constexpr double kMaxFactoryOffset = 10.0;

enum class FactoryCalibrationOutcome {
  Written,          // every register acknowledged; the link holds the new offset
  NoReading,        // the sensor did not answer; nothing written
  BadReference,     // the reference is not 4 to 50 degrees; nothing written
  OffsetOutOfRange, // the offset would not survive the next connection; nothing written
  WriteFailed,      // a register was never acknowledged; the record is marked invalid
};

struct FactoryCalibrationResult {
  FactoryCalibrationOutcome outcome = FactoryCalibrationOutcome::NoReading;
  double offset = 0;  // the new offset computed (when a reading came)
  std::string status; // txt_mensaje afterwards
};

// Cmd_temp: reads the sensor, computes offset = reference - raw x slope, and writes the record.
// The instrument's record is first marked invalid (register 128) and only marked valid again
// after the last register, so an interrupted write is never read back as a valid mix of old and
// new values. Messages go through `dialogs`.
FactoryCalibrationResult calibrate_temperature(device::DeviceProtocol& protocol,
                                               device::LinkState& link, common::Dialogs& dialogs,
                                               std::string_view reference,
                                               const common::CivilTime& now);

} // namespace kestrova::acquisition
