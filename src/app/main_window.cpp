#include "app/main_window.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "acquisition/acquisition_cycle.hpp"
#include "app/about_window.hpp"
#include "app/app.hpp"
#include "app/init_window.hpp"
#include "app/live_display_binding.hpp"
#include "app/main_layout.hpp"
#include "ui/qt_text.hpp"
#include "ui/rounded_look.hpp"

namespace kestrova::app {

namespace {

const char* const kHelpFile = "ksv_help.pdf";

using ui::qs;

// Puts each named child of `panel` in its place. Single-line fields keep their natural
// height, centred in the place, so they never stretch into tall boxes.
void place(QWidget* panel, const std::vector<Placement>& placements) {
  for (const auto& p : placements) {
    auto* w =
        panel->findChild<QWidget*>(QString::fromStdString(p.name), Qt::FindDirectChildrenOnly);
    if (w == nullptr) continue;
    int top = p.rect.top;
    int height = p.rect.height;
    if (qobject_cast<QComboBox*>(w) != nullptr || qobject_cast<QLineEdit*>(w) != nullptr) {
      height = std::min(height, w->sizeHint().height());
      top += (p.rect.height - height) / 2;
    }
    w->setGeometry(p.rect.left, top, p.rect.width, height);
  }
}

} // namespace

FrmMain::FrmMain(App& app) : app_(app) {
  setObjectName("Frm_Main");
  setWindowTitle("<Kestrova> Acquisition Software  --------> Main");
  base_point_size_ = font().pointSizeF();
  client_ = new QWidget(this);
  client_->setObjectName("client");
  setCentralWidget(client_);
  build_menus();
  build_left_panel();
  build_right_panel();
  build_tools_frame();
  build_design_controls();
  connect_handlers();
  ui::apply_rounded_look(this);
  // Below 1024 x 700 captions would clip; 1280 x 800 where the screen allows.
  setMinimumSize(1024, 700);
  QSize size(1280, 800);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size());
  resize(size);
}

void FrmMain::connect_handlers() {
  connect(cmd_connect, &QPushButton::clicked, this, &FrmMain::cmd_connect_Click);
  connect(Cmd_disconnect, &QPushButton::clicked, this, &FrmMain::Cmd_disconnect_Click);
  for (int i = 1; i <= 15; ++i)
    connect(mncom1[static_cast<std::size_t>(i)], &QAction::triggered, this,
            [this, i] { mncom1_Click(i); });
  connect(Cmdoffline, &QPushButton::clicked, this, &FrmMain::Cmdoffline_Click);
  connect(CmdPlay, &QPushButton::clicked, this, &FrmMain::CmdPlay_Click);
  connect(CmdPause, &QPushButton::clicked, this, &FrmMain::CmdPause_Click);
  for (int i = 0; i < 4; ++i)
    connect(cmd_stack_pos[static_cast<std::size_t>(i)], &QPushButton::clicked, this,
            [this, i] { cmd_stack_pos_Click(i); });
  connect(CmdStop, &QPushButton::clicked, this, &FrmMain::CmdStop_Click);
  connect(cmd_problem_mark, &QPushButton::clicked, this, &FrmMain::cmd_problem_mark_Click);
  connect(Cmdreport, &QPushButton::clicked, this, &FrmMain::Cmdreport_Click);
  connect(Cmdsetup, &QPushButton::clicked, this, &FrmMain::Cmdsetup_Click);
  connect(Timeradq, &QTimer::timeout, this, &FrmMain::Timeradq_Timer);
  connect(link_check_timer, &QTimer::timeout, this, [this] { app_.session().check_link(); });
  link_check_timer->start();
  connect(mncontent, &QAction::triggered, this, &FrmMain::mncontent_Click);
  connect(mnabout, &QAction::triggered, this, &FrmMain::mnabout_Click);
  connect(mnexit, &QAction::triggered, this, &FrmMain::mnexit_Click);
  connect(Timerinicio, &QTimer::timeout, this, &FrmMain::Timerinicio_Timer);
  // The light and temperature frames share one place; these bring either to the front.
  connect(cmd_nextwindows1, &QPushButton::clicked, this, [this] {
    if (Frame_light->isVisible()) Frame_light->raise();
  });
  connect(cmd_nextwindows2, &QPushButton::clicked, this, [this] {
    if (Frame_temp->isVisible()) Frame_temp->raise();
  });
  // These two items only carry a check mark that their own click must not change: the
  // auto-restart switch is fixed on, and the report settings window owns the bin mark.
  for (QAction* fixed : {chk_zmonitor, mn_userbin})
    connect(fixed, &QAction::triggered, this,
            [fixed](bool checked) { fixed->setChecked(!checked); });
  connect(lght_ctl, &QAction::triggered, this, &FrmMain::lght_ctl_Click);
  connect(temp_ctl, &QAction::triggered, this, &FrmMain::temp_ctl_Click);
  connect(mn_userbin, &QAction::triggered, this, [this] { app_.open_report_settings(); });
  bind_light_temperature();
  connect(mnstatustest, &QAction::triggered, this, &FrmMain::mnstatustest_Click);
  connect(Timer_test, &QTimer::timeout, this, &FrmMain::Timer_test_Timer);
  connect_calibration();
}

void FrmMain::not_available(std::string_view what) {
  app_.services().dialogs.message(not_available_text(what), common::Buttons::Ok,
                                  common::Icon::Information);
}

// --- Handlers ---

void FrmMain::cmd_connect_Click() { app_.session().connect(); }

void FrmMain::Cmd_disconnect_Click() { app_.session().disconnect(); }

void FrmMain::mncom1_Click(int index) { app_.session().choose_com_port(index); }

void FrmMain::Cmdoffline_Click() {
  lst_report_export->hide();
  app_.state().setup_notes = Txt_description->text().toStdString();
  app_.show_start_screen();
}

void FrmMain::CmdPlay_Click() {
  // The device test writes channel settings on the same line: an acquisition waits for it.
  if (self_test_running()) {
    app_.services().dialogs.message("Stop the device test before starting an acquisition",
                                    common::Buttons::Ok, common::Icon::Warning);
    return;
  }
  lst_report_export->hide();
  cmd_stack_pos_Click(0);
  app_.session().start_acquisition(Txt_description->text().toStdString(),
                                   txt_snr_umbral->text().toStdString(),
                                   acquisition::set_point_from_text(txttemp->text().toStdString()));
  follow_acquisition_timer();
  app_.check_unattended_end();
}

void FrmMain::CmdPause_Click() {
  app_.session().pause_acquisition();
  follow_acquisition_timer();
}

void FrmMain::cmd_stack_pos_Click(int index) {
  lbl_station->setText(QString("STATION %1").arg(index + 1));
  if (live_display_ != nullptr) live_display_->set_station(index);
}

void FrmMain::CmdStop_Click() {
  app_.session().stop_acquisition();
  cmd_stack_pos[0]->setEnabled(true);
  follow_acquisition_timer();
  app_.check_unattended_end();
}

void FrmMain::Cmdreport_Click() { app_.session().show_acquisition_report(); }

void FrmMain::Cmdsetup_Click() {
  app_.state().setup_notes = Txt_description->text().toStdString();
  app_.open_setup();
}

void FrmMain::Timeradq_Timer() {
  app_.session().tick();
  follow_acquisition_timer();
  app_.check_unattended_end();
}

void FrmMain::follow_acquisition_timer() {
  if (!app_.session().acquisition_timer_enabled()) {
    Timeradq->stop();
  } else if (!Timeradq->isActive()) {
    Timeradq->start(acquisition::kCycleTimerMs);
  }
}

void FrmMain::mncontent_Click() {
  const std::filesystem::path help = app_.state().project.app_folder / kHelpFile;
  std::error_code ec;
  if (std::filesystem::is_regular_file(help, ec)) {
    app_.services().shell.open(help);
    return;
  }
  app_.services().dialogs.message(help_missing_text(help.string()), common::Buttons::Ok,
                                  common::Icon::Information);
}

void FrmMain::mnabout_Click() { app_.about_window().show(); }

void FrmMain::mnexit_Click() { close(); }

void FrmMain::lght_ctl_Click() { toggle_tool_panel(Frame_light, 1); }

void FrmMain::temp_ctl_Click() { toggle_tool_panel(Frame_temp, 2); }

void FrmMain::toggle_tool_panel(QGroupBox* panel, std::size_t tool) {
  int& tool_switch = app_.state().project.setup.tool_flags[tool];
  if (!panel->isHidden()) {
    panel->hide();
    tool_switch = 0;
    return;
  }
  app_.services().dialogs.message("Only available in some hardware versions", common::Buttons::Ok);
  panel->show();
  panel->raise(); // the two panels share one place: the one just asked for comes to the front
  tool_switch = 1;
}

void FrmMain::Timerinicio_Timer() {
  Timerinicio->stop();
  const bool was_running = app_.state().acquisition.running;
  app_.session().startup_timer_fired();
  // Phase 6 of autorun starts the acquisition as "Start Acquisition" does: station 1 shown.
  if (!was_running && app_.state().acquisition.running) {
    lst_report_export->hide();
    cmd_stack_pos_Click(0);
  }
  follow_acquisition_timer();
  app_.check_unattended_end();
}

void FrmMain::refresh_project_fields() {
  const auto& project = app_.state().project;
  txt_projecto->setText(qs(project_caption(project)));
  txt_acqlapse->setText(QString::number(project.setup.Aq_lapse));
  txt_wellformat->setText(qs(project.setup.Plate_format));
}

void FrmMain::Form_Activate() {
  try {
    if (!Timeradq->isActive()) {
      refresh_project_fields();
      app_.state().channels.reset(app_.state().project.setup.RT_Buffer);
      Picact->clear({255, 255, 255});
    }
    Txt_description->setReadOnly(false);
    chk_bodybends->hide();
    const bool undivided = app_.state().project.setup.Plate_format == "w96u";
    chk_bodybends->setEnabled(undivided);
    if (!undivided) chk_bodybends->setChecked(false);
    if (live_display_) live_display_->activate();
  } catch (const std::exception&) {
    app_.services().dialogs.message("Error loading parameters", common::Buttons::Ok);
  }
}

void FrmMain::Form_Resize() {
  // The rule works on the window's own size (menu bar included); the panels sit in the
  // client area below the menu bar.
  // Captions follow the layout's scale: the font that fits at 1280 x 800 shrinks with the
  // window (never below 6.5 points) and grows on larger screens; the status bar's with them.
  const double scale = std::min(width() / 1280.0, height() / 800.0);
  const double points = std::round(std::max(6.5, base_point_size_ * std::min(scale, 1.5)) * 4) / 4;
  if (points != client_point_size_) { // re-styling every control is not free: only on change
    client_point_size_ = points;
    client_->setStyleSheet(QString("QWidget { font-size: %1pt; }").arg(points));
    statusBar()->setStyleSheet(QString("QStatusBar QWidget { font-size: %1pt; }").arg(points));
  }
  const auto layout = main_layout(width(), height() - statusBar()->sizeHint().height());
  if (!layout) return;
  const auto set = [](QWidget* w, const Rect& r) {
    w->setGeometry(r.left, r.top, r.width, r.height);
  };
  set(PicPanel1, layout->pic_panel1);
  set(PicPanel2, layout->pic_panel2);
  set(lbl_autostart, layout->lbl_autostart);
  frame_config->hide();
  place(PicPanel1, left_panel_layout(layout->pic_panel1.width, layout->pic_panel1.height));
  place(PicPanel2, right_panel_layout(layout->pic_panel2.width, layout->pic_panel2.height));
  picturetime->set_world(0, 0, 100, 100);
  if (live_display_) live_display_->resized();
  redraw_self_test();
  update();
}

void FrmMain::attach_live_display(acquisition::AcquisitionCycle& cycle,
                                  const store::ProjectState& project) {
  detach_live_display();
  live_display_ = new LiveDisplayBinding(*this, cycle, project);
}

void FrmMain::detach_live_display() {
  delete live_display_;
  live_display_ = nullptr;
}

bool FrmMain::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Form_Activate();
  return QMainWindow::event(e);
}

void FrmMain::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  Form_Resize();
}

void FrmMain::closeEvent(QCloseEvent* e) {
  if (!app_.state().ended) app_.session().leave_from_main_window();
  e->accept();
  app_.session().end_program();
}

// --- What the start-up and the connect action show ---

const store::SetupValues& FrmMain::project_setup() const { return app_.state().project.setup; }

void FrmMain::set_rest_controls() {
  cmd_frio->setText("COOL");
  cmd_ontemp->setText("OFF");
  cmd_luz->setText("OFF");
  Chk_lenabled->setChecked(true);
  frm_autotext->hide();
}

void FrmMain::show_setup_controls(const SetupControls& c) {
  frm_mn1->setVisible(c.tools_visible);
  Cmb_organism->clear();
  for (const std::string& o : c.organisms)
    Cmb_organism->addItem(qs(o));
  if (c.organism_index >= 0) Cmb_organism->setCurrentIndex(c.organism_index);
  txt_snr_umbral->setText(qs(c.snr_text));
  mnCalibra->setChecked(c.calibrate_on_start);
  cmd_calibra->setVisible(c.calibrate_button_visible);
  mnZero->setChecked(c.zero_on_start);
}

void FrmMain::show_light_temperature(const LightTemperatureControls& c) {
  app_.session().acquisition().cancel_output_refresh();
  Chk_lenabled->setChecked(c.light_enabled);
  txt_lon->setText(qs(c.light_on));
  txt_loff->setText(qs(c.light_off));
  frm_pulse->setVisible(c.pulses_visible);
  if (c.light_enabled) {
    txt_pulsetimes->setText(qs(c.pulse_times));
    txt_pulseon->setText(qs(c.pulse_on));
    txt_pulseoff->setText(qs(c.pulse_off));
    txt_lon->setEnabled(c.light_hours_enabled);
    txt_loff->setEnabled(c.light_hours_enabled);
  }
  Chk_tenabled->setChecked(c.temperature_enabled);
  txttemp->setText(qs(c.temperature));
  Frame_light->setVisible(c.light_panel_visible);
  Frame_temp->setVisible(c.temperature_panel_visible);
}

void FrmMain::fill_bin_list(const reports::ReportBinChoice& choice) {
  combo_minutes->clear();
  for (int m : reports::bin_size_entries())
    combo_minutes->addItem(QString::number(m));
  if (choice.user_defined) {
    mn_userbin->setChecked(true);
    combo_minutes->addItem(QString::number(choice.bin));
    combo_minutes->setCurrentIndex(combo_minutes->count() - 1);
  } else {
    mn_userbin->setChecked(false);
    combo_minutes->setCurrentIndex(1);
  }
}

void FrmMain::show_project(const std::string& caption) {
  lstgrup->clear();
  combogrup->clear();
  // Length and plate too: a window that is never activated (no window manager) shows them.
  refresh_project_fields();
  txt_projecto->setText(qs(caption));
}

void FrmMain::prepare_display() {
  CmdPause->setEnabled(false);
  const int samples = app_.state().channels.buffer_length;
  Picact->clear({255, 255, 255});
  Picact->set_world(-30, 300, 300, -30);
  Picreal->clear({255, 255, 255});
  Picreal->set_world(0, 2100, samples + 20, 0);
  picturetime->clear({255, 255, 255});
  picturetime->set_world(0, 0, 100, 100);
}

void FrmMain::show_link_status(const LinkStatusLine& line) {
  lbl_link_status->setText(qs(line.text));
  const char* colour = line.tone == LinkStatusLine::Tone::Good  ? "#1b6e20"
                       : line.tone == LinkStatusLine::Tone::Bad ? "#b71c1c"
                                                                : "#37474f";
  lbl_link_status->setStyleSheet(
      QString("color: %1; font-weight: bold; padding: 0 6px;").arg(colour));
}

void FrmMain::show_acquisition_notice(std::string_view text, bool trouble, bool mark) {
  const QString line =
      qs(acquisition_status_text(common::to_civil(app_.services().clock.now()), text));
  lbl_acquisition_status->setText(line);
  lbl_acquisition_status->setToolTip(line);
  lbl_acquisition_status->setStyleSheet(trouble ? "color: #b71c1c; padding: 0 6px;"
                                                : "color: #37474f; padding: 0 6px;");
  if (!mark) return;
  ++unacknowledged_problems_;
  cmd_problem_mark->setText(qs(problem_mark_text(unacknowledged_problems_)));
  cmd_problem_mark->show();
}

void FrmMain::cmd_problem_mark_Click() {
  unacknowledged_problems_ = 0;
  cmd_problem_mark->hide();
}

} // namespace kestrova::app
