// Construction of the main window's controls and menus.
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/main_window.hpp"

namespace kestrova::app {

namespace {

template <typename W> W* named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  return named(new QPushButton(caption, parent), name);
}

QLabel* label(QWidget* parent, const char* name, const QString& caption) {
  return named(new QLabel(caption, parent), name);
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text = {}) {
  return named(new QLineEdit(text, parent), name);
}

QAction* item(QMenu* menu, const char* name, const QString& caption) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(name);
  return a;
}

QAction* separator(QMenu* menu, const char* name) {
  QAction* a = menu->addSeparator();
  a->setObjectName(name);
  return a;
}

QMenu* submenu(QMenu* parent, const char* name, const QString& caption) {
  QMenu* m = parent->addMenu(caption);
  m->setObjectName(name);
  m->menuAction()->setObjectName(name);
  return m;
}

QMenu* top_menu(QMenuBar* bar, const char* name, const QString& caption) {
  QMenu* m = bar->addMenu(caption);
  m->setObjectName(name);
  m->menuAction()->setObjectName(name);
  return m;
}

// A small coloured indicator (the light and temperature lamps, the trace marker).
QFrame* lamp(QWidget* parent, const char* name, const QColor& colour) {
  auto* f = named(new QFrame(parent), name);
  f->setFixedSize(18, 18);
  f->setStyleSheet(
      QString("background: %1; border: 1px solid #555; border-radius: 9px;").arg(colour.name()));
  return f;
}

} // namespace

void FrmMain::build_menus() {
  QMenuBar* bar = menuBar();
  mnfile = top_menu(bar, "mnfile", "File");
  mn_settings = submenu(mnfile, "mn_settings", "Settings");
  mn_commports = submenu(mn_settings, "mn_commports", "COM Ports");
  for (int i = 1; i <= 15; ++i) {
    QAction* a = mn_commports->addAction(QString("COM%1").arg(i));
    a->setObjectName(QString("mncom1_%1").arg(i));
    a->setCheckable(true);
    mncom1[static_cast<std::size_t>(i)] = a;
  }
  mn_advanced = submenu(mnfile, "mn_advanced", "Advanced");
  mn_manualcal = submenu(mn_advanced, "mn_manualcal", "Manual_Calibration");
  mn_manualcal->menuAction()->setVisible(false);
  mncal_on = item(mn_manualcal, "mncal_on", "ON");
  mncal_off = item(mn_manualcal, "mncal_off", "OFF");
  mn_userbin = item(mn_advanced, "mn_userbin", "User Defined BIN size");
  mn_userbin->setCheckable(true);
  mn_factory = item(mn_advanced, "mn_factory", "Factory Settings");
  mn_more = submenu(mn_advanced, "mn_more", "More...");
  lght_ctl = item(mn_more, "lght_ctl", "Light Control");
  temp_ctl = item(mn_more, "temp_ctl", "Temperature Control");
  chk_zmonitor = item(mn_more, "chk_zmonitor", "AutoRestart on ComError");
  chk_zmonitor->setCheckable(true);
  chk_zmonitor->setChecked(true);
  mn_technical = item(mn_more, "mn_technical", "Technical Menu (require password)");
  mnstatustest = item(mnfile, "mnstatustest", "Test DEVICE");
  mn_ = separator(mnfile, "mn_");
  mnexit = item(mnfile, "mnexit", "Exit");

  mnhelp = top_menu(bar, "mnhelp", "Help");
  mncontent = item(mnhelp, "mncontent", "Content");
  mnbar2 = separator(mnhelp, "mnbar2");
  mnabout = item(mnhelp, "mnabout", "About");

  // Keyboard access: mnemonics on the menus and the usual shortcuts.
  for (const auto& [action, text] : std::initializer_list<std::pair<QAction*, const char*>>{
           {mnfile->menuAction(), "&File"},
           {mn_settings->menuAction(), "&Settings"},
           {mn_commports->menuAction(), "&COM Ports"},
           {mn_advanced->menuAction(), "&Advanced"},
           {mnstatustest, "&Test DEVICE"},
           {mnexit, "E&xit"},
           {mnhelp->menuAction(), "&Help"},
           {mncontent, "&Content"},
           {mnabout, "&About"}})
    action->setText(text);
  mnexit->setShortcut(QKeySequence::Quit);
  mncontent->setShortcut(QKeySequence::HelpContents);

  mnMenuhide = top_menu(bar, "mnMenuhide", "Menuhide");
  mnMenuhide->menuAction()->setVisible(false);
  mn_ascii = item(mnMenuhide, "mn_ascii", "Export ASCII");
  mn_bmp = item(mnMenuhide, "mn_bmp", "Export .BMP");
}

void FrmMain::build_left_panel() {
  PicPanel1 = named(new QFrame(client_), "PicPanel1");
  PicPanel1->setFrameShape(QFrame::StyledPanel);
  QWidget* p = PicPanel1;
  Cmd_gridplot = button(p, "Cmd_gridplot", "Heatmap PLOT");
  Cmd_barplot = button(p, "Cmd_barplot", "Bar Plot");
  Cmd_histoplot = button(p, "Cmd_histoplot", "BodyBends Histogram PLOT");
  Cmd_histoplot->hide(); // shown only in body-bend mode, which starts off
  lbl_temperature = label(p, "lbl_temperature", "T = __ °C");
  lbl_temperature->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbl_temperature->setContentsMargins(0, 0, 8, 0);
  Picact = named(new ui::PictureBox(p), "Picact");
  cmd_pgup = button(p, "cmd_pgup", ">");
  cmd_pgdown = button(p, "cmd_pgdown", "<");

  Framereal = named(new QGroupBox("Channel", p), "Framereal");
  auto* g = new QGridLayout(Framereal);
  lbl_listwells = label(Framereal, "lbl_listwells", "Well:");
  Combofila = named(new QComboBox(Framereal), "Combofila");
  for (char c = 'A'; c <= 'P'; ++c)
    Combofila->addItem(QString(QChar(c)));
  Combocol = named(new QComboBox(Framereal), "Combocol");
  for (int c = 1; c <= 24; ++c)
    Combocol->addItem(QString::number(c));
  txtsub = edit(Framereal, "txtsub", "0");
  txtsub->setMaximumWidth(40);
  lstgrup = named(new QListWidget(Framereal), "lstgrup");
  Label3 = label(Framereal, "Label3", "Channel:");
  lblcanal = label(Framereal, "lblcanal", "0");
  g->addWidget(lbl_listwells, 0, 0);
  g->addWidget(Combofila, 0, 1);
  g->addWidget(Combocol, 0, 2);
  g->addWidget(txtsub, 0, 3);
  g->addWidget(lstgrup, 1, 0, 1, 4);
  g->addWidget(Label3, 2, 0);
  g->addWidget(lblcanal, 2, 1, 1, 3);
  g->setRowStretch(1, 1);

  Picreal = named(new ui::PictureBox(p), "Picreal");
  shape_real = lamp(Picreal, "shape_real", QColor(0, 160, 0));
  shape_real->move(4, 4);
  combogrup = named(new QComboBox(p), "combogrup");
  cmdbeam_minus = button(p, "cmdbeam_minus", "previous channel");
  txtbeam = edit(p, "txtbeam", "Current channel");
  txtbeam->setToolTip("Current channel");
  cmdbeam_plus = button(p, "cmdbeam_plus", "next channel");
  Cmdzoom_minus = button(p, "Cmdzoom_minus", "zoom-");
  Cmdzoom_plus = button(p, "Cmdzoom_plus", "zoom+");
  // The trace's control row is narrow: keep its captions whole.
  for (QPushButton* b : {cmdbeam_minus, cmdbeam_plus, Cmdzoom_minus, Cmdzoom_plus})
    b->setStyleSheet("QPushButton { margin: 3px 1px; padding: 2px 1px; }");
  txtzoom = edit(p, "txtzoom", "0");
  txtzoom->hide();
  picturetime = named(new ui::PictureBox(p), "picturetime");
  Txt_time = edit(p, "Txt_time", "00:00");
  Txt_time->setReadOnly(true);
  Txt_time->setAlignment(Qt::AlignCenter);
}

void FrmMain::build_setup_frame() {
  Frame_setup = named(new QGroupBox(PicPanel2), "Frame_setup");
  // No caption: keep the frame without the empty title band.
  Frame_setup->setStyleSheet("QGroupBox#Frame_setup { margin-top: 0px; padding-top: 2px; }");
  auto* g = new QGridLayout(Frame_setup);
  g->setVerticalSpacing(4);
  lbl_project = label(Frame_setup, "lbl_project", "PROJECT");
  lbl_project->setStyleSheet("font-weight: bold; color: #1f4e79;");
  txt_projecto = edit(Frame_setup, "txt_projecto");
  txt_projecto->setReadOnly(true);
  Cmdsetup = button(Frame_setup, "Cmdsetup", ">Edit");
  Label_acqlapse = label(Frame_setup, "Label_acqlapse", "Time:");
  txt_acqlapse = label(Frame_setup, "txt_acqlapse", "");
  Label_wellformat = label(Frame_setup, "Label_wellformat", "Format:");
  txt_wellformat = label(Frame_setup, "txt_wellformat", "");
  chk_bodybends =
      named(new QCheckBox("Body-Bends Mode (Experimental)", Frame_setup), "chk_bodybends");
  txt_detection = edit(Frame_setup, "txt_detection");
  txt_detection->setReadOnly(true);
  lbl_subproject = label(Frame_setup, "lbl_subproject", "Current Acquisition");
  txt_subproject = edit(Frame_setup, "txt_subproject");
  txt_subproject->setReadOnly(true);
  Lbl_keywords = label(Frame_setup, "Lbl_keywords", "Notes:");
  Txt_description = edit(Frame_setup, "Txt_description");
  g->addWidget(lbl_project, 0, 0);
  g->addWidget(txt_projecto, 0, 1, 1, 2);
  g->addWidget(Cmdsetup, 0, 3);
  g->addWidget(Label_acqlapse, 1, 0);
  g->addWidget(txt_acqlapse, 1, 1);
  g->addWidget(Label_wellformat, 1, 2);
  g->addWidget(txt_wellformat, 1, 3);
  g->addWidget(chk_bodybends, 2, 0, 1, 4);
  g->addWidget(txt_detection, 3, 0, 1, 4);
  g->addWidget(lbl_subproject, 4, 0, 1, 4);
  g->addWidget(txt_subproject, 5, 0, 1, 4);
  g->addWidget(Lbl_keywords, 6, 0);
  g->addWidget(Txt_description, 6, 1, 1, 3);
  g->setColumnStretch(1, 1);
  g->setColumnStretch(3, 1);
}

void FrmMain::build_light_temperature() {
  // The two frames share one place: each paints its whole area, so the one in front hides
  // the other completely.
  Frame_light = named(new QGroupBox("Light Control", PicPanel2), "Frame_light");
  Frame_light->setAutoFillBackground(true);
  auto* l = new QGridLayout(Frame_light);
  Chk_lenabled = named(new QCheckBox("Enable", Frame_light), "Chk_lenabled");
  cmd_luz = button(Frame_light, "cmd_luz", "OFF");
  shape_light = lamp(Frame_light, "shape_light", QColor(255, 0, 0));
  cmd_cyclepulse = button(Frame_light, "cmd_cyclepulse", "Cycle/Pulse");
  txt_lon = edit(Frame_light, "txt_lon", "9");
  txt_loff = edit(Frame_light, "txt_loff", "21");
  cmd_nextwindows2 = button(Frame_light, "cmd_nextwindows2", "»");
  cmd_nextwindows2->setToolTip("Temperature");
  frm_pulse = named(new QFrame(Frame_light), "frm_pulse");
  auto* pl = new QHBoxLayout(frm_pulse);
  pl->setContentsMargins(0, 0, 0, 0);
  txt_pulsetimes = edit(frm_pulse, "txt_pulsetimes", "0");
  txt_pulseon = edit(frm_pulse, "txt_pulseon", "0");
  txt_pulseoff = edit(frm_pulse, "txt_pulseoff", "0");
  pl->addWidget(txt_pulsetimes);
  pl->addWidget(new QLabel("times", frm_pulse));
  pl->addWidget(txt_pulseon);
  pl->addWidget(new QLabel("min", frm_pulse));
  pl->addWidget(txt_pulseoff);
  pl->addWidget(new QLabel("min", frm_pulse));
  frm_pulse->hide();
  // Three rows, so that the pulse row fits the frame's height beside the hours.
  l->addWidget(Chk_lenabled, 0, 0, 1, 2);
  l->addWidget(shape_light, 0, 2);
  l->addWidget(cmd_luz, 0, 3);
  l->addWidget(cmd_nextwindows2, 0, 4);
  l->addWidget(new QLabel("ON", Frame_light), 1, 0);
  l->addWidget(txt_lon, 1, 1);
  l->addWidget(new QLabel("OFF", Frame_light), 1, 2);
  l->addWidget(txt_loff, 1, 3);
  l->addWidget(cmd_cyclepulse, 1, 4);
  l->addWidget(frm_pulse, 2, 0, 1, 5);
  l->setColumnStretch(1, 1);
  l->setColumnStretch(3, 1);

  Frame_temp = named(new QGroupBox("Temperature", PicPanel2), "Frame_temp");
  Frame_temp->setAutoFillBackground(true);
  auto* t = new QGridLayout(Frame_temp);
  Chk_tenabled = named(new QCheckBox("Enabled", Frame_temp), "Chk_tenabled");
  cmd_ontemp = button(Frame_temp, "cmd_ontemp", "OFF");
  cmd_frio = button(Frame_temp, "cmd_frio", "COOL");
  txttemp = edit(Frame_temp, "txttemp", "20.0");
  Cmd_settemp = button(Frame_temp, "Cmd_settemp", "SET");
  shape_temp = lamp(Frame_temp, "shape_temp", QColor(255, 255, 255));
  cmd_nextwindows1 = button(Frame_temp, "cmd_nextwindows1", "«");
  cmd_nextwindows1->setToolTip("Light Control");
  t->addWidget(Chk_tenabled, 0, 0);
  t->addWidget(shape_temp, 0, 1);
  t->addWidget(cmd_ontemp, 0, 2);
  t->addWidget(cmd_nextwindows1, 0, 3);
  t->addWidget(cmd_frio, 1, 0);
  t->addWidget(txttemp, 1, 1, 1, 2);
  t->addWidget(Cmd_settemp, 1, 3);
}

void FrmMain::build_tools_frame() {
  frame_config = named(new QGroupBox("Tools", client_), "frame_config");
  auto* g = new QGridLayout(frame_config);
  lbl_binsize = label(frame_config, "lbl_binsize", "Bin size (min):");
  combo_minutes = named(new QComboBox(frame_config), "combo_minutes");
  frm_mn1 = named(new QGroupBox(frame_config), "frm_mn1");
  auto* m = new QGridLayout(frm_mn1);
  Cmb_organism = named(new QComboBox(frm_mn1), "Cmb_organism");
  lbl_umbral = label(frm_mn1, "lbl_umbral", "SNR");
  txt_snr_umbral = edit(frm_mn1, "txt_snr_umbral");
  mnCalibra = named(new QCheckBox("Auto   Calibration", frm_mn1), "mnCalibra");
  mnZero = named(new QCheckBox("Auto   Zero", frm_mn1), "mnZero");
  cmd_calibra = button(frm_mn1, "cmd_calibra", "Fast CALIB");
  Cmd_autozero = button(frm_mn1, "Cmd_autozero", "Fast ZERO");
  Cmd_readblank = button(frm_mn1, "Cmd_readblank", "Read Blank");
  m->addWidget(Cmb_organism, 0, 0, 1, 2);
  m->addWidget(lbl_umbral, 1, 0);
  m->addWidget(txt_snr_umbral, 1, 1);
  m->addWidget(mnCalibra, 2, 0);
  m->addWidget(mnZero, 2, 1);
  m->addWidget(cmd_calibra, 3, 0);
  m->addWidget(Cmd_autozero, 3, 1);
  m->addWidget(Cmd_readblank, 4, 0);
  g->addWidget(lbl_binsize, 0, 0);
  g->addWidget(combo_minutes, 0, 1);
  g->addWidget(frm_mn1, 1, 0, 1, 2);
  frame_config->hide();
}

void FrmMain::build_right_panel() {
  PicPanel2 = named(new QFrame(client_), "PicPanel2");
  PicPanel2->setFrameShape(QFrame::StyledPanel);
  build_setup_frame();
  build_light_temperature();
  QWidget* p = PicPanel2;
  lbl_torun = label(p, "lbl_torun", "Ready to run?");
  lbl_torun->setAlignment(Qt::AlignCenter);
  CmdPlay = button(p, "CmdPlay", "Start Acquisition");
  CmdPlay->setStyleSheet("font-weight: bold;");
  CmdPause = button(p, "CmdPause", "Pause");
  CmdStop = button(p, "CmdStop", "Stop Acquisition");
  Cmdreport = button(p, "Cmdreport", "Show my report");
  Cmdoffline = button(p, "Cmdoffline", "< Back");
}

void FrmMain::build_design_controls() {
  QWidget* p = PicPanel2;
  cmd_connect = button(p, "cmd_connect", "Connect");
  Cmd_disconnect = button(p, "Cmd_disconnect", "Disconnect");

  frame_station = named(new QFrame(p), "frame_station");
  auto* s = new QGridLayout(frame_station);
  s->setContentsMargins(0, 0, 0, 0);
  s->setVerticalSpacing(0);
  s->setHorizontalSpacing(3);
  for (int i = 0; i < 4; ++i) {
    auto* b = new QPushButton(QString("STATION%1").arg(i + 1), frame_station);
    // Four captions share the panel's width: keep them whole on small windows.
    b->setStyleSheet("QPushButton { margin: 3px 0px; padding: 2px 0px; }");
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    b->setObjectName(QString("cmd_stack_pos_%1").arg(i));
    auto* c = new QCheckBox(frame_station);
    c->setObjectName(QString("chk_enabled_%1").arg(i));
    cmd_stack_pos[static_cast<std::size_t>(i)] = b;
    chk_enabled[static_cast<std::size_t>(i)] = c;
    s->addWidget(b, 0, i);
    s->addWidget(c, 1, i, Qt::AlignHCenter);
  }
  lbl_station = label(frame_station, "lbl_station", "STATION 1");
  lbl_station->setAlignment(Qt::AlignCenter);
  s->addWidget(lbl_station, 2, 0, 1, 4);

  frm_autotext = named(new QFrame(p), "frm_autotext");
  frm_autotext->setFrameShape(QFrame::Box);
  frm_autotext->setAutoFillBackground(true);
  frm_autotext->setStyleSheet(
      "QFrame#frm_autotext { background: #fffbe6; border: 1px solid #c9a227; }");
  auto* a = new QVBoxLayout(frm_autotext);
  picturecal = named(new ui::PictureBox(frm_autotext), "picturecal");
  picturecal->setMinimumHeight(14);
  lbl_autotext = label(frm_autotext, "lbl_autotext", "<AUTOCALIBRATION>");
  lbl_autotext->setStyleSheet("font-weight: bold;");
  lbl_autochannel = label(frm_autotext, "lbl_autochannel", "starting....");
  a->addWidget(lbl_autotext);
  a->addWidget(lbl_autochannel);
  a->addWidget(picturecal);
  frm_autotext->hide();

  lst_report_export = named(new QListWidget(client_), "lst_report_export");
  lst_report_export->hide();
  lbl_autostart = label(client_, "lbl_autostart", "");

  // The link to the instrument, always in sight; the connection manager keeps it true.
  lbl_link_status = label(this, "lbl_link_status", "Not connected");
  statusBar()->addWidget(lbl_link_status);
  lbl_acquisition_status = label(this, "lbl_acquisition_status", "");
  lbl_acquisition_status->setStyleSheet("padding: 0 6px;");
  lbl_acquisition_status->setMinimumWidth(1); // a long notice is cut, never widens the window
  statusBar()->addWidget(lbl_acquisition_status, 1);
  cmd_problem_mark = named(new QPushButton(this), "cmd_problem_mark");
  cmd_problem_mark->setStyleSheet("QPushButton { background: #b71c1c; color: white; "
                                  "font-weight: bold; padding: 1px 8px; }");
  cmd_problem_mark->setToolTip("Problems of the acquisition are in its acquisition.log");
  cmd_problem_mark->hide();
  statusBar()->addPermanentWidget(cmd_problem_mark);
  statusBar()->setSizeGripEnabled(false);
  Cmd_disconnect->setEnabled(false); // nothing to disconnect before a connect

  for (const auto& [w, tip] : std::initializer_list<std::pair<QWidget*, const char*>>{
           {cmd_connect, "Find the instrument on the serial ports and connect to it"},
           {Cmd_disconnect, "Close the connection to the instrument"},
           {CmdPlay, "Start an acquisition of the current project"},
           {CmdPause, "Pause or resume the running acquisition"},
           {CmdStop, "Stop the running acquisition"},
           {Cmdreport, "Write and open the report of the last acquisition"},
           {Cmdsetup, "Edit the project's setup: plate, groups, acquisition length"},
           {Cmdoffline, "Back to the start screen"},
           {Cmd_gridplot, "Show the activity of every well as a heat map of the plate"},
           {Cmd_barplot, "Show the activity of each group as bars"},
           {Cmd_histoplot, "Show the body-bend histogram"},
           {cmd_pgup, "Next page of groups"},
           {cmd_pgdown, "Previous page of groups"},
           {cmd_luz, "Switch the light on or off"},
           {Cmd_settemp, "Send the temperature set point to the instrument"}})
    w->setToolTip(tip);

  Timerinicio = named(new QTimer(this), "Timerinicio");
  Timerinicio->setSingleShot(true);
  Timeradq = named(new QTimer(this), "Timeradq");
  Timer_test = named(new QTimer(this), "Timer_test");
  Timer_button = named(new QTimer(this), "Timer_button");
  link_check_timer = named(new QTimer(this), "link_check_timer");
  link_check_timer->setInterval(2000);
}

} // namespace kestrova::app
