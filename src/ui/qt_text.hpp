#pragma once
// Text from the Qt-free core shown in Qt widgets.
#include <QString>
#include <string_view>

namespace kestrova::ui {

// UTF-8 text as a QString.
inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace kestrova::ui
