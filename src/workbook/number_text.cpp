#include "workbook/number_text.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

#include "common/number_format.hpp"

namespace kestrova::workbook {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool at(std::string_view text, std::size_t i, std::string_view token) {
  return !token.empty() && text.substr(i, token.size()) == token;
}

} // namespace

NumberFormat locale_number_format() {
  const std::lconv* lc = std::localeconv();
  NumberFormat f;
  f.decimal = (lc && lc->decimal_point && *lc->decimal_point) ? lc->decimal_point : ".";
  f.thousands = (lc && lc->thousands_sep) ? lc->thousands_sep : "";
  return f;
}

std::string list_separator_for(const NumberFormat& format) {
  return std::string(1, common::list_separator_for(format.decimal == "," ? ',' : '.'));
}

bool plain_decimal_format(const NumberFormat& format) {
  if (format.decimal != ".") return false;
  const std::string& group = format.thousands;
  return group.empty() || group == format.decimal ||
         (group[0] != '.' && group[0] != '-' && !is_digit(group[0]));
}

std::optional<std::string_view> number_text(std::string_view text, const NumberFormat& format,
                                            std::string& scratch) {
  if (plain_decimal_text(text) && plain_decimal_format(format)) return text;
  // A number starts with a sign, a digit or the decimal separator; most texts fail here.
  if (text.empty()) return std::nullopt;
  const char lead = text[0];
  if (!is_digit(lead) && lead != '+' && lead != '-' &&
      (format.decimal.empty() || lead != format.decimal[0])) {
    return std::nullopt;
  }
  const std::string_view dec = format.decimal;
  const std::string_view group =
      format.thousands == format.decimal ? std::string_view{} : std::string_view{format.thousands};
  // One-byte separators (the usual case) are compared as characters.
  const int dec1 = dec.size() == 1 ? static_cast<unsigned char>(dec[0]) : -1;
  const int group1 = group.size() == 1 ? static_cast<unsigned char>(group[0]) : -1;
  const auto is_dec = [&](std::size_t i) {
    return dec1 >= 0 ? i < text.size() && static_cast<unsigned char>(text[i]) == dec1
                     : at(text, i, dec);
  };
  const auto is_group = [&](std::size_t i) {
    return group1 >= 0 ? static_cast<unsigned char>(text[i]) == group1 : at(text, i, group);
  };
  // Check the form. The text is already plain unless it has a "+" sign, thousands
  // separators, a decimal separator other than ".", or a mantissa starting or ending in it.
  bool rewrite = false;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) rewrite = text[i++] == '+';
  std::size_t whole_digits = 0;
  while (i < n) {
    if (is_digit(text[i])) {
      ++i;
      ++whole_digits;
    } else if (whole_digits > 0 && !group.empty() && is_group(i) && i + group.size() < n &&
               is_digit(text[i + group.size()])) {
      i += group.size();
      rewrite = true;
    } else {
      break;
    }
  }
  std::size_t fraction_digits = 0;
  if (is_dec(i)) {
    i += dec.size();
    while (i < n && is_digit(text[i])) {
      ++i;
      ++fraction_digits;
    }
    rewrite = rewrite || dec != "." || whole_digits == 0 || fraction_digits == 0;
  }
  if (whole_digits + fraction_digits == 0) return std::nullopt;
  bool exponent = false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    exponent = true;
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < n && is_digit(text[i])) {
      ++i;
      ++exp_digits;
    }
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != n) return std::nullopt;

  std::string_view plain = text;
  if (rewrite) {
    // The text is known to be valid: keep "-", digits and the exponent, drop thousands
    // separators, write the decimal separator as "." with a digit on each side.
    scratch.clear();
    std::size_t k = 0;
    if (text[0] == '+' || text[0] == '-') {
      if (text[0] == '-') scratch += '-';
      ++k;
    }
    while (k < n) {
      const char c = text[k];
      if (is_dec(k)) {
        if (whole_digits == 0) scratch += '0';
        if (fraction_digits > 0) scratch += '.';
        k += dec.size();
      } else if (is_digit(c) || c == 'e' || c == 'E' || c == '+' || c == '-') {
        scratch += c;
        ++k;
      } else {
        k += group.empty() ? 1 : group.size();
      }
    }
    plain = scratch;
  }
  // Only an exponent or a very long number can leave the range of a double.
  if (exponent || whole_digits > 300 || fraction_digits > 300) {
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc{} || end != plain.data() + plain.size() || !std::isfinite(value)) {
      return std::nullopt;
    }
  }
  return plain;
}

double number_value(std::string_view plain) {
  double value = 0;
  std::from_chars(plain.data(), plain.data() + plain.size(), value);
  return value;
}

std::optional<double> parse_number(std::string_view text, const NumberFormat& format) {
  std::string scratch;
  const auto plain = number_text(text, format, scratch);
  if (!plain) return std::nullopt;
  return number_value(*plain);
}

std::size_t format_number(double value, char* out) {
  const auto [end, ec] = std::to_chars(out, out + kNumberTextMax, value);
  return ec == std::errc{} ? static_cast<std::size_t>(end - out) : 0;
}

} // namespace kestrova::workbook
