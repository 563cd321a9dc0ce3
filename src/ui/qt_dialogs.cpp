#include "ui/qt_dialogs.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace kestrova::ui {

namespace {

QString to_qstring(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString title_or_default(std::string_view title) {
  return title.empty() ? QStringLiteral("Kestrova") : to_qstring(title);
}

QMessageBox::Icon to_qicon(common::Icon icon) {
  switch (icon) {
  case common::Icon::Information:
    return QMessageBox::Information;
  case common::Icon::Warning:
    return QMessageBox::Warning;
  case common::Icon::Error:
    return QMessageBox::Critical;
  case common::Icon::Question:
    return QMessageBox::Question;
  case common::Icon::None:
    break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons to_qbuttons(common::Buttons buttons) {
  switch (buttons) {
  case common::Buttons::OkCancel:
    return QMessageBox::Ok | QMessageBox::Cancel;
  case common::Buttons::YesNo:
    return QMessageBox::Yes | QMessageBox::No;
  case common::Buttons::YesNoCancel:
    return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  case common::Buttons::Ok:
    break;
  }
  return QMessageBox::Ok;
}

} // namespace

common::Answer QtDialogs::message(std::string_view text, common::Buttons buttons, common::Icon icon,
                                  std::string_view title) {
  QMessageBox box(to_qicon(icon), title_or_default(title), to_qstring(text), to_qbuttons(buttons),
                  QApplication::activeWindow());
  // Closing the box with Escape or the title bar counts as its "negative" answer.
  switch (box.exec()) {
  case QMessageBox::Yes:
    return common::Answer::Yes;
  case QMessageBox::No:
    return common::Answer::No;
  case QMessageBox::Cancel:
    return common::Answer::Cancel;
  case QMessageBox::Ok:
    return common::Answer::Ok;
  default:
    break;
  }
  if (buttons == common::Buttons::YesNo) return common::Answer::No;
  return buttons == common::Buttons::Ok ? common::Answer::Ok : common::Answer::Cancel;
}

std::optional<std::string> QtDialogs::input(std::string_view prompt, std::string_view title,
                                            std::string_view default_text) {
  bool ok = false;
  const QString answer =
      QInputDialog::getText(QApplication::activeWindow(), title_or_default(title),
                            to_qstring(prompt), QLineEdit::Normal, to_qstring(default_text), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

std::optional<std::filesystem::path> QtDialogs::save_file(std::string_view title,
                                                          const std::filesystem::path& suggested,
                                                          std::string_view types) {
  // The dialog asks before replacing an existing file.
  const QString chosen =
      QFileDialog::getSaveFileName(QApplication::activeWindow(), title_or_default(title),
                                   QString::fromStdString(suggested.string()), to_qstring(types));
  if (chosen.isEmpty()) return std::nullopt;
  return std::filesystem::path(chosen.toStdString());
}

} // namespace kestrova::ui
