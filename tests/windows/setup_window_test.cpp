// The setup window on the real widgets: opened from the start screen, groups assigned by a
// drag on the plate map, the project saved.
#include <QMouseEvent>

#include "sim/pty_server.hpp"

#include "acquisition/acquisition_cycle.hpp"
#include "app_fixture.hpp"
#include "setup_editor/plate_map.hpp"
#include "setup_editor/setup_window.hpp"
#include "store/config.hpp"

namespace kestrova::testing {
namespace {

using SetupWindow = AppFixture;

// Sends a mouse event at the centre of the well (row, column) of the plate map.
void mouse_on_well(setup_editor::FrmSetup& w, QEvent::Type type, int row, int column,
                   Qt::MouseButton button = Qt::LeftButton) {
  const auto& g = w.editor().project().plate.geometry;
  const setup_editor::WorldRect r = setup_editor::well_rect(g, row, column);
  const QPointF pixel = w.Picwell->to_pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  QMouseEvent e(type, pixel, w.Picwell->mapToGlobal(pixel), button, held, Qt::NoModifier);
  QApplication::sendEvent(w.Picwell, &e);
}

std::string line_of(const std::string& text, int index) {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i)
    start = text.find("\r\n", start) + 2;
  return text.substr(start, text.find("\r\n", start) - start);
}

TEST_F(SetupWindow, OpensFromTheStartScreenAndSavesADragAssignment) {
  app::App& a = started_app();
  a.start_screen().cmd_option1->click();
  setup_editor::FrmSetup& w = a.setup_window();
  ASSERT_TRUE(run_until([&] { return w.isVisible(); }));
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_EQ(w.windowTitle(), "<Kestrova> Acquisition Software  --------> Setup");
  EXPECT_EQ(w.txtprj->text(), "0_Default");
  EXPECT_EQ(w.Combowell->currentText(), "w96f");
  EXPECT_EQ(w.lbl_snr->text(), "1.8");
  EXPECT_FALSE(w.lbl_snr->isEnabled());
  EXPECT_EQ(w.Combosavecount->currentText(), "YES");
  EXPECT_TRUE(w.chkcalib->isChecked());
  EXPECT_FALSE(w.chkcalib->isEnabled());
  EXPECT_EQ(w.Combo_sets->currentText(), "04x01 [RowsxColumn]");

  w.Cmd_clear->click(); // "Do you like to Clear Group lists?" answered Yes
  EXPECT_TRUE(shown("Do you like to Clear Group lists?"));
  EXPECT_EQ(w.combogrup->count(), 1);
  mouse_on_well(w, QEvent::MouseButtonPress, 0, 0);
  mouse_on_well(w, QEvent::MouseMove, 1, 1);
  EXPECT_EQ(w.lblnchannel->text(), "Well: B2");
  mouse_on_well(w, QEvent::MouseButtonRelease, 1, 1);
  EXPECT_EQ(w.combogrup->itemText(0), "000_Group0");
  EXPECT_EQ(w.lstgrup->count(), 8);
  EXPECT_EQ(w.lstgrup->item(0)->text(), "A1.0");

  w.Txtlapse->setText("40000");
  Q_EMIT w.Txtlapse->textEdited("40000");
  EXPECT_EQ(w.Txtlapse->text(), "32000");

  dialogs_.clear();
  w.Cmdsavepj->click(); // "Update <0_Default> values?" answered Yes
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Do you like to Update <0_Default> values?"});
  const std::string groups = read_file(tmp_ / "chgroup.dat");
  for (int c : {0, 2, 16, 18, 32, 34, 48, 50})
    EXPECT_EQ(line_of(groups, c + 1), std::to_string(c) + ",0");
  EXPECT_EQ(line_of(groups, 1 + 1), "1,-1");
  EXPECT_EQ(line_of(groups, 4 + 1), "4,-1");
  EXPECT_EQ(line_of(read_file(tmp_ / "groups.dat"), 1), "0,\"Group0\"");
  EXPECT_EQ(line_of(read_file(tmp_ / "setup.dat"), 3).substr(0, 8), "1,32000,");

  w.Cmdoffline->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(a.start_screen().isVisible());
}

TEST_F(SetupWindow, MainWindowEditOpensItAndOrganismSetsDetection) {
  app::App& a = started_app();
  a.main_window().show();
  a.main_window().Txt_description->setText("morning run");
  a.main_window().Cmdsetup->click();
  setup_editor::FrmSetup& w = a.setup_window();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(a.main_window().isVisible());
  EXPECT_EQ(w.Txt_description->toPlainText(), "morning run");
  w.Cmb_organism->setCurrentIndex(3);
  Q_EMIT w.Cmb_organism->activated(3);
  EXPECT_EQ(w.lbl_snr->text(), "0.8");
  EXPECT_EQ(w.ComboDSP->currentIndex(), 3);
  w.Cmdoffline->click();
  EXPECT_EQ(a.main_window().txt_detection->text(), "Detection Mode3, Drosophila [snr 0.8]");
  EXPECT_EQ(a.main_window().Cmb_organism->currentIndex(), 3);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "setup.bak")); // "< Back" saves nothing
}

// A project made in the editor records with its own groups: drawn by a drag, saved as a new
// project, run against the virtual instrument, found in the acquisition folder's snapshot.
TEST_F(SetupWindow, ProjectMadeInTheEditorRecordsWithItsGroups) {
  sim::PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  app::App& a = started_app("0,0,4,0");
  no_start_calibration(a.state().project.setup); // the new project takes this setup
  a.start_screen().cmd_option1->click();
  setup_editor::FrmSetup& w = a.setup_window();
  ASSERT_TRUE(run_until([&] { return w.isVisible(); }));
  w.Cmd_clear->click();
  mouse_on_well(w, QEvent::MouseButtonPress, 2, 3); // C4
  mouse_on_well(w, QEvent::MouseMove, 3, 3);
  mouse_on_well(w, QEvent::MouseButtonRelease, 3, 3); // to D4
  ASSERT_EQ(w.lstgrup->count(), 4);

  dialogs_.clear();
  dialogs_.script_input("Larvae");
  w.Cmdnewpj->click();
  ASSERT_EQ(a.state().project.config.Actual_Project_Number, 1);
  w.Command_main->click(); // "Continue to Run...": connects and shows the main window
  ASSERT_TRUE(run_until([&] { return a.state().link.connected; }));
  ASSERT_TRUE(run_until([&] { return a.main_window().isVisible(); }));

  dialogs_.script_input("editor run");
  a.main_window().CmdPlay->click();
  ASSERT_EQ(a.session().acquisition().state(), acquisition::AcquisitionState::Running)
      << (dialogs_.texts().empty() ? "" : dialogs_.texts().back());
  const std::filesystem::path folder = a.session().acquisition().folder();
  EXPECT_EQ(folder.parent_path(), store::project_folder_path(tmp_.path(), 1));
  a.main_window().CmdStop->click();

  // w96f: well (row r, column k counted from 0) holds the beams of rows 2r of beam columns 2k
  // and 2k + 1, channels 32k + 2r and 32k + 16 + 2r.
  const std::string groups = read_file(folder / "chgroup.dat");
  for (int c = 0; c < 384; ++c) {
    const bool in_group = c == 100 || c == 116 || c == 102 || c == 118;
    EXPECT_EQ(line_of(groups, c + 1), std::to_string(c) + (in_group ? ",0" : ",-1")) << c;
  }
}

} // namespace
} // namespace kestrova::testing
