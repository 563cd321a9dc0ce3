// Screen shots of the experiment browser, taken from the display the program runs on (run under
// Xvfb at the size wanted): the list opened with an acquisition current, its pop-up menu, each
// plot of the acquisition (bars, line, kinetic, heat map, raw signal, analysis preview), its
// acquisition log, the group editor in the middle of a drag, and the track view of a 6-well
// plate mid-animation.
//   kestrova_browser_shots DATA_DIR OUT_DIR
// An empty DATA_DIR is filled with a few projects and recorded acquisitions first.

// The plot code first: Qt's "slots" macro would clash with a member of that name.
#include "browser/plot_fixture.hpp"
#include "browser/plot_view.hpp"
#include "browser/track_fixture.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <QStyleFactory>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "browser/acquisition_log_window.hpp"
#include "browser/browser_window.hpp"
#include "browser/regroup_editor.hpp"
#include "browser/track_run.hpp"
#include "setup_editor/plate_map.hpp"
#include "store/channel_grid.hpp"
#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/plate_format.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"
#include "ui/picture_box.hpp"
#include "ui/qt_event_pump.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;
using browser::testing::Dip;

void settle() {
  for (int i = 0; i < 30; ++i)
    QApplication::processEvents();
}

// Six groups of two plate columns each, with names.
store::GroupTables demo_groups(const store::PlateFormat& plate) {
  const char* names[] = {"Control", "Drug 1uM", "Drug 5uM", "Drug 10uM", "Mutant A", "Mutant B"};
  store::GroupTables groups;
  store::GroupTable& g = groups.main();
  for (int i = 0; i < 6; ++i)
    g.names[static_cast<std::size_t>(i)] = names[i];
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int well = plate.map.well_of_channel[static_cast<std::size_t>(c)];
    g.channel_group[static_cast<std::size_t>(c)] =
        well < 0 ? store::kFreeGroup : std::min(5, well / plate.geometry.rows / 2);
  }
  return groups;
}

// Two hours of counts: each group its own level and trend, each well its own scatter.
void write_demo_counts(const fs::path& folder, const store::GroupTable& groups, int seed) {
  browser::testing::write_counts(
      folder, 120, [](int r) { return r; },
      [&](int r, int k) -> std::int16_t {
        const int g = groups.channel_group[static_cast<std::size_t>(k)];
        if (g < 0) return 0;
        const double trend = g % 2 == 0 ? 1.0 - r / 240.0 : 0.6 + r / 200.0;
        const double scatter = 1.0 + 0.3 * std::sin(k * 0.7 + seed);
        return static_cast<std::int16_t>(std::lround((6 + 3 * g) * trend * scatter));
      });
}

// Raw blocks for the first 60 records: a slow wave per beam with short dips (movements).
void write_demo_signal(const fs::path& folder) {
  browser::testing::write_realtime(folder, 60, [](int b, int p, int c) -> std::int16_t {
    const double wave = 120 * std::sin((p + 53 * b) / 45.0 + c);
    const bool dip = (p + 17 * c + 131 * b) % 97 < 4;
    return static_cast<std::int16_t>(1500 + 90 * (c % 4) + wave - (dip ? 700 : 0));
  });
}

// The event log of a night's acquisition with a link loss and a full disk.
void write_demo_log(const fs::path& folder) {
  testing::write_file(
      folder / "acquisition.log",
      "2024-05-10T09:00:02  Started \"Run 1 Mutant screen\", program 1.4.0; project 9 \"Mutant "
      "screen\", plate w96f, lapse 1440 min, buffer 500 samples, detection method 1 interval 5, "
      "SNR 1.80, real-time saving on, auto calibration on, auto zero on, light off, temperature "
      "control on at 20.0 C\n"
      "2024-05-10T09:00:41  Auto calibration done: 384 channels, 6 at their brightest setting\n"
      "2024-05-10T09:01:05  Auto zero done\n"
      "2024-05-10T13:12:40  Paused, time counter off\n"
      "2024-05-10T13:30:02  Resumed after 17.4 min\n"
      "2024-05-10T22:47:13  Link to the instrument lost at minute 809: no valid reply for 20 "
      "scans\n"
      "2024-05-10T22:48:01  Link to the instrument restored after 0.8 min (minute 809 to 810): "
      "1 buffer(s) missing, 0 recorded with repeated samples\n"
      "2024-05-11T03:05:55  Recording error at minute 1067: Cannot write "
      "/home/lab/Kestrova/p00009/20240510_0900/0.bin: No space left on device. The acquisition "
      "goes on; buffers are dropped until writing works again\n"
      "2024-05-11T03:26:10  Writing resumed at minute 1087: 19 buffer(s) lost since minute 1067 "
      "(19 in all)\n"
      "2024-05-11T09:17:31  Completed after 1440 minutes: 1387 buffer(s) evaluated, 19 lost; "
      "report written\n");
}

void make_demo(const fs::path& data) {
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w96f.dat", data / "w96f.dat",
                fs::copy_options::skip_existing);
  const char* names[] = {"Dose response", "Night light", "Mutant screen", "Temperature ramp"};
  const store::PlateFormat plate = *store::BuiltInPlateFormat("w96f");
  const store::GroupTables groups = demo_groups(plate);
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
      write_demo_counts(folder, groups.main(), a);
      store::SetupValues acq = setup;
      acq.Aq_lapse = 60;
      store::write_setup_file(folder, p * 3, acq);
      store::SaveChannelTables(folder, store::ChannelTables{}, groups);
      store::WriteAcquisitionIndex(folder, "Run " + std::to_string(a + 1) + " " + names[p - 1],
                                   "N2 worms, 20 per well\r\nfood: OP50");
    }
  }
  // A 6-well plate of zebrafish larvae: in each well one larva swims from beam to neighbouring
  // beam over three minutes of raw signal.
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w6.dat", data / "w6.dat",
                fs::copy_options::skip_existing);
  const fs::path larvae = data / store::ProjectFolderName(15);
  fs::create_directories(larvae);
  store::SetupValues larvae_setup;
  larvae_setup.Name = "Larvae tracking";
  store::write_setup_file(larvae, 15, larvae_setup);
  browser::testing::Acquisition swim;
  swim.minutes = {0, 1, 2, 3};
  swim.group_names = {"Control", "Control", "Drug 1uM", "Drug 1uM", "Drug 5uM", "Drug 5uM"};
  std::vector<Dip> dips;
  std::mt19937 random(5);
  const auto wells = browser::testing::w6_wells();
  for (const std::vector<int>& well : wells) {
    std::size_t at = well.size() / 2;
    for (int block = 0; block < 3; ++block)
      for (int sample = 4; sample < 490; sample += 6 + static_cast<int>(random() % 10)) {
        dips.push_back({block, sample, {well[at]}});
        std::vector<std::size_t> near;
        for (std::size_t i = 0; i < well.size(); ++i) {
          const int dc = store::beam_column(well[i]) - store::beam_column(well[at]);
          const int dr = store::beam_row(well[i]) - store::beam_row(well[at]);
          if (dc * dc + dr * dr <= 2 && i != at) near.push_back(i);
        }
        if (!near.empty()) at = near[random() % near.size()];
      }
  }
  swim.blocks = browser::testing::craft_blocks(4, dips);
  const fs::path swim_folder = larvae / "20240601_1000";
  browser::testing::write_acquisition(swim_folder, swim);
  store::WriteAcquisitionIndex(swim_folder, "Larvae swim, 6 wells", "5 dpf larvae, one per well");
  testing::write_file(data / "p00009" / "tags_id.dat",
                      "20240510_0900 [K1] [K3]\r\n20240512_1110 [K1]\r\n20240513_1215 [K1]\r\n");
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
  ui::QtEventPump pump;
  browser::FrmOffline window(data, {dialogs, shell, clock, pump}, [] {});
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
  // The "Mutant screen" project and its first acquisition, which has kinetic tags.
  const auto row_with = [&](const QString& text) {
    for (int i = 0; i < window.Listpj->count(); ++i)
      if (window.Listpj->item(i)->text().contains(text)) return i;
    return -1;
  };
  open_row(row_with("p00009"));
  open_row(row_with("  > 2024.0510"));
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

  // The acquisition's log in its own window over the browser.
  if (!fs::exists(window.browser().acquisition_path() / "acquisition.log"))
    write_demo_log(window.browser().acquisition_path());
  window.cmd_log->click();
  if (browser::AcquisitionLogWindow* log = window.log_window()) {
    const QRect area = screen->availableGeometry();
    log->resize(std::min(1100, area.width() - 40), std::min(480, area.height() - 80));
    log->move(area.center() - log->rect().center());
    shoot("browser_log");
    log->hide();
  }

  // The plots, each through its button.
  window.lstgrup_plot->setCurrentRow(2);
  window.Cmd_lineplot->click();
  shoot("plot_line");
  window.cmd_plus->click();
  window.cmd_plus->click();
  shoot("plot_line_bin15");
  window.List_tags->setCurrentRow(0);
  window.List_tags_DblClick();
  shoot("plot_kinetic");
  window.Picreal_MouseUp_Right(window.Picreal->mapToGlobal(QPoint(200, 150)));
  shoot("plot_kinetic_menu");
  window.mnrelativize->hide();
  window.mnrel0->trigger();
  shoot("plot_kinetic_relative");
  window.Cmd_gridplot->click();
  shoot("plot_heatmap");
  window.Cmd_barplot->click();
  shoot("plot_bars");
  const fs::path acquisition = window.browser().acquisition_path();
  if (!fs::exists(acquisition / "0.bin")) write_demo_signal(acquisition);
  window.cmdchannels->click();
  shoot("plot_signal");
  window.Combofila->setCurrentIndex(2);
  window.Combocol->setCurrentIndex(4);
  window.scrollpage->setValue(2);
  shoot("plot_signal_page2");
  window.Cmd_analyze->click();
  shoot("plot_analyze");
  window.Cmd_leegroups->click();
  window.lbl_date_Click();
  window.txt_search->setText("mutant \"RUN 2\"");
  window.cmd_lupa_Click();
  shoot("browser_search");
  window.lblproject_Click();

  // The 6-well acquisition: the group editor in the middle of a drag, then the track view.
  open_row(row_with("p00015"));
  open_row(row_with("  > 2024.0601"));
  window.lst_plateconfig_Click();
  const store::PlateGeometry& geometry = window.browser().tables()->plate.geometry;
  const auto centre = [&](int row, int column) {
    const auto r = setup_editor::well_rect(geometry, row, column);
    return window.Picreal->to_pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  };
  const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button) {
    QMouseEvent event(type, at, window.Picreal->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(window.Picreal, &event);
  };
  window.cmd_goset->click(); // blocks of the proposed size
  window.combogrup2->setCurrentIndex(2);
  window.combogrup2_Click();
  send(QEvent::MouseButtonPress, centre(0, 1), Qt::LeftButton);
  send(QEvent::MouseMove, centre(1, 2), Qt::NoButton);
  shoot("regroup_editor");
  send(QEvent::MouseButtonRelease, centre(1, 2), Qt::LeftButton);
  shoot("regroup_editor_released");
  dialogs.script_answer(common::Answer::No); // the demo's groups stay as they were
  window.cmdcancelgrups->click();
  window.chk_bmp->setChecked(false);
  window.cmd_track->click(); // opens the view
  window.cmd_track->click(); // plays
  QElapsedTimer playing;
  playing.start();
  while (window.track()->model()->steps_done() < 700 && playing.elapsed() < 60000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  shoot("track_animation");
  window.cmd_track->click(); // pauses
  for (const std::string& text : dialogs.texts())
    std::fprintf(stderr, "shown: %s\n", text.c_str());
  return 0;
}
