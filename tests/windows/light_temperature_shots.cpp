// Screen shots of the light and temperature panels and the factory window, taken from the
// display the program runs on (run under Xvfb at the size wanted):
//   kestrova_light_temperature_shots DATA_DIR OUT_DIR
#include <QApplication>
#include <QScreen>
#include <QStyleFactory>
#include <cstdio>
#include <filesystem>

#include "acquisition/acquisition_cycle.hpp"
#include "app/app.hpp"
#include "app/factory_window.hpp"
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
  const auto shoot = [&](const char* name) { testing::shoot_screen(out, name); };

  testing::ShotProgram shots(data);
  shots.plug_instrument();
  testing::FakeDialogs& dialogs = shots.dialogs;
  shots.ensure_data_folder();
  if (!shots.start()) return 1;
  app::App& program = shots.app();
  program.start_screen().cmd_option2->click();
  app::FrmMain& main = program.main_window();
  main.setGeometry(screen->availableGeometry()); // no window manager to maximise it
  main.show();

  // The light panel in front with its pulse programme open and the light on.
  main.temp_ctl->trigger();
  main.lght_ctl->trigger();
  main.Chk_lenabled->setChecked(true);
  main.txt_pulsetimes->setText("3");
  Q_EMIT main.txt_pulsetimes->editingFinished();
  main.txt_pulseon->setText("1.5");
  Q_EMIT main.txt_pulseon->editingFinished();
  main.txt_pulseoff->setText("30");
  Q_EMIT main.txt_pulseoff->editingFinished();
  main.cmd_cyclepulse->click();
  main.cmd_luz->click();
  shoot("light_panel");

  // The temperature panel in front, heating with the power on.
  main.Chk_tenabled->setChecked(true);
  main.txttemp->setText("28.5");
  Q_EMIT main.txttemp->editingFinished();
  main.cmd_frio->click();
  main.cmd_ontemp->click();
  main.cmd_nextwindows2->click();
  shoot("temperature_panel");

  // The factory window over the hidden main window, after a reading and a calibration.
  main.cmd_luz->click();
  main.cmd_ontemp->click();
  main.mn_factory->trigger();
  app::FrmFactory* factory = main.factory_window();
  if (factory == nullptr) return 1;
  factory->Timer_temp_Timer();
  factory->txt_set_temp->setText("24.0");
  factory->Cmd_temp->click();
  factory->Timer_temp_Timer();
  shoot("factory");

  for (const auto& t : dialogs.texts())
    std::printf("dialog: %s\n", t.c_str());
  return 0;
}
