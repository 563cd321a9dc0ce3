#pragma once

#include <QString>

class QWidget;

namespace kestrova::ui {

// The program's common rounded-button look: a 20 x 20 pixel corner ellipse inset by about
// 4 pixels on each side, as a style sheet for push buttons.
QString rounded_button_style();

// Applies the rounded look to `widget` and every push button inside it.
void apply_rounded_look(QWidget* widget);

} // namespace kestrova::ui
