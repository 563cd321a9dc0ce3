#include "app/logo.hpp"

#include <QPainter>

namespace kestrova::app {

QPixmap kestrova_logo(int size) {
  QPixmap pix(size, size);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), s * 0.03));
  p.setBrush(QColor(0xe8, 0xf0, 0xf8));
  p.drawRoundedRect(QRectF(s * 0.06, s * 0.18, s * 0.88, s * 0.64), s * 0.08, s * 0.08);
  // Wells, 4 rows by 6 columns, a few of them "dimmed" by an organism.
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 6; ++col) {
      const bool active = (row * 6 + col) % 5 == 2;
      p.setPen(Qt::NoPen);
      p.setBrush(active ? QColor(0xd9, 0x5f, 0x0e) : QColor(0x3d, 0x7a, 0xb8));
      const double cx = s * (0.19 + col * 0.125);
      const double cy = s * (0.31 + row * 0.127);
      p.drawEllipse(QPointF(cx, cy), s * 0.042, s * 0.042);
    }
  }
  // A beam crossing the plate.
  p.setPen(QPen(QColor(0xc0, 0x20, 0x20, 170), s * 0.02, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(s * 0.02, s * 0.56), QPointF(s * 0.98, s * 0.56));
  return pix;
}

} // namespace kestrova::app
