#pragma once

#include <cstdint>

namespace kestrova::device {

inline constexpr double kDefaultTemperatureOffset = 0.0;
inline constexpr double kDefaultTemperatureSlope = 0.219;

// The program-wide link to the instrument, owned by the App. The connection manager writes
// it; the acquisition, calibration and factory window read it.
struct LinkState {
  std::int16_t port = 0;        // port 1 to 15 in use or to try first; 0 while none answered
  bool offline = false;         // the last connect action found no instrument
  bool connected = false;       // set by a successful connect, cleared by disconnect
  bool lost = false;            // connected, but the instrument stopped answering
  std::int16_t serial = 0;      // probe answer (10 to 250) of the instrument found; 0 when none
  bool factory_valid = false;   // the factory record passed every check
  std::int16_t cal_month = 0;   // month 1..12 of the last factory calibration
  std::int16_t cal_year = 0;    // two-digit year of the last factory calibration
  std::int16_t offset_sign = 0; // 0 positive, 1 negative
  double temperature_offset = kDefaultTemperatureOffset; // degrees C
  double temperature_slope = kDefaultTemperatureSlope;   // degrees C per raw unit
};

} // namespace kestrova::device
