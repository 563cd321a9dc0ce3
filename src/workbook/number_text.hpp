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

// The value of a plain decimal text given by number_text.
double number_value(std::string_view plain);

// True for texts such as "0042": at least two characters, the first "0", the second neither
// "," nor ".". Such codes stay text in a workbook so their leading zeros survive.
bool looks_like_code(std::string_view text);

// `text` without leading and trailing spaces (only the space character).
std::string_view trim_spaces(std::string_view text);

// Writes the shortest text that reads back as `value` ("." as decimal point, no thousands
// separators) into `out`, which must hold kNumberTextMax characters; returns the length.
inline constexpr std::size_t kNumberTextMax = 32;
std::size_t format_number(double value, char* out);

} // namespace kestrova::workbook
