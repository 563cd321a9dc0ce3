// Screen shots of the channel calibration console against the virtual instrument, taken from
// the display the program runs on (run under Xvfb at the size wanted):
//   kestrova_console_shots DATA_DIR OUT_DIR
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QStyleFactory>
#include <cstdio>
#include <filesystem>

#include "app/app.hpp"
#include "app/console_window.hpp"
#include "app/init_window.hpp"
#include "app/main_window.hpp"
#include "sim/pty_server.hpp"
#include "store/data_template.hpp"
#include "store/project_files.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "ui/qt_event_pump.hpp"

namespace {

void run_for(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char** argv) {
  using namespace kestrova;
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DATA_DIR OUT_DIR\n", argv[0]);
    return 2;
  }
  QApplication qt(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const std::filesystem::path data = argv[1];
  const QString out = QString::fromLocal8Bit(argv[2]);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QString size =
      QString("%1x%2").arg(screen->geometry().width()).arg(screen->geometry().height());
  const auto shoot = [&](const char* name) {
    run_for(100);
    screen->grabWindow(0).save(out + QString("/%1_%2.png").arg(name, size));
  };

  // A plate with its organisms, one dead beam (F3) and one stuck bright (B16).
  sim::InstrumentOptions o;
  o.dead_beams = {37};
  o.fixed_beams = {{241, 3900.0}};
  sim::PtyServer server(o);
  server.start();
  server.link(data / "ports" / "COM1");
  testing::FakeDialogs dialogs;
  ui::QtEventPump pump;
  testing::FakeClock clock;
  testing::FakeShell shell;
  app::Services services{dialogs, pump, clock, shell};
  if (!std::filesystem::exists(data / "config.dat")) {
    store::WriteDataFolderTemplate(data, dialogs);
    store::ProjectState fresh;
    store::SaveProject(fresh, data, 0, 0, dialogs);
  }
  app::AppOptions options;
  options.data_dir = data;
  options.startup_timer_ms = 1;
  options.port_sources = {};
  app::App program(options, services);
  if (program.start() != app::LoadOutcome::Ready) return 1;
  program.start_screen().cmd_option2->click();
  app::FrmMain& main = program.main_window();
  main.show();
  run_for(300);
  if (!program.state().link.connected) {
    std::fprintf(stderr, "no instrument on COM1\n");
    return 1;
  }
  dialogs.script_input("Servo4821");
  main.mn_technical->trigger();
  app::FrmCorvel* console = main.console_window();
  if (console == nullptr) return 1;
  console->setGeometry(screen->availableGeometry()); // no window manager to maximise it

  // Live: a beam chosen on the grid, its trace zoomed.
  console->Cmd_online->click();
  run_for(800);
  // Beam E7 (channel 100) pressed on the grid: its setting is read back.
  console->Picwell_MouseDown(console->Picwell->to_pixel(650, 450));
  console->Command10->click();
  console->Command10->click();
  run_for(4000);
  shoot("console_live");

  // The automatic calibration under way.
  console->Cmdcalibrar->click();
  run_for(25000);
  shoot("console_calibrating");
  console->Cmd_offline->click();

  for (const auto& t : dialogs.texts())
    std::printf("dialog: %s\n", t.c_str());
  return 0;
}
