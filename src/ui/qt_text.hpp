#pragma once

// Text between the Qt widgets and the Qt-free core, which holds UTF-8 in std::string.

#include <QString>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::ui {

inline QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string str(const QString& text) { return text.toStdString(); }

// Replaces the items of a list or combo box.
template <typename Box> void fill_items(Box* box, const std::vector<std::string>& items) {
  box->clear();
  for (const std::string& item : items)
    box->addItem(qs(item));
}

} // namespace kestrova::ui
