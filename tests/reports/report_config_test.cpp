// The program's report settings: one object that every reader asks and every window changes.

#include <gtest/gtest.h>

#include <clocale>

#include "reports/automatic_report.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "reports/report_config.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

using kestrova::testing::read_file;
using kestrova::testing::write_file;

const std::string kStoredHeader = "\"" + std::string(kReportSettingsHeader) + "\"\r\n";

struct CountingObserver final : ReportConfigObserver {
  void report_config_changed(const ReportConfig& config) override {
    ++told;
    last = config.bin_choice();
  }
  int told = 0;
  ReportBinChoice last;
};

class ReportConfigTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    config_.add_observer(&observer_);
  }
  std::filesystem::path file() const { return tmp_ / kReportSettingsFile; }

  kestrova::testing::TempDir tmp_;
  kestrova::testing::FakeDialogs dialogs_;
  ReportConfig config_{tmp_.path()};
  CountingObserver observer_;
};

// The start-up only reads: a user configuration is in force as stored; a damaged or missing
// file gives the defaults, not user-defined, and nothing is written or shown.
TEST_F(ReportConfigTest, StartUpReadsWithoutWriting) {
  write_file(file(), kStoredHeader + "1,45,1,\";\",0,1,0,2,3,0,9,1\r\n");
  config_.read();
  EXPECT_TRUE(config_.user_defined());
  EXPECT_EQ(config_.settings().Bin, 45);
  EXPECT_EQ(config_.settings().rawexport, 1);
  EXPECT_EQ(observer_.told, 1);
  EXPECT_TRUE(observer_.last.user_defined);
  EXPECT_EQ(observer_.last.bin, 45);

  for (const std::string& body : {std::string("1,45,1"), std::string()}) {
    if (body.empty())
      std::filesystem::remove(file());
    else
      write_file(file(), kStoredHeader + body + "\r\n");
    config_.read();
    EXPECT_FALSE(config_.user_defined()) << body;
    EXPECT_EQ(config_.settings(), default_report_settings(",")) << body;
    EXPECT_EQ(std::filesystem::exists(file()), !body.empty()) << body;
  }
  EXPECT_TRUE(dialogs_.texts().empty());
}

// "Apply" puts the user configuration in force at once, stored with User_defined 1; "Back to
// Default" stores the defaults with 0. Observers hear of each; the report window's load then
// starts from what is in force.
TEST_F(ReportConfigTest, ApplyAndBackToDefaultTakeEffectAtOnce) {
  config_.read();
  ASSERT_FALSE(config_.user_defined());
  ReportSettings chosen = config_.settings();
  chosen.Bin = 5;
  chosen.filetype = 1;
  chosen.spacer = " ";
  EXPECT_TRUE(config_.apply(chosen, dialogs_));
  EXPECT_TRUE(config_.user_defined());
  EXPECT_EQ(config_.settings(), chosen);
  EXPECT_EQ(read_file(file()), kStoredHeader + "1,5,1,\" \",1,0,1,0,0,1,18,0\r\n");
  EXPECT_TRUE(observer_.last.user_defined);
  EXPECT_EQ(observer_.last.bin, 5);

  config_.load_for_report(dialogs_);
  EXPECT_EQ(config_.settings(), chosen) << "the user configuration is loaded";
  config_.store_current(dialogs_);
  EXPECT_EQ(read_file(file()), kStoredHeader + "1,5,1,\" \",1,0,1,0,0,1,18,0\r\n");

  config_.back_to_default(dialogs_);
  EXPECT_FALSE(config_.user_defined());
  EXPECT_EQ(config_.settings(), default_report_settings(","));
  EXPECT_EQ(read_file(file()), kStoredHeader + "0,30,0,\",\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_FALSE(observer_.last.user_defined);
  EXPECT_TRUE(dialogs_.texts().empty());

  // A settings window's load (flag 1) reads the file but leaves the flag in force alone.
  write_file(file(), kStoredHeader + "1,60,0,\",\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_EQ(config_.load(1, dialogs_), 1);
  EXPECT_FALSE(config_.user_defined());
  config_.remove_observer(&observer_);
  const int told = observer_.told;
  config_.read();
  EXPECT_EQ(observer_.told, told);
}

// The automatic report: the report with the settings, then the raw export when they ask for
// it; a report that fails is not announced as written.
TEST_F(ReportConfigTest, AutomaticReportFollowsTheSettings) {
  testing::Recording rec;
  rec.times = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  rec.buffer_length = 40;
  const auto folder = testing::write_recording(tmp_.path(), "20240101_1000", rec);
  kestrova::testing::FakeClock clock;
  kestrova::testing::FakeShell shell;
  struct NoPump final : common::EventPump {
    void process_events() override {}
  } pump;
  ReportServices services{dialogs_, shell, pump, clock};

  ReportSettings settings = default_report_settings(",");
  settings.Bin = 5;
  settings.organism = 3; // Drosophila: method 3
  settings.threshold = 7;
  AutomaticReportRequest request = automatic_report_request(folder, tmp_.path(), settings, false);
  EXPECT_EQ(request.method, 3);
  EXPECT_EQ(request.threshold_text, "0.7");
  EXPECT_EQ(request.report.layout, ReportLayout::Rows);
  EXPECT_EQ(automatic_report_request(folder, tmp_.path(), settings, true).report.layout,
            ReportLayout::Histogram);
  EXPECT_FALSE(request.raw_export);

  AutomaticReportResult written = run_automatic_report(request, services);
  EXPECT_TRUE(written.report.ok) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "report.csv"));
  EXPECT_FALSE(written.raw_export.has_value());
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{kReportAutoGenerated});
  EXPECT_TRUE(shell.calls.empty()) << "an automatic report opens nothing";

  settings.rawexport = 1;
  dialogs_.clear();
  written = run_automatic_report(automatic_report_request(folder, tmp_.path(), settings, false),
                                 services);
  ASSERT_TRUE(written.raw_export.has_value());
  EXPECT_EQ(*written.raw_export, ReanalysisResult::Outcome::Done)
      << ::testing::PrintToString(dialogs_.texts());
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "ch0.raw"));

  // A single record at minute 0 (a lapse of 0) fills no bin: the report fails and says only
  // that.
  std::filesystem::resize_file(folder / "counts.bin", 774);
  settings.rawexport = 0;
  dialogs_.clear();
  written = run_automatic_report(automatic_report_request(folder, tmp_.path(), settings, false),
                                 services);
  EXPECT_FALSE(written.report.ok);
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Resampling ERROR"});
}

} // namespace
} // namespace kestrova::reports
