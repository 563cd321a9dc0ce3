#include "ui/rounded_look.hpp"

#include <QWidget>

namespace kestrova::ui {

QString rounded_button_style() {
  return QStringLiteral(
      "QPushButton {"
      "  margin: 4px 4px 4px 5px;"
      "  padding: 4px 12px;"
      "  border: 1px solid #7a8794;"
      "  border-radius: 10px;"
      "  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfd, stop:1 #dfe5ea);"
      "  color: #1d2833;"
      "}"
      "QPushButton:hover { background: #eaf2fa; border-color: #3d7ab8; }"
      "QPushButton:pressed { background: #cfdceb; }"
      "QPushButton:disabled { color: #9aa4ad; border-color: #c2c9cf; background: #eef1f3; }"
      "QPushButton:checked { background: #c7dcf2; border-color: #3d7ab8; }");
}

void apply_rounded_look(QWidget* widget) {
  if (widget != nullptr) widget->setStyleSheet(widget->styleSheet() + rounded_button_style());
}

} // namespace kestrova::ui
