#include "ui/picture_box.hpp"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "common/safe_file.hpp"

namespace kestrova::ui {

namespace {

QColor to_qcolor(common::Rgb c) { return QColor(c.r, c.g, c.b); }

} // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  ensure_image();
}

void PictureBox::ensure_image() const {
  const QSize wanted = size().expandedTo(QSize(1, 1));
  if (image_.size() == wanted) return;
  finish_painting();
  QImage grown(wanted, QImage::Format_RGB32);
  grown.fill(background_);
  if (!image_.isNull()) {
    QPainter p(&grown);
    p.drawImage(0, 0, image_);
  }
  image_ = std::move(grown);
}

QPointF PictureBox::to_pixel(double x, double y) const {
  if (right_ == left_ || bottom_ == top_) return {x, y};
  const QSize area = size().expandedTo(QSize(1, 1));
  const double px = (x - left_) / (right_ - left_) * area.width();
  const double py = (y - top_) / (bottom_ - top_) * area.height();
  return {px, py};
}

QPointF PictureBox::to_world(QPointF pixel) const {
  if (right_ == left_ || bottom_ == top_) return pixel;
  const QSize area = size().expandedTo(QSize(1, 1));
  return {left_ + pixel.x() / area.width() * (right_ - left_),
          top_ + pixel.y() / area.height() * (bottom_ - top_)};
}

QPainter& PictureBox::painter() {
  ensure_image();
  if (!painter_) painter_ = std::make_unique<QPainter>(&image_);
  return *painter_;
}

void PictureBox::finish_painting() const { painter_.reset(); }

void PictureBox::touched(const QRectF& pixels) {
  const int margin = draw_width_ + 2;
  const QRect r = pixels.toAlignedRect().adjusted(-margin, -margin, margin, margin);
  if (dirty_.contains(r)) return; // already asked for: the common case on a busy page
  dirty_ |= r;
  update(dirty_);
}

void PictureBox::set_world(double left, double top, double right, double bottom) {
  left_ = left;
  top_ = top;
  right_ = right;
  bottom_ = bottom;
}

void PictureBox::clear(common::Rgb background) {
  ensure_image();
  finish_painting();
  background_ = to_qcolor(background);
  image_.fill(background_);
  update();
}

void PictureBox::set_draw_width(int pixels) { draw_width_ = std::max(1, pixels); }

void PictureBox::line(double x1, double y1, double x2, double y2, common::Rgb colour) {
  ensure_image();
  const QPointF a = to_pixel(x1, y1);
  const QPointF b = to_pixel(x2, y2);
  QPainter& p = painter();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(to_qcolor(colour), draw_width_));
  p.drawLine(a, b);
  touched(QRectF(a, b).normalized());
}

void PictureBox::box(double x1, double y1, double x2, double y2, common::Rgb colour, bool filled) {
  ensure_image();
  const QRectF r = QRectF(to_pixel(x1, y1), to_pixel(x2, y2)).normalized();
  QPainter& p = painter();
  p.setRenderHint(QPainter::Antialiasing, false);
  if (filled) {
    p.fillRect(r, to_qcolor(colour));
  } else {
    p.setPen(QPen(to_qcolor(colour), draw_width_));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
  }
  touched(r);
}

void PictureBox::circle(double cx, double cy, double radius, common::Rgb colour, bool filled) {
  ensure_image();
  const QPointF c = to_pixel(cx, cy);
  const double scale = (right_ == left_) ? 1.0 : width() / std::abs(right_ - left_);
  const double r = std::abs(radius) * scale;
  const QRectF bounds(c.x() - r, c.y() - r, 2 * r, 2 * r);
  QPainter& p = painter();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(to_qcolor(colour), draw_width_));
  p.setBrush(filled ? QBrush(to_qcolor(colour)) : QBrush(Qt::NoBrush));
  p.drawEllipse(bounds);
  touched(bounds);
}

void PictureBox::text(double x, double y, std::string_view text, common::Rgb colour,
                      double size_pt) {
  ensure_image();
  const QPointF at = to_pixel(x, y);
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QFont font = this->font();
  font.setPointSizeF(size_pt > 0 ? size_pt : 8.0);
  QPainter& p = painter();
  p.setFont(font);
  p.setPen(to_qcolor(colour));
  const QRectF drawn =
      p.boundingRect(QRectF(at, QSizeF(1e5, 1e5)), Qt::AlignLeft | Qt::AlignTop, s);
  p.drawText(drawn, Qt::AlignLeft | Qt::AlignTop, s);
  touched(drawn);
}

double PictureBox::text_width(std::string_view text, double size_pt) const {
  QFont font = this->font();
  font.setPointSizeF(size_pt > 0 ? size_pt : 8.0);
  const double pixels = QFontMetricsF(font).horizontalAdvance(
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (right_ == left_) return pixels;
  return pixels / std::max(1, width()) * std::abs(right_ - left_);
}

bool PictureBox::save(const std::filesystem::path& file, common::ImageFormat format) {
  ensure_image();
  finish_painting();
  const char* kind = format == common::ImageFormat::Bmp ? "BMP" : "PNG";
  // Encoded in memory, then written whole: a symbolic link in the file's place is refused.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image_.save(&buffer, kind)) return false;
  return common::write_file_atomically(
      file, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void PictureBox::paintEvent(QPaintEvent* event) {
  ensure_image();
  finish_painting();
  dirty_ = QRect();
  QPainter p(this);
  const QRect r = event->rect();
  p.drawImage(r, image_, r);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ensure_image();
}

} // namespace kestrova::ui
