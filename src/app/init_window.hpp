#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace kestrova::app {

class App;

// The start screen: the four choices, the equipment status line and the version.
class FrmInit final : public QWidget {
  Q_OBJECT

public:
  explicit FrmInit(App& app);

  QPushButton* cmd_option1 = nullptr; // "Setup a New Project"
  QPushButton* cmd_option2 = nullptr; // "Run Latest Project"
  QPushButton* cmd_option3 = nullptr; // "Analyze recorded experiments"
  QPushButton* cmd_option4 = nullptr; // "EXIT"
  QLabel* LblNews = nullptr;
  QLabel* Label_version = nullptr;
  QLabel* Label1 = nullptr; // maker line
  QLabel* Image1 = nullptr; // logo

  void cmd_option1_Click();
  void cmd_option2_Click();
  void cmd_option3_Click();
  void cmd_option4_Click();
  // Activation: shows the open port while connected.
  void Form_Activate();
  // The equipment status line (LblNews).
  void show_news(const QString& text);

protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void build();

  App& app_;
};

} // namespace kestrova::app
