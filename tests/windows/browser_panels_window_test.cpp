// The experiment browser window's panels on a recorded 6-well acquisition: the group editor
// driven by the mouse on the plate picture, saved or thrown away; the track view animated on
// its timer, paused and finished by Export Data; the picture exports with their save dialog;
// and the report window opened for the current acquisition.

// The fixture first: the plot code it includes comes before Qt's "slots" macro.
#include "browser_window_fixture.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "browser/regroup_editor.hpp"
#include "browser/track_drawing.hpp"
#include "browser/track_fixture.hpp"
#include "browser/track_run.hpp"
#include "common/safe_file.hpp"
#include "setup_editor/plate_map.hpp"
#include "store/channel_grid.hpp"
#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"

namespace kestrova::testing {
namespace {

namespace fs = std::filesystem;
using browser::testing::Dip;
using store::channel_of_beam;

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

// Well A1's animal walks from beam (1,1) to beam (4,5) in block 0; B1's from (2,10) to (5,14)
// in block 1. Three records: blocks 0 and 1 are tracked.
browser::testing::Acquisition walk() {
  browser::testing::Acquisition a;
  a.minutes = {0, 1, 2};
  a.blocks = browser::testing::craft_blocks(3, {{0, 10, {channel_of_beam(1, 1)}},
                                                {0, 20, {channel_of_beam(4, 5)}},
                                                {1, 50, {channel_of_beam(2, 10)}},
                                                {1, 60, {channel_of_beam(5, 14)}}});
  a.group_names = {"Control", "Drug A"};
  return a;
}

class BrowserPanels : public BrowserWindowFixture {
protected:
  void SetUp() override {
    ensure_qt_application();
    fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w6.dat", tmp_ / "w6.dat");
    const fs::path project = tmp_ / store::ProjectFolderName(1);
    fs::create_directories(project);
    store::SetupValues setup;
    setup.Name = "Larvae";
    ASSERT_TRUE(store::write_setup_file(project, 1, setup));
    folder_ = project / "20260115_1030";
    browser::testing::write_acquisition(folder_, walk());
    ASSERT_TRUE(store::WriteAcquisitionIndex(folder_, "swim run", ""));
    browser::testing::Acquisition still = walk();
    still.blocks.clear(); // recorded without real-time files
    still_ = project / "20260114_0900";
    browser::testing::write_acquisition(still_, still);
    ASSERT_TRUE(store::WriteAcquisitionIndex(still_, "no raw data", ""));

    open_window(1024, 700);
    open_line("p00001"); // the project
    open_line("swim run");
  }

  // Mouse on Picreal at the centre of a well of the w6 plate.
  QPointF well_centre(int row, int column) const {
    const auto r =
        setup_editor::well_rect(window_->browser().tables()->plate.geometry, row, column);
    return window_->Picreal->to_pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, window_->Picreal->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(window_->Picreal, &event);
  }
  void drag(std::pair<int, int> from, std::pair<int, int> to, Qt::MouseButton button) {
    mouse(QEvent::MouseButtonPress, well_centre(from.first, from.second), button);
    mouse(QEvent::MouseMove, well_centre(to.first, to.second), Qt::NoButton);
    mouse(QEvent::MouseButtonRelease, well_centre(to.first, to.second), button);
  }

  // Pixels mostly blue: the beams are small antialiased circles.
  int bluish() const {
    int found = 0;
    for (int y = 0; y < image().height(); ++y)
      for (int x = 0; x < image().width(); ++x) {
        const QColor c = image().pixelColor(x, y);
        if (c.blue() > 150 && c.red() < 100 && c.green() < 100) ++found;
      }
    return found;
  }
  bool told(std::string_view text) const {
    const std::vector<std::string> messages = dialogs_.messages();
    return std::find(messages.begin(), messages.end(), text) != messages.end();
  }
  browser::FrmOffline& w() { return *window_; }

  fs::path folder_, still_;
};

TEST_F(BrowserPanels, TheGroupEditorRedrawsGroupsWithTheMouseAndSavesThem) {
  const std::string old_groups = read_file(folder_ / "groups.dat");
  w().lst_plateconfig->trigger();
  ASSERT_TRUE(w().group_editor());
  EXPECT_EQ(w().view_mode(), browser::kGroupEditorMode);
  EXPECT_TRUE(w().Framegrup->isVisible());
  EXPECT_FALSE(w().plot_controls->isVisible());
  for (QWidget* off : std::initializer_list<QWidget*>{w().Listpj, w().Cmd_main, w().Cmd_report,
                                                      w().cmdchannels, w().cmd_track})
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  // 2 rows x 3 columns: blocks of 1 or 2 rows by 1 or 3 columns.
  EXPECT_EQ(items(w().Combo_sets),
            (std::vector<std::string>{"01x01 [RowsxColumn]", "02x01 [RowsxColumn]",
                                      "01x03 [RowsxColumn]", "02x03 [RowsxColumn]"}));
  EXPECT_EQ(w().Combo_sets->currentIndex(), 2);
  EXPECT_GT(count_of(kRed), 0); // the well outlines

  w().Cmd_clear->click(); // "Do you like to Clear Group lists?" answered Yes
  EXPECT_EQ(dialogs_.texts().back(), browser::kClearGroupsQuestion);
  EXPECT_TRUE(items(w().lstgrup2).empty());
  std::size_t beams = 0;
  for (const auto& well : browser::testing::w6_wells())
    beams += well.size();
  EXPECT_EQ(static_cast<std::size_t>(w().lstchgrup2->count()), beams);

  // A left drag from A1 to B2 puts four wells in group 0; a right click frees B2 again.
  drag({0, 0}, {1, 1}, Qt::LeftButton);
  EXPECT_EQ(items(w().lstgrup2), (std::vector<std::string>{"A1", "B1", "A2", "B2"}));
  drag({1, 1}, {1, 1}, Qt::RightButton);
  EXPECT_EQ(items(w().lstgrup2), (std::vector<std::string>{"A1", "B1", "A2"}));
  // A group in use that was still "Free" is named after its number.
  EXPECT_EQ(items(w().combogrup2), (std::vector<std::string>{"000_Group0", "001_Free"}));
  EXPECT_GT(count_of(kGreen), 0); // the "G0" labels of group 0
  // A click beside the plate changes nothing.
  mouse(QEvent::MouseButtonPress, QPointF(1, 1), Qt::LeftButton);
  mouse(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton);
  EXPECT_EQ(w().lstgrup2->count(), 3);

  // Enter on the group box renames it.
  dialogs_.script_input("Treated");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(w().combogrup2, &enter);
  EXPECT_EQ(w().combogrup2->itemText(0).toStdString(), "000_Treated");

  w().cmdcancelgrups->click(); // "Do you like to Save Changes?" answered Yes
  EXPECT_TRUE(told(browser::kGroupsSaved));
  EXPECT_FALSE(w().group_editor());
  EXPECT_FALSE(w().Framegrup->isVisible());
  EXPECT_TRUE(w().plot_controls->isVisible());
  EXPECT_TRUE(w().Listpj->isEnabled());
  EXPECT_TRUE(w().Cmd_main->isEnabled());
  EXPECT_EQ(w().view_mode(), 0);
  // The acquisition was read again: its bar plot shows the new group, the files hold it and
  // the old groups are kept as backups.
  EXPECT_EQ(items(w().lstgrup_plot), std::vector<std::string>{"000_Treated"});
  store::GroupTables saved;
  FakeDialogs quiet;
  ASSERT_TRUE(store::LoadChannelGroups(folder_, 1, saved, quiet));
  EXPECT_EQ(saved.main().channel_group, w().browser().tables()->groups.channel_group);
  const store::PlateFormat& plate = w().browser().tables()->plate;
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int well = plate.map.well_of_channel[static_cast<std::size_t>(c)];
    EXPECT_EQ(saved.main().channel_group[static_cast<std::size_t>(c)],
              well >= 0 && well < 3 ? 0 : -1)
        << c;
  }
  EXPECT_EQ(read_file(folder_ / "groups.bak"), old_groups);
}

TEST_F(BrowserPanels, LeavingTheEditorWithoutSavingOrWithAFailedSaveKeepsTheOldGroups) {
  const std::string groups = read_file(folder_ / "groups.dat");
  w().lst_plateconfig->trigger();
  w().cmd_goset->click();
  dialogs_.script_answer(common::Answer::No);
  w().cmdcancelgrups->click();
  EXPECT_TRUE(told(browser::kGroupsRestored));
  EXPECT_EQ(read_file(folder_ / "groups.dat"), groups);
  EXPECT_FALSE(fs::exists(folder_ / "groups.bak"));

  // The heat map's "Edit Plate Groups" opens the editor too; a save blocked half-way tells
  // where and leaves both files as they were.
  w().Cmd_gridplot_Click();
  w().mn_plategroups->trigger();
  ASSERT_TRUE(w().group_editor());
  w().Cmd_clear->click();
  {
    // No file of the save can be renamed into place.
    const common::FileStepHook blocked(
        [](common::FileStep step, const fs::path&) { return step != common::FileStep::Rename; });
    w().cmdcancelgrups->click();
  }
  EXPECT_TRUE(told(std::string(browser::kGroupsNotSaved) + folder_.string()));
  EXPECT_EQ(read_file(folder_ / "groups.dat"), groups);
  EXPECT_FALSE(fs::exists(folder_ / "chgroup.dat"));
  EXPECT_FALSE(w().group_editor());
}

TEST_F(BrowserPanels, TheTrackAnimatesOnItsTimerPausesAndExportDataWritesTheTable) {
  ASSERT_TRUE(w().cmd_track->isVisible());
  w().chk_bmp->setChecked(true);
  w().cmd_track->click(); // opens the view, paused
  ASSERT_TRUE(w().track() && w().track()->is_open());
  EXPECT_EQ(w().view_mode(), browser::kTrackMode);
  EXPECT_TRUE(w().chk_bmp->isVisible());
  EXPECT_EQ(w().plot_menu(), w().mntrack);
  EXPECT_GT(bluish(), 0); // the beams
  EXPECT_EQ(w().Txtpage->text().toStdString(), "0/999");

  w().cmd_track->click(); // play
  EXPECT_TRUE(w().Timer_play->isActive());
  EXPECT_EQ(w().cmd_track->text(), "Pause");
  QElapsedTimer waited;
  waited.start();
  while (w().track()->model()->steps_done() < 25 && waited.elapsed() < 20000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  w().cmd_track->click(); // pause
  const std::int64_t paused_at = w().track()->model()->steps_done();
  ASSERT_GE(paused_at, 25);
  EXPECT_FALSE(w().Timer_play->isActive());
  EXPECT_EQ(w().cmd_track->text(), "Track");
  for (int i = 0; i < 5; ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 30);
  EXPECT_EQ(w().track()->model()->steps_done(), paused_at);
  // A1's animal was drawn at (4,5) with its path from (1,1); the frames it was seen in saved.
  EXPECT_TRUE(near(browser::track_world(4), browser::track_world(5), kRed, 3));
  EXPECT_TRUE(fs::exists(folder_ / "bmp" / "00010.bmp"));
  EXPECT_TRUE(fs::exists(folder_ / "bmp" / "00020.bmp"));
  EXPECT_FALSE(fs::exists(folder_ / "bmp" / "00015.bmp"));

  w().mn_datatrack->trigger(); // Export Data: the rest without animation
  EXPECT_EQ(w().view_mode(), browser::kTrackExportedMode);
  const std::string table = read_file(folder_ / "report.csv");
  EXPECT_NE(table.find("\"000_Control\",23,0\r\n"), std::string::npos) << table;
  EXPECT_NE(table.find("\"001_Drug A\",0,23\r\n"), std::string::npos) << table;
  EXPECT_EQ(shell_.calls.back(), "open " + (folder_ / "report.csv").string());
  // The next press opens the view again from the start.
  w().cmd_track->click();
  EXPECT_EQ(w().view_mode(), browser::kTrackMode);
  EXPECT_EQ(w().track()->model()->steps_done(), 0);
  // Another view stops the timer at its next tick.
  w().cmd_track->click();
  w().Cmd_barplot_Click();
  QApplication::processEvents(QEventLoop::AllEvents, 50);
  w().Timer_play_Timer();
  EXPECT_FALSE(w().Timer_play->isActive());
  EXPECT_EQ(w().view_mode(), 0);
}

TEST_F(BrowserPanels, ATrackWithoutRealTimeFilesSaysSoAndStaysEmpty) {
  open_line("no raw data");
  w().cmd_track->click();
  EXPECT_EQ(dialogs_.messages().back(), browser::kTrackRealtimeNotFound);
  EXPECT_FALSE(w().track()->is_open());
  EXPECT_EQ(count_of(QColor(Qt::white)), image().width() * image().height());
  w().mn_datatrack->trigger();
  w().cmd_track->click(); // tries again, says it again
  EXPECT_FALSE(fs::exists(still_ / "report.csv"));
}

TEST_F(BrowserPanels, PictureExportsProposeTheViewsBitmapAndAlsoSavePng) {
  w().Cmd_gridplot_Click();
  dialogs_.script_save_file(tmp_ / "heat map.png");
  w().mn_platebmp->trigger();
  ASSERT_EQ(dialogs_.transcript().back().kind, FakeDialogs::Shown::Kind::SaveFile);
  EXPECT_EQ(dialogs_.transcript().back().default_text, (tmp_ / "plateimg.bmp").string());
  EXPECT_EQ(read_file(tmp_ / "heat map.png").substr(0, 4), "\x89PNG");
  EXPECT_EQ(shell_.calls.back(), "open " + (tmp_ / "heat map.png").string());

  w().cmd_track->click();
  w().mn_bmptrack->trigger(); // the proposed name taken
  EXPECT_EQ(read_file(tmp_ / "trackimg.bmp").substr(0, 2), "BM");
  const QImage saved((tmp_ / "trackimg.bmp").c_str());
  EXPECT_EQ(saved.size(), image().size());

  // Cancelled: nothing written, nothing opened.
  const std::size_t opened = shell_.calls.size();
  dialogs_.script_save_file(std::nullopt);
  w().Cmd_barplot_Click();
  w().bmpexporta->trigger();
  EXPECT_FALSE(fs::exists(tmp_ / "image1.bmp"));
  EXPECT_EQ(shell_.calls.size(), opened);
}

TEST_F(BrowserPanels, ReportOpensTheReportWindowForTheCurrentAcquisition) {
  std::optional<browser::ReportOpening> opened;
  w().set_report_opener([&](const browser::ReportOpening& o) { opened = o; });
  w().Cmd_gridplot_Click();
  w().Cmd_report->click();
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->folder, folder_);
  EXPECT_NE(opened->caption.find("swim run"), std::string::npos);
  EXPECT_EQ(opened->basal, (std::vector<std::string>{"-", "20260115_1030", "20260114_0900"}));
  EXPECT_EQ(w().view_mode(), 0);

  opened.reset();
  fs::remove(folder_ / "counts.bin");
  w().mnadvanced->trigger();
  EXPECT_FALSE(opened);
  EXPECT_EQ(dialogs_.messages().back(), browser::kActivityNotFound);
}

} // namespace
} // namespace kestrova::testing
