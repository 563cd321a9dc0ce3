// The channel calibration console window. The console engine does the work; this file builds
// the controls, passes clicks on and shows what the engine reports.

#include "app/console_window.hpp"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <cmath>

#include "app/app.hpp"
#include "app/init_window.hpp"
#include "app/live_display_binding.hpp"
#include "app/main_window.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::app {

namespace {

using ui::qs;

template <typename W> W* named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  return named(new QPushButton(caption, parent), name);
}

QLineEdit* box(QWidget* parent, const char* name, const QString& text, bool read_only = false) {
  auto* e = named(new QLineEdit(text, parent), name);
  e->setReadOnly(read_only);
  return e;
}

QScrollBar* scroll_bar(QWidget* parent, const char* name, int max) {
  auto* s = named(new QScrollBar(Qt::Horizontal, parent), name);
  s->setRange(0, max);
  s->setPageStep(1);
  s->setMinimumWidth(90);
  return s;
}

QFrame* lamp(QWidget* parent, const char* name) {
  auto* f = named(new QFrame(parent), name);
  f->setFixedSize(18, 18);
  f->setFrameShape(QFrame::Box);
  f->setAutoFillBackground(true);
  return f;
}

void light(QFrame* lamp, const QColor& colour) {
  QPalette p = lamp->palette();
  p.setColor(QPalette::Window, colour);
  lamp->setPalette(p);
}

// World window of Picwell (the engine draws the grid in it).
constexpr double kGridLeft = -75;
constexpr double kGridTop = -75;
constexpr double kGridRight = 2400;
constexpr double kGridBottom = 1600;

} // namespace

FrmCorvel::FrmCorvel(App& app, QWidget* main_window)
    : QWidget(main_window, Qt::Window), app_(app), main_window_(main_window) {
  setObjectName("Frm_Corvel");
  setWindowTitle("Channel Calibration Console");
  build();
  console_ = std::make_unique<acquisition::ChannelConsole>(acquisition::ConsoleContext{
      app.state().project, app.state().link, app.session().protocol(), app.services().dialogs,
      app.services().clock, &app.session().calibration().settings()});
  console_->set_view(this);
  console_->set_canvases(Picwell, Picreal, Picwell_out);
  connect_handlers();
  resize(1180, 760);
}

FrmCorvel::~FrmCorvel() {
  Timer_console->stop();
  console_->set_view(nullptr);
}

void FrmCorvel::build() {
  auto* root = new QHBoxLayout(this);

  // Left: the beam grid, its dot pattern and the time plot of the selected channel.
  auto* left = new QVBoxLayout;
  Picwell = named(new ui::PictureBox(this), "Picwell");
  Picwell->setMinimumSize(480, 330);
  Picwell->setMouseTracking(true);
  Picwell->installEventFilter(this);
  left->addWidget(Picwell, 5);
  auto* under_grid = new QHBoxLayout;
  lblnchannel = named(new QLabel("-", this), "lblnchannel");
  lblnchannel->setMinimumWidth(160);
  under_grid->addWidget(lblnchannel);
  under_grid->addWidget(new QLabel("Row", this));
  Combofila = named(new QComboBox(this), "Combofila");
  under_grid->addWidget(Combofila);
  under_grid->addWidget(new QLabel("Column", this));
  Combocol = named(new QComboBox(this), "Combocol");
  under_grid->addWidget(Combocol);
  under_grid->addWidget(new QLabel("Channel", this));
  lblcanal = named(new QLabel("0", this), "lblcanal");
  lblcanal->setMinimumWidth(40);
  under_grid->addWidget(lblcanal);
  under_grid->addStretch();
  left->addLayout(under_grid);
  Picreal = named(new ui::PictureBox(this), "Picreal");
  Picreal->setMinimumSize(480, 200);
  left->addWidget(Picreal, 3);
  auto* zoom = new QHBoxLayout;
  zoom->addWidget(new QLabel("Zoom", this));
  Command11 = button(this, "Command11", "-");
  txtzoom = box(this, "txtzoom", "0", true);
  txtzoom->setMaximumWidth(40);
  Command10 = button(this, "Command10", "+");
  for (QWidget* w : {static_cast<QWidget*>(Command11), static_cast<QWidget*>(txtzoom),
                     static_cast<QWidget*>(Command10)})
    zoom->addWidget(w);
  zoom->addStretch();
  left->addLayout(zoom);
  root->addLayout(left, 3);

  // Right: the link, one channel, all channels, calibration, test, dots and navigation.
  auto* right = new QVBoxLayout;
  auto* link = named(new QGroupBox("Instrument", this), "frame_link");
  auto* lg = new QGridLayout(link);
  Cmd_online = button(link, "Cmd_online", "ONLINE");
  Cmd_offline = button(link, "Cmd_offline", "OFFLINE");
  shapeonline = lamp(link, "shapeonline");
  shapeoffline = lamp(link, "shapeoffline");
  lblout = named(new QLabel("", link), "lblout");
  lg->addWidget(Cmd_online, 0, 0);
  lg->addWidget(shapeonline, 0, 1);
  lg->addWidget(Cmd_offline, 0, 2);
  lg->addWidget(shapeoffline, 0, 3);
  lg->addWidget(new QLabel("Reply:", link), 1, 0);
  lg->addWidget(lblout, 1, 1, 1, 3);
  Picwell_out = named(new ui::PictureBox(link), "Picwell_out");
  Picwell_out->setFixedSize(132, 88);
  lg->addWidget(Picwell_out, 0, 4, 2, 1);
  right->addWidget(link);

  auto* channel = named(new QGroupBox("Channel", this), "frame_channel");
  auto* cg = new QGridLayout(channel);
  lblstatus = named(new QLabel("ENABLED", channel), "lblstatus");
  lblstatus->setFrameShape(QFrame::Panel);
  lblstatus->setToolTip("Double-click to enable or disable the channel");
  lblstatus->installEventFilter(this);
  scrollgain = scroll_bar(channel, "scrollgain", acquisition::kConsoleMaxLevel);
  scrollpower = scroll_bar(channel, "scrollpower", acquisition::kConsoleMaxLevel);
  txtgain = box(channel, "txtgain", "0", true);
  txtpower = box(channel, "txtpower", "0", true);
  txtgain->setMaximumWidth(40);
  txtpower->setMaximumWidth(40);
  Cmd_setall = button(channel, "Cmd_setall", "Set All");
  Scroll_threshold = scroll_bar(channel, "Scroll_threshold", 20);
  txt_threshold = box(channel, "txt_threshold", "3", true);
  txt_threshold->setMaximumWidth(40);
  cg->addWidget(lblstatus, 0, 0, 1, 2);
  cg->addWidget(Cmd_setall, 0, 2, 1, 2);
  cg->addWidget(new QLabel("Gain", channel), 1, 0);
  cg->addWidget(scrollgain, 1, 1, 1, 2);
  cg->addWidget(txtgain, 1, 3);
  cg->addWidget(new QLabel("Power", channel), 2, 0);
  cg->addWidget(scrollpower, 2, 1, 1, 2);
  cg->addWidget(txtpower, 2, 3);
  cg->addWidget(new QLabel("Threshold", channel), 3, 0);
  cg->addWidget(Scroll_threshold, 3, 1, 1, 2);
  cg->addWidget(txt_threshold, 3, 3);
  right->addWidget(channel);

  auto* calibration = named(new QGroupBox("Calibration", this), "frame_calibration");
  auto* kg = new QGridLayout(calibration);
  Txtajuste = box(calibration, "Txtajuste", "80");
  Txtajuste->setMaximumWidth(60);
  Combomode = named(new QComboBox(calibration), "Combomode");
  Combomode->setEditable(true);
  Cmdcalibrar = button(calibration, "Cmdcalibrar", "<CALIBRATE>& Auto-Gain");
  lblcalibrando = named(new QLabel("", calibration), "lblcalibrando");
  lblcalibrando->setStyleSheet("color: #b00000; font-weight: bold;");
  Cmdsend = button(calibration, "Cmdsend", "Auto-Adjust");
  Command1 = button(calibration, "Command1", "Auto Set Blank");
  txt_ganancia = box(calibration, "txt_ganancia", "7");
  txt_power = box(calibration, "txt_power", "3");
  txt_ganancia->setMaximumWidth(40);
  txt_power->setMaximumWidth(40);
  cmd_setcalibra = button(calibration, "cmd_setcalibra", "SET");
  picturecal = named(new ui::PictureBox(calibration), "picturecal");
  picturecal->setFixedHeight(14);
  kg->addWidget(new QLabel("Target %", calibration), 0, 0);
  kg->addWidget(Txtajuste, 0, 1);
  kg->addWidget(Combomode, 0, 2, 1, 3);
  kg->addWidget(Cmdcalibrar, 1, 0, 1, 3);
  kg->addWidget(lblcalibrando, 1, 3, 1, 2);
  kg->addWidget(Cmdsend, 2, 0, 1, 2);
  kg->addWidget(Command1, 2, 2, 1, 3);
  kg->addWidget(new QLabel("Gain", calibration), 3, 0);
  kg->addWidget(txt_ganancia, 3, 1);
  kg->addWidget(new QLabel("Power", calibration), 3, 2);
  kg->addWidget(txt_power, 3, 3);
  kg->addWidget(cmd_setcalibra, 3, 4);
  kg->addWidget(picturecal, 4, 0, 1, 5);
  right->addWidget(calibration);

  auto* test = named(new QGroupBox("Gain test", this), "frame_test");
  auto* tg = new QHBoxLayout(test);
  cmdTEST = button(test, "cmdTEST", "TEST CURVA DE GANANCIA");
  txt_test = box(test, "txt_test", "", true);
  auto* tv = new QVBoxLayout;
  tv->addWidget(cmdTEST);
  tv->addWidget(txt_test);
  tg->addLayout(tv);
  auto* test_and_dots = new QHBoxLayout;
  test_and_dots->addWidget(test);

  auto* dots = named(new QGroupBox("Dots", this), "frame_dots");
  auto* dg = new QGridLayout(dots);
  menos = button(dots, "menos", "-");
  txt_brillo = box(dots, "txt_brillo", "", true);
  mas = button(dots, "mas", "+");
  pix_menos = button(dots, "pix_menos", "-");
  txt_pixsize = box(dots, "txt_pixsize", "", true);
  pix_mas = button(dots, "pix_mas", "+");
  dg->addWidget(new QLabel("Grey", dots), 0, 0);
  dg->addWidget(menos, 0, 1);
  dg->addWidget(txt_brillo, 0, 2);
  dg->addWidget(mas, 0, 3);
  dg->addWidget(new QLabel("Size", dots), 1, 0);
  dg->addWidget(pix_menos, 1, 1);
  dg->addWidget(txt_pixsize, 1, 2);
  dg->addWidget(pix_mas, 1, 3);
  for (QPushButton* b : {menos, mas, pix_menos, pix_mas})
    b->setMaximumWidth(40);
  txt_brillo->setMaximumWidth(44);
  txt_pixsize->setMaximumWidth(44);
  test_and_dots->addWidget(dots);
  right->addLayout(test_and_dots);

  right->addStretch();
  auto* nav = new QHBoxLayout;
  Command21 = button(this, "Command21", "Main");
  Command22 = button(this, "Command22", "Setup");
  Command24 = button(this, "Command24", "OffLine");
  Command2 = button(this, "Command2", "EXIT");
  for (QPushButton* b : {Command21, Command22, Command24, Command2})
    nav->addWidget(b);
  right->addLayout(nav);
  root->addLayout(right, 2);

  Timer_console = named(new QTimer(this), "Timer_console");
  Timer_console->setSingleShot(true);
}

void FrmCorvel::connect_handlers() {
  connect(Timer_console, &QTimer::timeout, this, &FrmCorvel::Timer_console_Timer);
  connect(Cmd_online, &QPushButton::clicked, this, &FrmCorvel::Cmd_online_Click);
  connect(Cmd_offline, &QPushButton::clicked, this, &FrmCorvel::Cmd_offline_Click);
  connect(Combofila, &QComboBox::activated, this, &FrmCorvel::Combo_position_Click);
  connect(Combocol, &QComboBox::activated, this, &FrmCorvel::Combo_position_Click);
  connect(scrollgain, &QScrollBar::valueChanged, this, &FrmCorvel::scroll_setting_Change);
  connect(scrollpower, &QScrollBar::valueChanged, this, &FrmCorvel::scroll_setting_Change);
  connect(Cmd_setall, &QPushButton::clicked, this, &FrmCorvel::Cmd_setall_Click);
  connect(cmd_setcalibra, &QPushButton::clicked, this, &FrmCorvel::cmd_setcalibra_Click);
  connect(Cmdcalibrar, &QPushButton::clicked, this, &FrmCorvel::Cmdcalibrar_Click);
  connect(cmdTEST, &QPushButton::clicked, this, &FrmCorvel::cmdTEST_Click);
  connect(Scroll_threshold, &QScrollBar::valueChanged, this, &FrmCorvel::Scroll_threshold_Change);
  connect(Command10, &QPushButton::clicked, this, [this] {
    console_->zoom_in();
    txtzoom->setText(QString::number(console_->zoom()));
  });
  connect(Command11, &QPushButton::clicked, this, [this] {
    console_->zoom_out();
    txtzoom->setText(QString::number(console_->zoom()));
  });
  connect(mas, &QPushButton::clicked, this, [this] {
    console_->brighter();
    show_display_settings();
  });
  connect(menos, &QPushButton::clicked, this, [this] {
    console_->darker();
    show_display_settings();
  });
  connect(pix_mas, &QPushButton::clicked, this, [this] {
    console_->larger_dots();
    show_display_settings();
  });
  connect(pix_menos, &QPushButton::clicked, this, [this] {
    console_->smaller_dots();
    show_display_settings();
  });
  connect(Command21, &QPushButton::clicked, this, &FrmCorvel::Command21_Click);
  connect(Command22, &QPushButton::clicked, this, &FrmCorvel::Command22_Click);
  connect(Command24, &QPushButton::clicked, this, &FrmCorvel::Command24_Click);
  connect(Command2, &QPushButton::clicked, this, &FrmCorvel::Command2_Click);
}

void FrmCorvel::open_window() {
  Combomode->clear();
  Combomode->addItems({qs(acquisition::kModeMaxGain), qs(acquisition::kModeMaxPower)});
  Combofila->clear();
  for (char r = 'A'; r <= 'P'; ++r)
    Combofila->addItem(QString(QChar(r)));
  Combocol->clear();
  for (int c = 1; c <= 24; ++c)
    Combocol->addItem(QString::number(c));
  const store::SetupValues& setup = app_.state().project.setup;
  Txtajuste->setText(QString::number(setup.Cal_value));
  Combomode->setEditText(setup.Cal_mode == 0 ? "0_" + qs(acquisition::kModeMaxGain)
                                             : qs(acquisition::kModeMaxGain));
  Cmd_online->setEnabled(true);
  show();
  raise();
  console_->load();
  // The channel the main window traces is the one the console starts on.
  if (LiveDisplayBinding* live = app_.main_window().live_display())
    if (const int traced = live->display().channel(); traced >= 0)
      console_->select_channel(traced, false);
  show_channel();
  show_display_settings();
  txtzoom->setText(QString::number(console_->zoom()));
}

void FrmCorvel::follow_timer() {
  if (console_->timer_enabled()) {
    Timer_console->start(console_->interval_ms());
  } else {
    Timer_console->stop();
  }
}

void FrmCorvel::Timer_console_Timer() {
  console_->tick();
  follow_timer();
}

void FrmCorvel::Cmd_online_Click() {
  console_->go_online();
  follow_timer();
}

void FrmCorvel::Cmd_offline_Click() {
  console_->go_offline();
  follow_timer();
}

void FrmCorvel::show_channel() {
  const int c = console_->selected_channel();
  lblcanal->setText(QString::number(c));
  Combofila->setCurrentIndex(store::beam_row(c));
  Combocol->setCurrentIndex(store::beam_column(c));
  const int threshold = console_->threshold();
  txt_threshold->setText(QString::number(threshold));
  const QSignalBlocker quiet(Scroll_threshold);
  Scroll_threshold->setMaximum(std::max(20, threshold));
  Scroll_threshold->setValue(threshold);
  set_channel_status(console_->channel_enabled());
}

void FrmCorvel::show_display_settings() {
  txt_brillo->setText(QString::number(console_->brightness()));
  txt_pixsize->setText(QString::number(console_->dot_size()));
}

void FrmCorvel::Combo_position_Click() {
  console_->select_channel(
      acquisition::console_channel(Combofila->currentIndex(), Combocol->currentIndex() + 1), false);
  show_channel();
}

std::pair<int, int> FrmCorvel::beam_under(QPointF pixel) const {
  const double w = std::max(1, Picwell->width());
  const double h = std::max(1, Picwell->height());
  const double x = kGridLeft + pixel.x() * (kGridRight - kGridLeft) / w;
  const double y = kGridTop + pixel.y() * (kGridBottom - kGridTop) / h;
  return acquisition::ChannelConsole::beam_at(x, y);
}

void FrmCorvel::Picwell_MouseMove(QPointF pixel) {
  marked_ = beam_under(pixel);
  const int channel = store::channel_of_beam(marked_.first, marked_.second);
  lblnchannel->setText(QString("%1   %2   %3")
                           .arg(qs(acquisition::beam_name(channel)))
                           .arg(QChar('A' + marked_.second))
                           .arg(marked_.first + 1));
}

void FrmCorvel::Picwell_MouseDown(QPointF pixel) {
  Picwell_MouseMove(pixel);
  console_->select_channel(store::channel_of_beam(marked_.first, marked_.second));
  show_channel();
}

void FrmCorvel::scroll_setting_Change() {
  txtgain->setText(QString::number(scrollgain->value()));
  txtpower->setText(QString::number(scrollpower->value()));
  console_->write_selected(scrollgain->value(), scrollpower->value());
}

void FrmCorvel::Cmd_setall_Click() {
  console_->start_set_all(scrollgain->value(), scrollpower->value());
  follow_timer();
}

void FrmCorvel::cmd_setcalibra_Click() {
  std::string gain = txt_ganancia->text().toStdString();
  std::string power = txt_power->text().toStdString();
  console_->start_write_all(gain, power);
  txt_ganancia->setText(qs(gain));
  txt_power->setText(qs(power));
  follow_timer();
}

void FrmCorvel::Cmdcalibrar_Click() {
  bool ok = false;
  const double target = Txtajuste->text().trimmed().replace(',', '.').toDouble(&ok);
  if (!ok || target < 10 || target > 95) {
    app_.services().dialogs.message("Invalid value: 10 to 95", common::Buttons::Ok);
    return;
  }
  console_->start_calibration(target, Combomode->currentText().toStdString());
  follow_timer();
}

void FrmCorvel::cmdTEST_Click() {
  console_->start_gain_test();
  follow_timer();
}

void FrmCorvel::lblstatus_DblClick() { console_->toggle_enabled(); }

void FrmCorvel::Scroll_threshold_Change(int value) {
  txt_threshold->setText(QString::number(value));
  console_->set_threshold(value);
}

void FrmCorvel::Command21_Click() {
  main_window_->show();
  hide();
}

void FrmCorvel::Command22_Click() {
  hide();
  app_.open_setup();
}

void FrmCorvel::Command24_Click() {
  hide();
  app_.open_browser();
}

void FrmCorvel::Command2_Click() {
  const device::LinkState& link = app_.state().link;
  // A failure with the file still leads to the start screen.
  if (!link.offline)
    acquisition::ReleaseMultitaskPort(app_.state().project.app_folder, link.port,
                                      app_.services().clock);
  app_.show_start_screen();
  hide();
}

bool FrmCorvel::eventFilter(QObject* watched, QEvent* e) {
  if (watched == Picwell) {
    if (e->type() == QEvent::MouseMove) {
      Picwell_MouseMove(static_cast<QMouseEvent*>(e)->position());
    } else if (e->type() == QEvent::MouseButtonPress) {
      auto* m = static_cast<QMouseEvent*>(e);
      if (m->button() == Qt::LeftButton) Picwell_MouseDown(m->position());
    } else if (e->type() == QEvent::Resize) {
      QTimer::singleShot(0, this, [this] { console_->redraw(); });
    }
  } else if (watched == lblstatus && e->type() == QEvent::MouseButtonDblClick) {
    lblstatus_DblClick();
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

void FrmCorvel::closeEvent(QCloseEvent* e) {
  main_window_->show();
  e->accept();
}

void FrmCorvel::hideEvent(QHideEvent* e) {
  // A hidden console keeps no hold on the line: the main window may start an acquisition.
  if (!e->spontaneous()) {
    console_->go_offline();
    follow_timer();
  }
  QWidget::hideEvent(e);
}

void FrmCorvel::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  console_->redraw();
}

// ---------------------------------------------------------------------------------------------
// ConsoleView

void FrmCorvel::set_output(std::string_view text) { lblout->setText(qs(text)); }

void FrmCorvel::set_calibrating(std::string_view text, bool shown) {
  lblcalibrando->setText(qs(text));
  lblcalibrando->setVisible(shown);
}

void FrmCorvel::set_online_enabled(bool enabled) { Cmd_online->setEnabled(enabled); }

void FrmCorvel::set_online_lamp(bool online) {
  light(shapeonline, online ? QColor(0, 200, 0) : QColor(0, 60, 0));
  light(shapeoffline, online ? QColor(90, 0, 0) : QColor(230, 0, 0));
}

void FrmCorvel::set_test_text(std::string_view text) { txt_test->setText(qs(text)); }

void FrmCorvel::show_setting(int gain, int power) {
  const QSignalBlocker g(scrollgain);
  const QSignalBlocker p(scrollpower);
  scrollgain->setValue(gain);
  scrollpower->setValue(power);
  txtgain->setText(QString::number(gain));
  txtpower->setText(QString::number(power));
}

void FrmCorvel::set_progress(int value, int scale) {
  picturecal->set_world(0, 0, std::max(scale, 1), 10);
  picturecal->clear({255, 255, 255});
  if (value >= 0) picturecal->box(0, 0, value, 10, {0, 0, 160}, true);
}

void FrmCorvel::set_channel_status(bool enabled) {
  lblstatus->setText(enabled ? "ENABLED" : "DISABLED");
  lblstatus->setStyleSheet(enabled ? "color: #006000; font-weight: bold;"
                                   : "color: #b00000; font-weight: bold;");
}

} // namespace kestrova::app
