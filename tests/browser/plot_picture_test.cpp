// The plots drawn on real pictures: the pixels where bars, series and heat-map cells must be.

#include <gtest/gtest.h>

// Before Qt, whose "slots" macro would clash with a member of that name.
#include "browser/plot_draw.hpp"

#include <QColor>
#include <memory>

#include "qt_test_app.hpp"
#include "ui/picture_box.hpp"

namespace kestrova::browser {
namespace {

class PlotPictureTest : public ::testing::Test {
protected:
  void SetUp() override {
    kestrova::testing::ensure_qt_application();
    box_ = std::make_unique<ui::PictureBox>();
    box_->resize(600, 400);
  }
  QColor at(double x, double y) const {
    const QPoint p = box_->to_pixel(x, y).toPoint();
    return box_->image().pixelColor(p);
  }
  std::unique_ptr<ui::PictureBox> box_;
};

GroupActivity one_column(std::initializer_list<double> values) {
  GroupActivity t;
  t.reset(1);
  t.bin = 30;
  int g = 0;
  for (double v : values) {
    t.cell(g++, 1) = v;
    t.maximum = std::max(t.maximum, static_cast<int>(v));
  }
  return t;
}

TEST_F(PlotPictureTest, BarsAreGreyUpToTheirValue) {
  const std::vector<std::string> items = {"000_A", "001_B", "002_C"};
  draw_bar_plot(*box_, one_column({100, 40, 0}), items, 0, 1);
  EXPECT_EQ(at(16, 50), QColor(220, 220, 220)); // bar 1 (group 0) half way up
  EXPECT_EQ(at(26, 20), QColor(200, 200, 200)); // the selected bar
  EXPECT_EQ(at(26, 60), QColor(Qt::white));     // above its value of 40
  EXPECT_EQ(at(36, 20), QColor(Qt::white));     // group 2 has nothing
  EXPECT_EQ(at(60, 0), QColor(128, 128, 128));  // the axis
}

TEST_F(PlotPictureTest, BarLabelsShrinkToStayApartOnANarrowPicture) {
  box_->resize(520, 300);
  const std::vector<std::string> items = {"000_Controls", "001_Drug 10uM", "002_Mutant A"};
  draw_bar_plot(*box_, one_column({60, 40, 20}), items, 0, 0);
  // Just left of where the second and third labels begin, below the axis, no ink (the next
  // label's smoothing may tint a pixel).
  for (double x : {22.8, 32.8}) {
    const int column = box_->to_pixel(x, 0).toPoint().x();
    for (int row = box_->to_pixel(x, -1.5).toPoint().y(); row < box_->image().height(); ++row)
      EXPECT_GT(box_->image().pixelColor(column, row).lightness(), 224) << x << " " << row;
  }
  // The labels are still printed.
  int dark = 0;
  for (int row = box_->to_pixel(0, -1.5).toPoint().y(); row < box_->image().height(); ++row)
    for (int column = box_->to_pixel(13, 0).toPoint().x(); column < box_->to_pixel(22, 0).x();
         ++column)
      if (box_->image().pixelColor(column, row).lightness() < 128) ++dark;
  EXPECT_GT(dark, 20);
}

TEST_F(PlotPictureTest, AllZeroBarsStillScaleToFifty) {
  const std::vector<std::string> items = {"000_A"};
  draw_bar_plot(*box_, one_column({0}), items, 0, 0);
  // The grey axis reaches 50 but the plot's top (52.5) is white.
  EXPECT_EQ(at(10, 45), QColor(128, 128, 128));
  EXPECT_EQ(at(60, 45), QColor(Qt::white));
}

TEST_F(PlotPictureTest, TheSeventhSeriesIsABlackLine) {
  GroupActivity t;
  t.reset(2);
  t.bin = 30;
  for (int g = 0; g < 7; ++g) {
    t.cell(g, 1) = 10 + 10 * g;
    t.cell(g, 2) = 10 + 10 * g;
  }
  t.maximum = 70;
  std::vector<std::string> items;
  for (int g = 0; g < 7; ++g)
    items.push_back("00" + std::to_string(g) + "_G");
  ASSERT_TRUE(draw_line_plot(*box_, t, items, 6, nullptr));
  EXPECT_EQ(at(45, 70), QColor(0, 0, 0));     // group 6 between its points at 30 and 60
  EXPECT_EQ(at(45, 10), QColor(255, 0, 0));   // group 0
  EXPECT_EQ(at(45, 40), QColor(255, 255, 0)); // group 3
  EXPECT_EQ(at(45, 45), QColor(Qt::white));
}

TEST_F(PlotPictureTest, HeatMapCellsDarkenWithTheWellTotal) {
  store::PlateFormat plate;
  plate.geometry = {2, 4, 0, 2, 4, 0}; // 2 x 2 wells of 4 x 4 beams
  for (int c = 0; c < 4; ++c) {
    plate.map.well_of_channel[static_cast<std::size_t>(c)] = c;
    plate.map.position_of_channel[static_cast<std::size_t>(c)] = 0;
  }
  plate.map.greatest_well = 3;
  plate.map.rebuild_well_channel_table();
  ChannelGroups groups{};
  groups.fill(-1);
  std::array<std::int64_t, store::kChannelCount> totals{};
  totals[0] = 1000; // A1
  totals[1] = 500;  // B1: half
  draw_heat_map(*box_, plate, groups, totals);
  EXPECT_EQ(at(300, 200), QColor(0, 0, 0));       // A1 cell, right part of the well
  EXPECT_EQ(at(300, 700), QColor(127, 127, 127)); // B1 cell, lower half of the well
  EXPECT_EQ(at(300, 500), QColor(Qt::white));     // B1 above its level
  EXPECT_EQ(at(100, 200), QColor(Qt::white));     // left part of a well stays white
  EXPECT_EQ(at(0, 200), QColor(255, 0, 0));       // well outline
}

} // namespace
} // namespace kestrova::browser
