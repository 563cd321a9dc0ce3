#pragma once

#include <string>
#include <string_view>

namespace kestrova::common {

// Writes `value` with a display pattern made of zeros and an optional point, such as "0.0",
// "0.00", "00", "000" or "00000": the zeros before the point are the least number of whole
// digits (zero-padded), the zeros after it the exact number of decimals. Rounding is half to
// even; the point is written as `decimal_separator`; a result that rounds to zero has no sign.
std::string format_display(double value, std::string_view pattern, char decimal_separator = '.');

// The Real form of record files: "." as the point, no point for whole values, no trailing
// zeros, no zero before the point below one (".5", "-.5"), at most 15 significant digits;
// exponent form ("1E-05", "1.5E+20") below 1E-04 and from 1E+15 on. Not-finite values give "0".
std::string format_record_real(double value);

// The decimal separator of the current C locale (LC_NUMERIC): ',' or '.'.
char locale_decimal_separator();

// The list separator that goes with a decimal separator: ';' after ',', otherwise ','.
char list_separator_for(char decimal_separator);

} // namespace kestrova::common
