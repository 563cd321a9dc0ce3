#include <gtest/gtest.h>

#include <clocale>

#include "reports/report_bin.hpp"
#include "reports/report_settings.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

using testing::read_file;
using testing::write_file;

const std::string kHeader = "\"" + std::string(kReportSettingsHeader) + "\"\r\n";

class ReportSettingsTest : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
  std::filesystem::path file() const { return tmp_ / kReportSettingsFile; }
  testing::TempDir tmp_;
  testing::FakeDialogs dialogs_;
  ReportSettings settings_;
};

TEST_F(ReportSettingsTest, NoFileWritesTheDefaultsWithTheFlagAndReturns0) {
  EXPECT_EQ(load_report_settings(tmp_.path(), 1, settings_, dialogs_), 0);
  EXPECT_EQ(read_file(file()), kHeader + "1,30,0,\",\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_EQ(settings_, default_report_settings(","));
  EXPECT_TRUE(dialogs_.texts().empty());
  // Now the file says user-defined: loading it returns 1.
  EXPECT_EQ(load_report_settings(tmp_.path(), 1, settings_, dialogs_), 1);
}

TEST_F(ReportSettingsTest, EachOutOfRangeFieldTakesItsOwnDefault) {
  write_file(file(), kHeader + "1,1,1,\";;\",0,1,0,3,2,3,31,1\r\n");
  EXPECT_EQ(load_report_settings(tmp_.path(), 1, settings_, dialogs_), 1);
  EXPECT_EQ(settings_.Bin, 30);
  EXPECT_EQ(settings_.threshold, 18);
  EXPECT_EQ(settings_.method, 1);
  EXPECT_EQ(settings_.filetype, 1);
  EXPECT_EQ(settings_.spacer, ";;") << "a spacer of several characters is kept";
  EXPECT_EQ(settings_.stdError, 0);
  EXPECT_EQ(settings_.stdDev, 1);
  EXPECT_EQ(settings_.n, 0);
  EXPECT_EQ(settings_.out_format, 3);
  EXPECT_EQ(settings_.organism, 2);
  EXPECT_EQ(settings_.rawexport, 1);
  EXPECT_TRUE(dialogs_.texts().empty());
}

TEST_F(ReportSettingsTest, ASeparatorThatWouldMakeReportsUnreadableIsRefused) {
  struct Case {
    const char* separator;
    const char* problem; // nullptr: usable
  };
  for (const Case c :
       {Case{"", "The report separator cannot be empty"},
        Case{"\n", "The report separator cannot hold a line break"},
        Case{";\r", "The report separator cannot hold a line break"},
        Case{"\"", "The report separator cannot hold a double quote (\")"}, Case{",", nullptr},
        Case{";;", nullptr}, Case{"\t", nullptr}, Case{" ", nullptr}}) {
    const auto problem = separator_problem(c.separator);
    EXPECT_EQ(problem.value_or("usable"), c.problem ? c.problem : "usable") << c.separator;
  }
  // A stored one takes the default, like a number out of its range.
  write_file(file(), kHeader + "1,60,0,\"\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_EQ(load_report_settings(tmp_.path(), 1, settings_, dialogs_), 1);
  EXPECT_EQ(settings_.spacer, ",");
  EXPECT_EQ(settings_.Bin, 60);
}

TEST_F(ReportSettingsTest, FlagZeroAlwaysRewritesTheDefaults) {
  write_file(file(), kHeader + "1,60,1,\" \",0,1,0,3,2,2,25,1\r\n");
  EXPECT_EQ(load_report_settings(tmp_.path(), 0, settings_, dialogs_), 0);
  EXPECT_EQ(read_file(file()), kHeader + "0,30,0,\",\",1,0,1,0,0,1,18,0\r\n");
  EXPECT_EQ(settings_, default_report_settings(","));
}

TEST_F(ReportSettingsTest, DamagedFileShowsTheMessageAndFallsBack) {
  for (const std::string body : {"1,60,0\r\n", "1,x,0,\",\",1,0,1,0,0,1,18,0\r\n", ""}) {
    dialogs_.clear();
    write_file(file(), kHeader + body);
    settings_.Bin = 99;
    EXPECT_EQ(load_report_settings(tmp_.path(), 1, settings_, dialogs_), 0) << body;
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{std::string(kSettingsLoadError)});
    EXPECT_EQ(settings_.Bin, 30);
    EXPECT_EQ(read_file(file()), kHeader + "0,30,0,\",\",1,0,1,0,0,1,18,0\r\n");
  }
}

TEST_F(ReportSettingsTest, SaveRoundTripsAndReportsAWriteFailure) {
  settings_ = default_report_settings("\t");
  settings_.Bin = 45;
  settings_.stdDev = 1;
  ASSERT_TRUE(save_report_settings(tmp_.path(), settings_, 1, dialogs_));
  ReportSettings loaded;
  EXPECT_EQ(load_report_settings(tmp_.path(), 1, loaded, dialogs_), 1);
  EXPECT_EQ(loaded, settings_);
  EXPECT_EQ(read_report_bin_choice(tmp_.path()).bin, 45);
  EXPECT_TRUE(read_report_bin_choice(tmp_.path()).user_defined);

  EXPECT_FALSE(save_report_settings(tmp_ / "missing_folder", settings_, 1, dialogs_));
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{std::string(kSettingsWriteError)});
}

TEST_F(ReportSettingsTest, DecimalCommaLocaleUsesTheSemicolon) {
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma installed";
  reset_report_settings(settings_);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(settings_.spacer, ";");
}

} // namespace
} // namespace kestrova::reports
