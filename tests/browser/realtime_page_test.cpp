// The raw signal page: which blocks a page holds, the files it reads, and the analysis preview
// and signal drawn from it.

#include <gtest/gtest.h>

#include <fstream>

#include "acquisition/detection.hpp"
#include "browser/plot_draw.hpp"
#include "browser/realtime_page.hpp"
#include "plot_fixture.hpp"
#include "support/fake_canvas.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

using kestrova::testing::TempDir;

TEST(RealtimePage, SevenFilesGiveTwoPagesAndEveryBlockIsOnOne) {
  TempDir dir;
  // Buffers of 9 samples keep the files small; 77 blocks fill 7 files.
  testing::write_realtime(
      dir.path(), 77, [](int b, int p, int c) { return static_cast<std::int16_t>(b * 10 + p + c); },
      10);
  std::ofstream(dir.path() / "histo0000.bin") << "x";
  testing::write_counts(
      dir.path(), 1, [](int) { return 0; }, [](int, int) -> std::int16_t { return 0; });
  RealtimePage page;
  page.open(dir.path(), 9);
  EXPECT_EQ(page.file_count(), 7);
  EXPECT_EQ(page.block_count(), 77);
  ASSERT_EQ(page.page_count(), 2);

  ASSERT_TRUE(page.load(1));
  EXPECT_EQ(page.blocks(), 50);
  EXPECT_EQ(page.page_text(), "1/2");
  EXPECT_EQ(page.sample(10, 0, 0), 100); // file 0, block 10
  EXPECT_EQ(page.sample(49, 3, 2), 495); // file 4, block 5
  EXPECT_EQ(page.sample(49, 200, 2), 0); // beyond the recorded samples

  ASSERT_TRUE(page.load(2));
  EXPECT_EQ(page.blocks(), 27);
  EXPECT_EQ(page.page_text(), "2/2");
  EXPECT_EQ(page.sample(0, 0, 0), 500);  // block 50
  EXPECT_EQ(page.sample(26, 9, 0), 769); // block 76, in file 6
  EXPECT_EQ(page.record_of(26), 76);
}

TEST(RealtimePage, FullBlocksRepeatSample499AndKeepOnlyThePage) {
  TempDir dir;
  testing::write_realtime(dir.path(), 12, [](int b, int p, int c) {
    return static_cast<std::int16_t>(c == 7 ? b * 1000 + p : 0);
  });
  RealtimePage page;
  page.open(dir.path());
  ASSERT_EQ(page.page_count(), 1);
  std::vector<double> progress;
  ASSERT_TRUE(page.load(1, [&](double f) { progress.push_back(f); }));
  EXPECT_EQ(progress, (std::vector<double>{0, 0.5}));
  EXPECT_EQ(page.blocks(), 12);
  EXPECT_EQ(page.sample(11, 499, 7), 11499);
  EXPECT_EQ(page.sample(11, 500, 7), 11499); // not the file's 11500
  EXPECT_EQ(page.sample(3, 17, 7), 3017);
  EXPECT_EQ(page.bytes(), std::size_t{12} * 501 * 385 * 2);
}

TEST(RealtimePage, TornBlocksGapsAndMissingFilesEndTheRecording) {
  TempDir dir;
  testing::write_realtime(
      dir.path(), 13, [](int, int, int) -> std::int16_t { return 1; }, 10);
  {
    std::ofstream torn(dir.path() / "1.bin", std::ios::binary | std::ios::app);
    torn << std::string(100, '\0');
  }
  testing::write_realtime(
      dir.path() / "gap", 13, [](int, int, int) -> std::int16_t { return 1; }, 10);
  std::filesystem::rename(dir.path() / "gap" / "1.bin", dir.path() / "gap" / "2.bin");
  RealtimePage page;
  page.open(dir.path(), 9);
  EXPECT_EQ(page.block_count(), 13);
  page.open(dir.path() / "gap", 9);
  EXPECT_EQ(page.block_count(), 11);
  page.open(dir.path() / "none");
  EXPECT_EQ(page.page_count(), 0);
  EXPECT_FALSE(page.load(1));
}

class PreviewTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Channel 3 dips once in every 30 samples; channel 4 is flat.
    testing::write_realtime(dir.path(), 20, [](int, int p, int c) -> std::int16_t {
      if (c == 3 && p % 30 >= 14 && p % 30 <= 15) return 500;
      return 2000;
    });
    testing::write_counts(
        dir.path(), 20, [](int r) { return 100 + r; }, [](int, int) -> std::int16_t { return 0; });
    page.open(dir.path());
    ASSERT_TRUE(page.load(1));
  }
  TempDir dir;
  RealtimePage page;
  const std::vector<int> beams = {3, 4, -1};
};

TEST_F(PreviewTest, CountsEachBeamPerMinuteWithTheDetectionRoutine) {
  const auto before = std::vector<std::int16_t>(page.block(0).begin(), page.block(0).end());
  const AnalysisPreview p = run_analysis_preview(page, beams, 1.8, 0, dir.path() / "counts.bin");
  // The routine on one block, as a reference.
  std::vector<std::int16_t> copy = before;
  acquisition::ActivityDetector detector;
  const int per_block = detector.detect_activity(acquisition::RawBlock{copy}, 3, 1.8, 0, 0, {}, 0);
  ASSERT_GT(per_block, 0);
  EXPECT_EQ(p.minute_count(0, 0), 10 * per_block);
  EXPECT_EQ(p.minute_count(1, 0), 10 * per_block);
  EXPECT_EQ(p.minute_count(2, 0), 0); // no block 20..29
  EXPECT_EQ(p.minute_count(0, 1), 0);
  EXPECT_EQ(p.line(0, 0, 250), detector.detection_line()[250]);
  EXPECT_EQ((std::vector<std::int32_t>(p.stamps.begin(), p.stamps.end())),
            (std::vector<std::int32_t>{109, 119, -1, -1, -1}));
  // The page is left as it was read.
  EXPECT_TRUE(std::equal(before.begin(), before.end(), page.block(0).begin()));
}

TEST_F(PreviewTest, SignalAndPreviewAreDrawnOverThePage) {
  kestrova::testing::FakeCanvas canvas;
  draw_channel_signal(canvas, page, beams, 2);
  EXPECT_EQ(canvas.calls[0], "world -1000,2150-25000,-150");
  EXPECT_TRUE(canvas.contains("text 0,-30 \"0k\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 23500,-30 \"25k\" (0,0,0) 8pt"));
  // Beam 0 red, beam 1 blue; 500 segments per block and beam.
  EXPECT_EQ(canvas.count("line"), 2 + 20 * 2 * 500 + 20); // axes, segments, block marks
  EXPECT_TRUE(canvas.contains("line 9513,2000-9514,500 (255,0,0)"));
  EXPECT_TRUE(canvas.contains("line 9513,2000-9514,2000 (0,0,255)"));
  EXPECT_TRUE(canvas.contains("line 9500,2150-9500,0 (200,200,200)"));

  const AnalysisPreview p = run_analysis_preview(page, beams, 1.8, 1, dir.path() / "counts.bin");
  canvas.calls.clear();
  draw_analysis_preview(canvas, page, p);
  EXPECT_TRUE(canvas.contains("text 100,2150 \"Time(min)\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 4000,2150 \"109\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 9000,2150 \"119\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 4000,100 \"" + std::to_string(p.minute_count(0, 0)) +
                              "\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 4000,200 \"0\" (0,0,0) 8pt"));
  EXPECT_EQ(canvas.count("text 4000,300"), 0); // beam 2 has no channel
  EXPECT_EQ(canvas.count("line"), 20 * 2 * 500 + 20);
}

} // namespace
} // namespace kestrova::browser
