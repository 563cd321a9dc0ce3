// Screen shots of the experiment browser, taken from the display the program runs on (run under
// Xvfb at the size wanted): the list opened with an acquisition current, and its pop-up menu.
//   kestrova_browser_shots DATA_DIR OUT_DIR
// An empty DATA_DIR is filled with a few projects and acquisitions first.
#include <QApplication>
#include <QScreen>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "browser/browser_window.hpp"
#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

void settle() {
  for (int i = 0; i < 30; ++i)
    QApplication::processEvents();
}

void make_demo(const fs::path& data) {
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w96f.dat", data / "w96f.dat",
                fs::copy_options::skip_existing);
  const char* names[] = {"Dose response", "Night light", "Mutant screen", "Temperature ramp"};
  for (int p = 1; p <= 4; ++p) {
    const fs::path project = data / store::ProjectFolderName(p * 3);
    fs::create_directories(project);
    store::SetupValues setup;
    setup.Name = names[p - 1];
    store::write_setup_file(project, p * 3, setup);
    for (int a = 0; a < (p == 2 ? 0 : 2 + p); ++a) {
      char name[64];
      std::snprintf(name, sizeof name, "2024%02d%02d_%02d%02d%s", p + 2, 10 + a, 9 + a, 5 * a,
                    a == 1 ? "_s2" : "");
      const fs::path folder = project / name;
      fs::create_directories(folder);
      testing::write_file(folder / "counts.bin", "");
      store::SetupValues acq = setup;
      acq.Aq_lapse = 60;
      store::write_setup_file(folder, p * 3, acq);
      store::SaveChannelTables(folder, store::ChannelTables{}, store::GroupTables{});
      store::WriteAcquisitionIndex(folder, "Run " + std::to_string(a + 1) + " " + names[p - 1],
                                   "N2 worms, 20 per well\r\nfood: OP50");
    }
  }
  testing::write_file(data / "p00009" / "tags_id.dat", "20240510_0900 [K1] [K3]\r\n");
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DATA_DIR OUT_DIR\n", argv[0]);
    return 2;
  }
  QApplication qt(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const fs::path data = argv[1];
  const QString out = QString::fromLocal8Bit(argv[2]);
  if (fs::is_empty(data)) make_demo(data);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QString size =
      QString("%1x%2").arg(screen->geometry().width()).arg(screen->geometry().height());
  const auto shoot = [&](const char* name) {
    settle();
    screen->grabWindow(0).save(out + QString("/%1_%2.png").arg(name, size));
  };

  testing::FakeDialogs dialogs;
  testing::FakeShell shell;
  testing::FakeClock clock;
  browser::FrmOffline window(data, {dialogs, shell, clock}, [] {});
  window.Form_Load();
  window.setGeometry(screen->availableGeometry());
  if (std::getenv("SHOTS_DEBUG"))
    for (QWidget* w : window.findChildren<QWidget*>())
      if (w->minimumSizeHint().width() > 150)
        std::fprintf(stderr, "%s %d\n", w->objectName().toStdString().c_str(),
                     w->minimumSizeHint().width());
  window.show();
  shoot("browser_opened");

  // Expand the second project from the top and open its first acquisition.
  const auto open_row = [&](int row) {
    window.Listpj->setCurrentRow(row);
    window.Listpj_DblClick();
  };
  open_row(1);
  open_row(2);
  shoot("browser_acquisition");
  if (std::getenv("SHOTS_DEBUG"))
    std::fprintf(stderr,
                 "window %d x %d (minimum %d), plot area %d (minimum %d), list %d (minimum %d)\n",
                 window.width(), window.height(), window.minimumSizeHint().width(),
                 window.plot_area->width(), window.plot_area->minimumSizeHint().width(),
                 window.findChild<QWidget*>("list_side")->width(),
                 window.findChild<QWidget*>("list_side")->minimumSizeHint().width());
  window.Listpj_MouseUp_Right(window.Listpj->mapToGlobal(QPoint(120, 60)));
  shoot("browser_popup");
  window.mnrename->hide();
  window.lbl_date_Click();
  window.txt_search->setText("mutant \"RUN 2\"");
  window.cmd_lupa_Click();
  shoot("browser_search");
  for (const std::string& text : dialogs.texts())
    std::fprintf(stderr, "shown: %s\n", text.c_str());
  return 0;
}
