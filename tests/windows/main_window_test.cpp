// The main window: menu tree, controls, layout, activation and the exit path.
#include <QMenuBar>
#include <QStatusBar>

#include "acquisition/acquisition_cycle.hpp"
#include "app/about_window.hpp"
#include "app/main_layout.hpp"
#include "app/version.hpp"
#include "app_fixture.hpp"
#include "reports/report_settings_window.hpp"
#include "sim/pty_server.hpp"

namespace kestrova::testing {
namespace {

using MainWindow = AppFixture;

struct MenuItem {
  const char* name;
  const char* caption;
  bool visible;
};

TEST_F(MainWindow, CompleteMenuTree) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  const std::vector<MenuItem> items = {
      {"mnfile", "File", true},
      {"mn_settings", "Settings", true},
      {"mn_commports", "COM Ports", true},
      {"mn_advanced", "Advanced", true},
      {"mn_manualcal", "Manual_Calibration", false},
      {"mncal_on", "ON", true},
      {"mncal_off", "OFF", true},
      {"mn_userbin", "User Defined BIN size", true},
      {"mn_factory", "Factory Settings", true},
      {"mn_more", "More...", true},
      {"lght_ctl", "Light Control", true},
      {"temp_ctl", "Temperature Control", true},
      {"chk_zmonitor", "AutoRestart on ComError", true},
      {"mn_technical", "Technical Menu (require password)", true},
      {"mnstatustest", "Test DEVICE", true},
      {"mnexit", "Exit", true},
      {"mnhelp", "Help", true},
      {"mncontent", "Content", true},
      {"mnabout", "About", true},
      {"mnMenuhide", "Menuhide", false},
      {"mn_ascii", "Export ASCII", true},
      {"mn_bmp", "Export .BMP", true},
  };
  for (const auto& item : items) {
    auto* action = m.findChild<QAction*>(item.name);
    ASSERT_NE(action, nullptr) << item.name;
    EXPECT_EQ(action->text().remove('&').toStdString(), item.caption) << item.name;
    EXPECT_EQ(action->isVisible(), item.visible) << item.name;
  }
  // Keyboard access.
  EXPECT_EQ(m.mnfile->menuAction()->text(), "&File");
  EXPECT_EQ(m.mnexit->shortcut(), QKeySequence(QKeySequence::Quit));
  EXPECT_EQ(m.mncontent->shortcut(), QKeySequence(QKeySequence::HelpContents));
  for (const char* sep : {"mn_", "mnbar2"}) {
    auto* action = m.findChild<QAction*>(sep);
    ASSERT_NE(action, nullptr) << sep;
    EXPECT_TRUE(action->isSeparator()) << sep;
  }
  // Order under File: Settings, Advanced, Test DEVICE, separator, Exit.
  QStringList file;
  for (QAction* act : m.mnfile->actions())
    file << act->objectName();
  EXPECT_EQ(file, (QStringList{"mn_settings", "mn_advanced", "mnstatustest", "mn_", "mnexit"}));
  ASSERT_EQ(m.mn_commports->actions().size(), 15);
  for (int i = 1; i <= 15; ++i) {
    QAction* com = m.mn_commports->actions()[i - 1];
    EXPECT_EQ(com->text(), QString("COM%1").arg(i));
    EXPECT_EQ(com->objectName(), QString("mncom1_%1").arg(i));
  }
  QStringList bar;
  for (QAction* act : m.menuBar()->actions())
    bar << act->objectName();
  EXPECT_EQ(bar, (QStringList{"mnfile", "mnhelp", "mnMenuhide"}));
}

TEST_F(MainWindow, FixedChecksAndInertItems) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  EXPECT_TRUE(m.chk_zmonitor->isChecked());
  m.chk_zmonitor->trigger();
  EXPECT_TRUE(m.chk_zmonitor->isChecked());
  const bool bin_mark = m.mn_userbin->isChecked();
  m.mn_userbin->trigger();
  EXPECT_EQ(m.mn_userbin->isChecked(), bin_mark);
  dialogs_.clear();
  for (QAction* inert : {m.mncal_on, m.mncal_off, m.mn_ascii, m.mn_bmp})
    inert->trigger();
  m.Cmd_readblank->click();
  EXPECT_TRUE(dialogs_.texts().empty());
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_FALSE(a.state().ended);
}

// "User Defined BIN size" opens its window.
TEST_F(MainWindow, UserBinOpensItsWindow) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  m.mn_userbin->trigger();
  EXPECT_TRUE(a.report_settings_window().isVisible());
}

// The calibration tools: the organism list and the SNR box set the threshold text, the zero
// switch hides its button, the technical menu wants its password, Fast CALIB refuses offline.
TEST_F(MainWindow, CalibrationToolsFollowTheirRules) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  auto& tool = a.state().project.setup.tool_settings[0];

  m.Cmb_organism->setCurrentIndex(1);
  m.Cmb_organism_Click(1);
  EXPECT_EQ(m.txt_snr_umbral->text(), "2.1");
  EXPECT_EQ(tool[0], 1);
  m.lbl_umbral_Click();
  EXPECT_EQ(m.lbl_umbral->text(), "> Zero SNR:");
  EXPECT_FALSE(m.txt_snr_umbral->isHidden());

  m.txt_snr_umbral->setText("0.8");
  m.txt_snr_umbral_LostFocus();
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Invalid value: 1.1 to 5.0"});
  EXPECT_EQ(m.txt_snr_umbral->text(), "1.8");
  EXPECT_EQ(m.Cmb_organism->currentIndex(), 2);
  EXPECT_EQ(tool[3], 18);
  m.txt_snr_umbral->setText("2,5");
  m.txt_snr_umbral_LostFocus();
  EXPECT_EQ(m.txt_snr_umbral->text(), "2.5");
  EXPECT_EQ(tool[3], 25);

  m.mnZero->click(); // on at start: now off
  EXPECT_EQ(tool[2], 0);
  EXPECT_FALSE(m.Cmd_autozero->isHidden());
  m.mnZero->click();
  EXPECT_EQ(tool[2], 1);
  EXPECT_TRUE(m.Cmd_autozero->isHidden());

  dialogs_.clear();
  dialogs_.script_input("servo4821");
  m.mn_technical->trigger();
  // Stopped: the table is only prepared and saved.
  m.cmd_calibra_Click();
  EXPECT_EQ(m.lbl_autochannel->text(), "Calibration OK");
  EXPECT_TRUE(std::filesystem::exists(tmp_ / "calvalue.dat"));
  EXPECT_FALSE(m.frm_autotext->isVisible());
  a.state().link.offline = true;
  m.cmd_calibra_Click();
  EXPECT_EQ(dialogs_.messages(),
            (std::vector<std::string>{"Wrong Password", "Operation not possible in OFFLINE mode"}));
}

// "Light Control" / "Temperature Control": hide a shown panel and clear its tool switch, or
// say the panel depends on the hardware, show it and set the switch.
TEST_F(MainWindow, LightAndTemperaturePanelsFollowTheirMenuItems) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  auto& flags = a.state().project.setup.tool_flags;
  ASSERT_TRUE(m.Frame_light->isHidden());
  ASSERT_TRUE(m.Frame_temp->isHidden());
  m.lght_ctl->trigger();
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Only available in some hardware versions"});
  EXPECT_FALSE(m.Frame_light->isHidden());
  EXPECT_EQ(flags[1], 1);
  m.temp_ctl->trigger();
  EXPECT_FALSE(m.Frame_temp->isHidden());
  EXPECT_EQ(flags[2], 1);
  dialogs_.clear();
  m.lght_ctl->trigger();
  EXPECT_TRUE(dialogs_.texts().empty());
  EXPECT_TRUE(m.Frame_light->isHidden());
  EXPECT_EQ(flags[1], 0);
  EXPECT_EQ(flags[2], 1);
}

// The light and temperature frames share one place: the one in front hides the other
// completely, whichever the "»" / "«" buttons bring forward.
TEST_F(MainWindow, FrontPanelHidesTheOtherCompletely) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  m.Frame_light->show();
  m.Frame_temp->show();
  m.resize(1280, 800);
  m.show();
  QApplication::processEvents();
  ASSERT_EQ(m.Frame_light->geometry(), m.Frame_temp->geometry());
  const auto front_only = [&](QWidget* front) {
    const QImage in_panel = m.PicPanel2->grab(front->geometry()).toImage();
    const QImage alone = front->grab().toImage();
    return in_panel.convertToFormat(QImage::Format_RGB32) ==
           alone.convertToFormat(QImage::Format_RGB32);
  };
  m.cmd_nextwindows2->click(); // on the light frame: temperature to the front
  EXPECT_TRUE(front_only(m.Frame_temp));
  m.cmd_nextwindows1->click(); // on the temperature frame: light to the front
  EXPECT_TRUE(front_only(m.Frame_light));
}

TEST_F(MainWindow, EveryControlCarriesItsName) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  const char* const names[] = {"PicPanel1",        "Cmd_gridplot",     "Cmd_barplot",
                               "Cmd_histoplot",    "lbl_temperature",  "Picact",
                               "cmd_pgup",         "cmd_pgdown",       "Framereal",
                               "lbl_listwells",    "Combofila",        "Combocol",
                               "txtsub",           "lstgrup",          "Label3",
                               "lblcanal",         "Picreal",          "shape_real",
                               "combogrup",        "cmdbeam_minus",    "cmdbeam_plus",
                               "txtbeam",          "Cmdzoom_minus",    "Cmdzoom_plus",
                               "picturetime",      "Txt_time",         "PicPanel2",
                               "Frame_setup",      "lbl_project",      "txt_projecto",
                               "Cmdsetup",         "Label_acqlapse",   "txt_acqlapse",
                               "Label_wellformat", "txt_wellformat",   "chk_bodybends",
                               "txt_detection",    "lbl_subproject",   "txt_subproject",
                               "Lbl_keywords",     "Txt_description",  "lbl_torun",
                               "CmdPlay",          "CmdPause",         "CmdStop",
                               "Cmdreport",        "Cmdoffline",       "Frame_light",
                               "Frame_temp",       "cmd_nextwindows1", "cmd_nextwindows2",
                               "frame_config",     "lbl_binsize",      "combo_minutes",
                               "frm_mn1",          "Cmb_organism",     "lbl_umbral",
                               "txt_snr_umbral",   "mnCalibra",        "mnZero",
                               "cmd_calibra",      "Cmd_autozero",     "Cmd_readblank",
                               "cmd_connect",      "Cmd_disconnect",   "frm_autotext",
                               "picturecal",       "lbl_autotext",     "lbl_autochannel",
                               "cmd_stack_pos_0",  "cmd_stack_pos_3",  "chk_enabled_0",
                               "chk_enabled_3",    "lbl_station",      "lst_report_export",
                               "lbl_autostart"};
  for (const char* name : names)
    EXPECT_NE(m.findChild<QWidget*>(name), nullptr) << name;
  for (const char* timer : {"Timerinicio", "Timeradq", "Timer_test", "Timer_button"})
    EXPECT_NE(m.findChild<QTimer*>(timer), nullptr) << timer;
  EXPECT_EQ(m.windowTitle(), "<Kestrova> Acquisition Software  --------> Main");
  EXPECT_EQ(m.lbl_autotext->text(), "<AUTOCALIBRATION>");
  EXPECT_EQ(m.lbl_autochannel->text(), "starting....");
  // Designed captions of the channel view; the histogram button waits for body-bend mode.
  EXPECT_EQ(m.cmdbeam_minus->text(), "previous channel");
  EXPECT_EQ(m.cmdbeam_plus->text(), "next channel");
  EXPECT_EQ(m.txtbeam->text(), "Current channel");
  EXPECT_EQ(m.Cmdzoom_minus->text(), "zoom-");
  EXPECT_EQ(m.Cmdzoom_plus->text(), "zoom+");
  EXPECT_TRUE(m.Cmd_histoplot->isHidden());
  // Rest captions of the light and temperature controls.
  EXPECT_EQ(m.cmd_frio->text(), "COOL");
  EXPECT_EQ(m.cmd_ontemp->text(), "OFF");
  EXPECT_EQ(m.cmd_luz->text(), "OFF");
  EXPECT_EQ(m.Cmb_organism->count(), 4);
}

TEST_F(MainWindow, LayoutKeepsItsProportionsAtEverySize) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  m.show();
  for (const auto& [w, h] :
       std::vector<std::pair<int, int>>{{1024, 700}, {1280, 800}, {1920, 1080}}) {
    m.resize(w, h);
    QApplication::processEvents();
    // The rule takes the window's own width and height, menu bar included, less the status
    // bar at the bottom.
    ASSERT_EQ(m.size(), QSize(w, h));
    const int status_bar = m.statusBar()->sizeHint().height();
    const auto expected = app::main_layout(w, h - status_bar);
    ASSERT_TRUE(expected.has_value());
    const QRect p1 = m.PicPanel1->geometry();
    const QRect p2 = m.PicPanel2->geometry();
    EXPECT_EQ(p1, QRect(expected->pic_panel1.left, expected->pic_panel1.top,
                        expected->pic_panel1.width, expected->pic_panel1.height));
    EXPECT_EQ(p2, QRect(expected->pic_panel2.left, expected->pic_panel2.top,
                        expected->pic_panel2.width, expected->pic_panel2.height));
    EXPECT_EQ(m.lbl_autostart->geometry().top(), expected->lbl_autostart.top);
    EXPECT_NEAR(static_cast<double>(p1.width()) / w, 0.615, 0.005) << w;
    EXPECT_NEAR(static_cast<double>(p2.width()) / w, 0.3075, 0.005) << w;
    EXPECT_FALSE(m.frame_config->isVisible());
    EXPECT_TRUE(m.PicPanel1->rect().contains(m.Picact->geometry())) << w;
    EXPECT_GT(m.Picact->height(), p1.height() * 9 / 20) << w;
    EXPECT_LE(m.centralWidget()->mapTo(&m, p1.bottomLeft()).y(), m.statusBar()->geometry().top())
        << "the left panel runs under the status bar at " << w;
  }
  // Below the smallest size at which nothing clips, the window does not shrink.
  m.resize(800, 600);
  QApplication::processEvents();
  EXPECT_EQ(m.size(), QSize(1024, 700));
}

TEST_F(MainWindow, ClosingOfflineAsksNothing) {
  app::App& a = started_app();
  a.state().link.offline = true;
  a.main_window().show();
  a.main_window().close();
  EXPECT_TRUE(dialogs_.texts().empty());
  EXPECT_TRUE(a.state().ended);
}

TEST_F(MainWindow, ExitOnlineAsksAboutTheProject) {
  app::App& a = started_app();
  dialogs_.script_answer(common::Answer::Yes);
  a.main_window().show();
  std::filesystem::remove(tmp_ / "setup.dat");
  a.main_window().mnexit->trigger();
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{"Update values to project 0_Default before Exit?"});
  EXPECT_TRUE(std::filesystem::exists(tmp_ / "setup.dat")) << "Yes saves the project setup";
  EXPECT_TRUE(a.state().ended);
  EXPECT_FALSE(a.main_window().isVisible());
}

TEST_F(MainWindow, ActivationRefreshesProjectAndBodyBendsBox) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  a.state().project.setup.Aq_lapse = 90;
  a.state().project.setup.Plate_format = "w96u";
  a.state().project.setup.RT_Buffer = 200;
  m.Txt_description->setReadOnly(true);
  m.Form_Activate();
  EXPECT_EQ(m.txt_acqlapse->text(), "90");
  EXPECT_EQ(m.txt_wellformat->text(), "w96u");
  EXPECT_EQ(a.state().channels.raw.size(), 385u * 200 + 1);
  EXPECT_FALSE(m.Txt_description->isReadOnly());
  EXPECT_TRUE(m.chk_bodybends->isHidden());
  EXPECT_TRUE(m.chk_bodybends->isEnabled());

  m.chk_bodybends->setChecked(true);
  a.state().project.setup.Plate_format = "w96f";
  m.Form_Activate();
  EXPECT_FALSE(m.chk_bodybends->isEnabled());
  EXPECT_FALSE(m.chk_bodybends->isChecked());
}

TEST_F(MainWindow, HelpAboutAndBack) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  m.mncontent->trigger();
  EXPECT_TRUE(shell_.calls.empty());
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{app::help_missing_text((tmp_ / "ksv_help.pdf").string())});
  write_file(tmp_ / "ksv_help.pdf", "%PDF");
  m.mncontent->trigger();
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(shell_.calls[0], "open " + (tmp_ / "ksv_help.pdf").string());

  m.mnabout->trigger();
  EXPECT_TRUE(a.about_window().isVisible());
  EXPECT_EQ(a.about_window().Label_version->text().toStdString(), app::version_banner());
  a.about_window().hide();

  m.show();
  a.start_screen().hide();
  m.Cmdoffline->click();
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(m.isVisible());
  EXPECT_FALSE(m.lst_report_export->isVisible());
}

// "Test DEVICE" on a connected instrument: Timer_test first fires after 200 ms, then every
// 100 ms; the serial number and the banner show; Cancel at a second start takes the banner
// away and stops the timer.
TEST_F(MainWindow, DeviceTestRunsOnItsTimerAndShowsItsLabels) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  app::App& a = started_app("0,0,4,0");
  app::FrmMain& m = a.main_window();
  m.show();
  m.cmd_connect->click();
  ASSERT_TRUE(a.state().link.connected);

  m.resize(1024, 768);
  QApplication::processEvents();
  dialogs_.clear();
  m.mnstatustest->trigger();
  EXPECT_TRUE(m.Timer_test->isActive());
  EXPECT_EQ(m.Timer_test->interval(), 200);
  EXPECT_EQ(m.lbl_temperature->text(), "SN42");
  EXPECT_TRUE(m.lbl_autostart->isVisible());
  EXPECT_EQ(m.lbl_autostart->text(), "Open and close Kestrova Door to see sensing changes");
  EXPECT_TRUE(std::filesystem::exists(tmp_ / "testdev42.txt"));
  m.Timer_test_Timer(); // step 0
  m.Timer_test_Timer(); // step 1: A1-D1 on
  EXPECT_EQ(m.Timer_test->interval(), 100);
  EXPECT_TRUE(m.Timer_test->isActive());
  EXPECT_TRUE(shown("Turning ON A1-D1"));
  server.with_instrument([](sim::VirtualInstrument& vi) {
    EXPECT_EQ(vi.channel_setting(3), sim::setting_byte(7, 7));
  });
  // No acquisition while the test drives the beams.
  m.CmdPlay->click();
  EXPECT_TRUE(shown("Stop the device test before starting an acquisition"));
  EXPECT_EQ(a.session().acquisition().state(), acquisition::AcquisitionState::Stopped);

  // A larger window shows the whole grid at once, not the old picture in a corner: the last
  // cell (column 24, row P) is filled with its grey.
  m.Timer_test->stop(); // no tick in between draws it for us
  m.resize(1920, 1080);
  QApplication::processEvents();
  const QPointF last_cell = m.Picact->to_pixel(2350, 1550);
  const QRgb px = m.Picact->image().pixel(last_cell.toPoint());
  EXPECT_NE(px, qRgb(255, 255, 255));
  EXPECT_EQ(qRed(px), qBlue(px));

  dialogs_.script_answer(common::Answer::Cancel);
  m.mnstatustest->trigger();
  EXPECT_FALSE(m.Timer_test->isActive());
  EXPECT_FALSE(m.lbl_autostart->isVisible());
}

} // namespace
} // namespace kestrova::testing
