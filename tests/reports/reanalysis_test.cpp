#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <sys/resource.h>

#include "acquisition/activity_files.hpp"
#include "reanalysis_fixture.hpp"
#include "reports/reanalysis.hpp"
#include "reports/report_data.hpp"
#include "store/setup_file.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::read_file;
using kestrova::testing::write_file;
using testing::folder_snapshot;
using testing::Recording;

std::vector<int> minutes(int first, int last) {
  std::vector<int> t;
  for (int m = first; m <= last; ++m)
    t.push_back(m);
  return t;
}

class ReanalysisTest : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }

  fs::path record(const Recording& recording, const std::string& name = "20260115_1030") {
    folder_ = testing::write_recording(tmp_.path(), name, recording);
    return folder_;
  }
  ReanalysisRequest request() const {
    ReanalysisRequest r;
    r.report.acquisition_folder = folder_;
    r.report.data_folder = tmp_.path();
    r.report.settings = default_report_settings(",");
    r.report.open_result = false;
    return r;
  }
  ReanalysisResult run(const ReanalysisRequest& r) {
    ReportServices services{dialogs_, shell_, pump_, clock_};
    ReanalysisControl control;
    control.show_status = [this](std::string_view s) { status_.emplace_back(s); };
    control.stop_requested = [this] { return stop_; };
    return run_reanalysis(r, services, control);
  }

  kestrova::testing::TempDir tmp_;
  fs::path folder_;
  kestrova::testing::FakeDialogs dialogs_;
  kestrova::testing::FakeShell shell_;
  kestrova::testing::FakeEventPump pump_;
  kestrova::testing::FakeClock clock_{{2026, 1, 15, 10, 30, 0, 0}};
  std::vector<std::string> status_;
  bool stop_ = false;
};

// With the detection the counts were recorded with, the run gives back counts.bin's numbers,
// on one thread and on two, and leaves counts.bin alone.
TEST_F(ReanalysisTest, RecordedSettingsReproduceTheCounts) {
  for (int method : {0, 1, 2}) {
    record({minutes(1, 25), method, 1.8, 11u + method});
    const std::string before = read_file(folder_ / "counts.bin");
    const auto recorded = read_counts_rows(folder_ / "counts.bin");
    ASSERT_TRUE(recorded);
    for (int threads : {1, 2}) {
      ReanalysisRequest r = request();
      r.method = method;
      r.threads = threads;
      const ReanalysisResult result = run(r);
      ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
      EXPECT_EQ(result.records, 25);
      EXPECT_EQ(result.rows.time, recorded->time);
      EXPECT_EQ(result.rows.temperature, recorded->temperature);
      EXPECT_EQ(result.rows.counts, recorded->counts) << "method " << method << ", " << threads;
      EXPECT_TRUE(result.in_memory);
      EXPECT_EQ(read_file(folder_ / "counts.bin"), before);
    }
  }
  std::int64_t activity = 0;
  const auto rows = read_counts_rows(folder_ / "counts.bin");
  for (std::int32_t v : rows->counts)
    activity += v;
  EXPECT_GT(activity, 50) << "the fixture must count something";
}

// Blocks follow the real-time buffer length of the acquisition's setup.
TEST_F(ReanalysisTest, OtherBufferLengthsAreReadWithTheirBlockSize) {
  for (int length : {250, 800}) {
    Recording recording{minutes(1, 14)};
    recording.buffer_length = length;
    record(recording);
    const auto recorded = read_counts_rows(folder_ / "counts.bin");
    const ReanalysisResult result = run(request());
    ASSERT_TRUE(result.ok()) << length << ::testing::PrintToString(dialogs_.texts());
    EXPECT_EQ(result.rows.counts, recorded->counts) << length;
  }
}

TEST_F(ReanalysisTest, InMemoryRunReportsWithItsSettingText) {
  record({minutes(1, 30)});
  ReanalysisRequest r = request();
  r.threshold_text = "2,5";
  r.report.basal_choice = "20260101_0900 basal"; // not applied to re-analysed counts
  const ReanalysisResult result = run(r);
  ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.setting_text, "1_Threshold Avrg (Default.Agar&Liquid) C elegans(>L4) [SNR=2,5]");
  ASSERT_EQ(result.report.report, folder_ / "report.csv");
  const std::string report = read_file(result.report.report);
  EXPECT_NE(report.find("\"SETTING:\",\"" + result.setting_text + "\""), std::string::npos)
      << report;
  ASSERT_GE(status_.size(), 3u);
  EXPECT_EQ(status_.front(), "Block 0/30");
  EXPECT_EQ(status_[1], "Block 1/30");
  EXPECT_EQ(status_.back(), "Block 31/30");
  EXPECT_FALSE(fs::exists(folder_ / kCountsBackupName));
  EXPECT_TRUE(dialogs_.texts().empty());
}

// Replacing rewrites every record in place (time, new counts, temperature kept), keeps the old
// file as counts.bak, updates setup.dat through setup.bak and reports from the new setup.
TEST_F(ReanalysisTest, ReplaceRewritesCountsAndSetup) {
  record({minutes(1, 20)});
  const std::string old_counts = read_file(folder_ / "counts.bin");
  const std::string old_setup = read_file(folder_ / "setup.dat");
  ReanalysisRequest r = request();
  r.method = 0;
  r.organism = 1;
  r.threshold_text = "2.8";
  r.hours = 0.1; // ignored: replacing takes the whole recording
  r.replace = true;
  const ReanalysisResult result = run(r);
  ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.records, 20);
  EXPECT_FALSE(result.in_memory);
  EXPECT_EQ(read_file(folder_ / kCountsBackupName), old_counts);
  EXPECT_FALSE(fs::exists(folder_ / "counts.bin.tmp"));
  const auto before = read_counts_rows(folder_ / kCountsBackupName);
  const auto after = read_counts_rows(folder_ / "counts.bin");
  ASSERT_TRUE(after);
  EXPECT_EQ(read_file(folder_ / "counts.bin").size(), old_counts.size());
  EXPECT_EQ(after->time, before->time);
  EXPECT_EQ(after->temperature, before->temperature);
  EXPECT_EQ(after->counts, result.rows.counts);
  EXPECT_NE(after->counts, before->counts) << "another method and threshold count differently";
  EXPECT_EQ(read_file(folder_ / "setup.bak"), old_setup);
  EXPECT_EQ(setting_text_from_setup(folder_, '.'), "Mode0 Zebrafish[snr=2.8]");
  const std::string setup = read_file(folder_ / "setup.dat");
  EXPECT_EQ(std::count(setup.begin(), setup.end(), '\n'), 20);
  EXPECT_NE(read_file(result.report.report).find("\"SETTING:\",\"Mode0 Zebrafish[snr=2.8]\""),
            std::string::npos);
  EXPECT_NE(std::find(status_.begin(), status_.end(), "Saving..."), status_.end());
  EXPECT_EQ(status_.back(), "Block 20/20");

  // The same settings again give the counts now stored.
  r.replace = false;
  r.hours.reset();
  const ReanalysisResult again = run(r);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.rows.counts, after->counts);
}

// STOP clicked while the first record's events run: no report, no file touched, even with
// replacing and raw export asked for.
TEST_F(ReanalysisTest, StopAfterTheFirstRecordChangesNothing) {
  record({minutes(1, 15)});
  const auto before = folder_snapshot(folder_);
  for (bool replace : {false, true}) {
    ReanalysisRequest r = request();
    r.replace = replace;
    r.export_raw = !replace;
    pump_.hook = [this](int) { stop_ = true; };
    stop_ = false;
    const ReanalysisResult result = run(r);
    EXPECT_EQ(result.outcome, ReanalysisResult::Outcome::Stopped);
    EXPECT_EQ(pump_.calls, replace ? 2 : 1);
    EXPECT_EQ(folder_snapshot(folder_), before);
    EXPECT_EQ(status_.back(), "Block 2/15");
  }
  EXPECT_TRUE(dialogs_.texts().empty());
}

// A real-time file that is missing or short stops the run before anything is written, with a
// message naming the file.
TEST_F(ReanalysisTest, MissingOrShortRealtimeFileIsRefused) {
  record({minutes(1, 15)}); // 0.bin holds 11 blocks, 1.bin 4
  const std::size_t block = acquisition::realtime_block_bytes(500);
  struct Case {
    const char* file;
    std::int64_t size; // -1 removes the file
    std::string message;
  };
  const std::string one = (folder_ / "1.bin").string();
  const Case cases[] = {
      {"1.bin", static_cast<std::int64_t>(3 * block),
       "Real-time file " + one + " holds 3 of the 4 blocks needed; nothing was changed"},
      {"1.bin", static_cast<std::int64_t>(3 * block + block / 2),
       "Real-time file " + one + " holds " + std::to_string(3 * block + block / 2) +
           " bytes, which is not a whole number of blocks (up to 11) of 385770 bytes for the "
           "buffer length 500 of " +
           (folder_ / "setup.dat").string() + "; nothing was changed"},
      {"1.bin", -1, "Real-time file " + one + " not found; nothing was changed"},
      {"0.bin", -1, "Real Time Data Not Found"},
  };
  for (const Case& c : cases) {
    record({minutes(1, 15)});
    if (c.size < 0)
      fs::remove(folder_ / c.file);
    else
      fs::resize_file(folder_ / c.file, static_cast<std::uintmax_t>(c.size));
    const auto before = folder_snapshot(folder_);
    dialogs_.clear();
    ReanalysisRequest r = request();
    r.replace = true;
    const ReanalysisResult result = run(r);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(folder_snapshot(folder_), before);
    fs::remove_all(folder_);
  }
}

// Real-time files written with one buffer length are refused when the setup names another:
// read with the wrong block size every block would be misaligned.
TEST_F(ReanalysisTest, RealtimeFilesThatDoNotFitTheSetupsBufferLengthAreRefused) {
  record({minutes(1, 15)}); // blocks of 500 samples
  store::SetupValues setup;
  setup.Plate_format = "wtest";
  setup.RT_Buffer = 1000;
  write_file(folder_ / "setup.dat", store::setup_file_text(1, setup));
  const auto before = folder_snapshot(folder_);
  ReanalysisRequest r = request();
  r.replace = true;
  EXPECT_FALSE(run(r).ok());
  EXPECT_EQ(dialogs_.texts(),
            std::vector<std::string>{"Real-time file " + (folder_ / "0.bin").string() +
                                     " holds 4243470 bytes, which is not 11 blocks of 770770 "
                                     "bytes for the buffer length 1000 of " +
                                     (folder_ / "setup.dat").string() + "; nothing was changed"});
  EXPECT_EQ(folder_snapshot(folder_), before);
}

// Records 1438, 1439, 0, 1: times made monotonic, the record whose minutes went back counts 0;
// channel 2 lies in no well and counts 0 everywhere.
TEST_F(ReanalysisTest, MidnightAndChannelsOutsideWells) {
  record({{1436, 1437, 1438, 1439, 0, 1, 2}});
  const ReanalysisResult result = run(request());
  ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.rows.time,
            (std::vector<std::int32_t>{1436, 1437, 1438, 1439, 1440, 1441, 1442}));
  std::int64_t others = 0, back = 0, channel2 = 0;
  for (std::size_t r = 0; r < result.rows.size(); ++r) {
    const std::int32_t* row = result.rows.row(r);
    for (int c = 0; c < kChannels; ++c)
      (r == 4 ? back : c == 2 ? channel2 : others) += row[c];
  }
  EXPECT_EQ(back, 0);
  EXPECT_EQ(channel2, 0);
  EXPECT_GT(others, 0);
}

// The span covers the records up to the one at the span's minute; under 5 minutes it is 5.
TEST_F(ReanalysisTest, SpanAndBinFollowTheRecording) {
  record({minutes(1, 40)});
  struct Case {
    std::optional<double> hours;
    int bin;
    std::int64_t records;
    int used_bin;
  } cases[] = {{0.5, 30, 30, 30},
               {0.01, 30, 5, 5},
               {std::nullopt, 60, 40, 30},
               {0.25, 1, 15, 2},
               {1.0 / 3, 60, 20, 20}};
  for (const Case& c : cases) {
    status_.clear();
    ReanalysisRequest r = request();
    r.hours = c.hours;
    r.report.settings.Bin = c.bin;
    const ReanalysisResult result = run(r);
    ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
    EXPECT_EQ(result.records, c.records);
    EXPECT_EQ(status_.front(), "Block 0/" + std::to_string(c.records));
    EXPECT_EQ(result.bin, c.used_bin) << c.records;
    EXPECT_EQ(result.rows.size(), static_cast<std::size_t>(c.records));
  }
  EXPECT_EQ(span_minutes(100.0 / 60), 100);
  EXPECT_EQ(span_minutes(0), 5);
}

// Raw export appends one line per analysed record to the files of the counted channels.
TEST_F(ReanalysisTest, RawExportWritesDetectionFlags) {
  record({{1437, 1438, 1439, 0}}); // the last record is past midnight
  write_file(folder_ / "ch0.raw", "earlier\r\n");
  ReanalysisRequest r = request();
  r.export_raw = true;
  const ReanalysisResult result = run(r);
  ASSERT_TRUE(result.ok()) << ::testing::PrintToString(dialogs_.texts());
  const std::string text = read_file(folder_ / "ch0.raw");
  ASSERT_EQ(text.size(), 9 + 3 * (5 + 500 + 2)) << "three records analysed, one went back";
  EXPECT_EQ(text.substr(0, 14), "earlier\r\n1437 ");
  std::size_t ones = 0;
  for (int line = 0; line < 3; ++line) {
    const std::string flags = text.substr(9 + line * 507 + 5, 500);
    EXPECT_EQ(flags.find_first_not_of("01"), std::string::npos);
    ones += static_cast<std::size_t>(std::count(flags.begin(), flags.end(), '1'));
  }
  std::int64_t counted = 0;
  for (int rec = 0; rec < 3; ++rec)
    counted += result.rows.row(rec)[0];
  EXPECT_EQ(static_cast<std::int64_t>(ones), counted) << "method 1 flags each counted sample";
  EXPECT_TRUE(fs::exists(folder_ / "ch17.raw"));
  EXPECT_FALSE(fs::exists(folder_ / "ch2.raw"));
  EXPECT_FALSE(fs::exists(folder_ / "raw_export.tmp"));
}

// A channel file that is a symbolic link is refused with a message naming it; the file it
// points to stays as it was.
TEST_F(ReanalysisTest, RawExportRefusesALinkedChannelFile) {
  record({{1, 2, 3}});
  write_file(tmp_ / "outside", "outside");
  std::filesystem::create_symlink(tmp_ / "outside", folder_ / "ch0.raw");
  ReanalysisRequest r = request();
  r.export_raw = true;
  EXPECT_FALSE(run(r).ok());
  EXPECT_EQ(read_file(tmp_ / "outside"), "outside");
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{(folder_ / "ch0.raw").string() +
                                                       " is a symbolic link; it was not written"});
}

// A disk that fills while the new counts are written: counts.bin stays as it was, no partial
// file is left and nothing else changes.
TEST_F(ReanalysisTest, FullDiskDuringReplaceKeepsTheOldCounts) {
  record({minutes(1, 12)});
  const auto before = folder_snapshot(folder_);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 774 * 12 - 100;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ReanalysisRequest r = request();
  r.replace = true;
  const ReanalysisResult result = run(r);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(result.ok());
  const std::string counts = (folder_ / "counts.bin").string();
  ASSERT_EQ(dialogs_.texts().size(), 1u);
  const std::string message = dialogs_.texts()[0];
  EXPECT_TRUE(message.starts_with("Error writing " + (folder_ / ".counts.").string()))
      << message;
  EXPECT_TRUE(message.ends_with(": File too large; " + counts + " was not changed")) << message;
  EXPECT_EQ(folder_snapshot(folder_), before);
}

TEST_F(ReanalysisTest, OrganismPresets) {
  struct Case {
    int organism;
    const char* threshold;
    std::optional<int> method;
    double inside, outside;
  } cases[] = {{0, "1.8", std::nullopt, 6, 1},
               {1, "2.8", std::nullopt, 1.1, 6.1},
               {2, "1.8", 2, 3, 0.9},
               {3, "0.8", 3, 0.5, 1.1}};
  for (const Case& c : cases) {
    EXPECT_EQ(organism_threshold_text(c.organism), c.threshold);
    EXPECT_EQ(organism_method(c.organism), c.method);
    EXPECT_TRUE(threshold_in_range(c.organism, c.inside));
    EXPECT_FALSE(threshold_in_range(c.organism, c.outside));
  }
}

} // namespace
} // namespace kestrova::reports
