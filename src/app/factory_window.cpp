#include "app/factory_window.hpp"

#include <QCloseEvent>
#include <QGridLayout>
#include <QVBoxLayout>

#include "acquisition/factory_calibration.hpp"
#include "app/app.hpp"
#include "common/number_format.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::app {

namespace {

using ui::qs;

} // namespace

FrmFactory::FrmFactory(App& app, QWidget* main_window)
    : QWidget(main_window, Qt::Window), app_(app), main_window_(main_window) {
  setObjectName("Frm_Factory");
  setWindowTitle("Factory Settings");
  auto* layout = new QVBoxLayout(this);
  frame_calibration = new QGroupBox("Temperature Sensing Calibration", this);
  frame_calibration->setObjectName("frame_calibration");
  auto* g = new QGridLayout(frame_calibration);
  txt_current_temp = new QLineEdit(frame_calibration);
  txt_current_temp->setObjectName("txt_current_temp");
  txt_current_temp->setReadOnly(true);
  txt_set_temp = new QLineEdit(frame_calibration);
  txt_set_temp->setObjectName("txt_set_temp");
  Cmd_temp = new QPushButton("SET", frame_calibration);
  Cmd_temp->setObjectName("Cmd_temp");
  txt_mensaje = new QLabel("Non Calibrated", frame_calibration);
  txt_mensaje->setObjectName("txt_mensaje");
  g->addWidget(new QLabel("Current value =", frame_calibration), 0, 0);
  g->addWidget(txt_current_temp, 0, 1);
  g->addWidget(new QLabel("°C", frame_calibration), 0, 2);
  g->addWidget(new QLabel("Calibration T° =", frame_calibration), 1, 0);
  g->addWidget(txt_set_temp, 1, 1);
  g->addWidget(Cmd_temp, 1, 2);
  g->addWidget(txt_mensaje, 2, 0, 1, 3);
  g->setColumnStretch(1, 1);
  lblserial = new QLabel("SERIAL : ", this);
  lblserial->setObjectName("lblserial");
  layout->addWidget(lblserial);
  layout->addWidget(frame_calibration);
  layout->addStretch();
  Timer_temp = new QTimer(this);
  Timer_temp->setObjectName("Timer_temp");
  Timer_temp->setInterval(1000);
  connect(Timer_temp, &QTimer::timeout, this, &FrmFactory::Timer_temp_Timer);
  connect(Cmd_temp, &QPushButton::clicked, this, &FrmFactory::Cmd_temp_Click);
  resize(420, 200);
}

void FrmFactory::open_window() {
  device::LinkState& link = app_.state().link;
  txt_mensaje->setText(qs(acquisition::load_factory(link)));
  const QString start = qs(common::format_display(25, "0.0", common::locale_decimal_separator()));
  txt_set_temp->setText(start);
  txt_current_temp->setText(start);
  lblserial->setText(qs(acquisition::serial_caption(link.serial)));
  show();
  raise();
  Timer_temp->start();
}

void FrmFactory::Timer_temp_Timer() {
  // No answer keeps the value shown rather than converting a failed read.
  if (const auto text = acquisition::current_temperature_text(
          app_.session().protocol(), app_.state().link, common::locale_decimal_separator()))
    txt_current_temp->setText(qs(*text));
}

void FrmFactory::Cmd_temp_Click() {
  const acquisition::FactoryCalibrationResult r = acquisition::calibrate_temperature(
      app_.session().protocol(), app_.state().link, app_.services().dialogs,
      txt_set_temp->text().toStdString(), common::to_civil(app_.services().clock.now()));
  txt_mensaje->setText(qs(r.status));
}

void FrmFactory::closeEvent(QCloseEvent* e) {
  Timer_temp->stop();
  main_window_->show();
  e->accept();
}

} // namespace kestrova::app
