#include "common/rounding.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kestrova::common {

double round_half_even(double value) {
  if (!std::isfinite(value)) return value;
  const double floor_v = std::floor(value);
  const double diff = value - floor_v;
  if (diff < 0.5) return floor_v;
  if (diff > 0.5) return floor_v + 1.0;
  return std::fmod(floor_v, 2.0) == 0.0 ? floor_v : floor_v + 1.0;
}

double round_half_even(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  if (decimals <= 0) return round_half_even(value);
  // Work on the shortest decimal text of the value so that 0.125 is treated as an exact half.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  const double exact = std::strtod(buf, nullptr);
  const double scale = std::pow(10.0, decimals);
  const double scaled = exact * scale;
  double r = round_half_even(scaled);
  // Guard against the scaled product landing a hair off an exact half.
  const double nearest_half = std::floor(scaled) + 0.5;
  if (std::fabs(scaled - nearest_half) < 1e-9 * std::max(1.0, std::fabs(scaled))) {
    const double f = std::floor(scaled);
    r = std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
  }
  return r / scale;
}

int round_to_int(double value) {
  if (std::isnan(value)) return 0;
  const double r = round_half_even(value);
  if (r >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

}  // namespace kestrova::common
