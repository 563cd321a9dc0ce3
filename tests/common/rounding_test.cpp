#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/rounding.hpp"

using kestrova::common::round_half_even;
using kestrova::common::round_to_int;

TEST(Rounding, WholeNumbersHalvesToEven) {
  const struct {
    double in, out;
  } cases[] = {
      {2.5, 2},    {3.5, 4},    {-2.5, -2},   {-3.5, -4}, {0.5, 0},           {1.5, 2},
      {2.4999, 2}, {2.5001, 3}, {-0.4, -0.0}, {7, 7},     {1e15 + 0.5, 1e15},
  };
  for (const auto& c : cases)
    EXPECT_EQ(round_half_even(c.in), c.out) << c.in;
}

TEST(Rounding, DecimalPlacesJudgedOnPrintedValue) {
  const struct {
    double in;
    int places;
    double out;
  } cases[] = {
      {0.125, 2, 0.12},
      {0.375, 2, 0.38},
      {2.675, 2, 2.68},
      {1.0005, 3, 1.0},
      {23.25, 1, 23.2},
      {23.35, 1, 23.4},
      {-0.125, 2, -0.12},
      {3.14159, 3, 3.142},
      // Large values: only a true half of the printed value is a tie.
      {123456789.1234, 3, 123456789.123},
      {100000000.14, 1, 100000000.1},
      {-100000000.16, 1, -100000000.2},
      {1e6 + 0.0004, 3, 1e6},
      {98765432109.25, 1, 98765432109.2},
      // Small values and carries.
      {0.0004, 3, 0},
      {0.0005, 3, 0},
      {0.0006, 3, 0.001},
      {0.0015, 3, 0.002},
      {0.99996, 4, 1},
      {0.00001, 2, 0},
      {9.995, 2, 10},
      {-9.985, 2, -9.98},
      // Beyond the precision of a double, or where scaling would overflow: unchanged.
      {1e306, 3, 1e306},
      {-1.5e300, 2, -1.5e300},
      {123456789012345.0, 3, 123456789012345.0},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(round_half_even(c.in, c.places), c.out) << c.in;
}

TEST(Rounding, ToIntSaturatesAndHandlesNan) {
  EXPECT_EQ(round_to_int(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(round_to_int(-1e300), std::numeric_limits<int>::min());
  EXPECT_EQ(round_to_int(std::nan("")), 0);
  EXPECT_EQ(round_to_int(4.5), 4);
}
