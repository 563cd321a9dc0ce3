#include "acquisition/factory_calibration.hpp"

#include <cmath>
#include <cstdio>

#include "acquisition/light_temperature.hpp"
#include "common/number_format.hpp"
#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace {

constexpr int kRecordAddress = 128;
constexpr int kRecordInvalid = 0xFF; // any value but 0 marks the record invalid

std::string two_digits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

} // namespace

std::optional<std::string> factory_refusal(const device::LinkState& link, bool acquisition_active) {
  if (link.offline || !link.connected || acquisition_active)
    return std::string("Only possible to access in: ONLINE mode and STOP experiment");
  return std::nullopt;
}

std::string factory_status_text(const device::LinkState& link) {
  if (!link.factory_valid) return "NON Calibrated";
  return "OK Last Factory Calibration " + two_digits(link.cal_month) + "/" +
         two_digits(link.cal_year) + " [mm/yy]";
}

std::string load_factory(device::LinkState& link) {
  if (!link.factory_valid) {
    link.temperature_offset = device::kDefaultTemperatureOffset;
    link.temperature_slope = device::kDefaultTemperatureSlope;
  }
  return factory_status_text(link);
}

std::string serial_caption(int serial) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "SERIAL : KSTV%05d", serial);
  return buf;
}

std::optional<std::string> current_temperature_text(device::DeviceProtocol& protocol,
                                                    const device::LinkState& link,
                                                    char decimal_separator) {
  const int raw = protocol.ReadTemperatureRaw();
  if (raw < 0) return std::nullopt;
  return common::format_display(
      device::temperature_celsius(raw, link.temperature_slope, link.temperature_offset), "0.0",
      decimal_separator);
}

FactoryRegisters factory_registers(double offset, double slope) {
  FactoryRegisters r;
  r.sign = offset < 0 ? 1 : 0;
  r.offset_byte = common::round_to_int(std::fabs(offset * 10));
  const double milli = slope * 1000;
  r.slope_high = static_cast<int>(std::floor(milli / 256));
  r.slope_low = common::round_to_int(milli - r.slope_high * 256);
  return r;
}

FactoryCalibrationResult calibrate_temperature(device::DeviceProtocol& protocol,
                                               device::LinkState& link, common::Dialogs& dialogs,
                                               std::string_view reference,
                                               const common::CivilTime& now) {
  FactoryCalibrationResult result;
  const int raw = protocol.ReadTemperatureRaw();
  if (raw < 0) {
    dialogs.message("No temperature reading from the instrument... Check COM and Try again",
                    common::Buttons::Ok);
    result.outcome = FactoryCalibrationOutcome::NoReading;
    result.status = factory_status_text(link);
    return result;
  }
  const std::optional<double> v = parse_entry(reference);
  if (!v || *v < 4 || *v > 50) {
    dialogs.message("invalid Calibration Parameter: value must be between 4°C and 50°C",
                    common::Buttons::Ok);
    result.outcome = FactoryCalibrationOutcome::BadReference;
    result.status = factory_status_text(link);
    return result;
  }
  const double slope = link.temperature_slope;
  const double offset = *v - raw * slope;
  result.offset = offset;
  if (std::fabs(offset) > kMaxFactoryOffset) {
    dialogs.message("Calibration out of range: the offset would be beyond ±10.0°C. Check the "
                    "sensor and the reference temperature",
                    common::Buttons::Ok);
    result.outcome = FactoryCalibrationOutcome::OffsetOutOfRange;
    result.status = factory_status_text(link);
    return result;
  }

  link.cal_month = static_cast<std::int16_t>(now.month);
  link.cal_year = static_cast<std::int16_t>(now.year % 100);
  const FactoryRegisters r = factory_registers(offset, slope);
  const int writes[][2] = {
      {kRecordAddress, kRecordInvalid},    {kRecordAddress + 1, link.cal_month},
      {kRecordAddress + 2, link.cal_year}, {kRecordAddress + 3, r.sign},
      {kRecordAddress + 4, r.offset_byte}, {kRecordAddress + 5, r.slope_low},
      {kRecordAddress + 6, r.slope_high},  {kRecordAddress, 0}};
  for (const auto& w : writes) {
    if (protocol.WriteRegister(w[0], w[1]) != 1) {
      link.factory_valid = false;
      result.outcome = FactoryCalibrationOutcome::WriteFailed;
      result.status = factory_status_text(link);
      return result;
    }
  }
  link.temperature_offset = offset;
  link.offset_sign = static_cast<std::int16_t>(r.sign);
  link.factory_valid = true;
  result.outcome = FactoryCalibrationOutcome::Written;
  result.status = factory_status_text(link);
  return result;
}

} // namespace kestrova::acquisition
