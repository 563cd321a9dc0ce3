// The report window over an acquisition folder: "Generate..." writes the report the report core
// and kestrova-report write for the same choices; RUN shows its progress and STOP ends it at
// the next record; the automatic report, the per-well export and the basal list; the settings
// window stores what it shows.

#include <QAction>
#include <QTimer>
#include <clocale>
#include <fstream>
#include <sstream>

#include "app_fixture.hpp"
#include "browser/browser_window.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "reports/report_settings_window.hpp"
#include "reports/report_window.hpp"
#include "store/setup_file.hpp"
#include "support/run_command.hpp"

namespace kestrova::testing {
namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The report without its DATE: line, which carries the moment it was written.
std::string without_date(const std::string& report) {
  std::istringstream in(report);
  std::string line, out;
  while (std::getline(in, line))
    if (line.find("\"DATE:\"") == std::string::npos) out += line + "\n";
  return out;
}

// The first line where two reports differ, for a readable failure.
std::string first_difference(const std::string& a, const std::string& b) {
  std::istringstream ia(a), ib(b);
  std::string la, lb;
  for (int line = 1;; ++line) {
    const bool ga = static_cast<bool>(std::getline(ia, la));
    const bool gb = static_cast<bool>(std::getline(ib, lb));
    if (!ga && !gb) return "none";
    if (la != lb || ga != gb)
      return "line " + std::to_string(line) + ": [" + la + "] vs [" + lb + "]";
  }
}

class ReportWindowTest : public AppFixture {
protected:
  void SetUp() override {
    AppFixture::SetUp();
    std::setlocale(LC_ALL, "C");
  }
};

TEST_F(ReportWindowTest, GenerateWritesTheReportOfTheCore) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  for (int t = 0; t < 90; ++t)
    recording.times.push_back(t);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20260115_1030", recording);

  reports::FrmReport& w = a.report_window();
  w.open_for(folder, false);
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.Option_output[4]->isVisible());
  w.Cmb_binsize->setCurrentText("15");
  w.Option_output[1]->setChecked(true); // List
  w.Chk_statistic[3]->setChecked(true); // Std Dev
  w.Cmd_generate->click();
  ASSERT_TRUE(w.last_result().has_value());
  const reports::GenerateResult& shown = *w.last_result();
  ASSERT_TRUE(shown.ok) << (dialogs_.texts().empty() ? "" : dialogs_.texts().back());
  const std::string window_report = read_all(shown.report);
  ASSERT_FALSE(window_report.empty());
  EXPECT_TRUE(w.Cmd_generate->isEnabled()); // the window is usable again afterwards

  // The same report made by the core directly.
  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = tmp_.path();
  reports::load_report_settings(tmp_.path(), 0, request.settings, dialogs_);
  request.settings.Bin = 15;
  request.settings.stdDev = 1;
  request.layout = reports::ReportLayout::List;
  request.open_result = false;
  reports::ReportServices services{dialogs_, shell_, pump_, clock_};
  const reports::GenerateResult direct = reports::generate_report(request, services);
  ASSERT_TRUE(direct.ok);
  EXPECT_EQ(direct.report, shown.report);
  const std::string core_report = read_all(direct.report);
  EXPECT_NE(without_date(window_report).size(), window_report.size()); // it had a date line
  EXPECT_EQ(without_date(window_report), without_date(core_report));
}

TEST_F(ReportWindowTest, SettingsWindowAppliesAndResets) {
  app::App& a = started_app();
  reports::FrmReportSet& s = a.report_settings_window();
  a.open_report_settings();
  ASSERT_TRUE(s.isVisible());
  EXPECT_EQ(s.Cmb_binsize->currentText(), "30");
  EXPECT_EQ(s.Cmb_binsize->count(), 12); // the stored bin is added to the eleven entries
  s.Cmb_binsize->setCurrentText("45");
  s.Option_report[1]->setChecked(true);
  s.Option_output[2]->setChecked(true);
  s.Chk_statistic[2]->setChecked(false);
  // A separator that would make every report unreadable is refused and nothing is applied.
  s.txt_customspacer->setText("\"");
  s.Cmd_generate->click();
  EXPECT_TRUE(shown("The report separator cannot hold a double quote (\")"));
  EXPECT_FALSE(shown(reports::kUserConfigApplied));
  EXPECT_TRUE(s.isVisible());
  s.txt_customspacer->setText(";;");
  s.Cmd_generate->click();
  EXPECT_TRUE(shown(reports::kUserConfigApplied));
  EXPECT_TRUE(a.main_window().mn_userbin->isChecked());
  EXPECT_FALSE(s.isVisible());

  reports::ReportSettings stored;
  EXPECT_EQ(reports::load_report_settings(tmp_.path(), 1, stored, dialogs_), 1);
  EXPECT_EQ(stored.Bin, 45);
  EXPECT_EQ(stored.filetype, 1);
  EXPECT_EQ(stored.out_format, 2);
  EXPECT_EQ(stored.stdError, 0);
  EXPECT_EQ(stored.spacer, ";;");

  // The report window starts from the user configuration while the mark is set.
  a.report_window().Form_Load();
  EXPECT_EQ(a.report_window().Cmb_binsize->currentText(), "45");
  EXPECT_TRUE(a.report_window().Option_output[2]->isChecked());

  // A bin that is not a whole number changes nothing.
  a.open_report_settings();
  s.Cmb_binsize->setCurrentText("4x");
  s.Cmd_generate->click();
  EXPECT_TRUE(s.isVisible());

  s.Cmd_cancel->click();
  EXPECT_TRUE(shown(reports::kDefaultConfigApplied));
  EXPECT_FALSE(a.main_window().mn_userbin->isChecked());
  EXPECT_EQ(reports::load_report_settings(tmp_.path(), 1, stored, dialogs_), 0);
  EXPECT_EQ(stored.Bin, 30);
}

std::vector<int> minutes(int n) {
  std::vector<int> times;
  for (int t = 0; t < n; ++t)
    times.push_back(t);
  return times;
}

// The window and kestrova-report write the same report (but for its date line) for the same
// choices, in every file type and layout.
TEST_F(ReportWindowTest, WindowAndCommandLineWriteTheSameReport) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  recording.times = minutes(100);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20260115_1030", recording);
  struct Case {
    int type;       // Option_report index
    int layout;     // Option_output index
    QString bin;    // Cmb_binsize text
    QString spacer; // txt_customspacer
    bool se, sd, n; // Chk_statistic 2, 3, 4
    std::string args;
    std::string file;
  };
  const Case cases[] = {
      {0, 0, "30", ",", true, false, true, "--bin 30 --type csv --layout rows --separator ,",
       "report.csv"},
      {1, 1, "15", ";", false, true, true,
       "--bin 15 --type txt --layout list --separator ';' --no-se --sd", "report.txt"},
      {0, 2, "60", "\t", true, true, false,
       "--bin 60 --type csv --layout warray --separator '\t' --sd --no-n", "report.csv"},
      {1, 3, "45", " ", false, false, false,
       "--bin 45 --type txt --layout charray --separator ' ' --no-se --no-sd --no-n", "report.txt"},
  };
  reports::FrmReport& w = a.report_window();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    w.open_for(folder, false);
    w.Option_report[c.type]->setChecked(true);
    w.Option_output[c.layout]->setChecked(true);
    w.Cmb_binsize->setCurrentText(c.bin);
    w.txt_customspacer->setText(c.spacer);
    w.Chk_statistic[2]->setChecked(c.se);
    w.Chk_statistic[3]->setChecked(c.sd);
    w.Chk_statistic[4]->setChecked(c.n);
    const reports::GenerateResult shown = w.Cmd_generate_Click();
    ASSERT_TRUE(shown.ok);
    ASSERT_EQ(shown.report, folder / c.file);
    const std::string from_window = read_all(shown.report);
    fs::remove(shown.report);

    const CommandRun run = run_command("env LC_ALL=C '" + std::string(KESTROVA_REPORT_EXE) +
                                       "' --data-dir '" + tmp_.path().string() + "' generate '" +
                                       folder.string() + "' " + c.args + " 2>&1");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string from_tool = read_all(folder / c.file);
    EXPECT_NE(without_date(from_window).size(), from_window.size());
    EXPECT_TRUE(without_date(from_tool) == without_date(from_window))
        << first_difference(without_date(from_tool), without_date(from_window));
  }
}

// RUN shows its progress while window events keep running; STOP, clicked while the first record
// is analysed, ends the run at that record with nothing written; the next RUN goes to the end.
TEST_F(ReportWindowTest, RunShowsProgressAndStopEndsItAtOnce) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  recording.times = minutes(30);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20260115_1030", recording);
  const fs::path other = reports::testing::write_recording(tmp_.path(), "20260116_1030", recording);
  reports::FrmReport& w = a.report_window();
  w.open_for(folder, false);
  w.mnrecalculate->trigger();
  ASSERT_TRUE(w.Frame_run->isVisible());
  const auto before = reports::testing::folder_snapshot(folder);

  // A timer that runs with every pass of window events: once the first records are done it
  // looks at the window and clicks STOP.
  struct During {
    bool running = false, generate = true, stop = false, cancel = true;
    int value = -1, maximum = -1;
    bool reopened = true, autoreported = true;
  } during;
  QTimer watcher;
  watcher.setInterval(0);
  QObject::connect(&watcher, &QTimer::timeout, &w, [&] {
    if (w.progress->value() < 1) return;
    watcher.stop();
    during.running = w.running();
    during.generate = w.Cmd_generate->isEnabled();
    during.cancel = w.Cmd_cancel->isEnabled();
    during.stop = w.cmd_stopframe->isEnabled();
    during.value = w.progress->value();
    during.maximum = w.progress->maximum();
    // Another acquisition's report asked for meanwhile leaves the running window alone.
    during.reopened = w.open_for(other, false);
    during.autoreported = w.run_autoreport().has_value();
    w.cmd_stopframe->click();
  });
  watcher.start();
  w.cmd_runframe->click();
  watcher.stop();
  ASSERT_GE(during.value, 1) << "no window event ran during RUN";
  EXPECT_LT(during.value, 30);
  EXPECT_TRUE(during.running);
  EXPECT_FALSE(during.generate);
  EXPECT_FALSE(during.cancel);
  EXPECT_TRUE(during.stop);
  EXPECT_EQ(during.maximum, 30);
  EXPECT_FALSE(during.reopened);
  EXPECT_FALSE(during.autoreported);
  EXPECT_EQ(w.Txt_inputfile->text().toStdString(), folder.string());
  EXPECT_FALSE(fs::exists(other / "report.csv"));
  ASSERT_EQ(w.last_run(), reports::ReanalysisResult::Outcome::Stopped);
  EXPECT_EQ(w.frmlbl_status->text(), QString("Block %1/30").arg(during.value + 1))
      << "the run ends at the record during which STOP was clicked";
  EXPECT_EQ(reports::testing::folder_snapshot(folder), before);
  EXPECT_FALSE(w.running());
  EXPECT_TRUE(w.Cmd_generate->isEnabled());
  EXPECT_TRUE(w.cmd_runframe->isEnabled());

  w.cmd_runframe->click(); // the earlier STOP does not carry over
  ASSERT_EQ(w.last_run(), reports::ReanalysisResult::Outcome::Done);
  EXPECT_EQ(w.progress->value(), w.progress->maximum());
  ASSERT_TRUE(w.last_result().has_value());
  EXPECT_TRUE(fs::is_regular_file(w.last_result()->report));
  EXPECT_NE(read_all(w.last_result()->report).find("[SNR=1.8]"), std::string::npos)
      << "the report carries the re-analysis settings";
}

// The automatic report writes the report with the user configuration, announces it, unticks
// "Autoreport" and hides; with raw export in the settings it also runs the re-analysis with it.
TEST_F(ReportWindowTest, AutoreportWritesTheReportAndHides) {
  app::App& a = started_app();
  for (const int rawexport : {0, 1}) {
    SCOPED_TRACE(rawexport);
    reports::ReportSettings settings = reports::default_report_settings(",");
    settings.Bin = 15;
    settings.rawexport = rawexport;
    ASSERT_TRUE(a.session().report_config().apply(settings, dialogs_));
    EXPECT_TRUE(a.main_window().mn_userbin->isChecked());
    reports::testing::Recording recording;
    recording.times = minutes(60);
    const fs::path folder = reports::testing::write_recording(
        tmp_.path(), "2026011" + std::to_string(5 + rawexport) + "_1030", recording);
    dialogs_.clear();
    shell_.calls.clear();

    reports::FrmReport& w = a.report_window();
    w.open_for(folder, false);
    const std::optional<reports::GenerateResult> written = w.run_autoreport();
    ASSERT_TRUE(written.has_value());
    const reports::GenerateResult& result = *written;
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.report, folder / "report.csv");
    EXPECT_NE(read_all(result.report).find("15,30,45"), std::string::npos)
        << "the bin of the user configuration";
    EXPECT_TRUE(shown("Report File AutoGenerated"));
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.chk_autoreport->isChecked());
    EXPECT_TRUE(w.isEnabled());
    EXPECT_TRUE(shell_.calls.empty()) << "an automatic report opens nothing";
    EXPECT_EQ(fs::exists(folder / "ch0.raw"), rawexport == 1);
    EXPECT_EQ(w.last_run().has_value(), rawexport == 1);
  }
}

// "1 file/well Report": the two questions decide whether anything is written and which files.
TEST_F(ReportWindowTest, PerWellExportFollowsTheAnswers) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  recording.times = minutes(20);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20260115_1030", recording);
  using common::Answer;
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    std::vector<std::string> written;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {"declined", {Answer::No}, {}, {"000_A1.txt", "ch000000.txt", "time.txt"}},
      {"per well with stamps",
       {Answer::Yes, Answer::Yes},
       {"000_A1.txt", "001_B1.txt", "002_A2.txt", "003_B2.txt"},
       {"ch000000.txt", "time.txt"}},
      {"per channel", {Answer::Yes, Answer::No}, {"ch000000.txt", "ch000383.txt", "time.txt"}, {}},
  };
  reports::FrmReport& w = a.report_window();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* f : {"000_A1.txt", "001_B1.txt", "002_A2.txt", "003_B2.txt", "ch000000.txt",
                          "ch000383.txt", "time.txt"})
      fs::remove(folder / f);
    shell_.calls.clear();
    w.open_for(folder, false);
    w.Cmb_binsize->setCurrentText("60");
    for (Answer answer : c.answers)
      dialogs_.script_answer(answer);
    w.mncircadian->trigger();
    for (const std::string& f : c.written)
      EXPECT_TRUE(fs::is_regular_file(folder / f)) << f;
    for (const std::string& f : c.absent)
      EXPECT_FALSE(fs::exists(folder / f)) << f;
    if (c.written.empty()) {
      EXPECT_EQ(w.Cmb_binsize->currentText(), "60");
      EXPECT_TRUE(shell_.calls.empty());
    } else {
      EXPECT_EQ(w.Cmb_binsize->currentText(), "20") << "a 20-minute recording exports one bin";
      EXPECT_EQ(shell_.calls.size(), 1u) << "the folder is shown";
    }
  }
  EXPECT_EQ(read_all(folder / "time.txt"), "1200\r\n");
}

// The basal list offers "-" and the project's other acquisitions by their 13-character names
// (a station's without its suffix, folders without counts.bin left out); a choice from it makes
// a report in percent of that acquisition.
TEST_F(ReportWindowTest, BasalListOffersTheOtherAcquisitions) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  recording.times = minutes(60);
  const fs::path project = tmp_ / "p00001";
  fs::create_directories(project);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "p00001/20260115_1030", recording);
  reports::testing::write_recording(tmp_.path(), "p00001/20260114_0900", recording);
  reports::testing::write_recording(tmp_.path(), "p00001/20260116_0800_s2", recording);
  fs::create_directories(project / "20260117_1200"); // no counts.bin
  write_file(project / "20260118_1300.txt", "not an acquisition");

  reports::FrmReport& w = a.report_window();
  w.open_for(folder, false);
  QStringList entries;
  for (int i = 0; i < w.cmbbasal->count(); ++i)
    entries << w.cmbbasal->itemText(i);
  EXPECT_EQ(entries, QStringList({"-", "20260114_0900", "20260116_0800"}));
  EXPECT_EQ(w.cmbbasal->currentText(), "-");

  w.cmbbasal->setCurrentIndex(1);
  const reports::GenerateResult result = w.Cmd_generate_Click();
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  const std::string report = read_all(result.report);
  EXPECT_NE(report.find("***DATA AS % OF BASAL ACTIVITY***"), std::string::npos);
  EXPECT_NE(report.find("\"20260114_0900\""), std::string::npos);

  w.Cmd_cancel->click();
  EXPECT_EQ(w.cmbbasal->count(), 0);
}

// "[ REPORT ]" in the experiment browser opens this window on the current acquisition, named
// after it, with the basal choices of the browser's list.
TEST_F(ReportWindowTest, TheBrowserOpensItForItsCurrentAcquisition) {
  app::App& a = started_app();
  reports::testing::Recording recording;
  recording.times = minutes(30);
  const fs::path folder =
      reports::testing::write_recording(tmp_.path(), "20260115_1030", recording);
  reports::testing::write_recording(tmp_.path(), "20260116_0800_s2", recording);
  store::SetupValues project;
  project.Name = "Screen";
  ASSERT_TRUE(store::write_setup_file(tmp_ / "p00001", 1, project));
  a.open_browser();
  browser::FrmOffline& b = a.browser_window();
  const auto open_row = [&](const QString& text) {
    for (int i = 0; i < b.Listpj->count(); ++i)
      if (b.Listpj->item(i)->text().contains(text)) {
        b.Listpj->clearSelection();
        b.Listpj->setCurrentRow(i);
        b.Listpj_DblClick();
        return;
      }
    ADD_FAILURE() << text.toStdString();
  };
  open_row("p00001");
  open_row("> 2026.0115");
  b.Cmd_report->click();

  reports::FrmReport& w = a.report_window();
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.Txt_inputfile->text().toStdString(), folder.string());
  EXPECT_EQ(w.windowTitle(), b.lbl_subpj_title->text());
  QStringList entries;
  for (int i = 0; i < w.cmbbasal->count(); ++i)
    entries << w.cmbbasal->itemText(i);
  EXPECT_EQ(entries, QStringList({"-", "20260116_0800", "20260115_1030"}));
  EXPECT_EQ(w.cmbbasal->currentIndex(), 0);
  w.Cmd_cancel->click();
}

} // namespace
} // namespace kestrova::testing
