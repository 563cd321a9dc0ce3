#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <memory>

#include "common/canvas.hpp"

namespace kestrova::ui {

// A drawing surface widget. Everything is drawn into a persistent image, so the drawing
// survives being covered or hidden. One painter stays open on the image across drawing calls
// (a signal page is 100,000 lines); the repaint asked for covers what was drawn since the last
// paint.
class PictureBox final : public QWidget, public common::Canvas {
  Q_OBJECT

public:
  explicit PictureBox(QWidget* parent = nullptr);

  void set_world(double left, double top, double right, double bottom) override;
  void clear(common::Rgb background) override;
  void set_draw_width(int pixels) override;
  void line(double x1, double y1, double x2, double y2, common::Rgb colour) override;
  void box(double x1, double y1, double x2, double y2, common::Rgb colour, bool filled) override;
  void circle(double cx, double cy, double radius, common::Rgb colour, bool filled) override;
  void text(double x, double y, std::string_view text, common::Rgb colour, double size_pt) override;
  double text_width(std::string_view text, double size_pt) const override;
  bool save(const std::filesystem::path& file, common::ImageFormat format) override;

  // The backing image (what the widget shows), at the widget's current size.
  const QImage& image() const {
    ensure_image();
    finish_painting();
    return image_;
  }
  // Pixel position of a world point under the current world window.
  QPointF to_pixel(double x, double y) const;
  // World point of a pixel position under the current world window.
  QPointF to_world(QPointF pixel) const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  // Follows the widget's size, keeping what was drawn (also before the first resize event).
  void ensure_image() const;
  // The painter on the image, opened on first use.
  QPainter& painter();
  // Closes the painter so the image can be read, replaced or filled.
  void finish_painting() const;
  void touched(const QRectF& pixels);

  mutable QImage image_;
  mutable std::unique_ptr<QPainter> painter_;
  QRect dirty_; // pixels drawn since the last repaint request
  bool repaint_posted_ = false;
  QColor background_{Qt::white};
  double left_ = 0;
  double top_ = 0;
  double right_ = 0; // right_ == left_ means "pixels" (no world window set yet)
  double bottom_ = 0;
  int draw_width_ = 1;
};

} // namespace kestrova::ui
