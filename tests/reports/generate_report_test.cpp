#include <gtest/gtest.h>

#include <clocale>
#include <iterator>

#include "acquisition/activity_files.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_basal.hpp"
#include "reports/report_data.hpp"
#include "reports/report_writer.hpp"
#include "store/channel_tables.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

// counts.bin records at the given minutes; channel c counts per_minute[c] (channels 0, 1, 16,
// 17), the temperature is 25.0 degrees.
std::string counts_bytes(const std::vector<int>& times, std::array<int, 4> per_minute) {
  std::string bytes;
  for (int t : times) {
    acquisition::CountsRecord record;
    record.minutes = t;
    record.slots[0] = static_cast<std::int16_t>(per_minute[0]);
    record.slots[1] = static_cast<std::int16_t>(per_minute[1]);
    record.slots[16] = static_cast<std::int16_t>(per_minute[2]);
    record.slots[17] = static_cast<std::int16_t>(per_minute[3]);
    record.slots[384] = 250;
    const auto encoded = acquisition::encode_counts_record(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
  }
  return bytes;
}

std::vector<int> minutes(int first, int last) {
  std::vector<int> t;
  for (int m = first; m <= last; ++m)
    t.push_back(m);
  return t;
}

// A data folder with a 2 x 2 plate "wtest" (wells A1, B1, A2, B2 on channels 0, 1, 16, 17) and
// a project with acquisition folders in the layout of the program.
class GenerateReportTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    std::string plate = "\"Test plate\",\"2x2\"\r\n2,2,0,2,2,0\r\n\"channels\"\r\n";
    for (int c = 0; c < 385; ++c) {
      const int well = c == 0 ? 0 : c == 1 ? 1 : c == 16 ? 2 : c == 17 ? 3 : -1;
      plate += "\"CH" + std::to_string(c) + "\"," + std::to_string(well) + ",0\r\n";
    }
    write_file(tmp_ / "wtest.dat", plate);
    folder_ = make_acquisition("20260115_1030", minutes(1, 60), {10, 20, 5, 1});
  }

  fs::path make_acquisition(const std::string& name, const std::vector<int>& times,
                            std::array<int, 4> per_minute) {
    const fs::path folder = tmp_ / "p00001" / name;
    fs::create_directories(folder);
    store::SetupValues setup;
    setup.Plate_format = "wtest";
    write_file(folder / "setup.dat", store::setup_file_text(1, setup));
    store::GroupTable groups;
    groups.names[0] = "Ctrl";
    groups.names[1] = "Drug";
    groups.channel_group.fill(-1);
    groups.channel_group[0] = groups.channel_group[1] = 0;
    groups.channel_group[16] = 1;
    write_file(folder / "groups.dat", store::GroupNamesText(groups));
    write_file(folder / "chgroup.dat", store::ChannelGroupsText(groups));
    store::WriteAcquisitionIndex(folder, "My run", "");
    write_file(folder / "counts.bin", counts_bytes(times, per_minute));
    return folder;
  }

  GenerateRequest request() const {
    GenerateRequest r;
    r.acquisition_folder = folder_;
    r.data_folder = tmp_.path();
    r.settings = default_report_settings(",");
    return r;
  }
  GenerateResult generate(const GenerateRequest& r) {
    ReportServices services{dialogs_, shell_, pump_, clock_};
    return generate_report(r, services);
  }
  std::vector<std::string> report_files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("report", 0) == 0 || n.rfind("My_run", 0) == 0) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempDir tmp_;
  fs::path folder_;
  testing::FakeDialogs dialogs_;
  testing::FakeShell shell_;
  testing::FakeEventPump pump_;
  testing::FakeClock clock_{{2026, 1, 15, 10, 30, 0, 0}};
};

// The spreading in 0.02-minute steps gives the first 30-minute bin 1502 steps and the second
// 1499 before the rows run out, so 20 per minute make 601 and 600 (and 10 per minute 300, 300).
// Group Ctrl of bin 30: wells 300 and 601, mean 450.5 rounded to even 450, deviation
// sqrt(150^2 + 151^2) = 212.8 -> 213, standard error 213 / sqrt(2) = 150.6.
TEST_F(GenerateReportTest, RowsReportBytes) {
  const GenerateResult result = generate(request());
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.report, folder_ / "report.csv");
  EXPECT_EQ(result.bin, 30);
  const std::string expected =
      "\"DATE:\",\"01/15/26 10:30:00\"\r\n"
      "\"FILE:\",\"" +
      folder_.string() +
      "\"\r\n"
      "\"SUBPROJECT:\",\"My run\"\r\n"
      "\"SETTING:\",\"Mode1 C.elegans[snr=1.8]\"\r\n"
      "\r\n"
      "\"<<<<<< Group Activity: Average Activity Counts per Data Interval>>>>>>\"\r\n"
      "Group/Time[m],30,60\r\n"
      "\"000_Ctrl\",450,450\r\n"
      "\"001_Drug\",150,150\r\n"
      "\r\n"
      "\"<<<<<< Group Activity: Standard Error >>>>>>\"\r\n"
      "Group/Time[m],30,60\r\n"
      "\"000_Ctrl\",150.6,149.9\r\n"
      "\"001_Drug\",0.0,0.0\r\n"
      "\r\n"
      "\"<<<<<< Group Activity: Number of wells/group >>>>>>\"\r\n"
      "Group/Time[m],30,60\r\n"
      "\"000_Ctrl\",2,2\r\n"
      "\"001_Drug\",1,1\r\n"
      "\r\n"
      "\"<<<<<< Number of Samples per Acquisition Interval [1unit=500values] >>>>>>\"\r\n"
      "Time[m],30,60,\r\n"
      "#Samples,30,30,\r\n"
      "\r\n"
      "\"<<<<<< Average Temperature [°C] >>>>>>\"\r\n"
      "Time[m],30,60,\r\n"
      "Temp[°C],25.0,25.0,\r\n"
      "\r\n"
      "\"<<<<<< Well Activity >>>>>>\"\r\n"
      "Well,Group/Time[m],30,60\r\n"
      "A1,\"000_Ctrl\",300,300\r\n"
      "B1,\"000_Ctrl\",601,600\r\n"
      "A2,\"001_Drug\",150,150\r\n"
      "B2,\"999_Free\",30,30\r\n"
      "\r\n"
      "\"<<<<<< Channel Activity >>>>>>\"\r\n"
      "Channel,Well,Group/Time[m],30,60\r\n"
      "CH0,A1.0,\"000_Ctrl\",300,300\r\n"
      "CH1,B1.0,\"000_Ctrl\",601,600\r\n"
      "CH16,A2.0,\"001_Drug\",150,150\r\n"
      "CH17,B2.0,\"999_Free\",30,30\r\n";
  EXPECT_EQ(read_file(result.report), expected);
  EXPECT_EQ(read_file(folder_ / "My_run.csv"), expected) << "the copy under the title";
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + result.report.string()});
  EXPECT_TRUE(dialogs_.texts().empty());
}

TEST_F(GenerateReportTest, ArrayAndListLayouts) {
  GenerateRequest r = request();
  r.file_type = ReportFileType::Text;
  r.settings.spacer = ";";
  r.layout = ReportLayout::WArray;
  ASSERT_TRUE(generate(r).ok);
  const std::string warray = read_file(folder_ / "report.txt");
  EXPECT_NE(
      warray.find("\"<<<<<<WELL ARRAY. Group Configuration>>>>>>\"\r\nRow/Column;1;2;\r\n"
                  "\"A\";\"000_Ctrl\";\"001_Drug\"\r\n\"B\";\"000_Ctrl\";\"999_Free\"\r\n\r\n"),
      std::string::npos)
      << warray;
  EXPECT_NE(warray.find("\"<<<<<<WELL ARRAY. Well Activity>>>>>>\"\r\nTime_Block[m];30\r\n"
                        "Row/Column;1;2;\r\nA;300;150\r\nB;601;30\r\n\r\nTime_Block[m];60\r\n"),
            std::string::npos)
      << warray;
  EXPECT_EQ(warray.find("Standard Error"), std::string::npos) << "Rows and List only";
  EXPECT_EQ(warray.find("Channel Activity"), std::string::npos);

  r.layout = ReportLayout::ChArray;
  ASSERT_TRUE(generate(r).ok);
  const std::string charray = read_file(folder_ / "report.txt");
  EXPECT_NE(charray.find("\"A\";\"000_Ctrl\";\"001_Drug\";-;-;"), std::string::npos);
  EXPECT_NE(charray.find("\"B\";\"000_Ctrl\";\" 999_Free\";-;"), std::string::npos);
  EXPECT_NE(charray.find("ARRAY OUTPUT FORMAT\r\nTime_Block[m];30\r\nRow/Column;1;2;3;"),
            std::string::npos);
  EXPECT_NE(charray.find("\r\nA;300;150;-;"), std::string::npos);

  r.layout = ReportLayout::List;
  r.settings.stdError = 0;
  ASSERT_TRUE(generate(r).ok);
  const std::string list = read_file(folder_ / "report.txt");
  EXPECT_NE(list.find("Time;Group;Value\r\n\r\n30;\"000_Ctrl\";450\r\n60;\"000_Ctrl\";450\r\n\r\n"
                      "30;\"001_Drug\";150\r\n"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("Time;Avrg_Temp[°C]\r\n\r\n30;25.0\r\n60;25.0\r\n"), std::string::npos);
  EXPECT_NE(list.find("30;CH17;B2.0;\"999_Free\";30\r\n"), std::string::npos);
}

TEST_F(GenerateReportTest, ShortRecordingIsReportedAtItsOwnLength) {
  folder_ = make_acquisition("20260115_1100", minutes(1, 20), {1, 1, 1, 1});
  GenerateRequest r = request();
  r.settings.Bin = 60;
  const GenerateResult result = generate(r);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.bin, 20);
  EXPECT_NE(read_file(result.report).find("Group/Time[m],20\r\n\"000_Ctrl\",20\r\n"),
            std::string::npos);
}

TEST_F(GenerateReportTest, BadInputGivesAMessageAndNoReport) {
  struct Case {
    const char* name;
    std::function<void()> damage;
    std::string message;
  };
  const fs::path counts = folder_ / "counts.bin";
  const std::vector<Case> cases = {
      {"no counts.bin", [&] { fs::remove(counts); }, "Activity file not Found"},
      {"short counts.bin", [&] { write_file(counts, std::string(500, '\0')); },
       "Error loading " + counts.string()},
      {"no plate file", [&] { fs::remove(tmp_ / "wtest.dat"); },
       "Multiwell Configuration File wtest.dat or .bak not found"},
      {"no groups",
       [&] { write_file(folder_ / "chgroup.dat", "\"h\"\r\n0,-1\r\n1,-1\r\n16,-1\r\n"); },
       "No channel belongs to a group in " + (folder_ / "chgroup.dat").string()},
      {"damaged groups", [&] { write_file(folder_ / "chgroup.dat", "\"h\"\r\n0,x\r\n"); },
       "Error loading " + (folder_ / "chgroup.dat").string()},
      {"no setup", [&] { fs::remove(folder_ / "setup.dat"); },
       "Error loading " + (folder_ / "setup.dat").string()},
  };
  for (const Case& c : cases) {
    folder_ = make_acquisition("20260115_1030", minutes(1, 60), {10, 20, 5, 1});
    SetUp();
    c.damage();
    dialogs_.clear();
    EXPECT_FALSE(generate(request()).ok) << c.name;
    EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{c.message}) << c.name;
    EXPECT_TRUE(report_files().empty()) << c.name;
  }
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(GenerateReportTest, TornLastRecordIsLeftOut) {
  write_file(folder_ / "counts.bin",
             counts_bytes(minutes(1, 60), {10, 20, 5, 1}) + std::string(300, '\x7f'));
  const GenerateResult result = generate(request());
  ASSERT_TRUE(result.ok);
  EXPECT_NE(read_file(result.report).find("\"000_Ctrl\",450,450\r\n"), std::string::npos);
}

TEST_F(GenerateReportTest, AReportThatCannotBeReplacedGoesToTheNextName) {
  GenerateRequest r = request();
  r.open_result = false;
  fs::create_directory(folder_ / "report.csv");
  EXPECT_EQ(generate(r).report, folder_ / "report_1.csv");
  EXPECT_EQ(generate(r).report, folder_ / "report_1.csv") << "an existing report is replaced";
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(GenerateReportTest, TitleIsMadeSafeAsAFileName) {
  EXPECT_EQ(title_file_name("My run 2"), "My_run_2");
  EXPECT_EQ(title_file_name("../a/b"), ".._a_b");
  EXPECT_EQ(title_file_name(".."), "");
  store::WriteAcquisitionIndex(folder_, "a/b c", "");
  ASSERT_TRUE(generate(request()).ok);
  EXPECT_TRUE(fs::exists(folder_ / "a_b_c.csv"));
}

TEST_F(GenerateReportTest, AutoreportOpensNothing) {
  GenerateRequest r = request();
  r.autoreport = true;
  r.file_type = ReportFileType::Workbook;
  const GenerateResult result = generate(r);
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.workbook.empty());
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(GenerateReportTest, WorkbookTypeConvertsTheCsvAndOpensTheWorkbook) {
  GenerateRequest r = request();
  r.file_type = ReportFileType::Workbook;
  const GenerateResult result = generate(r);
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.workbook, folder_ / "report_20260115103000.xlsx");
  EXPECT_TRUE(fs::exists(result.workbook));
  EXPECT_FALSE(fs::exists(result.workbook.string() + ".tmp"));
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + result.workbook.string()});
  EXPECT_EQ(clock_.sleeps(), std::vector<int>{100});
}

TEST_F(GenerateReportTest, HistogramLayoutNeedsHistogramFiles) {
  GenerateRequest r = request();
  r.layout = ReportLayout::Histogram;
  EXPECT_FALSE(generate(r).ok);
  EXPECT_EQ(dialogs_.messages(), std::vector<std::string>{"Error getting Histogram.bin data"});
  EXPECT_TRUE(report_files().empty());

  // Two records per bin: the last one of each bin wins.
  std::vector<std::byte> bytes;
  for (int m : {15, 30, 45, 60}) {
    std::vector<std::int32_t> totals(acquisition::kHistogramBins * 385, 0);
    totals[2 * 385 + 0] = m; // class 2 of channel 0
    totals[2 * 385 + 1] = 2 * m;
    const auto rec = acquisition::encode_histogram_record(m, 0.012, totals);
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  write_file(folder_ / "histo0000.bin",
             std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  dialogs_.clear();
  const GenerateResult result = generate(r);
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  const std::string text = read_file(result.report);
  EXPECT_NE(text.find("Time[m],Group/Frequency:,0.0,0.0,0.0"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n30,\"000_Ctrl\",0,0,45,0,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n60,\"000_Ctrl\",0,0,90,0,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n60,B1,\"000_Ctrl\",0,0,120,0,"), std::string::npos) << text;
}

TEST(ReportRows, MidnightKeepsEveryRecordInOrder) {
  testing::TempDir tmp;
  std::string bytes;
  for (int t : {1438, 1439, 0, 1, 1439, 0, 2}) {
    acquisition::CountsRecord record;
    record.minutes = t;
    const auto encoded = acquisition::encode_counts_record(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
  }
  write_file(tmp / "counts.bin", bytes);
  const auto rows = read_counts_rows(tmp / "counts.bin");
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->time, (std::vector<std::int32_t>{1438, 1439, 1440, 1441, 2879, 2880, 2882}));
  EXPECT_EQ(rows->last_time(), 2882);
}

TEST(ReportBasal, PercentagesCapAndZeroBasalRules) {
  AcquisitionLayout layout;
  for (int c : {0, 1, 2}) {
    layout.well_of_channel[c] = c;
    layout.channel_group[c] = 0;
  }
  layout.rebuild_table();
  ActivityRows rows;
  rows.resize(1);
  rows.row(0)[0] = 450;
  rows.row(0)[1] = 400;
  rows.row(0)[2] = 7;
  std::array<int, kChannels> basal{};
  basal[0] = 4;
  basal[1] = 5;
  basal[2] = 0;
  ActivityRows cancel = rows;
  AcquisitionLayout cancel_layout = layout;
  EXPECT_EQ(apply_basal_percentages(cancel, basal, cancel_layout, ZeroBasalRule::Discard), 1);
  EXPECT_EQ(cancel.row(0)[0], 10000) << "capped";
  EXPECT_EQ(cancel.row(0)[1], 8000);
  EXPECT_EQ(cancel.row(0)[2], kDiscardedCount);
  EXPECT_EQ(cancel_layout.channel_group[2], -1) << "freed for this report";
  EXPECT_EQ(cancel_layout.channel_group[0], 0);

  basal = {};
  basal[0] = 4;
  basal[1] = 5;
  ActivityRows max = rows;
  AcquisitionLayout max_layout = layout;
  EXPECT_EQ(apply_basal_percentages(max, basal, max_layout, ZeroBasalRule::MaxActivity), 0);
  EXPECT_EQ(max.row(0)[2], 100) << "its own largest count is its basal";

  basal = {};
  basal[0] = 4;
  basal[1] = 5;
  ActivityRows average = rows;
  AcquisitionLayout average_layout = layout;
  EXPECT_EQ(apply_basal_percentages(average, basal, average_layout, ZeroBasalRule::PlateAverage),
            0);
  EXPECT_EQ(basal[2], 3) << "rounded mean of 4, 5 and 0";
  EXPECT_EQ(average.row(0)[2], 233);
}

TEST(ReportBasal, PercentagesAreRoundedNotCut) {
  struct Case {
    int count, basal, percent;
  } cases[] = {{7, 6, 117}, {2, 3, 67}, {1, 3, 33}, {5, 5, 100}};
  AcquisitionLayout layout;
  ActivityRows rows;
  rows.resize(1);
  std::array<int, kChannels> basal{};
  for (int c = 0; c < static_cast<int>(std::size(cases)); ++c) {
    layout.well_of_channel[c] = c;
    layout.channel_group[c] = 0;
    rows.row(0)[c] = cases[c].count;
    basal[c] = cases[c].basal;
  }
  layout.rebuild_table();
  EXPECT_EQ(apply_basal_percentages(rows, basal, layout, ZeroBasalRule::Discard), 0);
  for (int c = 0; c < static_cast<int>(std::size(cases)); ++c)
    EXPECT_EQ(rows.row(0)[c], cases[c].percent) << cases[c].count << " against " << cases[c].basal;
}

TEST_F(GenerateReportTest, BasalReportAsksAboutZeroWellsAndDiscards) {
  // The basal acquisition: channel 16 never moved.
  make_acquisition("20260114_0900", minutes(1, 30), {10, 10, 0, 1});
  GenerateRequest r = request();
  r.basal_choice = "20260114_0900 (basal)";
  dialogs_.script_answer(common::Answer::Ok);     // groups of the experiment
  dialogs_.script_answer(common::Answer::Yes);    // proceed with zero wells
  dialogs_.script_answer(common::Answer::Cancel); // discard them
  const GenerateResult result = generate(r);
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  ASSERT_EQ(dialogs_.messages().size(), 4u);
  EXPECT_EQ(dialogs_.messages()[1], "You have 1 BASAL WELLS with 0 activity. Proceed anyway??");
  EXPECT_EQ(dialogs_.messages()[3], "ERROR in 1 BASAL channels.\r\nChannels were discarded and "
                                    "transferred to Free Group");
  const std::string text = read_file(result.report);
  // Basal 300 per 30 minutes for wells A1 and B1: 300 -> 100 %, 600 -> 200 %.
  EXPECT_NE(text.find("Group/Time[m],0,30,60\r\n\"000_Ctrl\",100,150,150\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\"TIME0(BASAL MEASSURE):\",\"20260114_0900 (basal)\"\r\n\r\n"
                      "\"***DATA AS % OF BASAL ACTIVITY***\"\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("A2,\"999_Free\",100,-999,-999\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Channel Activity"), std::string::npos);

  // No to the first question: no report.
  fs::remove(result.report);
  fs::remove(folder_ / "My_run.csv");
  dialogs_.clear();
  dialogs_.script_answer(common::Answer::Ok);
  dialogs_.script_answer(common::Answer::No);
  EXPECT_FALSE(generate(r).ok);
  EXPECT_TRUE(report_files().empty());
}

} // namespace
} // namespace kestrova::reports
