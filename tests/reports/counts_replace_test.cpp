// Counts written back by a re-analysis: the recorded counts survive every later replace and can
// be put back, links planted in the folder are not followed, and a kill at any step leaves the
// readers either the old counts with their setup or the new ones with theirs.

#include <gtest/gtest.h>

#include <clocale>
#include <sys/stat.h>

#include "reanalysis_fixture.hpp"
#include "reports/counts_replace.hpp"
#include "reports/reanalysis.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/file_steps.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::read_file;
using kestrova::testing::write_file;

class CountsReplaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    testing::Recording recording;
    recording.times = {1, 2, 3, 4, 5, 6};
    folder_ = testing::write_recording(tmp_.path(), "20260115_1030", recording);
    live_counts_ = read_file(folder_ / "counts.bin");
    live_setup_ = read_file(folder_ / "setup.dat");
  }
  // A replacing run with `method`; the dialogs' texts when it fails.
  ReanalysisResult replace(int method) {
    ReanalysisRequest r;
    r.report.acquisition_folder = folder_;
    r.report.data_folder = tmp_.path();
    r.report.settings = default_report_settings(",");
    r.report.open_result = false;
    r.method = method;
    r.threshold_text = method == 0 ? "3.5" : "1.8";
    r.replace = true;
    ReportServices services{dialogs_, shell_, pump_, clock_};
    return run_reanalysis(r, services);
  }
  // The report's setting line and the counts it read, as a reader of the folder sees them.
  std::string report_view() {
    GenerateRequest r;
    r.acquisition_folder = folder_;
    r.data_folder = tmp_.path();
    r.settings = default_report_settings(",");
    r.open_result = false;
    ReportServices services{dialogs_, shell_, pump_, clock_};
    const GenerateResult result = generate_report(r, services);
    if (!result.ok) return "no report";
    const std::string text = read_file(result.report);
    const auto at = text.find("\"SETTING:\"");
    return text.substr(at, text.find('\r', at) - at) + "|" + read_file(folder_ / "counts.bin");
  }

  kestrova::testing::TempDir tmp_;
  fs::path folder_;
  std::string live_counts_, live_setup_;
  kestrova::testing::FakeDialogs dialogs_;
  kestrova::testing::FakeShell shell_;
  common::NullEventPump pump_;
  kestrova::testing::FakeClock clock_{{2026, 1, 15, 10, 30, 0, 0}};
};

TEST_F(CountsReplaceTest, TheRecordedCountsSurviveEveryReplaceAndComeBack) {
  ASSERT_TRUE(replace(0).ok()) << ::testing::PrintToString(dialogs_.texts());
  const std::string first = read_file(folder_ / "counts.bin");
  ASSERT_NE(first, live_counts_) << "method 0 at SNR 3.5 counts differently";
  ASSERT_TRUE(replace(1).ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
  EXPECT_EQ(read_file(folder_ / kRecordedSetupName), live_setup_);
  EXPECT_EQ(read_file(folder_ / kCountsBackupName), first) << "the previous version, as before";
  EXPECT_EQ(fs::status(folder_ / kRecordedCountsName).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  const std::string second = read_file(folder_ / "counts.bin");
  const std::string second_setup = read_file(folder_ / "setup.dat");
  ASSERT_EQ(restore_recorded_counts(folder_), std::nullopt);
  EXPECT_EQ(read_file(folder_ / "counts.bin"), live_counts_);
  EXPECT_EQ(read_file(folder_ / "setup.dat"), live_setup_);
  EXPECT_EQ(read_file(folder_ / kCountsBackupName), second);
  EXPECT_EQ(read_file(folder_ / "setup.bak"), second_setup);
  EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
  // The restored files are ordinary ones: the next replace works on them.
  ASSERT_TRUE(replace(0).ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(read_file(folder_ / "counts.bin"), first);
  EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
}

// A folder replaced once by a version that kept only counts.bak: that file held the live
// counts, so it becomes the recorded pair instead of being overwritten.
TEST_F(CountsReplaceTest, AnOlderSingleBackupBecomesTheRecordedPair) {
  ASSERT_TRUE(replace(0).ok()) << ::testing::PrintToString(dialogs_.texts());
  fs::remove(folder_ / kRecordedCountsName);
  fs::remove(folder_ / kRecordedSetupName);
  ASSERT_EQ(read_file(folder_ / "counts.bak"), live_counts_);
  ASSERT_TRUE(replace(1).ok()) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
  EXPECT_EQ(read_file(folder_ / kRecordedSetupName), live_setup_);
}

TEST_F(CountsReplaceTest, RestoringWithoutRecordedCountsChangesNothing) {
  const auto before = testing::folder_snapshot(folder_);
  EXPECT_EQ(restore_recorded_counts(folder_), "No recorded counts in " + folder_.string() + ": " +
                                                  (folder_ / "counts.rec").string() +
                                                  " is missing or unreadable");
  EXPECT_EQ(testing::folder_snapshot(folder_), before);
}

// Links planted at the names a replace writes: the file outside stays as it was, counts.bin
// does not become a link, and the refusal names the link.
TEST_F(CountsReplaceTest, PlantedLinksAreNeitherFollowedNorMovedIntoPlace) {
  const fs::path outside = tmp_ / "outside";
  const char* names[] = {"counts.bin.tmp", "counts.bak.tmp", "raw_export.tmp",
                         "setup.dat.tmp",  "counts.bak",     "setup.bak"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    SetUp();
    write_file(outside, "outside");
    fs::remove_all(folder_ / name);
    fs::create_symlink(outside, folder_ / name);
    const bool refused = !std::string(name).ends_with(".tmp");
    dialogs_.clear();
    EXPECT_EQ(replace(1).ok(), !refused);
    EXPECT_EQ(read_file(outside), "outside");
    EXPECT_FALSE(fs::is_symlink(folder_ / "counts.bin"));
    if (refused) {
      EXPECT_EQ(dialogs_.texts(),
                std::vector<std::string>{(folder_ / name).string() +
                                         " is a symbolic link; it was not written; " +
                                         (folder_ / "counts.bin").string() + " was not changed"});
      EXPECT_EQ(read_file(folder_ / "counts.bin"), live_counts_);
    }
    fs::remove_all(folder_);
  }
}

// Scratch files that a crash left, of this version or of earlier ones, go with the next replace
// of their file.
TEST_F(CountsReplaceTest, ScratchLeftByACrashGoesWithTheNextReplace) {
  const char* left[] = {"counts.bin.tmp", "counts.bak.tmp", "setup.dat.tmp",
                        ".counts.bin.a1B2c3", ".setup.bak.Zz9Zz9", ".commit.jnl.q1w2e3"};
  for (const char* name : left)
    write_file(folder_ / name, "left by a crash");
  ASSERT_TRUE(replace(1).ok()) << ::testing::PrintToString(dialogs_.texts());
  for (const char* name : left)
    EXPECT_FALSE(fs::exists(folder_ / name)) << name;
}

TEST_F(CountsReplaceTest, AKillAtAnyStepLeavesEveryReaderTheOldPairOrTheNewOne) {
  const auto pristine = testing::folder_snapshot(folder_);
  const auto reset = [&] {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    for (const auto& [name, bytes] : pristine)
      write_file(folder_ / name, bytes);
  };
  const std::string old_view = report_view();
  reset();
  std::vector<std::string> steps;
  steps = kestrova::testing::file_steps_of([&] { ASSERT_TRUE(replace(0).ok()); });
  const std::string new_view = report_view();
  const std::string new_setup = read_file(folder_ / "setup.dat");
  ASSERT_NE(old_view, new_view);
  bool saw_old = false, saw_new = false;
  for (std::size_t kill_at = 1; kill_at <= steps.size(); ++kill_at) {
    SCOPED_TRACE(steps[kill_at - 1]);
    reset();
    ASSERT_TRUE(
        kestrova::testing::kill_at_file_step(static_cast<int>(kill_at), [&] { replace(0); }));
    // The report (as the tool writes it) reads a consistent pair, and so does every later reader.
    const std::string view = report_view();
    EXPECT_TRUE(view == old_view || view == new_view) << view.substr(0, 80);
    const bool is_new = view == new_view;
    saw_old |= !is_new;
    saw_new |= is_new;
    EXPECT_EQ(read_file(folder_ / "setup.dat"), is_new ? new_setup : live_setup_);
    EXPECT_FALSE(fs::exists(folder_ / "commit.jnl"));
    if (fs::exists(folder_ / kRecordedCountsName)) {
      EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
    }
    // The next replace sweeps what the kill left and keeps the recorded counts.
    ASSERT_TRUE(replace(1).ok()) << ::testing::PrintToString(dialogs_.texts());
    EXPECT_EQ(read_file(folder_ / kRecordedCountsName), live_counts_);
    for (const auto& e : fs::directory_iterator(folder_))
      EXPECT_FALSE(e.path().filename().string().starts_with(".")) << e.path();
  }
  EXPECT_TRUE(saw_old && saw_new);
}

} // namespace
} // namespace kestrova::reports
