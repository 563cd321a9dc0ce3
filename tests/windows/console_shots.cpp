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
#include "shot_program.hpp"

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
  const auto shoot = [&](const char* name) {
    testing::run_for(100);
    testing::shoot_screen(out, name);
  };

  // A plate with its organisms, one dead beam (F3) and one stuck bright (B16).
  sim::InstrumentOptions o;
  o.dead_beams = {37};
  o.fixed_beams = {{241, 3900.0}};
  testing::ShotProgram shots(data);
  shots.plug_instrument(o);
  shots.ensure_data_folder();
  if (!shots.start()) return 1;
  app::App& program = shots.app();
  testing::FakeDialogs& dialogs = shots.dialogs;
  program.start_screen().cmd_option2->click();
  app::FrmMain& main = program.main_window();
  main.show();
  testing::run_for(300);
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
  testing::run_for(800);
  // Beam E7 (channel 100) pressed on the grid: its setting is read back.
  console->Picwell_MouseDown(console->Picwell->to_pixel(650, 450));
  console->Command10->click();
  console->Command10->click();
  testing::run_for(4000);
  shoot("console_live");

  // The automatic calibration under way.
  console->Cmdcalibrar->click();
  testing::run_for(25000);
  shoot("console_calibrating");
  console->Cmd_offline->click();

  for (const auto& t : dialogs.texts())
    std::printf("dialog: %s\n", t.c_str());
  return 0;
}
