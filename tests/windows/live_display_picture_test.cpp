// The live display drawn on real pictures: the pixels where a bar, a heat-map cell and the
// trace must be.

#include <gtest/gtest.h>

#include <QColor>
#include <memory>
#include <vector>

#include "acquisition/live_display.hpp"
#include "qt_test_app.hpp"
#include "ui/picture_box.hpp"

namespace kestrova::acquisition {
namespace {

constexpr int kB = 500;

class LiveDisplayPictureTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ensure_qt_application();
    picact_box_ = std::make_unique<ui::PictureBox>();
    picreal_box_ = std::make_unique<ui::PictureBox>();
    display_ptr_ = std::make_unique<LiveDisplay>(*picact_box_, *picreal_box_, project_);
    // One pixel per world unit across both pictures' x axes.
    picact().resize(330, 330);
    picreal().resize(kB + 20, 210);
    // 2 rows x 3 columns of 2-beam wells: well w is read by channels 2w and 2w + 1.
    store::PlateFormat& p = project_.plate;
    p.geometry = {2, 2, 0, 3, 2, 0};
    for (int c = 0; c < 12; ++c) {
      p.map.well_of_channel[static_cast<std::size_t>(c)] = c / 2;
      p.map.position_of_channel[static_cast<std::size_t>(c)] = c % 2;
    }
    p.map.greatest_well = 5;
    p.map.greatest_position = 1;
    p.map.rebuild_well_channel_table();
  }
  DisplayData data(int cursor) const { return {counts_, histogram_, raw_, band_, kB, cursor}; }
  static QColor at(const ui::PictureBox& box, int x, int y) { return box.image().pixelColor(x, y); }

  store::ProjectState project_;
  std::vector<std::int16_t> counts_ = std::vector<std::int16_t>(store::kChannelSlots, 0);
  std::vector<std::int32_t> histogram_ = std::vector<std::int32_t>(51 * store::kChannelSlots, 0);
  std::vector<std::int16_t> raw_ = std::vector<std::int16_t>((kB + 1) * store::kChannelSlots, 1000);
  std::vector<std::int16_t> band_ = std::vector<std::int16_t>((kB + 1) * store::kChannelSlots, 500);
  // Made once the application exists.
  std::unique_ptr<ui::PictureBox> picact_box_;
  std::unique_ptr<ui::PictureBox> picreal_box_;
  std::unique_ptr<LiveDisplay> display_ptr_;
  ui::PictureBox& picact() { return *picact_box_; }
  ui::PictureBox& picreal() { return *picreal_box_; }
  LiveDisplay& display() { return *display_ptr_; }
};

TEST_F(LiveDisplayPictureTest, GroupBarIsGreyUpToItsValue) {
  std::fill(counts_.begin(), counts_.begin() + 16, std::int16_t{100}); // group 0
  display().show_bars(data(0));
  // Bar 0 spans x 9.1..26.3 and y 2..100 in world units; y runs upwards from -30 at the bottom.
  const auto px = [&](double x, double y) { return picact().to_pixel(x, y).toPoint(); };
  EXPECT_EQ(at(picact(), px(18, 50).x(), px(18, 50).y()), QColor(200, 200, 200));
  EXPECT_EQ(at(picact(), px(18, 150).x(), px(18, 150).y()), QColor(Qt::white));
  // Group 1 (no counts) has no grey above its outline.
  EXPECT_EQ(at(picact(), px(40, 50).x(), px(40, 50).y()), QColor(Qt::white));
  // The axis.
  EXPECT_EQ(at(picact(), px(1, 100).x(), px(1, 100).y()), QColor(Qt::black));
}

TEST_F(LiveDisplayPictureTest, HeatMapCellIsDarkestForTheBusiestWell) {
  picact().resize(256, 181);     // a tenth of a pixel per world unit
  counts_[0] = counts_[1] = 200; // well A1
  counts_[3] = 100;              // well B1: a quarter of A1
  display().show_heat_map(data(0));
  const auto centre = [&](double x, double y) { return picact().to_pixel(x, y).toPoint(); };
  const QPoint a1 = centre(100, 100);
  const QPoint b1 = centre(100, 300);
  const QPoint a2 = centre(300, 100);
  EXPECT_EQ(at(picact(), a1.x(), a1.y()), QColor(0, 0, 0));
  EXPECT_EQ(at(picact(), b1.x(), b1.y()), QColor(191, 191, 191)); // 255 - 64
  EXPECT_EQ(at(picact(), a2.x(), a2.y()), QColor(Qt::white));
  const QPoint edge = centre(200, 100); // the red outline between A1 and A2
  EXPECT_EQ(at(picact(), edge.x(), edge.y()), QColor(255, 0, 0));
}

TEST_F(LiveDisplayPictureTest, TraceRunsRedAtItsSamplesWithTheBandBelowAndAGapAtTheCursor) {
  display().pick_channel(0, 1, 0, false, data(250)); // A1.0: channel 0
  ASSERT_EQ(display().channel(), 0);
  const auto px = [&](double x, double y) { return picreal().to_pixel(x, y).toPoint(); };
  const QPoint sample = px(100, 1000);
  const QPoint band = px(100, 500);
  const QPoint gap = px(250, 1000);
  EXPECT_EQ(at(picreal(), sample.x(), sample.y()), QColor(255, 0, 0));
  EXPECT_EQ(at(picreal(), band.x(), band.y()), QColor(0, 0, 255));
  EXPECT_EQ(at(picreal(), gap.x(), gap.y()), QColor(Qt::white));

  // Zoom 3 with the baseline at 1000: a sample 10 above it lies at 1780.
  display().zoom_in(data(250));
  display().zoom_in(data(250));
  display().zoom_in(data(250));
  for (int i = 300; i < 310; ++i)
    raw_[static_cast<std::size_t>(i) * store::kChannelSlots] = 1010;
  display().tick(2, data(312)); // the incremental update behind the cursor
  const QPoint zoomed = px(309, 1780);
  EXPECT_EQ(at(picreal(), zoomed.x(), zoomed.y()), QColor(255, 0, 0));
  const QPoint erased = px(314, 1750);
  EXPECT_EQ(at(picreal(), erased.x(), erased.y()), QColor(Qt::white));
}

} // namespace
} // namespace kestrova::acquisition
