#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "acquisition/channel_console.hpp"
#include "ui/picture_box.hpp"

namespace kestrova::app {

class App;

// The channel calibration console window: a thin shell over acquisition::ChannelConsole. Its
// timer (Timer_console) runs the console's current job, step by step, at the pause each step
// asks for. Every control carries its design name as objectName.
class FrmCorvel final : public QWidget, private acquisition::ConsoleView {
  Q_OBJECT

public:
  FrmCorvel(App& app, QWidget* main_window);
  ~FrmCorvel() override;

  // Window load, then shown.
  void open_window();
  acquisition::ChannelConsole& console() { return *console_; }

  // Beam grid, dot pattern, time plot, SET progress.
  ui::PictureBox* Picwell = nullptr;
  ui::PictureBox* Picwell_out = nullptr;
  ui::PictureBox* Picreal = nullptr;
  ui::PictureBox* picturecal = nullptr;
  QLabel* lblnchannel = nullptr;
  QLabel* lblcanal = nullptr;
  QComboBox* Combofila = nullptr;
  QComboBox* Combocol = nullptr;
  QPushButton* Command10 = nullptr; // zoom +
  QPushButton* Command11 = nullptr; // zoom -
  QLineEdit* txtzoom = nullptr;

  QPushButton* Cmd_online = nullptr;
  QPushButton* Cmd_offline = nullptr;
  QFrame* shapeonline = nullptr;
  QFrame* shapeoffline = nullptr;
  QLabel* lblout = nullptr;

  QLabel* lblstatus = nullptr;
  QScrollBar* scrollgain = nullptr;
  QScrollBar* scrollpower = nullptr;
  QLineEdit* txtgain = nullptr;
  QLineEdit* txtpower = nullptr;
  QPushButton* Cmd_setall = nullptr;
  QScrollBar* Scroll_threshold = nullptr;
  QLineEdit* txt_threshold = nullptr;

  QLineEdit* Txtajuste = nullptr;
  QComboBox* Combomode = nullptr;
  QPushButton* Cmdcalibrar = nullptr;
  QLabel* lblcalibrando = nullptr;
  QPushButton* Cmdsend = nullptr;  // "Auto-Adjust": no behaviour
  QPushButton* Command1 = nullptr; // "Auto Set Blank": no behaviour
  QLineEdit* txt_ganancia = nullptr;
  QLineEdit* txt_power = nullptr;
  QPushButton* cmd_setcalibra = nullptr;

  QPushButton* cmdTEST = nullptr;
  QLineEdit* txt_test = nullptr;

  QPushButton* mas = nullptr;
  QPushButton* menos = nullptr;
  QLineEdit* txt_brillo = nullptr;
  QPushButton* pix_mas = nullptr;
  QPushButton* pix_menos = nullptr;
  QLineEdit* txt_pixsize = nullptr;

  QPushButton* Command21 = nullptr; // Main
  QPushButton* Command22 = nullptr; // Setup
  QPushButton* Command24 = nullptr; // OffLine
  QPushButton* Command2 = nullptr;  // EXIT

  QTimer* Timer_console = nullptr;

  // Handlers.
  void Cmd_online_Click();
  void Cmd_offline_Click();
  void Combo_position_Click();
  void Picwell_MouseMove(QPointF pixel);
  void Picwell_MouseDown(QPointF pixel);
  void scroll_setting_Change();
  void Cmd_setall_Click();
  void cmd_setcalibra_Click();
  void Cmdcalibrar_Click();
  void cmdTEST_Click();
  void lblstatus_DblClick();
  void Scroll_threshold_Change(int value);
  void Command21_Click();
  void Command22_Click();
  void Command24_Click();
  void Command2_Click();
  void Timer_console_Timer();

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

private:
  // ConsoleView
  void set_output(std::string_view text) override;
  void set_calibrating(std::string_view text, bool shown) override;
  void set_online_enabled(bool enabled) override;
  void set_online_lamp(bool online) override;
  void set_test_text(std::string_view text) override;
  void show_setting(int gain, int power) override;
  void set_progress(int value, int scale) override;
  void set_channel_status(bool enabled) override;

  void build();
  void connect_handlers();
  // Runs the timer exactly while the console has a job, at the pause it asked for.
  void follow_timer();
  // The selected channel's labels, lists and threshold controls.
  void show_channel();
  void show_display_settings();
  // The beam under a pixel of Picwell: column, row.
  std::pair<int, int> beam_under(QPointF pixel) const;

  App& app_;
  QWidget* main_window_;
  std::unique_ptr<acquisition::ChannelConsole> console_;
  std::pair<int, int> marked_{0, 0};
};

} // namespace kestrova::app
