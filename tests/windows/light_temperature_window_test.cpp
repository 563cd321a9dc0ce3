// The light and temperature panels and the factory window on the real windows: the fields
// checked as they lose the focus, the output buttons and lamps, and a factory calibration
// written into the virtual instrument through the real serial driver.

#include "acquisition/acquisition_cycle.hpp"
#include "app/factory_window.hpp"
#include "app_fixture.hpp"
#include "sim/pty_server.hpp"

namespace kestrova::testing {
namespace {

using LightTemperatureWindow = AppFixture;

// The colour a lamp is painted with, as the style sheet names it.
std::string lamp_colour(const QWidget* lamp) {
  const QString sheet = lamp->styleSheet();
  const int at = sheet.indexOf('#');
  return at < 0 ? std::string() : sheet.mid(at, 7).toStdString();
}

TEST_F(LightTemperatureWindow, FieldsAreCheckedWhenTheyLoseTheFocus) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  const auto& setup = a.state().project.setup;
  struct Case {
    QLineEdit* field;
    const char* entry;
    const char* shown;
    int stored;
    std::size_t tool, value;
    const char* message; // empty when accepted
  };
  const std::vector<Case> cases = {
      {m.txt_lon, "24", "9", 9, 1, 1, "Invalid value: 0 to 23"},
      {m.txt_lon, "7", "07", 7, 1, 1, ""},
      {m.txt_loff, "", "21", 21, 1, 2, "Invalid value: 0 to 23"},
      {m.txt_pulseon, "2.25", "2.2", 22, 1, 4, ""},
      {m.txttemp, "4.9", "20", 200, 2, 1, "Invalid value: 5.0 to 50.0"},
      {m.txttemp, "50", "50.0", 500, 2, 1, ""},
  };
  for (const Case& c : cases) {
    dialogs_.clear();
    c.field->setText(c.entry);
    Q_EMIT c.field->editingFinished();
    EXPECT_EQ(c.field->text().toStdString(), c.shown) << c.entry;
    EXPECT_EQ(setup.tool_settings[c.tool][c.value], c.stored) << c.entry;
    const std::vector<std::string> expected =
        *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{};
    EXPECT_EQ(dialogs_.messages(), expected) << c.entry;
  }
  // A pulse programme takes the hours' place; a count of 0 gives them back.
  m.txt_pulsetimes->setText("3");
  Q_EMIT m.txt_pulsetimes->editingFinished();
  EXPECT_FALSE(m.txt_lon->isEnabled());
  EXPECT_FALSE(m.txt_loff->isEnabled());
  m.txt_pulsetimes->setText("0");
  Q_EMIT m.txt_pulsetimes->editingFinished();
  EXPECT_TRUE(m.txt_lon->isEnabled());
  EXPECT_TRUE(m.txt_loff->isEnabled());

  // The enable boxes are the settings the acquisition reads; SET gives the regulation its
  // set-point.
  m.Chk_tenabled->setChecked(true);
  EXPECT_EQ(setup.tool_settings[2][0], 1);
  m.Chk_lenabled->setChecked(false);
  EXPECT_EQ(setup.tool_settings[1][0], 0);
  m.txttemp->setText("31.5");
  m.Cmd_settemp->click();
  EXPECT_DOUBLE_EQ(a.session().acquisition().set_point(), 31.5);
  m.cmd_cyclepulse->click();
  EXPECT_FALSE(m.frm_pulse->isHidden());
  m.cmd_cyclepulse->click();
  EXPECT_TRUE(m.frm_pulse->isHidden());
}

TEST_F(LightTemperatureWindow, ButtonsShowTheOutputs) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  struct Step {
    QPushButton* button;
    const char *luz, *light, *frio, *ontemp, *temp;
  };
  const std::vector<Step> steps = {
      {m.cmd_luz, "ON", "#00ff00", "COOL", "OFF", "#ffffff"},
      {m.cmd_ontemp, "ON", "#00ff00", "COOL", "ON", "#0000ff"},
      {m.cmd_frio, "ON", "#00ff00", "HEAT", "OFF", "#ffffff"}, // the direction cuts the power
      {m.cmd_ontemp, "ON", "#00ff00", "HEAT", "ON", "#ff0000"},
      {m.cmd_luz, "OFF", "#ff0000", "HEAT", "ON", "#ff0000"},
  };
  for (const Step& s : steps) {
    s.button->click();
    EXPECT_EQ(m.cmd_luz->text().toStdString(), s.luz);
    EXPECT_EQ(lamp_colour(m.shape_light), s.light);
    EXPECT_EQ(m.cmd_frio->text().toStdString(), s.frio);
    EXPECT_EQ(m.cmd_ontemp->text().toStdString(), s.ontemp);
    EXPECT_EQ(lamp_colour(m.shape_temp), s.temp);
  }
  EXPECT_EQ(a.session().acquisition().outputs().code(), 3);
}

// Factory Settings: refused without an instrument; with one, the main window hides behind it,
// the serial and temperature are shown, SET writes the record, and closing brings the main
// window back.
TEST_F(LightTemperatureWindow, FactoryWindowCalibratesTheInstrument) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  app::App& a = started_app("0,0,4,0");
  app::FrmMain& m = a.main_window();
  m.show();
  m.mn_factory->trigger();
  EXPECT_EQ(
      dialogs_.messages(),
      std::vector<std::string>{"Only possible to access in: ONLINE mode and STOP experiment"});
  EXPECT_EQ(m.factory_window(), nullptr);

  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  m.cmd_connect->click();
  ASSERT_TRUE(a.state().link.connected);
  dialogs_.clear();
  m.mn_factory->trigger();
  app::FrmFactory* f = m.factory_window();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(dialogs_.messages().empty());
  EXPECT_FALSE(m.isVisible());
  EXPECT_TRUE(f->isVisible());
  EXPECT_TRUE(f->Timer_temp->isActive());
  EXPECT_EQ(f->lblserial->text(), "SERIAL : KSTV00042");
  EXPECT_EQ(f->txt_mensaje->text(), "OK Last Factory Calibration 06/24 [mm/yy]");

  // The timer shows the instrument's temperature as the record converts it.
  const int raw = server.with_instrument(
      [](sim::VirtualInstrument& vi) { return static_cast<int>(vi.raw_temperature()); });
  f->Timer_temp_Timer();
  EXPECT_EQ(f->txt_current_temp->text(),
            QString::number(raw * 0.219 + 1.2, 'f', 1).replace('.', QLocale().decimalPoint()));

  f->txt_set_temp->setText("3.9");
  f->Cmd_temp->click();
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{
                "invalid Calibration Parameter: value must be between 4°C and 50°C"});

  f->txt_set_temp->setText("24.0");
  f->Cmd_temp->click();
  const double offset = 24.0 - raw * 0.219;
  EXPECT_EQ(f->txt_mensaje->text(), "OK Last Factory Calibration 01/26 [mm/yy]");
  const auto record =
      server.with_instrument([](sim::VirtualInstrument& vi) { return vi.factory_record(); });
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[1], 1);
  EXPECT_EQ(record[2], 26);
  EXPECT_EQ(record[3], offset < 0 ? 1 : 0);
  EXPECT_EQ(record[4], std::lround(std::abs(offset) * 10));
  EXPECT_EQ(record[5], 219);
  EXPECT_EQ(record[6], 0);
  EXPECT_NEAR(a.state().link.temperature_offset, offset, 1e-9);

  f->close();
  EXPECT_FALSE(f->Timer_temp->isActive());
  EXPECT_TRUE(m.isVisible());
}

} // namespace
} // namespace kestrova::testing
