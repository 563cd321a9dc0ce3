// Bin steps, time units and labels, the palette and the texts of the line plot.

#include <gtest/gtest.h>

#include "browser/plot_axis.hpp"

namespace kestrova::browser {
namespace {

TEST(BinSteps, StayWithinLimitsAndMoveToDivisorsOfTheSpan) {
  struct Case {
    const char* name;
    const char* text;
    int columns;
    int previous_bin;
    int minus;
    int plus;
  };
  const Case cases[] = {
      // Span (3 - 1) x 15 = 30: "+" from 15 would pass half the span and keeps 15.
      {"span of 30 at bin 15", "15", 3, 15, 10, 15},
      {"smallest bin", "5", 13, 5, 5, 10},
      {"6 to 9 are left by minus, then stepped to a divisor", "7", 13, 5, 5, 12},
      {"above 120", "130", 49, 30, 120, 120},
      // Span 100: plus steps 30 -> 50 (half the span); minus steps 30 -> 25.
      {"plus and minus look for a divisor", "25", 21, 5, 20, 50},
      {"minus steps down to a divisor", "35", 21, 5, 25, 50},
      {"a short recording counts as 30 minutes", "20", 1, 5, 15, 15},
      {"not a number", "abc", 13, 5, 5, 5},
      {"rounded box value", " 9.6", 13, 5, 5, 15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bin_after_minus(text_value(c.text), c.columns, c.previous_bin), c.minus) << c.name;
    EXPECT_EQ(bin_after_plus(text_value(c.text), c.columns, c.previous_bin), c.plus) << c.name;
  }
}

TEST(BinSteps, TheFirstLineBinFollowsTheAcquisitionLapse) {
  EXPECT_EQ(initial_line_bin(30), 5);
  EXPECT_EQ(initial_line_bin(59), 5);
  EXPECT_EQ(initial_line_bin(60), 30);
}

TEST(KineticTime, UnitsAndLabelsFollowTheSpan) {
  EXPECT_EQ(kinetic_time_unit(1440), "min");
  EXPECT_EQ(kinetic_time_unit(2 * 1440), "h");
  EXPECT_EQ(kinetic_time_unit(3 * 1440), "h");
  EXPECT_EQ(kinetic_time_unit(4 * 1440), "day");
  EXPECT_EQ(kinetic_time_label(2880, "h", true), "0");
  EXPECT_EQ(kinetic_time_label(45, "min", false), "45");
  EXPECT_EQ(kinetic_time_label(90, "h", false), "1.5");
  EXPECT_EQ(kinetic_time_label(2160, "day", false), "1.5");
}

TEST(LinePalette, BlocksOfThirteenWithBlackSeventh) {
  const auto& p = line_palette();
  for (int i : {6, 19, 32, 370})
    EXPECT_EQ(p[static_cast<std::size_t>(i)], (common::Rgb{0, 0, 0})) << i;
  EXPECT_EQ(p[0], (common::Rgb{255, 0, 0}));
  EXPECT_EQ(p[7], (common::Rgb{255, 128, 0}));
  EXPECT_EQ(p[12], (common::Rgb{128, 0, 255}));
  // 255 - 383 / 255 x 13 = 235.47
  EXPECT_EQ(p[13], (common::Rgb{235, 0, 0}));
  EXPECT_EQ(p[14], (common::Rgb{0, 235, 0}));
  // From block 182 on the intensity is 0.
  EXPECT_EQ(p[182 + 8], (common::Rgb{128, 0, 0}));
}

TEST(GroupItems, TheFirstThreeCharactersNameTheGroup) {
  EXPECT_EQ(group_of_item("007_Control"), 7);
  EXPECT_EQ(group_of_item("999_Free"), 384);
  EXPECT_EQ(group_of_item("ab_"), -1);
}

TEST(KineticText, HeaderAndBodyUseTheSeparator) {
  KineticActivity k;
  k.table.reset(2);
  k.table.cell(0, 1) = 5, k.table.cell(0, 2) = 7.5;
  k.table.cell(1, 1) = 2, k.table.cell(1, 2) = 8.5;
  k.folders = {"20210316_1405", "20210318_1405"};
  k.dates = {common::from_civil({2021, 3, 16, 14, 5, 0, 0}),
             common::from_civil({2021, 3, 18, 14, 5, 0, 0})};
  k.acquisition_list = " 20210316_1405 20210318_1405";
  const std::vector<std::string> items = {"000_Control group", "001_Drug"};
  const KineticText text = kinetic_table_text(k, items, ";");
  EXPECT_EQ(text.header, "Acq:;20210316_1405;20210318_1405\r\n");
  EXPECT_EQ(text.body, "Group/Time[h];0;48.0\r\n[#000_Contro];5;8\r\n[#001_Drug];2;8");
}

} // namespace
} // namespace kestrova::browser
