// The main window's live display controls.
#include "acquisition/acquisition_cycle.hpp"
#include "app/live_display_binding.hpp"
#include "app_fixture.hpp"

namespace kestrova::testing {
namespace {

using LiveDisplayControls = AppFixture;

TEST_F(LiveDisplayControls, GroupListBarPagesAndTheBodyBendBox) {
  app::App& a = started_app();
  app::FrmMain& m = a.main_window();
  ASSERT_NE(m.live_display(), nullptr);
  m.live_display()->activate();
  ASSERT_EQ(m.combogrup->count(), 13);
  EXPECT_EQ(m.combogrup->itemText(12).toStdString(), "012_Free");

  m.Cmd_barplot->click();
  EXPECT_FALSE(m.cmd_pgup->isHidden()) << "13 groups need a second page";
  m.cmd_pgup->click();
  EXPECT_EQ(m.live_display()->display().summary().page(), 1);

  // Choosing a group lists its wells and traces the first one.
  m.combogrup->setCurrentIndex(0);
  Q_EMIT m.combogrup->textActivated(m.combogrup->itemText(0));
  ASSERT_GT(m.lstgrup->count(), 0);
  EXPECT_EQ(m.lstgrup->currentRow(), 0);
  EXPECT_EQ(m.txtbeam->text(), m.lstgrup->item(0)->text());
  EXPECT_TRUE(m.cmd_pgup->isHidden());
  m.Cmdzoom_plus->click();
  EXPECT_EQ(m.txtzoom->text(), "1");

  // The fresh project's plate is w96f: body-bend mode is refused.
  ASSERT_EQ(a.state().project.setup.Plate_format, "w96f");
  m.chk_bodybends->setEnabled(true);
  m.chk_bodybends->show();
  m.chk_bodybends->click();
  EXPECT_FALSE(m.chk_bodybends->isChecked());
  EXPECT_TRUE(m.chk_bodybends->isHidden());
  EXPECT_FALSE(a.session().acquisition().switches().body_bends);
}

} // namespace
} // namespace kestrova::testing
