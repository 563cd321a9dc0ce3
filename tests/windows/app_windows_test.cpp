// The start-up, the start screen's choices and the connection, on the real windows.
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTimer>

#include "acquisition/acquisition_cycle.hpp"
#include "app/command_line.hpp"
#include "app/main_display.hpp"
#include "app_fixture.hpp"
#include "reports/report_settings_window.hpp"
#include "reports/report_window.hpp"
#include "setup_editor/setup_window.hpp"

#include "sim/pty_server.hpp"
#include "store/project_files.hpp"

namespace kestrova::testing {
namespace {

// Keeps the text of a label each time it is painted.
class PaintedTexts : public QObject {
public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
  std::vector<std::string> texts;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      const std::string t = label_->text().toStdString();
      if (texts.empty() || texts.back() != t) texts.push_back(t);
    }
    return false;
  }

private:
  QLabel* label_;
};

using AppStartup = AppFixture;

TEST_F(AppStartup, StatusTextsInOrderThenUsableStartScreen) {
  write_config("0,0,4,0");
  app::App& a = make_app();
  PaintedTexts painted(a.start_screen().LblNews);
  ASSERT_EQ(a.start(), app::LoadOutcome::Ready);
  const std::vector<std::string> expected = {"STARTING........... Reading Configuration...",
                                             "STARTING........... Configuration OK...",
                                             "status = not connected yet"};
  EXPECT_EQ(painted.texts, expected);
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_TRUE(a.start_screen().isEnabled());
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_EQ(a.state().startup.load_stage, 9);
  EXPECT_EQ(a.main_window().txt_projecto->text(), "0_Default");
  EXPECT_EQ(a.main_window().combo_minutes->currentText(), "30");
  EXPECT_FALSE(a.main_window().mn_userbin->isChecked());
  EXPECT_FALSE(a.main_window().CmdPause->isEnabled());
  EXPECT_FALSE(a.state().link.connected);
  // The default setup has auto-calibration on: its box is ticked, "Fast CALIB" is hidden.
  EXPECT_TRUE(a.main_window().mnCalibra->isChecked());
  EXPECT_TRUE(a.main_window().cmd_calibra->isHidden());
}

TEST_F(AppStartup, MissingConfigShowsOnlyItsMessage) {
  app::App& a = make_app();
  EXPECT_EQ(a.start(), app::LoadOutcome::ConfigMissing);
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{"Config file not found: Check correct software installation"});
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_TRUE(a.state().ended);
}

TEST_F(AppStartup, ConfiguredProjectWithoutFolderStartsOnProjectZero) {
  app::App& a = started_app("12,12,4,0");
  EXPECT_EQ(a.state().project.config.Actual_Project_Number, 0);
  EXPECT_EQ(a.main_window().txt_projecto->text(), "0_Default");
}

TEST_F(AppStartup, UserDefinedBinIsAddedAndChecked) {
  write_file(tmp_ / "repoconf.dat", "\"h\"\r\n1,45,0,\",\",1,0,1,0,0,1,18,0\r\n");
  app::App& a = started_app();
  EXPECT_TRUE(a.main_window().mn_userbin->isChecked());
  EXPECT_EQ(a.main_window().combo_minutes->currentText(), "45");
  EXPECT_EQ(a.main_window().combo_minutes->count(), 11);
}

TEST_F(AppStartup, CommandLineDecidesAutorun) {
  struct Case {
    std::string argument;
    bool autorun;
  };
  for (const Case& c : {Case{"  /Run  ", true}, Case{"/rUn", false}, Case{"run", false}}) {
    dialogs_.clear();
    write_config("0,0,4,0");
    const app::CommandLine cli = app::parse_command_line({c.argument});
    app::App& a = make_app(cli.autorun);
    dialogs_.script_input(std::string()); // the port box: Enter goes offline
    ASSERT_EQ(a.start(), app::LoadOutcome::Ready) << c.argument;
    const std::string project_zero = "Operation not allowed in Project #0:Default. Go to <Setup> "
                                     "and Save it with another name";
    const auto refused = [&] {
      return a.main_window().lbl_acquisition_status->text().toStdString().ends_with(project_zero);
    };
    run_until(refused, c.autorun ? 30000 : 100);
    EXPECT_EQ(shown("PORT NOT FOUND"), c.autorun) << c.argument;
    // Phase 6 runs the start action after the connect action; project 0 cannot record, which
    // the status line says: nobody is there to close a box.
    EXPECT_EQ(refused(), c.autorun) << c.argument;
    EXPECT_FALSE(shown(project_zero)) << c.argument;
    if (!c.autorun) {
      EXPECT_TRUE(dialogs_.texts().empty()) << c.argument;
    }
    app_.reset();
  }
}

using StartScreen = AppFixture;

TEST_F(StartScreen, ExitThenNoKeepsTheStartScreen) {
  app::App& a = started_app();
  dialogs_.script_answer(common::Answer::No);
  a.start_screen().cmd_option4->click();
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Sure to Quit?"});
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(a.state().ended);

  dialogs_.script_answer(common::Answer::Yes);
  a.start_screen().cmd_option4->click();
  EXPECT_TRUE(a.state().ended);
  EXPECT_FALSE(a.start_screen().isVisible());
}

TEST_F(StartScreen, LogoDoubleClickOpensTheMakersSite) {
  app::App& a = started_app();
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(a.start_screen().Image1, &dbl);
  ASSERT_EQ(shell_.calls.size(), 1u);
  EXPECT_EQ(shell_.calls[0].rfind("url https://", 0), 0u) << shell_.calls[0];
}

TEST_F(StartScreen, NoInstrumentGoesBackToTheStartScreen) {
  app::App& a = started_app();
  dialogs_.script_input(std::string());
  a.start_screen().cmd_option2->click();
  EXPECT_TRUE(shown("PORT NOT FOUND"));
  EXPECT_TRUE(a.state().link.offline);
  EXPECT_FALSE(a.state().link.connected);
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_EQ(a.main_window().lbl_link_status->text(), "Offline: no instrument found");
}

// Clicks made while a connect runs are dropped, not fired on the buttons once it ends; the
// status bar and Disconnect follow the link.
TEST_F(StartScreen, ClicksDuringConnectAreDropped) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  app::App& a = started_app("0,0,4,0");
  app::FrmMain& m = a.main_window();
  m.show();
  EXPECT_FALSE(m.Cmd_disconnect->isEnabled());
  // A click on Disconnect queued behind the connect, as a user makes it on a busy window.
  const QPoint centre = m.Cmd_disconnect->rect().center();
  QCoreApplication::postEvent(m.Cmd_disconnect,
                              new QMouseEvent(QEvent::MouseButtonPress, centre,
                                              m.Cmd_disconnect->mapToGlobal(centre), Qt::LeftButton,
                                              Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(m.Cmd_disconnect,
                              new QMouseEvent(QEvent::MouseButtonRelease, centre,
                                              m.Cmd_disconnect->mapToGlobal(centre), Qt::LeftButton,
                                              Qt::NoButton, Qt::NoModifier));
  // What the window offers while the connect runs (seen from the first events it lets run).
  bool seen = false, disconnect_enabled = true, connect_enabled = true, menu_enabled = true;
  QTimer::singleShot(0, &m, [&] {
    seen = true;
    disconnect_enabled = m.Cmd_disconnect->isEnabled();
    connect_enabled = m.cmd_connect->isEnabled();
    menu_enabled = m.menuBar()->isEnabled();
  });
  m.cmd_connect->click();
  QApplication::processEvents();
  ASSERT_TRUE(seen);
  EXPECT_FALSE(disconnect_enabled);
  EXPECT_FALSE(connect_enabled);
  EXPECT_FALSE(menu_enabled);
  EXPECT_TRUE(a.state().link.connected) << "the queued click disconnected";
  EXPECT_TRUE(a.session().ports().is_open(4));
  EXPECT_TRUE(m.Cmd_disconnect->isEnabled());
  EXPECT_TRUE(m.PicPanel2->isEnabled());
  EXPECT_EQ(m.lbl_link_status->text(), "Connected: COM4, instrument 42");

  m.Cmd_disconnect->click();
  EXPECT_FALSE(a.state().link.connected);
  EXPECT_FALSE(m.Cmd_disconnect->isEnabled());
  EXPECT_EQ(m.lbl_link_status->text(), "Not connected (COM4)");
  a.start_screen().Form_Activate();
  EXPECT_EQ(a.start_screen().LblNews->text(), "status = not connected yet");
}

// Start, pause, resume and stop from the main window's buttons: the acquisition timer runs
// exactly while the acquisition wants ticks, and the buttons follow the state.
TEST_F(StartScreen, MainWindowRunsAnAcquisition) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  store::ProjectState project;
  project.setup.Name = "Larvae";
  project.setup.RT_Buffer = 20;
  no_start_calibration(project.setup);
  FakeDialogs quiet;
  std::filesystem::create_directories(tmp_ / "p00001");
  ASSERT_TRUE(store::SaveProject(project, tmp_ / "p00001", 1, 0, quiet));
  app::App& a = started_app("1,1,4,0");
  app::FrmMain& m = a.main_window();
  a.start_screen().cmd_option2->click();
  ASSERT_TRUE(a.state().link.connected);

  m.cmd_stack_pos[2]->click();
  EXPECT_EQ(m.lbl_station->text(), "STATION 3");
  dialogs_.script_input(std::string("day 1"));
  m.CmdPlay->click();
  EXPECT_EQ(m.lbl_station->text(), "STATION 1") << "the start shows station 1";
  ASSERT_TRUE(a.state().acquisition.running) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_TRUE(m.Timeradq->isActive());
  EXPECT_FALSE(m.CmdPlay->isEnabled());
  EXPECT_TRUE(m.CmdPause->isEnabled());
  EXPECT_FALSE(m.Cmdsetup->isEnabled());
  EXPECT_FALSE(m.Cmdoffline->isEnabled());
  EXPECT_EQ(m.txt_subproject->text(), "day 1");
  // A few buffers of 20 samples go by on the window's own timer.
  EXPECT_TRUE(run_until([&] { return a.state().acquisition.buffers_done >= 2; }));

  dialogs_.script_answer(common::Answer::Yes); // "Pause Time Counter?"
  m.CmdPause->click();
  EXPECT_TRUE(a.state().acquisition.paused);
  EXPECT_FALSE(m.Timeradq->isActive());
  m.CmdPause->click();
  EXPECT_TRUE(a.state().acquisition.running);
  EXPECT_TRUE(m.Timeradq->isActive());

  m.CmdStop->click();
  EXPECT_FALSE(a.state().acquisition.running);
  EXPECT_FALSE(m.Timeradq->isActive());
  EXPECT_TRUE(m.CmdPlay->isEnabled());
  EXPECT_TRUE(m.Cmdsetup->isEnabled());
  const auto folders = std::distance(std::filesystem::directory_iterator(tmp_ / "p00001"),
                                     std::filesystem::directory_iterator{});
  EXPECT_GE(folders, 6) << "the acquisition folder beside the project's five files";

  // "Show my report" opens the report window on that acquisition with the main window's bin.
  const std::filesystem::path recorded = a.session().acquisition().folder();
  ASSERT_TRUE(std::filesystem::is_regular_file(recorded / "counts.bin"));
  reports::FrmReport& report = a.report_window();
  m.combo_minutes->setCurrentText("15");
  m.Cmdreport->click();
  EXPECT_TRUE(report.isVisible());
  EXPECT_EQ(report.Txt_inputfile->text().toStdString(), recorded.string());
  EXPECT_EQ(report.Cmb_binsize->currentText(), "15");
  EXPECT_EQ(report.cmbbasal->currentText(), "-");
  EXPECT_FALSE(std::filesystem::exists(recorded / "report.csv")) << "opening writes nothing";
  report.Cmd_cancel->click();

  // The automatic report at an acquisition's end goes through the same window: it writes the
  // report by itself, hides, and the session keeps its outcome. These few seconds are too short
  // to cut into bins, which the session learns as a failure.
  dialogs_.clear();
  shell_.calls.clear();
  a.session().acquisition().show_report(true);
  EXPECT_FALSE(report.isVisible());
  EXPECT_FALSE(a.session().last_report().ok);
  EXPECT_TRUE(shown("Resampling ERROR"));
  // An hour of records in the same folder is reported.
  std::string counts;
  for (int minute = 1; minute <= 60; ++minute) {
    std::string record(774, '\0');
    record[0] = static_cast<char>(minute);
    record[4] = 5; // channel 0 counts 5
    counts += record;
  }
  write_file(recorded / "counts.bin", counts);
  dialogs_.clear();
  a.session().acquisition().show_report(true);
  EXPECT_FALSE(report.isVisible());
  EXPECT_FALSE(report.chk_autoreport->isChecked());
  EXPECT_TRUE(a.session().last_report().ok) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(a.session().last_report().report, recorded / "report.csv");
  EXPECT_TRUE(std::filesystem::is_regular_file(recorded / "report.csv"));
  // The closing words wait for nobody: they are the main window's status line.
  // Asked for outside an acquisition's tick, the closing words are a box as ever.
  EXPECT_TRUE(shown("Report File AutoGenerated"));
  EXPECT_TRUE(shell_.calls.empty());
}

// "Apply" in the report settings takes effect at the next completion, with no restart: the
// acquisition ends with its automatic report in the applied bin; after "Back to Default" the
// next one ends with "Acquisition finished" and the report window for the operator.
TEST_F(StartScreen, ReportSettingsApplyAtTheNextCompletion) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  store::ProjectState project;
  project.setup.Name = "Larvae";
  project.setup.RT_Buffer = 20;
  project.setup.Aq_lapse = 3;
  project.setup.tool_settings[0] = {0, 0, 0, 18, 0, 0}; // no start-up calibration
  FakeDialogs quiet;
  std::filesystem::create_directories(tmp_ / "p00001");
  ASSERT_TRUE(store::SaveProject(project, tmp_ / "p00001", 1, 0, quiet));
  app::App& a = started_app("1,1,4,0");
  app::FrmMain& m = a.main_window();
  ASSERT_FALSE(m.mn_userbin->isChecked());
  a.start_screen().cmd_option2->click();
  ASSERT_TRUE(a.state().link.connected);

  m.mn_userbin->trigger();
  reports::FrmReportSet& settings = a.report_settings_window();
  ASSERT_TRUE(settings.isVisible());
  settings.Cmb_binsize->setCurrentText("2");
  settings.Cmd_generate->click();
  EXPECT_TRUE(m.mn_userbin->isChecked());
  EXPECT_EQ(m.combo_minutes->currentText(), "2") << "the main window's bin list follows";

  // Each timer interval stands for 300 ms of the test's clock: the minutes pass in few ticks.
  clock_.on_sleep = [this](int ms) {
    if (ms == acquisition::kCycleTimerMs) clock_.advance_ms(270);
  };
  const auto acquire = [&](const std::string& name) {
    dialogs_.clear();
    dialogs_.script_input(name);
    m.CmdPlay->click();
    EXPECT_TRUE(a.state().acquisition.running) << ::testing::PrintToString(dialogs_.texts());
    for (int guard = 0; guard < 5000 && a.session().acquisition_timer_enabled(); ++guard) {
      clock_.sleep_ms(acquisition::kCycleTimerMs);
      a.session().tick();
    }
    EXPECT_TRUE(a.session().acquisition().finished());
    return a.session().acquisition().folder();
  };
  const std::filesystem::path first = acquire("applied");
  EXPECT_TRUE(std::filesystem::is_regular_file(first / "report.csv"))
      << ::testing::PrintToString(dialogs_.texts());
  EXPECT_TRUE(a.session().last_report().ok);
  EXPECT_EQ(a.session().last_report().bin, 2);
  // A completion's closing words wait for nobody: the status line says them, no box.
  const auto status = [&] { return m.lbl_acquisition_status->text().toStdString(); };
  EXPECT_TRUE(status().ends_with("Report File AutoGenerated")) << status();
  EXPECT_FALSE(shown("Report File AutoGenerated"));
  EXPECT_FALSE(shown("Acquisition finished"));
  EXPECT_FALSE(a.report_window().isVisible());

  a.open_report_settings();
  settings.Cmd_cancel->click();
  EXPECT_FALSE(m.mn_userbin->isChecked());
  EXPECT_EQ(m.combo_minutes->currentText(), "30");
  clock_.advance_ms(60'000); // another minute, another folder
  const std::filesystem::path second = acquire("defaults");
  ASSERT_NE(second, first);
  EXPECT_TRUE(status().ends_with("Acquisition finished")) << status();
  EXPECT_FALSE(shown("Acquisition finished"));
  EXPECT_FALSE(shown("Report File AutoGenerated"));
  EXPECT_FALSE(std::filesystem::exists(second / "report.csv"));
  EXPECT_TRUE(a.report_window().isVisible());
  EXPECT_EQ(a.report_window().Txt_inputfile->text().toStdString(), second.string());
  a.report_window().Cmd_cancel->click();
}

// A relaunched instance that finds no instrument asks nothing: the main window shows that it
// waits, and "Stop Acquisition" cancels the wait.
TEST_F(StartScreen, RelaunchedInstanceShowsItsWaitAndStopCancelsIt) {
  write_config("0,0,4,0");
  app::App& a = make_app(true, 1);
  ASSERT_EQ(a.start(), app::LoadOutcome::Ready);
  app::FrmMain& m = a.main_window();
  EXPECT_TRUE(run_until([&] { return a.session().waiting_for_instrument(); }));
  EXPECT_TRUE(m.isVisible());
  EXPECT_TRUE(m.frm_autotext->isVisible());
  EXPECT_EQ(m.lbl_autotext->text(), "WAITING FOR THE INSTRUMENT");
  EXPECT_TRUE(m.lbl_autochannel->text().startsWith("Next try in "))
      << m.lbl_autochannel->text().toStdString();
  EXPECT_TRUE(m.CmdStop->isEnabled());
  EXPECT_TRUE(dialogs_.texts().empty()) << dialogs_.texts().front();
  m.CmdStop->click();
  EXPECT_FALSE(a.session().waiting_for_instrument());
  EXPECT_FALSE(m.frm_autotext->isVisible());
  EXPECT_FALSE(a.state().startup.autorun);
}

TEST_F(StartScreen, RunLatestProjectConnectsToTheInstrument) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM7", &error)) << error;
  app::App& a = started_app("0,0,4,0"); // configured port 4 holds nothing
  a.start_screen().cmd_option2->click();
  EXPECT_TRUE(a.state().link.connected);
  EXPECT_FALSE(a.state().link.offline);
  EXPECT_EQ(a.state().link.port, 7);
  EXPECT_EQ(a.state().link.serial, 42);
  EXPECT_TRUE(a.state().link.factory_valid);
  EXPECT_TRUE(a.main_window().isVisible());
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_FALSE(a.main_window().frm_autotext->isVisible());
  for (int i = 1; i <= 15; ++i)
    EXPECT_EQ(a.main_window().mncom1[static_cast<std::size_t>(i)]->isChecked(), i == 7) << i;
  EXPECT_FALSE(shown("PORT NOT FOUND"));
  EXPECT_TRUE(a.session().ports().is_open(7));

  // The start screen, shown again, tells the port in use.
  a.main_window().Cmdoffline->click();
  a.start_screen().Form_Activate();
  EXPECT_EQ(a.start_screen().LblNews->text(), "status: Connected in COM7");

  // "< Back" hands the notes over to the setup window.
  a.main_window().Txt_description->setText("day 3 larvae");
  a.main_window().Cmdoffline->click();
  EXPECT_EQ(a.state().setup_notes, "day 3 larvae");

  // Disconnect closes the port but does not go offline.
  a.main_window().Cmd_disconnect->click();
  EXPECT_FALSE(a.state().link.connected);
  EXPECT_FALSE(a.state().link.offline);
  EXPECT_FALSE(a.session().ports().is_open(7));
}

// Both ways out close the port the connect action left open; "No" to the update question
// saves nothing.
TEST_F(StartScreen, LeavingClosesTheOpenPort) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  for (const bool through_main : {true, false}) {
    dialogs_.clear();
    app::App& a = started_app("0,0,4,0");
    a.start_screen().cmd_option2->click();
    ASSERT_TRUE(a.session().ports().is_open(4)) << through_main;
    const auto saved = std::filesystem::last_write_time(tmp_ / "setup.dat");
    if (through_main) {
      dialogs_.script_answer(common::Answer::No);
      a.main_window().mnexit->trigger();
      EXPECT_EQ(dialogs_.texts(),
                std::vector<std::string>{"Update values to project 0_Default before Exit?"});
    } else {
      a.main_window().Cmdoffline->click();
      dialogs_.script_answer(common::Answer::Yes);
      a.start_screen().cmd_option4->click();
      EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Sure to Quit?"});
    }
    EXPECT_TRUE(a.state().ended) << through_main;
    EXPECT_FALSE(a.session().ports().is_open(4)) << through_main;
    EXPECT_EQ(std::filesystem::last_write_time(tmp_ / "setup.dat"), saved) << through_main;
    app_.reset();
  }
}

TEST_F(StartScreen, AutorunConnectsThenStartsTheAcquisition) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  write_config("0,0,4,0");
  app::App& a = make_app(app::parse_command_line({"/RUN"}).autorun);
  ASSERT_EQ(a.start(), app::LoadOutcome::Ready);
  // The start action refuses project 0, shown once connected in the status line with the
  // problem mark, and sends the operator to the setup window; not a single box.
  const std::string start_text = "Operation not allowed in Project #0:Default. Go to <Setup> "
                                 "and Save it with another name";
  app::FrmMain& main = a.main_window();
  EXPECT_TRUE(run_until(
      [&] { return main.lbl_acquisition_status->text().toStdString().ends_with(start_text); },
      30000));
  EXPECT_FALSE(main.cmd_problem_mark->isHidden());
  EXPECT_EQ(main.cmd_problem_mark->text().toStdString(), app::problem_mark_text(1));
  main.cmd_problem_mark->click();
  EXPECT_TRUE(main.cmd_problem_mark->isHidden());
  EXPECT_TRUE(a.state().link.connected);
  EXPECT_EQ(a.state().startup.phase, 6);
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_TRUE(a.setup_window().isVisible());
  EXPECT_TRUE(dialogs_.texts().empty());
}

} // namespace
} // namespace kestrova::testing
