#include "common/rounding.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

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
  if (!std::isfinite(value) || value == 0.0) return value;
  if (decimals <= 0) return round_half_even(value);
  // Round the value's 15-significant-digit decimal form digit by digit, so that a half is
  // judged on the printed value (0.125 is a tie) and large values are never scaled past the
  // precision of a double. buf is "d.dddddddddddddde[+-]xx" (the point follows the locale).
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits(1, buf[0]);
  const char* p = buf + 2;
  while (*p != 'e')
    digits.push_back(*p++);
  const long exponent = std::strtol(p + 1, nullptr, 10);
  // digits d0..d14 stand for d0.d1...d14 x 10^exponent; keep those down to 10^-decimals.
  const long keep = exponent + 1 + decimals;
  const auto parse = [&](const std::string& mantissa, long power) {
    const double magnitude = std::strtod((mantissa + "e" + std::to_string(power)).c_str(), nullptr);
    return value < 0 ? -magnitude : magnitude;
  };
  if (keep >= static_cast<long>(digits.size())) return parse(digits, exponent + 1 - 15);
  if (keep < 0) return 0.0;
  const auto kept_len = static_cast<std::size_t>(keep);
  const char first_dropped = digits[kept_len];
  const bool beyond_half = digits.find_first_not_of('0', kept_len + 1) != std::string::npos;
  const bool last_kept_odd = kept_len > 0 && (digits[kept_len - 1] - '0') % 2 == 1;
  const bool up = first_dropped > '5' || (first_dropped == '5' && (beyond_half || last_kept_odd));
  long long kept = kept_len > 0 ? std::stoll(digits.substr(0, kept_len)) : 0;
  if (up) ++kept;
  if (kept == 0) return 0.0;
  return parse(std::to_string(kept), -decimals);
}

int round_to_int(double value) {
  if (std::isnan(value)) return 0;
  const double r = round_half_even(value);
  if (r >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

} // namespace kestrova::common
