// Damaged activity files: every reader of counts.bin refuses a record whose time cannot belong
// to the recording, naming the record, before anything grows with that time or is written.

#include <gtest/gtest.h>

#include <clocale>
#include <random>

#include "acquisition/activity_files.hpp"
#include "acquisition/counts_reader.hpp"
#include "common/cancellation.hpp"
#include "reanalysis_fixture.hpp"
#include "reports/generate_report.hpp"
#include "reports/reanalysis.hpp"
#include "reports/report_data.hpp"
#include "reports/well_export.hpp"
#include "store/setup_file.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::write_file;
using testing::folder_snapshot;

// counts.bin records at the given minutes, each channel counting 3.
std::string records_at(const std::vector<std::int32_t>& times) {
  std::string bytes;
  for (const std::int32_t t : times) {
    acquisition::CountsRecord record;
    record.minutes = t;
    record.slots.fill(3);
    record.slots[384] = 250;
    const auto encoded = acquisition::encode_counts_record(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
  }
  return bytes;
}

std::vector<std::int32_t> minutes_then(int n, std::int32_t last) {
  std::vector<std::int32_t> t;
  for (int m = 0; m < n; ++m)
    t.push_back(m);
  t.push_back(last);
  return t;
}

class DamagedCountsTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    testing::Recording recording;
    recording.times = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    folder_ = testing::write_recording(tmp_.path(), "20260115_1030", recording);
  }
  GenerateResult generate(const common::Cancellation* cancel = nullptr) {
    GenerateRequest request;
    request.acquisition_folder = folder_;
    request.data_folder = tmp_.path();
    request.settings = default_report_settings(",");
    request.settings.Bin = 1;
    request.open_result = false;
    ReportServices services{dialogs_, shell_, pump_, clock_, cancel};
    return generate_report(request, services);
  }
  WellExportResult wells(const common::Cancellation* cancel = nullptr) {
    WellExportRequest request;
    request.acquisition_folder = folder_;
    request.data_folder = tmp_.path();
    request.bin = 2;
    request.time_stamps = false;
    request.cancel = cancel;
    return export_well_series(request, dialogs_);
  }
  ReanalysisResult reanalyse() {
    ReanalysisRequest request;
    request.report.acquisition_folder = folder_;
    request.report.data_folder = tmp_.path();
    request.report.settings = default_report_settings(",");
    request.report.open_result = false;
    request.replace = true;
    ReportServices services{dialogs_, shell_, pump_, clock_};
    return run_reanalysis(request, services);
  }

  kestrova::testing::TempDir tmp_;
  fs::path folder_;
  kestrova::testing::FakeDialogs dialogs_;
  kestrova::testing::FakeShell shell_;
  kestrova::testing::FakeEventPump pump_;
  kestrova::testing::FakeClock clock_{{2026, 1, 15, 11, 0, 0, 0}};
};

TEST_F(DamagedCountsTest, ATimeThatCannotBelongToTheRecordingIsRefusedByEveryReader) {
  std::mt19937 rng(11);
  std::string noise(20 * acquisition::kCountsRecordBytes, '\0');
  for (char& c : noise)
    c = static_cast<char>(rng());
  std::string alternating;
  for (int r = 0; r < 6; ++r)
    alternating += records_at({r % 2 == 0 ? 0 : 32767});
  const std::string beyond = " min this recording can reach (the setup's lapse of 30 min and "
                             "the folder's real span of ";
  struct Case {
    const char* what;
    std::string bytes;
    std::string problem; // what follows "record "
  };
  const Case cases[] = {
      {"a record at minute 2147483647", records_at(minutes_then(10, 2147483647)),
       "10 has the time 2147483647 min, beyond the 34207" + beyond},
      {"a record at minute 1,000,000", records_at(minutes_then(10, 1000000)),
       "10 has the time 1000000 min, beyond the 34207" + beyond},
      {"a negative time", records_at(minutes_then(3, -5)),
       "3 has the time -5 min, before the start"},
      {"times alternating 0 and 32767", alternating,
       "2 has the time 0 min, before the 32767 min of the record before it"},
      {"a clock set back", records_at({5, 6, 7, 3}),
       "3 has the time 3 min, before the 7 min of the record before it"},
      {"random bytes", noise, "0 has the time "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(folder_ / "counts.bin", c.bytes);
    const auto before = folder_snapshot(folder_);
    const std::string message =
        "Activity file " + (folder_ / "counts.bin").string() + " is damaged: record " + c.problem;
    const auto refused = [&] {
      ASSERT_EQ(dialogs_.texts().size(), 1u);
      EXPECT_EQ(dialogs_.texts()[0].substr(0, message.size()), message);
      EXPECT_EQ(folder_snapshot(folder_), before);
      dialogs_.clear();
    };
    EXPECT_FALSE(generate().ok);
    refused();
    EXPECT_FALSE(wells().ok);
    refused();
    EXPECT_FALSE(reanalyse().ok());
    refused();
    std::string problem;
    EXPECT_FALSE(read_counts_rows(folder_ / "counts.bin", &problem));
    EXPECT_EQ(problem.substr(0, message.size()), message);
  }
}

// Without a date in its name a folder accounts for its setup's lapse only: 30 minutes plus the
// margin of a day.
TEST_F(DamagedCountsTest, TheLimitFollowsTheLapseWhenTheFolderHasNoStart) {
  const fs::path plain = tmp_ / "p00001" / "plain";
  fs::create_directories(plain);
  store::SetupValues setup;
  setup.Aq_lapse = 30;
  write_file(plain / "setup.dat", store::setup_file_text(1, setup));
  EXPECT_EQ(acquisition::record_time_limit(plain).latest, 30 + 1440);
  write_file(plain / "counts.bin", records_at({0, 1, 1470}));
  EXPECT_TRUE(read_counts_rows(plain / "counts.bin"));
  write_file(plain / "counts.bin", records_at({0, 1, 1471}));
  std::string problem;
  EXPECT_FALSE(read_counts_rows(plain / "counts.bin", &problem));
  EXPECT_NE(problem.find("record 2 has the time 1471 min, beyond the 1470 min this recording can "
                         "reach (the setup's lapse of 30 min plus 1440 min)"),
            std::string::npos)
      << problem;
  // A midnight step is no damage: 1438, 1439, 0, 1 run on as 1440 and 1441.
  write_file(plain / "counts.bin", records_at({1438, 1439, 0, 1}));
  const auto rows = read_counts_rows(plain / "counts.bin");
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->time, (std::vector<std::int32_t>{1438, 1439, 1440, 1441}));
}

// A stop asked for at any block ends the report and the export with every file as it was.
TEST_F(DamagedCountsTest, AStoppedReportOrExportWritesNothing) {
  const auto before = folder_snapshot(folder_);
  for (int at = 1; at <= 6; ++at) {
    SCOPED_TRACE(at);
    common::Cancellation cancel;
    int checks = 0;
    cancel.on_check([&] {
      if (++checks == at) cancel.request();
    });
    const GenerateResult report = generate(&cancel);
    if (checks < at) continue; // fewer blocks than that: the report was made
    EXPECT_TRUE(report.cancelled);
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(folder_snapshot(folder_), before);
  }
  for (int at = 1; at <= 3; ++at) {
    common::Cancellation cancel;
    int checks = 0;
    cancel.on_check([&] {
      if (++checks == at) cancel.request();
    });
    EXPECT_FALSE(wells(&cancel).ok) << at;
    EXPECT_EQ(folder_snapshot(folder_), before) << at;
  }
  EXPECT_TRUE(dialogs_.texts().empty()) << ::testing::PrintToString(dialogs_.texts());
}

} // namespace
} // namespace kestrova::reports
