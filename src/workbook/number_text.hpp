#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::workbook {

// The decimal and thousands separators used to read numbers in text (the operator's locale,
// passed in explicitly so nothing depends on the process locale).
struct NumberFormat {
  std::string decimal = ".";
  std::string thousands = ",";
};

// The separators of the process's current LC_NUMERIC locale (localeconv()).
NumberFormat locale_number_format();

// The list separator of a locale: ";" when its decimal separator is ",", otherwise ",".
std::string list_separator_for(const NumberFormat& format);

// Reads `text` as a plain decimal number: an optional sign, digits (thousands separators
// allowed between digits of the whole part), an optional decimal separator and fraction,
// an optional exponent (E or e, optional sign, digits). The whole text must match and the
// value must be finite; no spaces are skipped.
std::optional<double> parse_number(std::string_view text, const NumberFormat& format);

// The same check without computing the value: returns the number as plain decimal text
// ("-", digits, "." and digits, exponent; no "+", no thousands separators), which is
// `text` itself when it already has that form and otherwise is built in `scratch`.
std::optional<std::string_view> number_text(std::string_view text, const NumberFormat& format,
                                            std::string& scratch);

// True when `format` lets a text of the form -?digits(.digits)? stand as its own plain number
// text: "." is its decimal separator and no thousands separator could be read inside such a
// text. Computed once per format, it lets plain_decimal_text skip the full check.
bool plain_decimal_format(const NumberFormat& format);

// True for -?digits(.digits)? with 1 to 300 digits in each part. Under a plain_decimal_format
// such a text is a number and number_text returns it unchanged.
inline bool plain_decimal_text(std::string_view text) {
  const auto digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p != end && *p == '-') ++p;
  const char* const whole = p;
  while (p != end && digit(*p))
    ++p;
  if (p == whole || p - whole > 300) return false;
  if (p == end) return true;
  if (*p != '.') return false;
  const char* const fraction = ++p;
  while (p != end && digit(*p))
    ++p;
  return p == end && p != fraction && p - fraction <= 300;
}

// The value of a plain decimal text given by number_text.
double number_value(std::string_view plain);

// True for texts such as "0042": at least two characters, the first "0", the second neither
// "," nor ".". Such codes stay text in a workbook so their leading zeros survive.
inline bool looks_like_code(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && text[1] != ',' && text[1] != '.';
}

// `text` without leading and trailing spaces (only the space character).
inline std::string_view trim_spaces(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] == ' ')
    ++first;
  while (last > first && text[last - 1] == ' ')
    --last;
  return text.substr(first, last - first);
}

// Writes the shortest text that reads back as `value` ("." as decimal point, no thousands
// separators) into `out`, which must hold kNumberTextMax characters; returns the length.
inline constexpr std::size_t kNumberTextMax = 32;
std::size_t format_number(double value, char* out);

} // namespace kestrova::workbook
