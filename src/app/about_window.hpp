#pragma once

#include <QDialog>
#include <QLabel>

namespace kestrova::app {

// The About window: logo, program name, version banner and maker line.
class FrmAbout final : public QDialog {
  Q_OBJECT

public:
  explicit FrmAbout(QWidget* parent = nullptr);

  QLabel* Label_version = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
};

} // namespace kestrova::app
