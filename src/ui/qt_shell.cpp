#include "ui/qt_shell.hpp"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace kestrova::ui {

namespace {

QString to_qstring(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

} // namespace

bool QtShell::open(const std::filesystem::path& target) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(to_qstring(target)));
}

bool QtShell::reveal(const std::filesystem::path& file) {
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::is_directory(file, ec) ? file : file.parent_path();
  return open(folder.empty() ? std::filesystem::path(".") : folder);
}

bool QtShell::relaunch(const std::vector<std::string>& arguments) {
  QStringList args{QStringLiteral("--data-dir"), to_qstring(data_dir_)};
  for (const auto& a : arguments)
    args << QString::fromStdString(a);
  return QProcess::startDetached(QCoreApplication::applicationFilePath(), args);
}

bool QtShell::open_url(std::string_view url) {
  const QUrl u(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())));
  return u.isValid() && QDesktopServices::openUrl(u);
}

} // namespace kestrova::ui
