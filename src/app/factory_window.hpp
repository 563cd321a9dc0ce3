#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace kestrova::app {

class App;

// Factory Settings: the instrument's serial number, its temperature read every second, and the
// temperature calibration written into the instrument. The main window stays hidden while it
// is open.
class FrmFactory final : public QWidget {
  Q_OBJECT

public:
  FrmFactory(App& app, QWidget* main_window);

  // Loads the window from the link's factory record, shows it and starts the timer.
  void open_window();

  QGroupBox* frame_calibration = nullptr; // "Temperature Sensing Calibration"
  QLineEdit* txt_current_temp = nullptr;
  QLineEdit* txt_set_temp = nullptr;
  QPushButton* Cmd_temp = nullptr;
  QLabel* txt_mensaje = nullptr;
  QLabel* lblserial = nullptr;
  QTimer* Timer_temp = nullptr;

  void Timer_temp_Timer();
  void Cmd_temp_Click();

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  App& app_;
  QWidget* main_window_;
};

} // namespace kestrova::app
