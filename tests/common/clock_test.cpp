#include <gtest/gtest.h>

#include "support/fake_clock.hpp"

using namespace kestrova::common;

TEST(Clock, CivilRoundTripAndMidnightSeconds) {
  const CivilTime c{2024, 2, 29, 23, 59, 58, 250};
  EXPECT_EQ(to_civil(from_civil(c)), c);
  EXPECT_DOUBLE_EQ(seconds_since_midnight(from_civil(c)), 86398.25);
}

TEST(Clock, FakeClockSleepsInVirtualTimeAcrossMidnight) {
  kestrova::testing::FakeClock clock({2026, 12, 31, 23, 59, 59, 900});
  clock.sleep_ms(150);
  EXPECT_EQ(to_civil(clock.now()), (CivilTime{2027, 1, 1, 0, 0, 0, 50}));
  EXPECT_EQ(clock.total_slept_ms(), 150);
}
