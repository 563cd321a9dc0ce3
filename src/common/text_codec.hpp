#pragma once

#include <string>
#include <string_view>

namespace kestrova::common {

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Converts Windows-1252 bytes to UTF-8. The five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value.
std::string windows1252_to_utf8(std::string_view bytes);

// Text of a file written by this program or an older installation: UTF-8 when valid (a
// leading byte-order mark is dropped), otherwise Windows-1252 converted to UTF-8.
std::string decode_text(std::string_view bytes);

} // namespace kestrova::common
