#include "common/number_format.hpp"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fmt/format.h>

#include "common/rounding.hpp"

namespace kestrova::common {

std::string format_display(double value, std::string_view pattern, char decimal_separator) {
  const auto point = pattern.find('.');
  const std::string_view whole = pattern.substr(0, point);
  const int decimals =
      point == std::string_view::npos ? 0 : static_cast<int>(pattern.size() - point - 1);
  const auto min_whole = static_cast<std::size_t>(whole.size());
  if (!std::isfinite(value)) value = 0.0;
  const double rounded = round_half_even(value, decimals);
  std::string text = fmt::format("{:.{}f}", std::fabs(rounded), decimals);
  const bool negative = rounded < 0.0 && text.find_first_not_of("0.") != std::string::npos;
  const auto whole_len = text.find('.') == std::string::npos ? text.size() : text.find('.');
  if (whole_len < min_whole) text.insert(0, min_whole - whole_len, '0');
  // "0.0" keeps its leading zero; ".0" or "#.0"-style patterns are not used by this program.
  if (min_whole == 0 && text.rfind("0.", 0) == 0) text.erase(0, 1);
  if (const auto p = text.find('.'); p != std::string::npos) text[p] = decimal_separator;
  return negative ? "-" + text : text;
}

std::string format_record_real(double value) {
  if (!std::isfinite(value) || value == 0.0) return "0";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  // buf is "d.dddddddddddddde[+-]xx"
  std::string digits;
  digits.push_back(buf[0]);
  const char* p = buf + 2;
  while (*p != 'e')
    digits.push_back(*p++);
  const int exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0')
    digits.pop_back();

  std::string out = value < 0.0 ? "-" : "";
  if (exponent < -4 || exponent >= 15) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += exponent < 0 ? "E-" : "E+";
    out += fmt::format("{:02d}", std::abs(exponent));
  } else if (exponent >= 0) {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out.append(digits, 0, whole);
      out += '.';
      out.append(digits, whole);
    }
  } else {
    out += '.';
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

char locale_decimal_separator() {
  const std::lconv* conv = std::localeconv();
  return conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] == ',' ? ','
                                                                                            : '.';
}

char list_separator_for(char decimal_separator) { return decimal_separator == ',' ? ';' : ','; }

} // namespace kestrova::common
