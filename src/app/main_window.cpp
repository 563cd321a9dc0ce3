#include "app/main_window.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/about_window.hpp"
#include "app/app.hpp"
#include "app/init_window.hpp"
#include "app/main_layout.hpp"
#include "ui/rounded_look.hpp"

namespace kestrova::app {

namespace {

const char* const kOrganisms[] = {"C elegans(>L4)", "Zebrafish(Larvae)", "Echinococcus",
                                  "Drosophila"};
const char* const kHelpFile = "ksv_help.pdf";

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString one_decimal(double value) { return QString::number(value, 'f', 1); }

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
  // 1280 x 800 fits every caption; smaller screens get their whole available area.
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
  connect(mn_userbin, &QAction::triggered, this, [this] {
    run_or_not_available(app_.open_report_settings, "The report settings window");
  });
  connect(mn_factory, &QAction::triggered, this,
          [this] { run_or_not_available(app_.open_factory_window, "The factory window"); });
  connect(mn_technical, &QAction::triggered, this,
          [this] { run_or_not_available(app_.open_technical_menu, "The channel console"); });
  connect(mnstatustest, &QAction::triggered, this,
          [this] { run_or_not_available(app_.run_device_test, "The device test"); });
}

void FrmMain::run_or_not_available(const std::function<void()>& hook, const char* what) {
  if (hook) {
    hook();
    return;
  }
  app_.services().dialogs.message(std::string(what) + " is not available in this version.",
                                  common::Buttons::Ok, common::Icon::Information);
}

// --- Handlers ---

void FrmMain::cmd_connect_Click() {
  app_.connection().Connect();
  if (app_.state().startup.autorun) app_.startup().begin_phase(6);
}

void FrmMain::Cmd_disconnect_Click() { app_.connection().Disconnect(); }

void FrmMain::mncom1_Click(int index) { app_.connection().ChooseComPort(index); }

void FrmMain::Cmdoffline_Click() {
  lst_report_export->hide();
  app_.start_screen().show();
  if (app_.set_setup_description) app_.set_setup_description(Txt_description->text().toStdString());
  hide();
}

void FrmMain::CmdPlay_Click() {
  if (app_.start_acquisition) {
    app_.start_acquisition();
    return;
  }
  app_.services().dialogs.message("Acquisition is not available in this version.",
                                  common::Buttons::Ok, common::Icon::Information);
}

void FrmMain::mncontent_Click() {
  // A missing help document is passed over without a word.
  const std::filesystem::path help = app_.state().project.app_folder / kHelpFile;
  std::error_code ec;
  if (std::filesystem::is_regular_file(help, ec)) app_.services().shell.open(help);
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
  const PhaseAction a = app_.startup().on_timer();
  FrmInit& init = app_.start_screen();
  if (a.status) init.LblNews->setText(qs(*a.status));
  if (a.repaint) init.LblNews->repaint();
  if (a.show_main_and_connect) {
    init.hide();
    showMaximized();
    cmd_connect_Click();
  } else if (a.show_main_and_start) {
    show();
    CmdPlay_Click();
  }
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
  } catch (const std::exception&) {
    app_.services().dialogs.message("Error loading parameters", common::Buttons::Ok);
  }
}

void FrmMain::Form_Resize() {
  // The rule works on the window's own size (menu bar included); the panels sit in the
  // client area below the menu bar.
  const auto layout = main_layout(width(), height());
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
  update();
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
  if (!app_.state().ended) app_.leave_from_main_window();
  e->accept();
  app_.end_program();
}

// --- StartupView ---

void FrmMain::show_test_menu() { mnstatustest->setVisible(true); }

void FrmMain::set_rest_controls() {
  cmd_frio->setText("COOL");
  cmd_ontemp->setText("OFF");
  cmd_luz->setText("OFF");
  Chk_lenabled->setChecked(true);
  frm_autotext->hide();
}

void FrmMain::show_start_screen(bool enabled) {
  FrmInit& init = app_.start_screen();
  init.setEnabled(enabled);
  init.show();
  if (!enabled) hide();
}

void FrmMain::enable_startup_timer() {
  Timerinicio->setInterval(app_.options().startup_timer_ms);
  Timerinicio->start();
}

void FrmMain::wait_for_events() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

void FrmMain::apply_setup() {
  const auto& setup = app_.state().project.setup;
  const auto& tool1 = setup.tool_settings[0];
  frm_mn1->setVisible(setup.tool_flags[0] == 1);
  Cmb_organism->clear();
  for (const char* o : kOrganisms)
    Cmb_organism->addItem(o);
  const int organism = tool1[0];
  if (organism >= 0 && organism <= 3) {
    Cmb_organism->setCurrentIndex(organism);
  } else if (organism >= 7 && organism <= 9) {
    static const char* const kSizes[] = {"size <100um", "size 0.1-1mm", "size >1mm"};
    Cmb_organism->addItem(kSizes[organism - 7]);
    Cmb_organism->setCurrentIndex(Cmb_organism->count() - 1);
  }
  txt_snr_umbral->setText(one_decimal(tool1[3] / 10.0));
  mnCalibra->setChecked(tool1[1] == 1);
  cmd_calibra->setVisible(tool1[1] != 1); // the start action calibrates by itself then
  mnZero->setChecked(tool1[2] == 1);
}

void FrmMain::apply_light_temperature() {
  const auto& setup = app_.state().project.setup;
  const auto& light = setup.tool_settings[1];
  const auto& temp = setup.tool_settings[2];
  Chk_lenabled->setChecked(light[0] == 1);
  int on = light[1];
  int off = light[2];
  if (on == 0 && off == 0) {
    on = 9;
    off = 21;
  }
  txt_lon->setText(QString::number(on));
  txt_loff->setText(QString::number(off));
  frm_pulse->hide();
  if (light[0] == 1) {
    txt_pulsetimes->setText(QString::number(light[3]));
    txt_pulseon->setText(one_decimal(light[4] / 10.0));
    txt_pulseoff->setText(one_decimal(light[5] / 10.0));
    const bool pulses = light[3] >= 1;
    frm_pulse->setVisible(pulses);
    txt_lon->setEnabled(!pulses);
    txt_loff->setEnabled(!pulses);
  }
  Chk_tenabled->setChecked(temp[0] == 1);
  const int tenths = (temp[1] < 20 || temp[1] > 500) ? 200 : temp[1];
  txttemp->setText(one_decimal(tenths / 10.0));
  Frame_light->setVisible(setup.tool_flags[1] == 1);
  Frame_temp->setVisible(setup.tool_flags[2] == 1);
}

void FrmMain::fill_bin_list(const ReportBinChoice& choice) {
  combo_minutes->clear();
  for (int m : bin_size_entries())
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

void FrmMain::loader_news(const std::string& text) {
  app_.start_screen().LblNews->setText(qs(text));
}

// --- ConnectionStatus ---

void FrmMain::set_autochannel(std::string_view text) { lbl_autochannel->setText(qs(text)); }

void FrmMain::set_autotext(std::string_view text) { lbl_autotext->setText(qs(text)); }

void FrmMain::set_news(std::string_view text) { app_.start_screen().LblNews->setText(qs(text)); }

void FrmMain::show_progress(bool shown) {
  if (shown) {
    picturecal->hide();
    frm_autotext->show();
    frm_autotext->raise();
  } else {
    frm_autotext->hide();
    picturecal->show();
    lbl_autotext->show();
    lbl_autochannel->show();
  }
}

void FrmMain::repaint() {
  lbl_autochannel->repaint();
  lbl_autotext->repaint();
  app_.start_screen().LblNews->repaint();
}

void FrmMain::check_com_port(int port) {
  for (int i = 1; i <= 15; ++i)
    mncom1[static_cast<std::size_t>(i)]->setChecked(i == port);
}

void FrmMain::show_start_screen() {
  app_.start_screen().show();
  hide();
}

} // namespace kestrova::app
