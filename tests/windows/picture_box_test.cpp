#include "ui/picture_box.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>
#include <memory>

#include "qt_test_app.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::ui {
namespace {

using common::Rgb;

class PictureBoxTest : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ensure_qt_application();
    box_ = std::make_unique<PictureBox>();
    box_->resize(200, 100);
    box_->clear({255, 255, 255});
  }
  QRgb at(int x, int y) const { return box_->image().pixel(x, y); }
  std::unique_ptr<PictureBox> box_;
};

TEST_F(PictureBoxTest, WorldWindowMapsBothDirections) {
  // The live display's window: x from -30 to 300, y running upwards from -30 to 300.
  box_->set_world(-30, 300, 300, -30);
  const QPointF origin = box_->to_pixel(0, 0);
  EXPECT_NEAR(origin.x(), 30.0 / 330 * 200, 1e-9);
  EXPECT_NEAR(origin.y(), 300.0 / 330 * 100, 1e-9);
  EXPECT_LT(box_->to_pixel(0, 250).y(), origin.y()) << "y grows upwards";
  // Both axes backwards.
  box_->set_world(10, 0, 0, 10);
  EXPECT_NEAR(box_->to_pixel(10, 10).x(), 0, 1e-9);
  EXPECT_NEAR(box_->to_pixel(10, 10).y(), 100, 1e-9);
}

TEST_F(PictureBoxTest, FilledAndOutlinedBoxesLandWhereTheWorldSays) {
  box_->set_world(0, 0, 20, 10); // 10 px per unit
  box_->box(2, 2, 6, 8, Rgb{200, 0, 0}, true);
  EXPECT_EQ(at(40, 50), qRgb(200, 0, 0));
  EXPECT_EQ(at(80, 50), qRgb(255, 255, 255));
  box_->set_draw_width(1);
  box_->box(10, 2, 16, 8, Rgb{0, 0, 255}, false);
  EXPECT_EQ(at(100, 50), qRgb(0, 0, 255)) << "outline";
  EXPECT_EQ(at(130, 50), qRgb(255, 255, 255)) << "inside stays empty";
}

TEST_F(PictureBoxTest, LinesCirclesAndTextDraw) {
  box_->line(0, 50, 199, 50, Rgb{0, 128, 0});
  EXPECT_EQ(at(120, 50), qRgb(0, 128, 0));
  box_->circle(150, 20, 10, Rgb{0, 0, 0}, true);
  EXPECT_EQ(at(150, 20), qRgb(0, 0, 0));
  const QImage before = box_->image().copy(0, 60, 100, 40);
  box_->text(2, 62, "G1_Wild", Rgb{0, 0, 0}, 10);
  EXPECT_NE(box_->image().copy(0, 60, 100, 40), before);
}

TEST_F(PictureBoxTest, DrawingSurvivesResizeAndRepaint) {
  box_->box(0, 0, 50, 50, Rgb{10, 20, 30}, true);
  box_->resize(300, 150);
  EXPECT_EQ(box_->image().size(), QSize(300, 150));
  EXPECT_EQ(at(25, 25), qRgb(10, 20, 30));
  EXPECT_EQ(at(250, 120), qRgb(255, 255, 255)) << "new area takes the background";
  const QImage shown = box_->grab().toImage();
  EXPECT_EQ(shown.pixel(25, 25), qRgb(10, 20, 30));
}

TEST_F(PictureBoxTest, SavesBmpAndPng) {
  testing::TempDir tmp;
  box_->box(0, 0, 10, 10, Rgb{1, 2, 3}, true);
  ASSERT_TRUE(box_->save(tmp / "plot.bmp", common::ImageFormat::Bmp));
  ASSERT_TRUE(box_->save(tmp / "plot.png", common::ImageFormat::Png));
  EXPECT_EQ(testing::read_file(tmp / "plot.bmp").substr(0, 2), "BM");
  EXPECT_EQ(testing::read_file(tmp / "plot.png").substr(1, 3), "PNG");
  QImage back(QString::fromStdString((tmp / "plot.bmp").string()));
  EXPECT_EQ(back.pixel(5, 5), qRgb(1, 2, 3));
  EXPECT_FALSE(box_->save(tmp / "missing-folder" / "x.png", common::ImageFormat::Png));
}

// Records the areas the widget was asked to repaint.
class DirtyProbe : public QObject {
public:
  QRegion painted;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
    return false;
  }
};

TEST_F(PictureBoxTest, SmallDrawingRepaintsOnlyItsArea) {
  box_->show();
  QApplication::processEvents();
  DirtyProbe probe;
  box_->installEventFilter(&probe);
  box_->line(10, 10, 20, 12, Rgb{0, 0, 0});
  QApplication::processEvents();
  box_->removeEventFilter(&probe);
  ASSERT_FALSE(probe.painted.isEmpty());
  EXPECT_LT(probe.painted.boundingRect().width(), 40);
  EXPECT_LT(probe.painted.boundingRect().height(), 40);
}

} // namespace
} // namespace kestrova::ui
