// The plots as drawing calls: where bars, lines, markers, heat-map cells and signal traces go.

#include <gtest/gtest.h>

#include <algorithm>

#include "browser/plot_draw.hpp"
#include "plot_fixture.hpp"
#include "support/fake_canvas.hpp"

namespace kestrova::browser {
namespace {

using kestrova::testing::FakeCanvas;

std::vector<std::string> items_of(int groups) {
  std::vector<std::string> items;
  for (int g = 0; g < groups; ++g)
    items.push_back((g < 10 ? "00" : "0") + std::to_string(g) + "_Name" + std::to_string(g));
  return items;
}

GroupActivity table_of(int columns, int bin, const std::function<double(int, int)>& value) {
  GroupActivity t;
  t.reset(columns);
  t.bin = bin;
  double top = 0;
  for (int g = 0; g < kGroupRows; ++g)
    for (int m = 1; m <= columns; ++m) {
      t.cell(g, m) = value(g, m);
      if (g < kFreeRow) top = std::max(top, t.cell(g, m));
    }
  t.maximum = static_cast<int>(top);
  return t;
}

TEST(BarPlot, AllZeroCountsStillUseAScaleOfFifty) {
  FakeCanvas canvas;
  const auto items = items_of(2);
  draw_bar_plot(canvas, table_of(1, 30, [](int, int) { return 0.0; }), items, 0, 1);
  ASSERT_FALSE(canvas.calls.empty());
  EXPECT_EQ(canvas.calls[0], "world 0,52.5-120,-6.75");
  EXPECT_TRUE(canvas.contains("box 12,0-20,0 (220,220,220) filled"));
  EXPECT_TRUE(canvas.contains("box 22,0-30,0 (200,200,200) filled")); // the selected item
  EXPECT_TRUE(canvas.contains("text 1,52.5 \"50\" (0,0,0) 6pt"));
}

TEST(BarPlot, TenBarsFromTheFirstBarEachAtItsGroupsValue) {
  FakeCanvas canvas;
  const auto items = items_of(14);
  const GroupActivity t = table_of(1, 30, [](int g, int) { return g < 14 ? 10.0 * g : 0.0; });
  draw_bar_plot(canvas, t, items, 4, 5);
  EXPECT_EQ(canvas.calls[0], "world 0,136.5-120,-17.55"); // Y = 130
  EXPECT_EQ(canvas.count("box"), 20);                     // filled and outline, ten bars
  // Bar m = 1 is item 4 (group 4): value 40; bar 2 is the selected item 5.
  EXPECT_TRUE(canvas.contains("box 12,0-20,40 (220,220,220) filled"));
  EXPECT_TRUE(canvas.contains("box 12,0-20,40 (0,0,0)"));
  EXPECT_TRUE(canvas.contains("box 22,0-30,50 (200,200,200) filled"));
  EXPECT_TRUE(canvas.contains("text 13,-2 \"004_Name4\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("box 102,0-110,130 (220,220,220) filled")); // item 13
  EXPECT_TRUE(canvas.contains("text 103,43.3333 \"130\" (0,0,0) 8pt"));
}

TEST(BarPlot, TheFreeItemShowsTheFreeRow) {
  FakeCanvas canvas;
  const std::vector<std::string> items = {"999_Free"};
  const GroupActivity t = table_of(1, 30, [](int g, int) { return g == kFreeRow ? 77.0 : 0.0; });
  draw_bar_plot(canvas, t, items, 0, -1);
  EXPECT_TRUE(canvas.contains("box 12,0-20,77 (220,220,220) filled"));
}

TEST(LinePlot, AllZeroCountsDrawNothing) {
  FakeCanvas canvas;
  EXPECT_FALSE(draw_line_plot(canvas, table_of(13, 5, [](int, int) { return 0.0; }), items_of(3), 0,
                              nullptr));
  EXPECT_TRUE(canvas.calls.empty());
}

TEST(LinePlot, PointsAtBinEndsInPaletteColoursWithTheSelectedGroupWider) {
  FakeCanvas canvas;
  // Maximum 40 -> the plot's height is 60; X = 3 columns x 10 minutes.
  const GroupActivity t = table_of(3, 10, [](int g, int m) { return g < 8 ? g * 5.0 + m : 0.0; });
  ASSERT_EQ(t.maximum, 38);
  ASSERT_TRUE(draw_line_plot(canvas, t, items_of(8), 2, nullptr));
  EXPECT_EQ(canvas.calls[0], "world -3,62.7-36,-5.7"); // M = 57
  EXPECT_TRUE(canvas.contains("text 0,62.7 \"Line PLOT\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text -1.5,-1 \"Time[min]\" (0,0,0) 8pt"));
  for (const char* label : {"text 10,-1 \"10\"", "text 20,-1 \"20\"", "text 30,-1 \"30\""})
    EXPECT_EQ(canvas.count(label), 1) << label;
  // Group 6 is black; group 0 red.
  EXPECT_TRUE(canvas.contains("line 10,31-20,32 (0,0,0)"));
  EXPECT_TRUE(canvas.contains("line 20,32-30,33 (0,0,0)"));
  EXPECT_TRUE(canvas.contains("line 10,1-20,2 (255,0,0)"));
  // The selected group (2) is drawn three pixels wide, the others one.
  const auto at = [&](const std::string& call) {
    return std::find(canvas.calls.begin(), canvas.calls.end(), call) - canvas.calls.begin();
  };
  const auto blue = at("line 10,11-20,12 (0,0,255)");
  ASSERT_LT(blue, static_cast<long>(canvas.calls.size()));
  EXPECT_EQ(canvas.calls[static_cast<std::size_t>(blue - 1)], "width 3");
  const auto red = at("line 10,1-20,2 (255,0,0)");
  EXPECT_EQ(canvas.calls[static_cast<std::size_t>(red - 1)], "width 1");
  // No markers outside the kinetic plot; a legend circle per series.
  EXPECT_EQ(canvas.count("circle"), 8);
  EXPECT_TRUE(canvas.contains("text 31.5,58 \" [#000_Name0]\" (255,0,0) 8pt"));
}

TEST(LinePlot, KineticPlotMarksEveryAcquisitionAndLabelsDays) {
  KineticActivity k;
  k.table = table_of(2, 0, [](int g, int m) { return g == 0 ? 100.0 * m : 0.0; });
  k.folders = {"20210310_1200", "20210314_1200"};
  k.dates = {common::from_civil({2021, 3, 10, 12, 0, 0, 0}),
             common::from_civil({2021, 3, 14, 12, 0, 0, 0})};
  FakeCanvas canvas;
  ASSERT_TRUE(draw_line_plot(canvas, k.table, items_of(1), 0, &k));
  // X = 4 days in minutes + 1; M = 200.
  EXPECT_EQ(canvas.calls[0], "world -576.1,220-6913.2,-20");
  EXPECT_TRUE(canvas.contains("text 0,220 \"[TAG] Kinetics PLOT\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 0,-1 \"0\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 5760,-1 \"4.0\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text -288.05,-1 \"Time[day]\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("line 0,100-5760,200 (255,0,0)"));
  EXPECT_TRUE(canvas.contains("circle 0,100 r0.3 (255,0,0)"));
  EXPECT_TRUE(canvas.contains("circle 5760,200 r0.3 (255,0,0)"));
}

TEST(HeatMap, CellsGreyByWellTotalWithOutlinesAndGroupLabels) {
  // 2 rows x 3 columns of 2-beam wells over the first 12 channels; pitch 2, no offsets.
  store::PlateFormat plate;
  plate.geometry = {2, 2, 0, 3, 2, 0};
  for (int c = 0; c < 12; ++c) {
    plate.map.well_of_channel[static_cast<std::size_t>(c)] = c / 2;
    plate.map.position_of_channel[static_cast<std::size_t>(c)] = c % 2;
  }
  plate.map.greatest_well = 5;
  plate.map.greatest_position = 1;
  plate.map.rebuild_well_channel_table();
  ChannelGroups groups{};
  groups.fill(-1);
  groups[0] = 4; // well A1
  groups[2] = 1; // well B1
  groups[5] = 2; // position 1 of well 2: no label
  std::array<std::int64_t, store::kChannelCount> totals{};
  totals[0] = 300, totals[1] = 100; // A1: 400, the largest
  totals[2] = 100;                  // B1: a quarter
  FakeCanvas canvas;
  draw_heat_map(canvas, plate, groups, totals);
  EXPECT_EQ(canvas.calls[0], "world -50,-50-2450,1650");
  EXPECT_TRUE(canvas.contains("box 120,0-190,190 (0,0,0) filled"));
  EXPECT_TRUE(canvas.contains("box 120,350-190,390 (191,191,191) filled"));
  EXPECT_EQ(canvas.count("box"), 8);                             // 2 cells + 6 outlines
  EXPECT_TRUE(canvas.contains("box 200,200-400,400 (255,0,0)")); // outline of B2
  EXPECT_TRUE(canvas.contains("text 25,45 \"4G\" (0,255,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 25,245 \"1G\" (0,0,255) 8pt"));
  EXPECT_EQ(canvas.count("text"), 2 + 3 + 2);
  EXPECT_TRUE(canvas.contains("text 225,-50 \"2\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text -50,200 \"B\" (0,0,0) 8pt"));
}

TEST(BeamColours, GreenToRedForManyBeamsElseFourFixed) {
  EXPECT_EQ(beam_colour(0, 4), (common::Rgb{0, 255, 0}));
  EXPECT_EQ(beam_colour(2, 4), (common::Rgb{128, 127, 0}));
  EXPECT_EQ(beam_colour(4, 4), (common::Rgb{255, 0, 0}));
  EXPECT_EQ(beam_colour(0, 3), (common::Rgb{255, 0, 0}));
  EXPECT_EQ(beam_colour(1, 3), (common::Rgb{0, 0, 255}));
  EXPECT_EQ(beam_colour(3, 3), (common::Rgb{200, 128, 0}));
}

TEST(Threshold, OutOfRangeOrNotANumberGivesTheDefault) {
  EXPECT_EQ(preview_threshold("2.5"), 2.5);
  EXPECT_EQ(preview_threshold("1.1"), 1.1);
  EXPECT_EQ(preview_threshold("6"), 6);
  EXPECT_EQ(preview_threshold("6.1"), 1.8);
  EXPECT_EQ(preview_threshold("1"), 1.8);
  EXPECT_EQ(preview_threshold("x"), 1.8);
}

} // namespace
} // namespace kestrova::browser
