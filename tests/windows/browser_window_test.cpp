// The experiment browser window on a data folder with acquisitions: opening it, the list's
// double-click, Enter, headers, search and pop-up menu, the opened acquisition's controls, and
// the way in and out through the start screen.

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "browser/acquisition_log_window.hpp"
#include "browser_window_fixture.hpp"
#include "reports/counts_replace.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/folder_lock.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "ui/picture_box.hpp"
#include "ui/qt_event_pump.hpp"

namespace kestrova::testing {
namespace {

namespace fs = std::filesystem;

void make_project(const fs::path& data, int n, const std::string& name) {
  const fs::path folder = data / store::ProjectFolderName(n);
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Name = name;
  ASSERT_TRUE(store::write_setup_file(folder, n, setup));
}

fs::path make_acquisition(const fs::path& data, int n, const std::string& name,
                          const std::string& title, const std::string& comments) {
  const fs::path folder = data / store::ProjectFolderName(n) / name;
  fs::create_directories(folder);
  write_file(folder / "counts.bin", "");
  store::SetupValues setup;
  setup.Aq_lapse = 15;
  EXPECT_TRUE(store::write_setup_file(folder, n, setup));
  EXPECT_TRUE(store::SaveChannelTables(folder, store::ChannelTables{}, store::GroupTables{}));
  EXPECT_TRUE(store::WriteAcquisitionIndex(folder, title, comments));
  return folder;
}

std::vector<int> selected_rows(const QListWidget* list) {
  std::vector<int> rows;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->isSelected()) rows.push_back(i);
  return rows;
}

class BrowserWindow : public ::testing::Test {
protected:
  void SetUp() override {
    ensure_qt_application();
    fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w96f.dat", tmp_ / "w96f.dat");
    make_project(tmp_.path(), 1, "Screen");
    make_project(tmp_.path(), 2, "Other");
    first_ = make_acquisition(tmp_.path(), 1, "20210316_1405", "larvae run", "dose 1 mM");
    make_acquisition(tmp_.path(), 1, "20210317_0900_s2", "second", "");
    write_file(tmp_ / "p00001" / "tags_id.dat", "20210316_1405 [K1]\r\n");
    window_ = std::make_unique<browser::FrmOffline>(
        tmp_.path(), browser::BrowserServices{dialogs_, shell_, clock_, pump_},
        [this] { ++backs_; });
    window_->Form_Load();
    window_->show();
  }

  // Makes `row` the only selected and current line, then presses Enter in the list.
  void enter_on(int row) {
    QListWidget* list = window_->Listpj;
    list->clearSelection();
    list->setCurrentRow(row);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
  }
  void click(QWidget* label) {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2),
                        label->mapToGlobal(QPointF(2, 2)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(label, &release);
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeShell shell_;
  FakeClock clock_{{2026, 3, 4, 15, 42, 7, 0}};
  ui::QtEventPump pump_;
  fs::path first_;
  int backs_ = 0;
  std::unique_ptr<browser::FrmOffline> window_;
};

TEST_F(BrowserWindow, OpensWithTheProjectsCollapsedAndThePlotControlsAtRest) {
  browser::FrmOffline& w = *window_;
  EXPECT_EQ(w.windowTitle().toStdString(),
            "<Kestrova> Acquisition Software  --------> Report analysis");
  EXPECT_EQ(items(w.Listpj),
            (std::vector<std::string>{"+         \tp00002_Other", "+ 2021.0316\tp00001_Screen"}));
  EXPECT_EQ(w.lbl_orden->text(), "^");
  EXPECT_EQ(w.lbl_pj_title->text(), "My Project");
  EXPECT_EQ(w.lbl_subpj_title->text(), "  My Acquisition");
  EXPECT_FALSE(w.Txt_description->isVisible());
  EXPECT_FALSE(w.chk_bmp->isVisible());
  EXPECT_FALSE(w.scrollpage->isVisible());
  EXPECT_FALSE(w.cmdchannels->isEnabled());
  EXPECT_EQ(w.Cmd_report->text(), "[ REPORT ]");
  EXPECT_EQ(w.cmb_modeanalisis->count(), 2);
  EXPECT_EQ(w.cmb_modeanalisis->currentText(), "Mode:0");
  EXPECT_EQ(w.frmtxt_threshold->text(), "1.8");
  ASSERT_EQ(w.menu->actions().size(), 1) << "only File is in the menu bar";
  EXPECT_EQ(w.txtfolder[0]->text(), "_folder1");
  EXPECT_TRUE(w.plot_area->isAncestorOf(w.Picreal));
  EXPECT_FALSE(w.plot_area->isAncestorOf(w.Listpj));
}

TEST_F(BrowserWindow, OpeningAProjectAndAnAcquisitionFillsTheControls) {
  browser::FrmOffline& w = *window_;
  enter_on(1);
  ASSERT_EQ(items(w.Listpj),
            (std::vector<std::string>{"+         \tp00002_Other", "+ 2021.0316\tp00001_Screen",
                                      "  > 2021.0317_s2\t ACQ09:00 \"second\"\t\t",
                                      "  > 2021.0316\t ACQ14:05 \"larvae run\"\t\t[K1]"}));
  EXPECT_EQ(selected_rows(w.Listpj), std::vector<int>{1}) << "the opened line is selected again";
  EXPECT_TRUE(w.Cmd_leegroups->isEnabled());
  EXPECT_FALSE(w.Cmd_report->isEnabled());

  enter_on(3);
  EXPECT_TRUE(w.cmdchannels->isEnabled());
  EXPECT_TRUE(w.Cmd_analyze->isEnabled());
  EXPECT_TRUE(w.Cmd_report->isEnabled());
  EXPECT_EQ(w.lbl_pj_title->text(), "p00001_Screen");
  EXPECT_EQ(w.lbl_subpj_title->text(), " 2021.0316\t ACQ14:05 \"larvae run\"\t\t[K1]");
  EXPECT_TRUE(w.Txt_description->isVisible());
  EXPECT_EQ(w.Txt_description->toPlainText(), "dose 1 mM");
  EXPECT_TRUE(w.List_tags->isVisible());
  EXPECT_EQ(items(w.List_tags), std::vector<std::string>{"[K1]"});
  EXPECT_EQ(w.Combofila->count(), 8);
  EXPECT_EQ(w.Combocol->count(), 12);
  EXPECT_EQ(w.lstgrup_plot->item(0)->text(), "000_Group0");
  EXPECT_EQ(w.lstgrup_plot->currentRow(), 0);
  EXPECT_EQ(w.combogrup->itemText(w.combogrup->count() - 1), "999_Free");
  EXPECT_FALSE(w.combogrup->isVisible()) << "group activity view";
  EXPECT_TRUE(w.frame_plotbutton->isVisible());
  EXPECT_FALSE(w.cmd_track->isVisible());
  EXPECT_NE(w.txt_pj_details->toPlainText().indexOf("Acquisition Lapse = 15min"), -1);
  EXPECT_EQ(w.browser().acquisition_path(), first_);

  enter_on(2);
  EXPECT_FALSE(w.List_tags->isVisible());
  EXPECT_FALSE(w.lbl_tagplot->isVisible());
  EXPECT_EQ(w.Txt_description->toPlainText(), "Protocol Comments:");
  EXPECT_TRUE(dialogs_.texts().empty()) << dialogs_.texts().front();
}

TEST_F(BrowserWindow, HeadersSearchAndWatchedFolders) {
  browser::FrmOffline& w = *window_;
  enter_on(1);
  click(w.lbl_date);
  EXPECT_EQ(w.lbl_orden->text(), "v");
  EXPECT_EQ(items(w.Listpj).front(), "+ 2021.0316\tp00001_Screen");
  EXPECT_EQ(items(w.Listpj).size(), 4u);
  click(w.lblproject);
  EXPECT_EQ(items(w.Listpj).size(), 2u) << "reset collapses every project";

  w.txt_search->setText("LARVAE");
  w.cmd_lupa->click();
  EXPECT_EQ(selected_rows(w.Listpj), std::vector<int>{0}) << "the collapsed project is selected";
  EXPECT_TRUE(w.txt_search->text().isEmpty());

  w.Timer_button->stop();
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(w.lbl_date, &enter);
  EXPECT_NE(w.lbl_date->styleSheet().indexOf("#2e8b3a"), -1);
  EXPECT_TRUE(w.Timer_button->isActive());
  w.Timer_button_Timer();
  EXPECT_EQ(w.lbl_date->styleSheet().indexOf("#2e8b3a"), -1);

  dialogs_.script_input(tmp_.path().string());
  w.txtfolder[2]->trigger();
  EXPECT_EQ(w.txtfolder[2]->text().toStdString(), tmp_.path().string());
  EXPECT_NE(read_file(tmp_ / "foldview.dat").find(tmp_.path().string()), std::string::npos);
}

TEST_F(BrowserWindow, PopUpMenuCommands) {
  browser::FrmOffline& w = *window_;
  enter_on(1);
  w.Listpj_MouseUp_Right(QPoint(10, 10));
  EXPECT_TRUE(w.mnrename->isVisible());
  EXPECT_FALSE(w.mntag_jk->menuAction()->isVisible()) << "no acquisition is the selection";
  w.mnrename->hide();

  enter_on(3);
  w.Listpj_MouseUp_Right(QPoint(10, 10));
  EXPECT_TRUE(w.mntag_jk->menuAction()->isVisible());
  w.mnrename->hide();
  w.tagjk[2]->trigger();
  EXPECT_EQ(items(w.Listpj)[3], "  > 2021.0316\t ACQ14:05 \"larvae run\"\t\t[K1] [K2]");
  EXPECT_EQ(selected_rows(w.Listpj), std::vector<int>{3});

  dialogs_.script_input("renamed");
  w.lst_rename->trigger();
  EXPECT_EQ(items(w.Listpj)[3], "  > 2021.0316\t ACQ14:05 \"renamed\"\t\t[K1] [K2]");

  w.lst_explorefind->trigger();
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"reveal " + first_.string()});

  w.Listpj->setCurrentRow(3);
  w.lst_delete->trigger();
  EXPECT_EQ(items(w.Listpj).size(), 3u);
  EXPECT_TRUE(fs::exists(tmp_ / "p00001" / "20210316_1405removed202603041507" / "subproj.dat"));

  dialogs_.clear();
  w.Listpj->setCurrentRow(0);
  w.lst_delete->trigger();
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Remove function only available for subprojects"});
}

// "Acquisition Log" (button and File menu) is offered for an opened acquisition only; it shows
// the log in a window of its own, which reloads what was appended since; an acquisition recorded
// before logs were kept gets a message instead.
TEST_F(BrowserWindow, AcquisitionLogShowsTheOpenedAcquisitionsLogOrSaysThereIsNone) {
  browser::FrmOffline& w = *window_;
  EXPECT_FALSE(w.cmd_log->isEnabled());
  EXPECT_FALSE(w.mnlog->isEnabled());
  write_file(first_ / "acquisition.log", "2021-03-16T14:05:01  Start: \"larvae run\"\n");
  enter_on(1);
  enter_on(3);
  ASSERT_TRUE(w.cmd_log->isEnabled());
  EXPECT_TRUE(w.mnlog->isEnabled());
  w.cmd_log->click();
  browser::AcquisitionLogWindow* log = w.log_window();
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->isVisible());
  EXPECT_FALSE(log->isModal());
  EXPECT_EQ(log->windowTitle().toStdString(), "Acquisition log: p00001/20210316_1405");
  EXPECT_EQ(log->txt_log->toPlainText().toStdString(),
            "2021-03-16T14:05:01  Start: \"larvae run\"\n");
  EXPECT_TRUE(log->txt_log->isReadOnly());
  write_file(first_ / "acquisition.log", "2021-03-16T14:05:01  Start: \"larvae run\"\n"
                                         "2021-03-16T14:20:01  Completed\n");
  log->Cmd_reload->click();
  EXPECT_NE(log->txt_log->toPlainText().indexOf("Completed"), -1);
  EXPECT_TRUE(dialogs_.texts().empty());

  log->Cmd_close->click();
  EXPECT_FALSE(log->isVisible());
  enter_on(2); // the station folder, recorded without a log
  w.mnlog->trigger();
  EXPECT_FALSE(log->isVisible());
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"No log for this acquisition (p00001/20210317_0900_s2): it "
                                     "was recorded before acquisitions kept a log."});
}

// "Restore Recorded Counts..." is offered for an opened acquisition whose recorded counts were
// kept by a re-analysis; after a Yes it puts them back byte for byte, keeps the re-analysed ones
// as counts.bak and shows the acquisition again. "No" and a folder being recorded change nothing.
TEST_F(BrowserWindow, RestoreRecordedCountsPutsBackTheLiveCounts) {
  browser::FrmOffline& w = *window_;
  reports::testing::Recording recording;
  recording.times = {0, 1, 2, 3};
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20210318_1405", recording);
  const std::string live = read_file(folder / "counts.bin");
  reports::ActivityRows rows;
  rows.resize(2);
  rows.time = {0, 1};
  std::fill(rows.counts.begin(), rows.counts.end(), 5);
  ASSERT_FALSE(reports::replace_counts(folder, rows, {}).error);
  const std::string replaced = read_file(folder / "counts.bin");
  ASSERT_NE(replaced, live);
  w.Form_Load();
  EXPECT_FALSE(w.mnrestore->isEnabled());
  enter_on(1);
  enter_on(3); // larvae run: never re-analysed
  EXPECT_TRUE(w.mnlog->isEnabled());
  EXPECT_FALSE(w.mnrestore->isEnabled());
  const std::vector<std::string> lines = items(w.Listpj);
  const auto line = std::find_if(lines.begin(), lines.end(), [](const std::string& text) {
    return text.find("Raw run") != std::string::npos;
  });
  ASSERT_NE(line, lines.end());
  enter_on(static_cast<int>(line - lines.begin()));
  ASSERT_TRUE(w.mnrestore->isEnabled());
  dialogs_.clear(); // what opening the acquisition had to say

  dialogs_.script_answer(common::Answer::No);
  w.mnrestore->trigger();
  EXPECT_EQ(read_file(folder / "counts.bin"), replaced);
  {
    const auto lock = store::FolderLock::acquire(folder, "acquisition \"Raw run\"");
    ASSERT_TRUE(lock);
    w.mnrestore->trigger();
    EXPECT_EQ(read_file(folder / "counts.bin"), replaced);
  }
  const std::vector<std::string> refused = dialogs_.messages();
  ASSERT_EQ(refused.size(), 3u) << ::testing::PrintToString(refused);
  EXPECT_NE(refused[0].find("counts.bak"), std::string::npos) << refused[0];
  EXPECT_NE(refused[2].find(folder.string()), std::string::npos) << refused[2];
  dialogs_.clear();

  w.mnrestore->trigger();
  EXPECT_EQ(read_file(folder / "counts.bin"), live);
  EXPECT_EQ(read_file(folder / reports::kCountsBackupName), replaced);
  EXPECT_EQ(dialogs_.messages().back(), "Recorded counts restored");
  EXPECT_TRUE(w.lbl_subpj_title->text().contains("Raw run")) << "the acquisition is shown again";
  EXPECT_TRUE(w.mnrestore->isEnabled()) << "the recorded counts stay kept";
}

// Tags of an acquisition being recorded (its folder locked) are left alone, with a message
// naming the acquisition; the other selected acquisitions are tagged.
TEST_F(BrowserWindow, TaggingARecordedAcquisitionIsRefused) {
  browser::FrmOffline& w = *window_;
  enter_on(1);
  enter_on(3);
  const auto lock = store::FolderLock::acquire(first_, "acquisition \"larvae run\"");
  ASSERT_TRUE(lock);
  w.tagjk[2]->trigger();
  EXPECT_EQ(items(w.Listpj)[3], "  > 2021.0316\t ACQ14:05 \"larvae run\"\t\t[K1]");
  EXPECT_EQ(dialogs_.messages(),
            std::vector<std::string>{"Tagging is not possible while an acquisition records into " +
                                     first_.string() + " (acquisition \"larvae run\")."});
}

TEST_F(BrowserWindow, CommentsAreStoredWhenTheBoxLosesTheFocusAndBackShowsTheStartScreen) {
  browser::FrmOffline& w = *window_;
  enter_on(1);
  enter_on(3);
  w.Txt_description->setPlainText("new protocol");
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(w.Txt_description, &out);
  EXPECT_EQ(store::ReadAcquisitionComments(first_), "new protocol");
  EXPECT_EQ(store::ReadAcquisitionTitle(first_), "larvae run");

  w.Cmd_main->click();
  EXPECT_EQ(backs_, 1);
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(w.browser().acquisition_path().empty());
}

TEST_F(BrowserWindow, EnterInTheSearchBoxSearchesAndClosingResetsTheViewButtons) {
  browser::FrmOffline& w = *window_;
  w.txt_search->setText("second");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(w.txt_search, &enter);
  EXPECT_EQ(selected_rows(w.Listpj), std::vector<int>{1});

  enter_on(1);
  enter_on(2);
  w.cmdchannels->click();
  EXPECT_EQ(w.cmdchannels->text(), "[Channel Signal]");
  EXPECT_EQ(w.Cmd_leegroups->text(), "Group Activity");
  EXPECT_TRUE(w.fmranalizar->isVisible());
  EXPECT_FALSE(w.lstgrup_plot->isVisible());
  w.close();
  EXPECT_EQ(w.cmdchannels->text(), "Channel Signal");
  EXPECT_FALSE(w.cmdchannels->isEnabled());
  EXPECT_EQ(w.Cmd_leegroups->text(), "[Group Activity]");
  EXPECT_EQ(backs_, 1);
}

using StartScreenBrowser = AppFixture;

TEST_F(StartScreenBrowser, AnalyzeOpensTheBrowserAndBackReturns) {
  app::App& a = started_app();
  make_project(tmp_.path(), 4, "Four");
  a.start_screen().cmd_option3->click();
  browser::FrmOffline& w = a.browser_window();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(a.start_screen().isVisible());
  EXPECT_EQ(items(w.Listpj), std::vector<std::string>{"+         \tp00004_Four"});
  w.Cmd_main->click();
  EXPECT_TRUE(a.start_screen().isVisible());
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(dialogs_.texts().empty());
}

} // namespace
} // namespace kestrova::testing
