#include <gtest/gtest.h>

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
