// The main window's light and temperature panels: the output buttons and lamps, the enable
// boxes, the checked schedule and set-point fields, and the factory window's menu item.

#include <QLineEdit>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/factory_calibration.hpp"
#include "acquisition/light_temperature.hpp"
#include "app/app.hpp"
#include "app/factory_window.hpp"
#include "app/main_window.hpp"
#include "common/number_format.hpp"

namespace kestrova::app {

namespace {

void paint_lamp(QFrame* lamp, const acquisition::Rgb& c) {
  lamp->setStyleSheet(QString("background: %1; border: 1px solid #555; border-radius: 9px;")
                          .arg(QColor(c.r, c.g, c.b).name()));
}

} // namespace

void FrmMain::show_outputs(int s) {
  const acquisition::Outputs o{(s & 4) != 0, (s & 2) != 0, (s & 1) != 0};
  const acquisition::OutputLook look = acquisition::output_look(o);
  cmd_luz->setText(QString::fromStdString(look.light_button));
  paint_lamp(shape_light, look.light_lamp);
  cmd_frio->setText(QString::fromStdString(look.direction_button));
  cmd_ontemp->setText(QString::fromStdString(look.power_button));
  paint_lamp(shape_temp, look.temperature_lamp);
}

void FrmMain::check_light_field(QLineEdit* field, acquisition::LightField which) {
  // The message box takes the focus away again; that second loss is not a new entry.
  if (checking_field_) return;
  checking_field_ = true;
  const acquisition::FieldCheck c = acquisition::check_field(which, field->text().toStdString(),
                                                             common::locale_decimal_separator());
  if (!c.accepted) app_.services().dialogs.message(c.message, common::Buttons::Ok);
  field->setText(QString::fromStdString(c.text));
  acquisition::store_field(app_.state().project.setup, which, c.value);
  if (which == acquisition::LightField::PulseCount) {
    // A pulse programme replaces the daily hours.
    const bool hours = !c.accepted || c.value == 0;
    txt_lon->setEnabled(hours);
    txt_loff->setEnabled(hours);
  }
  checking_field_ = false;
}

void FrmMain::bind_light_temperature() {
  using acquisition::LightField;
  using acquisition::OutputButton;
  const auto press = [this](OutputButton b) { app_.session().acquisition().press_output(b); };
  connect(cmd_luz, &QPushButton::clicked, this, [press] { press(OutputButton::Light); });
  connect(cmd_ontemp, &QPushButton::clicked, this, [press] { press(OutputButton::Power); });
  connect(cmd_frio, &QPushButton::clicked, this, [press] { press(OutputButton::Direction); });
  connect(Chk_lenabled, &QCheckBox::toggled, this,
          [this](bool on) { app_.state().project.setup.tool_settings[1][0] = on ? 1 : 0; });
  connect(Chk_tenabled, &QCheckBox::toggled, this,
          [this](bool on) { app_.state().project.setup.tool_settings[2][0] = on ? 1 : 0; });
  connect(cmd_cyclepulse, &QPushButton::clicked, this,
          [this] { frm_pulse->setVisible(frm_pulse->isHidden()); });
  connect(Cmd_settemp, &QPushButton::clicked, this, [this] {
    app_.session().acquisition().set_set_point(
        acquisition::set_point_from_text(txttemp->text().toStdString()));
  });
  const std::pair<QLineEdit*, LightField> fields[] = {{txt_lon, LightField::HourOn},
                                                      {txt_loff, LightField::HourOff},
                                                      {txt_pulsetimes, LightField::PulseCount},
                                                      {txt_pulseon, LightField::PulseOn},
                                                      {txt_pulseoff, LightField::PulseOff},
                                                      {txttemp, LightField::Temperature}};
  for (const auto& [field, which] : fields)
    connect(field, &QLineEdit::editingFinished, this,
            [this, field, which] { check_light_field(field, which); });
  connect(mn_factory, &QAction::triggered, this, &FrmMain::mn_factory_Click);
}

void FrmMain::mn_factory_Click() {
  const bool active =
      app_.session().acquisition().state() != acquisition::AcquisitionState::Stopped;
  if (const auto refusal = acquisition::factory_refusal(app_.state().link, active)) {
    app_.services().dialogs.message(*refusal, common::Buttons::Ok);
    return;
  }
  if (!factory_window_) factory_window_ = new FrmFactory(app_, this);
  hide();
  factory_window_->open_window();
}

} // namespace kestrova::app
