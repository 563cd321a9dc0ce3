// The report window over an acquisition folder: "Generate..." writes the report the report core
// writes for the same choices, and the settings window stores what it shows.

#include <QAction>
#include <clocale>
#include <fstream>
#include <sstream>

#include "app_fixture.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "reports/report_settings_window.hpp"
#include "reports/report_window.hpp"

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

} // namespace
} // namespace kestrova::testing
