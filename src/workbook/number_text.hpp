#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

namespace detail {

// The high bit of each byte of `w` that is not an ASCII digit.
inline std::uint64_t non_digit_bytes(std::uint64_t w) {
  const std::uint64_t x = w ^ 0x3030303030303030ull; // digits become 0..9
  return (((x & 0x7F7F7F7F7F7F7F7Full) + 0x7676767676767676ull) | x) & 0x8080808080808080ull;
}

// The high bits of the eight bytes gathered into one bit each, byte i to bit i.
inline unsigned gather_high_bits(std::uint64_t m) {
  return static_cast<unsigned>(((m >> 7) * 0x0102040810204080ull) >> 56);
}

inline std::uint64_t load_u64(const char* p) {
  std::uint64_t w = 0;
  std::memcpy(&w, p, 8);
  return w;
}

inline std::uint32_t load_u32(const char* p) {
  std::uint32_t w = 0;
  std::memcpy(&w, p, 4);
  return w;
}

// One bit per character of a text of 1 to 16 characters, set where it is not a digit. The
// text is read with loads that overlap rather than run past its end.
inline unsigned non_digit_positions(const char* p, std::size_t n) {
  if (n >= 8) {
    return gather_high_bits(non_digit_bytes(load_u64(p))) |
           gather_high_bits(non_digit_bytes(load_u64(p + n - 8))) << (n - 8);
  }
  std::uint64_t w = 0;
  if (n >= 4) {
    w = load_u32(p) | static_cast<std::uint64_t>(load_u32(p + n - 4)) << (8 * (n - 4));
  } else {
    w = static_cast<unsigned char>(p[0]) |
        static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << (8 * (n / 2)) |
        static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << (8 * (n - 1));
  }
  return gather_high_bits(non_digit_bytes(w)) & ((1u << n) - 1);
}

} // namespace detail

// True for -?digits(.digits)? with 1 to 300 digits in each part. Under a plain_decimal_format
// such a text is a number and number_text returns it unchanged.
inline bool plain_decimal_text(std::string_view text) {
  const char* p = text.data();
  const std::size_t n = text.size();
  if (n >= 1 && n <= 16 && std::endian::native == std::endian::little) {
    // The short texts of a table: find the characters that are not digits all at once.
    const unsigned others = detail::non_digit_positions(p, n);
    if (others == 0) return true;
    const unsigned first = static_cast<unsigned>(std::countr_zero(others));
    const unsigned rest = others & (others - 1);
    const bool sign = first == 0 && p[0] == '-';
    if (rest == 0) { // one: a leading minus, or a point with digits on both sides
      return sign ? n >= 2 : p[first] == '.' && first >= 1 && first + 2 <= n;
    }
    if (!sign || (rest & (rest - 1)) != 0) return false; // more than a sign and a point
    const auto point = static_cast<std::size_t>(std::countr_zero(rest));
    return p[point] == '.' && point >= 2 && point + 2 <= n;
  }
  const auto digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
  const char* const end = p + n;
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
