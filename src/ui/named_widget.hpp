#pragma once

// Widgets named after their controls, so tests and style sheets find them by object name.

#include <QPushButton>

namespace kestrova::ui {

template <typename W> W* named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

inline QPushButton* named_button(QWidget* parent, const char* name, const char* caption) {
  return named(new QPushButton(caption, parent), name);
}

} // namespace kestrova::ui
