#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "workbook/number_text.hpp"

namespace kestrova::workbook {
namespace {

const NumberFormat kPoint{".", ","};
const NumberFormat kComma{",", "."};
const NumberFormat kCommaNoGroups{",", ""};

TEST(ParseNumber, AcceptsPlainNumbersInTheGivenFormat) {
  struct Case {
    const char* text;
    const NumberFormat* format;
    double value;
  };
  const Case cases[] = {
      {"42", &kPoint, 42},          {"-0.5", &kPoint, -0.5},    {"+3", &kPoint, 3},
      {".5", &kPoint, 0.5},         {"5.", &kPoint, 5},         {"1,234.5", &kPoint, 1234.5},
      {"1e3", &kPoint, 1000},       {"2.5E-2", &kPoint, 0.025}, {"12,5", &kComma, 12.5},
      {"1.234,5", &kComma, 1234.5}, {"0042", &kPoint, 42},      {"12,5", &kCommaNoGroups, 12.5},
  };
  for (const Case& c : cases) {
    const auto v = parse_number(c.text, *c.format);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
  }
}

TEST(ParseNumber, RejectsEverythingElse) {
  struct Case {
    const char* text;
    const NumberFormat* format;
  };
  const Case cases[] = {
      {"", &kPoint},
      {"-", &kPoint},
      {".", &kPoint},
      {"abc", &kPoint},
      {"1a", &kPoint},
      {" 1", &kPoint},
      {"1 ", &kPoint},
      {"1e", &kPoint},
      {"1e+", &kPoint},
      {",5", &kPoint},
      {"1,", &kPoint},
      {"1.5.2", &kPoint},
      {"1.5", &kCommaNoGroups},
      {"1e999", &kPoint},
      {"nan", &kPoint},
      {"inf", &kPoint},
      {"0x1A", &kPoint},
      {"--1", &kPoint},
      {"1,,000", &kPoint},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(parse_number(c.text, *c.format)) << c.text;
}

// The definition itself, one character at a time.
bool plain_decimal_by_definition(std::string_view t) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = t.starts_with('-') ? 1 : 0;
  const std::size_t whole = i;
  while (i < t.size() && digit(t[i]))
    ++i;
  if (i == whole) return false;
  if (i == t.size()) return true;
  if (t[i] != '.') return false;
  const std::size_t fraction = ++i;
  while (i < t.size() && digit(t[i]))
    ++i;
  return i == t.size() && i != fraction;
}

TEST(NumberText, PlainDecimalTextAgreesWithItsDefinition) {
  // Every text of up to 7 characters over digits, the sign, the point and the bytes next to
  // the digits, then longer mostly-digit texts. Each is copied into its own allocation of
  // exactly its size, so a read past its end is caught under the address sanitizer.
  const std::string alphabet = "09-./:\xB0";
  const auto check = [](const std::string& text) {
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    const std::string_view view(exact.get(), text.size());
    ASSERT_EQ(plain_decimal_text(view), plain_decimal_by_definition(text)) << text;
  };
  std::vector<std::size_t> digits;
  for (std::size_t length = 0; length <= 7; ++length) {
    digits.assign(length, 0);
    for (;;) {
      std::string text;
      for (const std::size_t d : digits)
        text += alphabet[d];
      check(text);
      std::size_t k = 0;
      while (k < length && ++digits[k] == alphabet.size())
        digits[k++] = 0;
      if (k == length) break;
    }
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; ++i) {
    std::string text(1 + rng() % 24, '0');
    for (char& c : text)
      c = static_cast<char>('0' + rng() % 10);
    for (unsigned k = rng() % 3; k > 0; --k)
      text[rng() % text.size()] = alphabet[2 + rng() % 5];
    check(text);
  }
}

TEST(NumberText, CodesWithALeadingZero) {
  for (const char* code : {"0042", "00", "0A", "01,5"})
    EXPECT_TRUE(looks_like_code(code)) << code;
  for (const char* plain : {"0", "0.5", "0,5", "42", "-0042", ""}) {
    EXPECT_FALSE(looks_like_code(plain)) << plain;
  }
}

TEST(NumberText, ShortestRoundTripText) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {{42, "42"},
                        {0.5, "0.5"},
                        {-12.25, "-12.25"},
                        {0.1 + 0.2, "0.30000000000000004"},
                        {1e21, "1e+21"}};
  for (const Case& c : cases) {
    char out[kNumberTextMax];
    EXPECT_EQ(std::string(out, format_number(c.value, out)), c.text);
  }
}

TEST(NumberText, ListSeparatorAndTrimming) {
  EXPECT_EQ(list_separator_for(kComma), ";");
  EXPECT_EQ(list_separator_for(kPoint), ",");
  EXPECT_EQ(trim_spaces("  a b  "), "a b");
  EXPECT_EQ(trim_spaces("   "), "");
}

} // namespace
} // namespace kestrova::workbook
