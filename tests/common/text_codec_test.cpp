#include "common/text_codec.hpp"

#include <gtest/gtest.h>

namespace kestrova::common {
namespace {

TEST(TextCodec, Utf8Validity) {
  const std::pair<std::string, bool> cases[] = {
      {"plain", true},
      {"Ca\xC3\xB1"
       "a",
       true},                      // ñ
      {"\xE2\x82\xAC", true},      // €
      {"\xF0\x9F\x90\x9B", true},  // 4-byte
      {"\xC3", false},             // cut short
      {"\xC0\xAF", false},         // overlong
      {"\xED\xA0\x80", false},     // surrogate
      {"\xF4\x90\x80\x80", false}, // above U+10FFFF
      {"Ca\xF1"
       "a",
       false}, // Windows-1252 ñ
      {"\x80", false},
  };
  for (const auto& [bytes, valid] : cases)
    EXPECT_EQ(is_valid_utf8(bytes), valid) << bytes;
}

TEST(TextCodec, DecodesWindows1252WhenNotUtf8) {
  EXPECT_EQ(decode_text("Ca\xF1"
                        "a 25\xB0"
                        "C \x80"),
            "Ca\xC3\xB1"
            "a 25\xC2\xB0"
            "C \xE2\x82\xAC");
  EXPECT_EQ(decode_text("\x93quoted\x94"), "\xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(decode_text("\x81"), "\xC2\x81");
}

TEST(TextCodec, KeepsUtf8AndDropsItsByteOrderMark) {
  EXPECT_EQ(decode_text("Ca\xC3\xB1"
                        "a"),
            "Ca\xC3\xB1"
            "a");
  EXPECT_EQ(decode_text("\xEF\xBB\xBF\"hdr\"\r\n"), "\"hdr\"\r\n");
  EXPECT_EQ(decode_text(""), "");
}

} // namespace
} // namespace kestrova::common
