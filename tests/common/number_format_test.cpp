#include "common/number_format.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace kestrova::common {
namespace {

struct DisplayCase {
  double value;
  const char* pattern;
  char separator;
  const char* expected;
};

TEST(FormatDisplay, PatternsRoundHalfToEvenAndUseTheSeparator) {
  const DisplayCase cases[] = {
      {2.25, "0.0", '.', "2.2"},
      {2.35, "0.0", '.', "2.4"},
      {0.05, "0.0", '.', "0.0"},
      {0.15, "0.0", '.', "0.2"},
      {-0.04, "0.0", '.', "0.0"},
      {-1.25, "0.0", ',', "-1,2"},
      {12.5, "0.0", ',', "12,5"},
      {0.125, "0.00", '.', "0.12"},
      {0.375, "0.00", '.', "0.38"},
      {3, "0.00", ',', "3,00"},
      {5, "00", '.', "05"},
      {2.5, "00", '.', "02"},
      {3.5, "00", '.', "04"},
      {123, "00", '.', "123"},
      {-5, "00", '.', "-05"},
      {7, "000", '.', "007"},
      {7, "00000", '.', "00007"},
      {32000, "00000", '.', "32000"},
      {1234567.891, "0.0", '.', "1234567.9"},
      {100000000.14, "0.0", '.', "100000000.1"},
      {98765432.125, "0.00", ',', "98765432,12"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_display(c.value, c.pattern, c.separator), c.expected)
        << c.value << " with " << c.pattern;
  }
}

TEST(FormatRecordReal, WrittenFormsOfRecordFiles) {
  const std::pair<double, const char*> cases[] = {
      {0.5, ".5"},
      {-0.5, "-.5"},
      {3.0, "3"},
      {2.5, "2.5"},
      {0.125, ".125"},
      {-0.0, "0"},
      {0.0, "0"},
      {100.0, "100"},
      {1.0 / 3.0, ".333333333333333"},
      {2.0 / 3.0, ".666666666666667"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {1.5e20, "1.5E+20"},
      {0.0001, ".0001"},
      {0.00001, "1E-05"},
      {-1.25e-7, "-1.25E-07"},
      {0.1 + 0.2, ".3"},
      {1e300, "1E+300"},
      // Rounding to 15 significant digits may carry into a new leading digit.
      {999999999999999.9, "1E+15"},
      {99999.99999999999, "100000"},
      {0.00009999999999999999, ".0001"},
      {-123456.7, "-123456.7"},
      {0.00012, ".00012"},
      {5e-324, "4.94065645841247E-324"},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(format_record_real(value), expected);
}

TEST(FormatRecordReal, NotFiniteValuesAreWrittenAsZero) {
  EXPECT_EQ(format_record_real(std::numeric_limits<double>::infinity()), "0");
  EXPECT_EQ(format_record_real(std::numeric_limits<double>::quiet_NaN()), "0");
}

TEST(Separators, ListSeparatorFollowsTheDecimalSeparator) {
  EXPECT_EQ(locale_decimal_separator(), '.'); // tests run in the C locale
  EXPECT_EQ(list_separator_for(','), ';');
  EXPECT_EQ(list_separator_for('.'), ',');
}

} // namespace
} // namespace kestrova::common
