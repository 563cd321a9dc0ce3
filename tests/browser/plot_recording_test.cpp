// The plots of an acquisition recorded by the acquisition's own writer: its real-time files as
// the raw signal pages show them, and the analysis preview against the counts it recorded.

#include <gtest/gtest.h>

#include <numeric>

#include "acquisition/activity_files.hpp"
#include "browser/plot_view.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/plate_format.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

class RecordedAcquisitionTest : public ::testing::Test {
protected:
  void SetUp() override {
    reports::testing::Recording recording;
    recording.times.resize(60); // six real-time files, the last one partly filled
    std::iota(recording.times.begin(), recording.times.end(), 0);
    folder = reports::testing::write_recording(dir.path(), "20210316_1405", recording);
    PlotAcquisition a;
    a.folder = folder;
    a.project_folder = folder.parent_path();
    a.groups.channel_group.fill(-1);
    a.groups.channel_group[0] = a.groups.channel_group[1] = 0;
    a.groups.channel_group[16] = a.groups.channel_group[17] = 1;
    ASSERT_TRUE(store::ReadPlateFormat(dir.path(), "wtest", a.plate).ok);
    view.open(std::move(a));
  }
  // Channel `c`'s counts recorded for records [first, first + n).
  int recorded(int c, int first, int n) const {
    int sum = 0;
    for (int r = first; r < first + n; ++r)
      sum += acquisition::read_counts_record(folder / "counts.bin", r)
                 ->slots[static_cast<std::size_t>(c)];
    return sum;
  }
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  kestrova::testing::FakeClock clock;
  PlotView view{dialogs, clock};
  std::filesystem::path folder;
};

TEST_F(RecordedAcquisitionTest, PagesHoldTheRecordedBlocksInRecordOrder) {
  view.show_channel_signal();
  const RealtimePage& page = view.page();
  EXPECT_EQ(page.file_count(), 6);
  EXPECT_EQ(page.page_text(), "1/2");
  for (int page_number : {1, 2}) {
    ASSERT_TRUE(view.set_page(page_number));
    for (int b : {0, 10, 11, 43, 44, 49}) {
      if (b >= page.blocks()) continue;
      const auto block = acquisition::read_realtime_block(folder, page.record_of(b), 500);
      ASSERT_TRUE(block) << page_number << " " << b;
      for (int p : {0, 250, 499})
        for (int c : {0, 16, 100})
          EXPECT_EQ(page.sample(b, p, c), (*block)[static_cast<std::size_t>(p * 385 + c)])
              << page_number << " " << b << " " << p << " " << c;
    }
  }
  EXPECT_EQ(page.blocks(), 10);
}

TEST_F(RecordedAcquisitionTest, ThePreviewFindsWhatTheAcquisitionCounted) {
  view.set_channel(16); // well 2, one beam
  view.show_channel_signal();
  EXPECT_EQ(view.analyze("1.8", 1), "1.8");
  ASSERT_TRUE(view.preview());
  for (int minute = 0; minute < 5; ++minute)
    EXPECT_EQ(view.preview()->minute_count(minute, 0), recorded(16, 10 * minute, 10)) << minute;
  ASSERT_TRUE(view.set_page(2));
  view.analyze("1.8", 1);
  ASSERT_TRUE(view.preview());
  EXPECT_EQ(view.preview()->minute_count(0, 0), recorded(16, 50, 10));
  kestrova::testing::FakeCanvas canvas;
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(canvas.contains("text 4000,2150 \"59\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("text 4000,100 \"" + std::to_string(recorded(16, 50, 10)) +
                              "\" (0,0,0) 8pt"));
}

} // namespace
} // namespace kestrova::browser
