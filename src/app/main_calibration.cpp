// The main window's channel calibration tools: "Fast CALIB", "Fast ZERO", the automatic zero
// switch, the organism list and the SNR box, the calibration progress picture and the
// password-protected technical menu.

#include <QEvent>

#include "acquisition/acquisition_cycle.hpp"
#include "app/app.hpp"
#include "app/console_window.hpp"
#include "app/main_window.hpp"
#include "app/session.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::app {

namespace {

using ui::qs;

// lbl_autotext, lbl_autochannel and picturecal; every change is painted at once, since the
// calibration runs on the window thread between event pauses.
class CalibrationScreens final : public acquisition::CalibrationView {
public:
  explicit CalibrationScreens(FrmMain& main) : main_(main) {}
  void set_autotext(std::string_view text) override {
    main_.lbl_autotext->setText(qs(text));
    main_.frm_autotext->setVisible(!text.empty());
    if (!text.empty()) main_.frm_autotext->raise();
  }
  void set_autochannel(std::string_view text) override {
    main_.lbl_autochannel->setText(qs(text));
    main_.lbl_autochannel->repaint();
  }
  void set_progress(int value, int scale) override {
    ui::PictureBox* p = main_.picturecal;
    p->set_world(0, 0, std::max(scale, 1), 10);
    p->clear({255, 255, 255});
    if (value >= 0) p->box(0, 0, value, 10, {0, 0, 0}, true);
    p->repaint();
  }
  void enable_station_1() override {
    if (main_.chk_enabled[0] != nullptr) main_.chk_enabled[0]->setChecked(true);
  }

private:
  FrmMain& main_;
};

// Calls `click` when the watched label is pressed.
class ClickFilter final : public QObject {
public:
  ClickFilter(QObject* parent, std::function<void()> click)
      : QObject(parent), click_(std::move(click)) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease) click_();
    return QObject::eventFilter(watched, e);
  }

private:
  std::function<void()> click_;
};

} // namespace

void FrmMain::attach_calibration(acquisition::Calibrator& calibrator) {
  if (!calibration_view_) calibration_view_ = std::make_unique<CalibrationScreens>(*this);
  calibrator_ = &calibrator;
  calibrator.set_view(calibration_view_.get());
}

void FrmMain::connect_calibration() {
  connect(cmd_calibra, &QPushButton::clicked, this, &FrmMain::cmd_calibra_Click);
  connect(Cmd_autozero, &QPushButton::clicked, this, &FrmMain::Cmd_autozero_Click);
  connect(mnZero, &QCheckBox::clicked, this, &FrmMain::mnZero_Click);
  connect(Cmb_organism, &QComboBox::activated, this, &FrmMain::Cmb_organism_Click);
  connect(txt_snr_umbral, &QLineEdit::editingFinished, this, &FrmMain::txt_snr_umbral_LostFocus);
  connect(mn_technical, &QAction::triggered, this, &FrmMain::mn_technical_Click);
  lbl_umbral->installEventFilter(new ClickFilter(lbl_umbral, [this] { lbl_umbral_Click(); }));
}

acquisition::SnrControls FrmMain::snr_controls() const {
  return {txt_snr_umbral->text().toStdString(),
          acquisition::ParseSnrText(txt_snr_umbral->text().toStdString()).value_or(0),
          lbl_umbral->text().toStdString(), txt_snr_umbral->isVisibleTo(frm_mn1)};
}

void FrmMain::show_snr_controls(const acquisition::SnrControls& c) {
  txt_snr_umbral->setText(qs(c.box_text));
  lbl_umbral->setText(qs(c.caption));
  txt_snr_umbral->setVisible(c.box_visible);
}

void FrmMain::cmd_calibra_Click() {
  if (calibrator_ == nullptr) return;
  frm_autotext->show();
  frm_autotext->raise();
  calibrator_->FastCalibrate();
  frm_autotext->hide();
  follow_acquisition_timer();
}

void FrmMain::Cmd_autozero_Click() {
  if (calibrator_ == nullptr) return;
  frm_autotext->show();
  frm_autotext->raise();
  calibrator_->AutoZero(
      acquisition::ParseSnrText(txt_snr_umbral->text().toStdString()).value_or(0));
  frm_autotext->hide();
}

void FrmMain::mnZero_Click(bool checked) {
  app_.state().project.setup.tool_settings[0][2] = checked ? 1 : 0;
  Cmd_autozero->setVisible(!checked);
}

void FrmMain::Cmb_organism_Click(int index) {
  app_.state().project.setup.tool_settings[0][0] = index;
  acquisition::SnrControls c = snr_controls();
  acquisition::ApplyOrganism(index, c);
  show_snr_controls(c);
}

void FrmMain::lbl_umbral_Click() {
  acquisition::SnrControls c = snr_controls();
  acquisition::ToggleSnrBox(c);
  show_snr_controls(c);
}

void FrmMain::txt_snr_umbral_LostFocus() {
  acquisition::SnrControls c = snr_controls();
  const acquisition::SnrBoxResult r = acquisition::SnrBoxLeft(c);
  txt_snr_umbral->setText(qs(c.box_text));
  if (!r.message.empty()) app_.services().dialogs.message(r.message);
  app_.state().project.setup.tool_settings[0][3] = r.snr_x10;
  if (Cmb_organism->count() > 2) {
    Cmb_organism->setCurrentIndex(2);
    Cmb_organism_Click(2);
  }
}

void FrmMain::mn_technical_Click() {
  const auto answer = app_.services().dialogs.input("Enter Password");
  if (!answer || !acquisition::TechnicalPasswordAccepted(*answer)) {
    app_.services().dialogs.message(std::string(acquisition::kWrongPasswordMessage));
    return;
  }
  if (app_.session().acquisition().state() != acquisition::AcquisitionState::Stopped) {
    app_.services().dialogs.message("Stop acquisition before opening the channel console");
    return;
  }
  if (!console_window_) console_window_ = new FrmCorvel(app_, this);
  console_window_->open_window();
  hide();
}

} // namespace kestrova::app
