#include "sim/faults.hpp"

namespace kestrova::sim {

bool Fault::matches(const std::array<std::uint8_t, 5>& frame) const {
  if (!active()) return false;
  if (code >= 0 && code != frame[2]) return false;
  return qualifier < 0 || qualifier == frame[1];
}

bool Fault::take(const std::array<std::uint8_t, 5>& frame) {
  if (!matches(frame)) return false;
  if (count > 0) --count;
  return true;
}

bool within(const std::optional<double>& from, const std::optional<double>& until, double t) {
  if (!from || t < *from) return false;
  return !(until && *until > *from && t >= *until);
}

Fault channel_write_fault(int channel, int count) {
  Fault f;
  f.count = count;
  f.code = channel % 128;
  f.qualifier = channel < 128 ? 0x80 : 0x81;
  return f;
}

} // namespace kestrova::sim
