// The browser's plot area driven through its window on an acquisition written by the real
// activity writer: each view drawn by its buttons, checked on the pixels of Picreal; the raw
// signal read in steps with the window taking events meanwhile; pages, wells, the analysis
// preview, the kinetic plot and the pop-up menu of each view.

// The plot code first: Qt's "slots" macro would clash with a member of that name.
#include "browser/plot_view.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <fstream>

#include "acquisition/activity_files.hpp"
#include "browser_window_fixture.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/setup_file.hpp"

namespace kestrova::testing {
namespace {

namespace fs = std::filesystem;
using reports::testing::Recording;
using reports::testing::write_recording;

constexpr QRgb kWhitePixel = 0xffffffff;

// The channel sums of every record of counts.bin.
std::array<std::int64_t, 385> channel_sums(const fs::path& folder) {
  std::array<std::int64_t, 385> sums{};
  std::ifstream in(folder / "counts.bin", std::ios::binary);
  std::array<std::byte, acquisition::kCountsRecordBytes> bytes;
  while (in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
    // Unpacked by position: Qt's "slots" macro hides the member's name here.
    const auto [minutes, counts] = acquisition::decode_counts_record(bytes);
    for (std::size_t k = 0; k < sums.size(); ++k)
      sums[k] += counts[k];
  }
  return sums;
}

void process_events() {
  for (int i = 0; i < 5; ++i)
    QApplication::processEvents();
}

class BrowserPlotsWindow : public BrowserWindowFixture {
protected:
  void SetUp() override {
    ensure_qt_application();
    fs::create_directories(tmp_ / "p00001");
    store::SetupValues setup;
    setup.Name = "Screen";
    ASSERT_TRUE(store::write_setup_file(tmp_ / "p00001", 1, setup));
    // 52 one-minute records with their raw blocks: two pages of raw signal in five files.
    Recording main;
    for (int t = 0; t < 52; ++t)
      main.times.push_back(t);
    folder_ = write_recording(tmp_.path(), "20210316_1405", main);
    // A second acquisition two days later for the kinetic tag.
    Recording later;
    later.times = {0, 1, 2, 3, 4};
    later.seed = 11;
    later_ = write_recording(tmp_.path(), "20210318_1405", later);
    write_file(tmp_ / "p00001" / "tags_id.dat", "20210316_1405 [K1]\r\n20210318_1405 [K1]\r\n");

    open_window(1000, 700);
    open_acquisition("2021.0316");
  }

  void open_acquisition(const QString& date) {
    QListWidget* list = window_->Listpj;
    if (list->count() == 1) {
      list->setCurrentRow(0);
      window_->Listpj_DblClick();
    }
    open_line(date, "  >");
  }

  QColor at(double x, double y) const { return image().pixelColor(pixel(x, y)); }
  // Pixels of `colour` in the pixel column of world x between world heights y1 > y2.
  int in_column(double x, double y1, double y2, const QColor& colour) const {
    const int column = pixel(x, y1).x();
    int found = 0;
    for (int row = pixel(x, y1).y(); row <= pixel(x, y2).y(); ++row)
      if (image().pixelColor(column, row) == colour) ++found;
    return found;
  }
  // The per-channel average of a group of the two-channel groups over all records.
  double group_average(std::initializer_list<int> channels) const {
    const auto sums = channel_sums(folder_);
    double total = 0;
    for (int c : channels)
      total += static_cast<double>(sums[static_cast<std::size_t>(c)]);
    return total / static_cast<double>(channels.size());
  }
  browser::PlotView& plots() { return window_->plots(); }
  void press_enter(QWidget* widget) {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
  }

  fs::path folder_, later_;
};

TEST_F(BrowserPlotsWindow, OpeningDrawsTheBarPlotOfTheGroupsAndTheButtonsRedrawIt) {
  browser::FrmOffline& w = *window_;
  ASSERT_EQ(w.lstgrup_plot->count(), 2);
  EXPECT_EQ(w.lstgrup_plot->item(0)->text(), "000_Ctrl");
  EXPECT_EQ(w.lstgrup_plot->item(1)->text(), "001_Drug");
  EXPECT_TRUE(w.lstgrup_plot->isVisible());
  EXPECT_TRUE(w.frame_plotbutton->isVisible());
  EXPECT_FALSE(w.Frame_bisize->isVisible());
  EXPECT_FALSE(w.fmranalizar->isVisible());
  EXPECT_TRUE(w.txt_pj_details->toPlainText().contains("Microplate format: [wtest]"));
  EXPECT_EQ(w.plot_menu(), w.mnexporta);

  const double ctrl = group_average({0, 1});
  const double drug = group_average({16, 17});
  ASSERT_GT(ctrl, 20);
  ASSERT_GT(drug, 20);
  const auto check_bars = [&](int selected) {
    EXPECT_EQ(at(16, ctrl / 2), selected == 0 ? QColor(200, 200, 200) : QColor(220, 220, 220));
    EXPECT_EQ(at(26, drug / 2), selected == 1 ? QColor(200, 200, 200) : QColor(220, 220, 220));
    EXPECT_EQ(at(16, ctrl * 1.03 + 1), QColor(Qt::white)) << "above the Ctrl bar";
    EXPECT_EQ(at(36, 10), QColor(Qt::white)) << "no third group";
  };
  check_bars(0);

  // Enter on the list highlights another group; the heat map and back to the bars.
  w.lstgrup_plot->setCurrentRow(1);
  press_enter(w.lstgrup_plot);
  check_bars(1);
  w.txt_binsize->setText("40");
  w.Cmd_gridplot->click();
  EXPECT_NE(at(16, ctrl / 2), QColor(200, 200, 200));
  w.Cmd_barplot->click();
  EXPECT_EQ(w.txt_binsize->text(), "5");
  check_bars(1);
  w.Cmd_leegroups->click();
  EXPECT_EQ(w.Cmd_leegroups->text(), "[Group Activity]");
  check_bars(1);
}

TEST_F(BrowserPlotsWindow, TheLinePlotDrawsEachGroupInItsColourAndStepsItsBin) {
  browser::FrmOffline& w = *window_;
  w.Cmd_lineplot->click();
  EXPECT_TRUE(w.Frame_bisize->isVisible());
  EXPECT_EQ(w.txt_binsize->text(), "5");
  EXPECT_EQ(w.plot_menu(), w.mnline);
  const auto check_series = [&](int bin) {
    const auto& table = plots().table();
    ASSERT_TRUE(table);
    ASSERT_EQ(table->bin, bin);
    ASSERT_GE(table->columns, 3);
    for (int m = 1; m < table->columns - 1; ++m) {
      // The segment's midpoint between columns m and m + 1.
      const double x = (m + 0.5) * bin;
      EXPECT_TRUE(near(x, (table->cell(0, m) + table->cell(0, m + 1)) / 2, QColor(255, 0, 0)))
          << "Ctrl between columns " << m << " and " << m + 1;
      EXPECT_TRUE(near(x, (table->cell(1, m) + table->cell(1, m + 1)) / 2, QColor(0, 255, 0)))
          << "Drug between columns " << m << " and " << m + 1;
    }
  };
  check_series(5);
  w.cmd_plus->click();
  EXPECT_EQ(w.txt_binsize->text(), "10");
  check_series(10);
  w.cmd_minus->click();
  EXPECT_EQ(w.txt_binsize->text(), "5");
  check_series(5);
}

TEST_F(BrowserPlotsWindow, TheHeatMapShadesEachWellByItsTotal) {
  browser::FrmOffline& w = *window_;
  w.Cmd_lineplot->click();
  w.Cmd_gridplot->click();
  EXPECT_FALSE(w.Frame_bisize->isVisible());
  EXPECT_EQ(w.plot_menu(), w.Mnplate);
  // The 2 x 2 test plate: wells A1, B1, A2, B2 are channels 0, 1, 16, 17; pitch 200 units.
  const auto sums = channel_sums(folder_);
  const int channels[] = {0, 1, 16, 17};
  double most = 255;
  for (int c : channels)
    most = std::max(most, static_cast<double>(sums[static_cast<std::size_t>(c)]));
  for (int well = 0; well < 4; ++well) {
    const int row = well % 2;
    const int column = well / 2;
    const double v = static_cast<double>(sums[static_cast<std::size_t>(channels[well])]) / most;
    const int grey = 255 - static_cast<int>(std::lround(255 * v));
    ASSERT_GT(v, 0.2);
    EXPECT_EQ(at(200 * column + 155, 200 * (row + 1) - 20), QColor(grey, grey, grey))
        << "well " << well;
    EXPECT_EQ(at(200 * column + 60, 200 * row + 150), QColor(Qt::white)) << "well " << well;
    EXPECT_TRUE(near(200 * column, 200 * row + 100, QColor(255, 0, 0), 1)) << "outline";
  }
}

TEST_F(BrowserPlotsWindow, TheRawSignalLoadsInStepsWithEventsHandledAndPages) {
  browser::FrmOffline& w = *window_;
  bool ran_while_loading = false;
  int progress_seen = 0; // widest blue part of the progress bar seen while loading
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, &w, [&] {
    if (!w.loading()) return;
    ran_while_loading = true;
    const QImage& status = w.Pic_status->image();
    int blue = 0;
    for (int x = 0; x < status.width(); ++x)
      if (status.pixelColor(x, status.height() / 2) == QColor(0, 0, 255)) ++blue;
    progress_seen = std::max(progress_seen, blue);
    // Commands that would change the view or drop the acquisition wait for the page.
    w.Cmd_leegroups_Click();
    w.Cmd_main_Click();
    w.Listpj_DblClick();
  });
  watch.start();
  w.cmdchannels->click();
  EXPECT_TRUE(ran_while_loading);
  watch.stop();
  EXPECT_GT(progress_seen, 0);
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.loading());
  EXPECT_EQ(plots().mode(), browser::PlotMode::Signal);
  EXPECT_EQ(w.cmdchannels->text(), "[Channel Signal]");
  EXPECT_EQ(w.Cmd_leegroups->text(), "Group Activity");
  EXPECT_FALSE(w.lstgrup_plot->isVisible());
  EXPECT_TRUE(w.fmranalizar->isVisible());
  EXPECT_TRUE(w.scrollpage->isVisible());
  EXPECT_EQ(w.Txtpage->text(), "1/2");
  EXPECT_EQ(w.scrollpage->maximum(), 2);
  EXPECT_EQ(w.lblcanal->text(), "CH:0");

  // Channel 0 (well A1, one beam: red) hovers near 2000 with dips, in every block of the page.
  for (int block : {0, 11, 25, 49})
    EXPECT_GT(in_column(500.0 * block + 250, 2080, 1900, QColor(255, 0, 0)), 0) << block;
  EXPECT_EQ(in_column(250, 2140, 2100, QColor(255, 0, 0)), 0);

  w.scrollpage->setValue(2);
  EXPECT_EQ(w.Txtpage->text(), "2/2");
  EXPECT_EQ(plots().page().blocks(), 2);
  EXPECT_GT(in_column(750, 2080, 1900, QColor(255, 0, 0)), 0);
  EXPECT_EQ(in_column(500.0 * 5 + 250, 2080, 1900, QColor(255, 0, 0)), 0) << "page 2 ends";

  // Outside the signal view the page does not change.
  w.Cmd_leegroups->click();
  w.scrollpage->setValue(1);
  EXPECT_EQ(w.scrollpage->value(), 2);
  EXPECT_EQ(plots().page().page(), 2);
}

TEST_F(BrowserPlotsWindow, AnalyzeDrawsTheDetectionOverThePageAndResetsABadThreshold) {
  browser::FrmOffline& w = *window_;
  w.cmdchannels->click();
  const int grey_before = count_of(QColor(128, 128, 128));
  w.Cmd_leegroups->click();
  w.frmtxt_threshold->setText("9");
  w.cmb_modeanalisis->setCurrentIndex(1);
  w.Cmd_analyze->click(); // from the bar plot: the signal view comes first
  EXPECT_EQ(w.frmtxt_threshold->text(), "1.8");
  EXPECT_EQ(plots().mode(), browser::PlotMode::Signal);
  EXPECT_EQ(w.cmdchannels->text(), "[Channel Signal]");
  ASSERT_TRUE(plots().preview());
  EXPECT_GT(count_of(QColor(128, 128, 128)), grey_before + 500) << "the detection line";
  EXPECT_GT(in_column(250, 2080, 1900, QColor(255, 0, 0)), 0) << "the signal stays";
}

TEST_F(BrowserPlotsWindow, WellsOfAGroupChooseTheChannelTraced) {
  browser::FrmOffline& w = *window_;
  w.cmdchannels->click();
  ASSERT_EQ(w.combogrup->count(), 3);
  EXPECT_EQ(w.combogrup->itemText(2), "999_Free");
  ASSERT_EQ(w.lstgrup->count(), 2);
  EXPECT_EQ(w.lstgrup->item(0)->text(), "A1.0");
  EXPECT_EQ(w.lstgrup->item(1)->text(), "B1.0");
  w.combogrup->setCurrentIndex(1);
  ASSERT_EQ(w.lstgrup->count(), 2);
  EXPECT_EQ(w.lstgrup->item(1)->text(), "B2.0");

  w.txtsub->setText("1");
  w.lstgrup->setCurrentRow(1);
  press_enter(w.lstgrup);
  EXPECT_EQ(w.txtsub->text(), "0");
  EXPECT_EQ(w.Combofila->currentText(), "B");
  EXPECT_EQ(w.Combocol->currentText(), "2");
  EXPECT_EQ(w.lblcanal->text(), "CH:17");
  EXPECT_EQ(plots().channel(), 17);
  EXPECT_GT(in_column(250, 2080, 1900, QColor(255, 0, 0)), 0);

  w.Combofila->setCurrentIndex(0);
  EXPECT_EQ(w.lblcanal->text(), "CH:16");
  w.txtsub->setText("3"); // no beam there: the channel stays
  w.well_Click();
  EXPECT_EQ(w.lblcanal->text(), "CH:16");
}

TEST_F(BrowserPlotsWindow, ATagDrawsTheKineticPlotAbsoluteOrRelative) {
  browser::FrmOffline& w = *window_;
  ASSERT_TRUE(w.List_tags->isVisible());
  ASSERT_EQ(w.List_tags->count(), 1);
  w.List_tags->setCurrentRow(0);
  w.List_tags_DblClick();
  EXPECT_TRUE(plots().kinetic());
  EXPECT_FALSE(w.Frame_bisize->isVisible());
  EXPECT_EQ(w.txt_binsize->text(), "5");
  EXPECT_EQ(w.plot_menu(), w.mnrelativize);
  EXPECT_FALSE(w.mnrel0->isChecked());

  // Two days between the acquisitions: the Ctrl series runs from x = 0 to x = 2880 minutes.
  const auto ctrl_values = [&] {
    const std::string body = plots().kinetic_text()->body;
    const std::size_t at = body.find("[#000_Ctrl];");
    EXPECT_NE(at, std::string::npos) << body;
    double first = 0, second = 0;
    std::sscanf(body.c_str() + at + 12, "%lf;%lf", &first, &second);
    return std::pair{first, second};
  };
  auto [a, b] = ctrl_values();
  ASSERT_GT(a, 0);
  EXPECT_TRUE(near(1440, (a + b) / 2, QColor(255, 0, 0)));
  EXPECT_EQ(a, std::round(group_average({0, 1})));

  w.mnrel0->trigger();
  EXPECT_TRUE(w.mnrel0->isChecked());
  std::tie(a, b) = ctrl_values();
  EXPECT_EQ(a, 100);
  EXPECT_TRUE(near(1440, (a + b) / 2, QColor(255, 0, 0)));

  // Export Data writes the joint report into the project folder and opens it.
  w.mn_jointexport->trigger();
  const fs::path joint = tmp_ / "p00001" / "joint_report20260304154207.csv";
  const std::string report = read_file(joint);
  EXPECT_EQ(report.substr(0, report.find("\r\n")), "Joint Report [2026-03-04 15:42.07]");
  EXPECT_NE(report.find(plots().kinetic_text()->body), std::string::npos);
  EXPECT_EQ(shell_.calls.back(), "open " + joint.string());

  w.Cmd_lineplot->click();
  EXPECT_FALSE(plots().kinetic());
  EXPECT_EQ(w.plot_menu(), w.mnline);
  // Outside the kinetic plot there is no joint report to write.
  fs::remove(joint);
  w.mn_jointexport->trigger();
  EXPECT_FALSE(fs::exists(joint));
}

TEST_F(BrowserPlotsWindow, ExportToAsciiWritesTheTracedWellsSamplesInTheSignalViewOnly) {
  browser::FrmOffline& w = *window_;
  const fs::path datafile = tmp_ / "datafile.txt";
  w.asciiexporta->trigger(); // the bar plot: nothing
  EXPECT_FALSE(fs::exists(datafile));
  w.cmdchannels->click();
  w.asciiexporta->trigger();
  const std::string text = read_file(datafile);
  const std::string header = "\"" + w.browser().tables()->setup.Name + "\"\r\n\"" +
                             folder_.string() + "\"\r\n\r\nWell: A1 Page[1/2] [#0k-25k]\r\n";
  EXPECT_EQ(text.substr(0, header.size()), header);
  // Well A1 has one beam (channel 0): the header lines, then a line per sample of the 50 blocks
  // of page 1.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 50 * 500);
  EXPECT_EQ(shell_.calls.back(), "open " + datafile.string());
}

TEST_F(BrowserPlotsWindow, AResizeRedrawsFromMemory) {
  browser::FrmOffline& w = *window_;
  const double ctrl = group_average({0, 1});
  const QSize before = image().size();
  const auto messages = dialogs_.messages();
  // Without the file the view could not be computed again: only drawn from what it holds.
  fs::remove(folder_ / "counts.bin");
  w.resize(1400, 900);
  process_events();
  ASSERT_NE(image().size(), before);
  EXPECT_EQ(image().size(), w.Picreal->size());
  EXPECT_EQ(at(16, ctrl / 2), QColor(200, 200, 200));
  EXPECT_EQ(image().pixel(image().width() - 2, 2), kWhitePixel);
  EXPECT_EQ(dialogs_.messages(), messages) << "nothing was read again";
}

} // namespace
} // namespace kestrova::testing
