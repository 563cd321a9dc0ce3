// The channel calibration console window: opened from the technical menu, its live loop on the
// window timer against the virtual instrument, and its way out to the other windows.
#include <QMouseEvent>
#include <fstream>

#include "acquisition/acquisition_cycle.hpp"
#include "app/console_window.hpp"
#include "app/live_display_binding.hpp"
#include "app_fixture.hpp"
#include "browser/browser_window.hpp"
#include "setup_editor/setup_window.hpp"
#include "sim/pty_server.hpp"
#include "store/record_file.hpp"

namespace kestrova::testing {
namespace {

class ConsoleWindow : public AppFixture {
protected:
  app::FrmCorvel& open(app::App& a) {
    app::FrmMain& m = a.main_window();
    m.show();
    dialogs_.script_input("Servo4821");
    m.mn_technical->trigger();
    EXPECT_NE(m.console_window(), nullptr);
    return *m.console_window();
  }

  // A pixel of Picwell inside the cell of beam (column, row).
  static QPointF cell_pixel(const app::FrmCorvel& w, int column, int row) {
    const double x = (-(-75.0) + column * 100 + 50) * w.Picwell->width() / 2475.0;
    const double y = (-(-75.0) + row * 100 + 50) * w.Picwell->height() / 1675.0;
    return {x, y};
  }

  static void press(QWidget* target, QPointF at) {
    QMouseEvent e(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &e);
  }
};

TEST_F(ConsoleWindow, TechnicalMenuOpensTheLoadedConsole) {
  app::App& a = started_app();
  a.state().project.setup.Cal_value = 70;
  a.state().project.setup.Cal_mode = 0;
  // The main window traces a channel of row C, column 5: the console starts on it.
  app::FrmMain& m = a.main_window();
  m.Combofila->setCurrentIndex(2);
  m.Combocol->setCurrentIndex(4);
  const int traced = m.live_display()->display().channel();
  ASSERT_GE(traced, 0);
  app::FrmCorvel& w = open(a);
  EXPECT_EQ(w.console().selected_channel(), traced);
  EXPECT_EQ(w.lblcanal->text(), QString::number(traced));
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_EQ(w.Combomode->count(), 2);
  EXPECT_EQ(w.Combomode->itemText(0), "Max.Gain");
  EXPECT_EQ(w.Combomode->itemText(1), "Max.Power");
  EXPECT_EQ(w.Combomode->currentText(), "0_Max.Gain");
  EXPECT_EQ(w.Txtajuste->text(), "70");
  ASSERT_EQ(w.Combofila->count(), 16);
  EXPECT_EQ(w.Combofila->itemText(15), "P");
  ASSERT_EQ(w.Combocol->count(), 24);
  EXPECT_EQ(w.Combocol->itemText(23), "24");
  EXPECT_TRUE(w.Cmd_online->isEnabled());
  EXPECT_EQ(w.Cmdcalibrar->text(), "<CALIBRATE>& Auto-Gain");
  EXPECT_EQ(w.cmdTEST->text(), "TEST CURVA DE GANANCIA");

  // Row C, column 2 is channel 18.
  w.Combofila->setCurrentIndex(2);
  w.Combocol->setCurrentIndex(1);
  w.Combo_position_Click();
  EXPECT_EQ(w.lblcanal->text(), "18");
  EXPECT_EQ(w.console().selected_channel(), 18);
  // The mode "0_Max.Gain" does not calibrate and leaves ONLINE disabled.
  w.Cmdcalibrar->click();
  EXPECT_FALSE(w.Timer_console->isActive());
  EXPECT_FALSE(w.Cmd_online->isEnabled());
  EXPECT_FALSE(w.lblcalibrando->isVisible());
  w.Cmd_offline->click();
  EXPECT_TRUE(w.Cmd_online->isEnabled());

  // A target that is no percentage is refused.
  w.Txtajuste->setText("abc");
  w.Cmdcalibrar->click();
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Invalid value: 10 to 95"});
}

TEST_F(ConsoleWindow, WrongPasswordKeepsItClosed) {
  app::App& a = started_app();
  dialogs_.script_input("servo4821");
  a.main_window().mn_technical->trigger();
  EXPECT_EQ(a.main_window().console_window(), nullptr);
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Wrong Password"});
}

TEST_F(ConsoleWindow, LiveLoopRunsOnTheTimerUntilOffline) {
  sim::InstrumentOptions o;
  o.noise_scale = 0;
  o.fixed_beams = {{18, 2400.0}};
  sim::PtyServer server(o);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  app::App& a = started_app("0,0,4,0");
  a.main_window().cmd_connect->click();
  ASSERT_TRUE(a.state().link.connected);
  app::FrmCorvel& w = open(a);
  w.resize(1024, 700);
  ASSERT_TRUE(run_until([&] { return w.Picwell->width() > 400; }));

  w.Cmd_online->click();
  EXPECT_TRUE(w.Timer_console->isActive());
  // The window stays responsive: the loop advances only through timer ticks.
  ASSERT_TRUE(run_until([&] { return w.console().sample_index() >= 4; }));
  EXPECT_EQ(w.console().sample(18, 0), 2400);
  // Beam C2's cell is grey 2400 / 8 = 300, shown as white 255; an ordinary beam is darker.
  const QImage grid = w.Picwell->image();
  const QPoint c2 = cell_pixel(w, 1, 2).toPoint() + QPoint(5, 5);
  EXPECT_EQ(qGray(grid.pixel(c2)), 255);

  // Pressing a beam selects it and reads its setting back.
  server.with_instrument(
      [](sim::VirtualInstrument& vi) { vi.set_channel_setting(37, sim::setting_byte(5, 7)); });
  press(w.Picwell, cell_pixel(w, 2, 5)); // column 3, row F: channel 37
  EXPECT_EQ(w.lblcanal->text(), "37");
  EXPECT_EQ(w.lblout->text(), "229");
  EXPECT_EQ(w.scrollgain->value(), 7);
  EXPECT_EQ(w.txtpower->text(), "5");
  EXPECT_EQ(w.lblnchannel->text(), "F3   F   3");

  w.Cmd_offline->click();
  EXPECT_FALSE(w.Timer_console->isActive());
  EXPECT_FALSE(w.console().online());
  const int at = w.console().sample_index();
  run_until([] { return false; }, 150);
  EXPECT_EQ(w.console().sample_index(), at);
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(ConsoleWindow, NavigationButtonsSwitchWindows) {
  app::App& a = started_app();
  app::FrmCorvel& w = open(a);
  w.Command21->click(); // Main
  EXPECT_TRUE(a.main_window().isVisible());
  EXPECT_FALSE(w.isVisible());

  open(a);
  w.Command22->click(); // Setup
  EXPECT_TRUE(a.setup_window().isVisible());
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  a.setup_window().hide();

  open(a);
  dialogs_.clear();
  w.Command24->click(); // OffLine: the experiment browser
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(a.browser_window().isVisible());
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_TRUE(dialogs_.messages().empty());
}

TEST_F(ConsoleWindow, ExitFreesThePortInMultitaskAndShowsTheStartScreen) {
  app::App& a = started_app("0,0,4,0");
  a.state().link.port = 4;
  a.state().link.offline = false;
  std::string text;
  for (int p = 1; p <= 15; ++p)
    text += std::to_string(p) + "," + (p == 4 ? "#TRUE#" : "#FALSE#") + "\r\n";
  std::ofstream(tmp_ / "multitsk.dat", std::ios::binary) << text;
  app::FrmCorvel& w = open(a);
  w.Command2->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  const auto after = store::read_file_bytes(tmp_ / "multitsk.dat");
  ASSERT_TRUE(after);
  EXPECT_NE(after->find("4,#FALSE#\r\n"), std::string::npos) << *after;
  EXPECT_EQ(after->find("#TRUE#"), std::string::npos) << *after;

  // Without the file the start screen still comes.
  std::filesystem::remove(tmp_ / "multitsk.dat");
  open(a);
  w.Command2->click();
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "multitsk.dat"));
}

} // namespace
} // namespace kestrova::testing
