#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "acquisition/calibration.hpp"
#include "acquisition/light_temperature.hpp"
#include "app/main_display.hpp"
#include "reports/report_bin.hpp"
#include "ui/picture_box.hpp"

namespace kestrova::acquisition {
class AcquisitionCycle;
}

namespace kestrova::app {

class App;
class LiveDisplayBinding;
class FrmFactory;
class FrmCorvel;
class SelfTestBinding;

// The main window: connection, acquisition, live display and instrument tools. Every
// control is a member named as in the window's design and carries that name as objectName;
// control arrays are named "<name>_<index>" (cmd_stack_pos_0, mncom1_7).
class FrmMain final : public QMainWindow {
  Q_OBJECT

public:
  explicit FrmMain(App& app);

  // --- Menus ---
  QMenu* mnfile = nullptr;
  QMenu* mn_settings = nullptr;
  QMenu* mn_commports = nullptr;
  std::array<QAction*, 16> mncom1{}; // entries 1..15 (0 unused)
  QMenu* mn_advanced = nullptr;
  QMenu* mn_manualcal = nullptr;
  QAction* mncal_on = nullptr;
  QAction* mncal_off = nullptr;
  QAction* mn_userbin = nullptr;
  QAction* mn_factory = nullptr;
  QMenu* mn_more = nullptr;
  QAction* lght_ctl = nullptr;
  QAction* temp_ctl = nullptr;
  QAction* chk_zmonitor = nullptr;
  QAction* mn_technical = nullptr;
  QAction* mnstatustest = nullptr;
  QAction* mn_ = nullptr;
  QAction* mnexit = nullptr;
  QMenu* mnhelp = nullptr;
  QAction* mncontent = nullptr;
  QAction* mnbar2 = nullptr;
  QAction* mnabout = nullptr;
  QMenu* mnMenuhide = nullptr;
  QAction* mn_ascii = nullptr;
  QAction* mn_bmp = nullptr;

  // --- Left panel ---
  QFrame* PicPanel1 = nullptr;
  QPushButton* Cmd_gridplot = nullptr;
  QPushButton* Cmd_barplot = nullptr;
  QPushButton* Cmd_histoplot = nullptr;
  QLabel* lbl_temperature = nullptr;
  ui::PictureBox* Picact = nullptr;
  QPushButton* cmd_pgup = nullptr;
  QPushButton* cmd_pgdown = nullptr;
  QGroupBox* Framereal = nullptr;
  QLabel* lbl_listwells = nullptr;
  QComboBox* Combofila = nullptr;
  QComboBox* Combocol = nullptr;
  QLineEdit* txtsub = nullptr;
  QListWidget* lstgrup = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* lblcanal = nullptr;
  ui::PictureBox* Picreal = nullptr;
  QFrame* shape_real = nullptr;
  QComboBox* combogrup = nullptr;
  QPushButton* cmdbeam_minus = nullptr;
  QPushButton* cmdbeam_plus = nullptr;
  QLineEdit* txtbeam = nullptr;
  QPushButton* Cmdzoom_minus = nullptr;
  QPushButton* Cmdzoom_plus = nullptr;
  QLineEdit* txtzoom = nullptr;
  ui::PictureBox* picturetime = nullptr;
  QLineEdit* Txt_time = nullptr;

  // --- Right panel ---
  QFrame* PicPanel2 = nullptr;
  QGroupBox* Frame_setup = nullptr;
  QLabel* lbl_project = nullptr;
  QLineEdit* txt_projecto = nullptr;
  QPushButton* Cmdsetup = nullptr;
  QLabel* Label_acqlapse = nullptr;
  QLabel* txt_acqlapse = nullptr;
  QLabel* Label_wellformat = nullptr;
  QLabel* txt_wellformat = nullptr;
  QCheckBox* chk_bodybends = nullptr;
  QLineEdit* txt_detection = nullptr;
  QLabel* lbl_subproject = nullptr;
  QLineEdit* txt_subproject = nullptr;
  QLabel* Lbl_keywords = nullptr;
  QLineEdit* Txt_description = nullptr;
  QLabel* lbl_torun = nullptr;
  QPushButton* CmdPlay = nullptr;
  QPushButton* CmdPause = nullptr;
  QPushButton* CmdStop = nullptr;
  QPushButton* Cmdreport = nullptr;
  QPushButton* Cmdoffline = nullptr;
  QGroupBox* Frame_light = nullptr;
  QCheckBox* Chk_lenabled = nullptr;
  QPushButton* cmd_luz = nullptr;
  QFrame* shape_light = nullptr;
  QPushButton* cmd_cyclepulse = nullptr;
  QFrame* frm_pulse = nullptr;
  QLineEdit* txt_pulsetimes = nullptr;
  QLineEdit* txt_pulseon = nullptr;
  QLineEdit* txt_pulseoff = nullptr;
  QLineEdit* txt_lon = nullptr;
  QLineEdit* txt_loff = nullptr;
  QPushButton* cmd_nextwindows2 = nullptr;
  QGroupBox* Frame_temp = nullptr;
  QCheckBox* Chk_tenabled = nullptr;
  QPushButton* cmd_ontemp = nullptr;
  QPushButton* cmd_frio = nullptr;
  QLineEdit* txttemp = nullptr;
  QPushButton* Cmd_settemp = nullptr;
  QFrame* shape_temp = nullptr;
  QPushButton* cmd_nextwindows1 = nullptr;

  // --- Tools frame (kept hidden; its values are still used) ---
  QGroupBox* frame_config = nullptr;
  QLabel* lbl_binsize = nullptr;
  QComboBox* combo_minutes = nullptr;
  QGroupBox* frm_mn1 = nullptr;
  QComboBox* Cmb_organism = nullptr;
  QLabel* lbl_umbral = nullptr;
  QLineEdit* txt_snr_umbral = nullptr;
  QCheckBox* mnCalibra = nullptr;
  QCheckBox* mnZero = nullptr;
  QPushButton* cmd_calibra = nullptr;
  QPushButton* Cmd_autozero = nullptr;
  QPushButton* Cmd_readblank = nullptr;

  // --- Placed by design ---
  QPushButton* cmd_connect = nullptr;
  QPushButton* Cmd_disconnect = nullptr;
  QFrame* frm_autotext = nullptr;
  ui::PictureBox* picturecal = nullptr;
  QLabel* lbl_autotext = nullptr;
  QLabel* lbl_autochannel = nullptr;
  QFrame* frame_station = nullptr;
  std::array<QPushButton*, 4> cmd_stack_pos{};
  std::array<QCheckBox*, 4> chk_enabled{};
  QLabel* lbl_station = nullptr;
  QListWidget* lst_report_export = nullptr;
  QLabel* lbl_autostart = nullptr;

  // --- Timers ---
  QTimer* Timerinicio = nullptr;
  QTimer* Timeradq = nullptr;
  QTimer* Timer_test = nullptr;
  QTimer* Timer_button = nullptr;
  QTimer* link_check_timer = nullptr; // the idle link check

  // Handlers.
  void cmd_connect_Click();
  void Cmd_disconnect_Click();
  void mncom1_Click(int index);
  void Cmdoffline_Click();
  void CmdPlay_Click();
  void CmdPause_Click();
  // The station buttons: station i becomes the displayed one.
  void cmd_stack_pos_Click(int index);
  void CmdStop_Click();
  void Cmdreport_Click();
  void Cmdsetup_Click();
  void Timeradq_Timer();
  void mncontent_Click();
  void mnabout_Click();
  void mnexit_Click();
  void lght_ctl_Click();
  void temp_ctl_Click();
  // Factory Settings: refused offline or during an acquisition; otherwise this window hides
  // behind the factory window.
  void mn_factory_Click();
  FrmFactory* factory_window() { return factory_window_; }
  // SendOutputs' display: captions of cmd_luz, cmd_frio, cmd_ontemp and the two lamps.
  void show_outputs(int output_byte);
  void Timerinicio_Timer();
  // Activation refresh while no acquisition runs.
  void Form_Activate();
  // Re-lays out both panels for the current size.
  void Form_Resize();

  // What the start-up and the connect action show (through their adapters).
  const store::SetupValues& project_setup() const;
  void set_rest_controls();
  void show_setup_controls(const SetupControls& c);
  void show_light_temperature(const LightTemperatureControls& c);
  void fill_bin_list(const reports::ReportBinChoice& choice);
  void show_project(const std::string& caption);
  void prepare_display();
  void show_link_status(const LinkStatusLine& line);

  QLabel* lbl_link_status = nullptr; // status bar: the link to the instrument
  // Status bar: the acquisition's last notice, and the mark that stays up after a problem
  // until the operator clicks it.
  QLabel* lbl_acquisition_status = nullptr;
  QPushButton* cmd_problem_mark = nullptr;
  // `trouble` shows the line in red; `mark` also raises the mark.
  void show_acquisition_notice(std::string_view text, bool trouble, bool mark);
  void cmd_problem_mark_Click();

  // The live display's controls and pictures, bound once the acquisition engine exists and
  // released before it goes.
  void attach_live_display(acquisition::AcquisitionCycle& cycle,
                           const store::ProjectState& project);
  void detach_live_display();
  LiveDisplayBinding* live_display() { return live_display_; }

  // Channel calibration tools (tools frame, technical menu); defined in main_calibration.cpp.
  void attach_calibration(acquisition::Calibrator& calibrator);
  void cmd_calibra_Click();
  void Cmd_autozero_Click();
  void mnZero_Click(bool checked);
  void Cmb_organism_Click(int index);
  void lbl_umbral_Click();
  void txt_snr_umbral_LostFocus();
  // The password, then the channel console (refused while an acquisition runs).
  void mn_technical_Click();
  FrmCorvel* console_window() { return console_window_; }
  // "Test DEVICE" and the Timer_test tick of the device self-test.
  void mnstatustest_Click();
  void Timer_test_Timer();
  bool self_test_running() const;
  // Draws the self-test's grid again (after a resize) while the test runs.
  void redraw_self_test();

protected:
  bool event(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void build_menus();
  void build_left_panel();
  void build_right_panel();
  void build_setup_frame();
  void build_light_temperature();
  void build_tools_frame();
  void build_design_controls();
  void connect_handlers();
  // The light and temperature panels' handlers.
  void bind_light_temperature();
  // A panel field that lost the focus: checked, shown and stored, or its fallback.
  void check_light_field(QLineEdit* field, acquisition::LightField which);
  void refresh_project_fields();
  // Shows or hides the light (tool 1) or temperature (tool 2) panel and keeps the setup's
  // tool switch in step with it.
  void toggle_tool_panel(QGroupBox* panel, std::size_t tool);
  // Says that the window behind a menu item is not part of this version.
  void not_available(std::string_view what);

  // Runs Timeradq exactly while the acquisition wants its ticks.
  void follow_acquisition_timer();
  void connect_calibration();
  acquisition::SnrControls snr_controls() const;
  void show_snr_controls(const acquisition::SnrControls& c);
  std::unique_ptr<acquisition::CalibrationView> calibration_view_;
  acquisition::Calibrator* calibrator_ = nullptr;

  App& app_;
  LiveDisplayBinding* live_display_ = nullptr; // owned
  FrmFactory* factory_window_ = nullptr;       // child, made on first use
  FrmCorvel* console_window_ = nullptr;        // child, made on first use
  bool checking_field_ = false;
  int unacknowledged_problems_ = 0;
  SelfTestBinding* self_test_ = nullptr; // owned (a child object), made at first use
  QWidget* client_ = nullptr;
  double base_point_size_ = 9.0;   // the font's size at 1280 x 800
  double client_point_size_ = 0.0; // the size the controls have now
};

} // namespace kestrova::app
