// Renders the start screen and the main window to PNG files for a visual check:
//   kestrova_window_shots DATA_DIR OUT_DIR [live | disk_full | ACQUISITION_FOLDER]
// DATA_DIR is used as the program's data folder; with the virtual instrument built in, the
// main window is shown connected to it on COM1. The report window shows ACQUISITION_FOLDER
// when given. With "live" the data folder's latest project (one that can record, on port 1)
// records one buffer, and the main window is shot in each live display view while the
// acquisition runs. With "disk_full" project 1 records while its disk refuses every write for a
// while: the main window is shot during that episode, after writing has resumed, and after the
// operator has acknowledged the mark.
#include <QApplication>
#include <QElapsedTimer>
#include <QStatusBar>
#include <QStyleFactory>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/acquisition_log.hpp"
#include "app/app.hpp"
#include "app/init_window.hpp"
#include "app/live_display_binding.hpp"
#include "app/main_window.hpp"
#include "reports/report_settings_window.hpp"
#include "reports/report_window.hpp"
#include "setup_editor/setup_window.hpp"
#include "shot_program.hpp"
#include "store/config.hpp"

namespace {

using namespace kestrova;
using testing::run_for;
using testing::shoot_sizes;

int live_shots(const std::filesystem::path& data, const QString& out) {
  testing::ShotProgram shots(data);
  if (!shots.start()) return 1;
  app::App& program = shots.app();
  testing::FakeDialogs& dialogs = shots.dialogs;
  const std::string plate = program.state().project.setup.Plate_format;
  sim::InstrumentOptions instrument;
  if (plate == "w96u") instrument.plate = sim::PlateMap::w96u();
  shots.plug_instrument(instrument);
  program.start_screen().cmd_option2->click();
  app::FrmMain& main = program.main_window();
  main.resize(1024, 768);
  main.show();
  run_for(100);
  if (plate == "w96u") {
    main.chk_bodybends->setEnabled(true);
    main.chk_bodybends->click();
  }
  dialogs.script_input(std::string("live display"));
  main.CmdPlay->click();
  if (!program.state().acquisition.running) {
    for (const auto& t : dialogs.texts())
      std::fprintf(stderr, "dialog: %s\n", t.c_str());
    return 1;
  }
  // One buffer end gives the summary its counts.
  QElapsedTimer t;
  t.start();
  while (program.state().acquisition.buffers_done < 1 && t.elapsed() < 60000)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  const auto shoot = [&](const char* view) {
    shoot_sizes(main, out, QString("live_") + view, 700); // a few ticks of the running trace
  };
  shoot("wells");
  main.Cmd_barplot->click();
  shoot("bars");
  main.Cmd_gridplot->click();
  shoot("heatmap");
  if (plate == "w96u") {
    main.Cmd_histoplot->click();
    shoot("histogram");
  }
  main.Cmdzoom_plus->click();
  main.Cmdzoom_plus->click();
  main.combogrup->setCurrentIndex(main.combogrup->count() - 1);
  Q_EMIT main.combogrup->textActivated(main.combogrup->currentText());
  shoot("wells_last_group_zoom2");
  main.CmdStop->click();
  std::printf("buffers %lld, plate %s\n",
              static_cast<long long>(program.state().acquisition.buffers_done), plate.c_str());
  return 0;
}

// Lets events run until `done` holds or a minute has passed; false on the time-out.
bool run_until(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 60000)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

int disk_full_shots(const std::filesystem::path& data, const QString& out) {
  testing::ShotProgram shots(data);
  shots.ensure_data_folder();
  shots.plug_instrument();
  bool full = false;
  const bool started = shots.start([&full](app::AppOptions& options) {
    options.write_at = [&full](int fd, const void* bytes, std::size_t size, std::int64_t at) {
      if (full) {
        errno = ENOSPC;
        return -1L;
      }
      return static_cast<long>(::pwrite(fd, bytes, size, static_cast<off_t>(at)));
    };
  });
  if (!started) return 1;
  app::App& program = shots.app();
  program.start_screen().cmd_option2->click();
  app::FrmMain& main = program.main_window();
  main.resize(1024, 768);
  main.show();
  run_for(100);
  auto& project = program.state().project;
  project.config.Actual_Project_Number = 1;
  project.project_folder = store::project_folder_path(data, 1);
  std::filesystem::create_directories(project.project_folder);
  project.setup.Name = "Disk full";
  project.setup.RT_Buffer = 40;
  project.setup.Aq_lapse = 60;
  project.setup.tool_settings[0][1] = 0;
  project.setup.tool_settings[0][2] = 0;
  shots.dialogs.script_input(std::string("disk full"));
  main.CmdPlay->click();
  const acquisition::AcquisitionCycle& cycle = program.session().acquisition();
  if (!program.state().acquisition.running) return 1;
  run_until([&] { return cycle.buffers_done() >= 2; });
  full = true;
  if (!run_until([&] { return cycle.buffers_lost() >= 3; })) return 1;
  shoot_sizes(main, out, "main_disk_full", 300);
  full = false;
  const std::int64_t lost = cycle.buffers_lost();
  run_until([&] { return cycle.buffers_done() >= cycle.buffers_lost() + 4; });
  shoot_sizes(main, out, "main_disk_recovered", 300);
  main.cmd_problem_mark->click();
  shoot_sizes(main, out, "main_disk_acknowledged", 300);
  main.CmdStop->click();
  std::printf("buffers %lld, lost %lld\n%s", static_cast<long long>(cycle.buffers_done()),
              static_cast<long long>(lost),
              acquisition::read_acquisition_log(cycle.folder()).value_or("no log\n").c_str());
  for (const auto& t : shots.dialogs.texts())
    std::printf("dialog: %s\n", t.c_str());
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s DATA_DIR OUT_DIR [live | disk_full | ACQUISITION_FOLDER]\n",
                 argv[0]);
    return 2;
  }
  QApplication qt(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const std::filesystem::path data = argv[1];
  const QString out = QString::fromLocal8Bit(argv[2]);
  if (argc == 4 && std::string(argv[3]) == "live") return live_shots(data, out);
  if (argc == 4 && std::string(argv[3]) == "disk_full") return disk_full_shots(data, out);

  testing::ShotProgram shots(data);
  shots.plug_instrument();
  if (!shots.start()) return 1;
  app::App& program = shots.app();
  testing::FakeDialogs& dialogs = shots.dialogs;
  QApplication::processEvents();
  program.start_screen().grab().save(out + "/start_screen.png");

  // The setup window, opened from the start screen, as it first shows and with its
  // annotation panel and advanced tools.
  program.start_screen().cmd_option1->click();
  setup_editor::FrmSetup& setup = program.setup_window();
  const auto shoot_setup = [&](const char* state) {
    shoot_sizes(setup, out, QString("setup_") + state);
  };
  shoot_setup("groups");
  setup.chk_advance->click();
  setup.mn_advanced->trigger();
  shoot_setup("annotations");
  setup.chk_advance->click();
  setup.Cmdoffline->click();

  app::FrmMain& main = program.main_window();
  const auto shoot = [&](const char* state) { shoot_sizes(main, out, QString("main_") + state); };
  program.start_screen().cmd_option2->click();
  main.Form_Activate();
  shoot("connected");

  // An acquisition of project 1 whose start calibrates and zeroes every beam, shown running
  // after the calibration, then stopped.
  {
    auto& project = program.state().project;
    project.config.Actual_Project_Number = 1;
    project.project_folder = store::project_folder_path(data, 1);
    std::filesystem::create_directories(project.project_folder);
    project.setup.tool_settings[0][1] = 1;
    project.setup.tool_settings[0][2] = 1;
    project.setup.Aq_lapse = 60;
    dialogs.script_input(std::string("calibrated"));
    main.CmdPlay_Click();
    for (int i = 0; i < 300; ++i)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    shoot("calibrated");
    std::printf("calibration: %d beams out of reach\n",
                static_cast<int>(program.session().calibration().out_of_reach().size()));
    main.CmdStop_Click();
  }
  // The device self-test in its column phase: column 6 lit, the grid and progress drawn.
  main.resize(1024, 768);
  main.mnstatustest->trigger();
  for (int i = 0; i < 45 && main.Timer_test->isActive(); ++i)
    main.Timer_test_Timer();
  shoot("self_test");
  dialogs.script_answer(common::Answer::Cancel);
  main.mnstatustest->trigger();
  program.session().connection().SetLinkLost(true);
  shoot("link_lost");
  // No instrument any more: the next connect goes offline.
  program.session().disconnect();
  shots.unplug_instrument();
  dialogs.script_input(std::string());
  program.session().connect();
  program.start_screen().grab().save(out + "/start_screen_offline.png");
  main.show();
  shoot("offline");

  // The report settings window and the report window, the latter with its raw-data frame.
  program.open_report_settings();
  shoot_sizes(program.report_settings_window(), out, "report_settings");
  program.report_settings_window().hide();
  reports::FrmReport& report = program.report_window();
  report.open_for(argc == 4 ? std::filesystem::path(argv[3]) : data, false);
  report.Frame_run->show();
  shoot_sizes(report, out, "report");
  report.hide();
  for (const auto& t : dialogs.texts())
    std::printf("dialog: %s\n", t.c_str());
  std::printf("offline %d on COM%d\n", program.state().link.offline, program.state().link.port);
  return 0;
}
