#pragma once

// Text between the Qt widgets and the Qt-free core, which holds UTF-8 in std::string.

#include <QString>
#include <string>
#include <string_view>

namespace kestrova::ui {

inline QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string str(const QString& text) { return text.toStdString(); }

} // namespace kestrova::ui
