// The plot area as the window drives it: views, their data, bin steps, pages and the preview.

#include <gtest/gtest.h>

#include <algorithm>

#include "browser/plot_view.hpp"
#include "plot_fixture.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

using kestrova::testing::FakeCanvas;

bool drew_text(const FakeCanvas& canvas, std::string_view text) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  return std::any_of(canvas.calls.begin(), canvas.calls.end(), [&](const std::string& call) {
    return call.starts_with("text ") && call.find(quoted) != std::string::npos;
  });
}

class PlotViewTest : public ::testing::Test {
protected:
  PlotAcquisition acquisition(const std::string& folder, int lapse = 30) {
    PlotAcquisition a;
    a.folder = dir.path() / folder;
    a.project_folder = dir.path();
    a.groups.channel_group = testing::column_groups(14);
    a.acquisition_lapse = lapse;
    a.configuration_summary = "\r\n\t***** CONFIG ******\r\n\tSetting: Mode1";
    return a;
  }
  // Every channel counts `count` per minute for `minutes` minutes.
  void record(const std::string& folder, int minutes, std::int16_t count) {
    testing::write_counts(
        dir.path() / folder, minutes, [](int r) { return r; }, [=](int, int) { return count; });
  }
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  kestrova::testing::FakeClock clock;
  PlotView view{dialogs, clock};
  FakeCanvas canvas;
};

TEST_F(PlotViewTest, OpeningShowsTheBarPlotOfTheGroupsWithChannels) {
  record("20210316_1405", 60, 2);
  view.open(acquisition("20210316_1405"));
  EXPECT_EQ(view.mode(), PlotMode::Bars);
  ASSERT_EQ(view.group_items().size(), 14u);
  EXPECT_EQ(view.group_items()[0], "000_Group0");
  EXPECT_EQ(view.group_items()[13], "013_Free");
  EXPECT_EQ(view.details(), "\r\n***** CONFIG ******\r\nSetting: Mode1\r\n");
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(canvas.contains("box 12,0-20,120 (200,200,200) filled")); // 60 x 2 per channel
  // Activating item 12 makes it the last of the ten bars shown.
  view.activate_item(12);
  EXPECT_EQ(view.first_bar(), 3);
  view.activate_item(4);
  EXPECT_EQ(view.first_bar(), 0);
}

TEST_F(PlotViewTest, AllZeroCountsDrawABarPlotOfFiftyButNoLinePlot) {
  record("20210316_1405", 59, 0);
  view.open(acquisition("20210316_1405"));
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_EQ(canvas.calls[0], "world 0,52.5-120,-6.75");
  view.show_line_plot();
  canvas.calls.clear();
  EXPECT_FALSE(view.draw(canvas));
  EXPECT_TRUE(canvas.calls.empty());
}

TEST_F(PlotViewTest, LinePlotBinFollowsTheLapseAndTheSteps) {
  record("20210316_1405", 301, 1); // 300 minutes
  view.open(acquisition("20210316_1405", 60));
  view.show_line_plot();
  EXPECT_EQ(view.bin_text(), "30");
  ASSERT_TRUE(view.table());
  EXPECT_EQ(view.table()->columns, 11);
  view.bin_minus(view.bin_text());
  EXPECT_EQ(view.bin_text(), "25");
  EXPECT_EQ(view.table()->columns, 13); // 300 / 25 + 1
  // From 120 "+" looks for a divisor of the span of 300 up to its half.
  view.bin_plus("120");
  EXPECT_EQ(view.bin_text(), "150");
  EXPECT_EQ(view.table()->columns, 3);
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(drew_text(canvas, "Line PLOT"));

  view.open(acquisition("20210316_1405", 30));
  view.show_line_plot();
  EXPECT_EQ(view.bin_text(), "5");
}

TEST_F(PlotViewTest, ATagShowsTheKineticPlotAndItsTableAbsoluteOrRelative) {
  record("20210316_1405", 10, 1);
  record("20210320_1405", 10, 3);
  view.open(acquisition("20210316_1405"));
  view.show_kinetic(" 20210320_1405 20210316_1405");
  EXPECT_TRUE(view.kinetic());
  EXPECT_EQ(view.mode(), PlotMode::Line);
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(canvas.contains("text 0,49.5 \"[TAG] Kinetics PLOT\" (0,0,0) 8pt")); // 1.1 x 45
  auto text = view.kinetic_text();
  ASSERT_TRUE(text);
  EXPECT_EQ(text->header, "Acq:;20210316_1405;20210320_1405\r\n");
  EXPECT_TRUE(text->body.starts_with("Group/Time[day];0;4.0\r\n[#000_Group0];10;30\r\n"))
      << text->body;
  view.toggle_relativize();
  text = view.kinetic_text();
  EXPECT_TRUE(text->body.starts_with("Group/Time[day];0;4.0\r\n[#000_Group0];100;300\r\n"))
      << text->body;
  // The line plot leaves the kinetic mode.
  view.show_line_plot();
  EXPECT_FALSE(view.kinetic_text());
}

TEST_F(PlotViewTest, TheRightClickMenuFollowsTheView) {
  record("20210316_1405", 10, 1);
  view.open(acquisition("20210316_1405"));
  EXPECT_EQ(view.menu(), PlotMenu::Export);
  view.show_line_plot();
  EXPECT_EQ(view.menu(), PlotMenu::Line);
  view.show_kinetic("20210316_1405");
  EXPECT_EQ(view.menu(), PlotMenu::Relativize);
  view.show_heat_map();
  EXPECT_EQ(view.menu(), PlotMenu::Plate);
  view.show_channel_signal();
  EXPECT_EQ(view.menu(), PlotMenu::Export);
  view.show_line_plot();
  EXPECT_EQ(view.menu(), PlotMenu::Line) << "the line plot leaves the kinetic mode";
}

TEST_F(PlotViewTest, AMissingCountsFileIsToldAndNothingIsDrawn) {
  view.open(acquisition("20210316_1405"));
  view.show_heat_map();
  EXPECT_EQ(dialogs.messages(),
            (std::vector<std::string>{"Activity file not Found", "Activity file not Found"}));
  EXPECT_FALSE(view.draw(canvas));
}

TEST_F(PlotViewTest, TheSignalPagesThroughEveryRecordedBlockAndPreviewsDetection) {
  record("20210316_1405", 60, 1);
  auto a = acquisition("20210316_1405");
  a.buffer_length = 9;
  testing::write_realtime(
      a.folder, 60, [](int b, int p, int) { return static_cast<std::int16_t>(b * 10 + p); }, 10);
  view.open(a);
  EXPECT_FALSE(view.set_page(2)); // not in the signal view
  view.show_channel_signal();
  EXPECT_EQ(view.mode(), PlotMode::Signal);
  EXPECT_EQ(view.page().page_text(), "1/2");
  ASSERT_TRUE(view.set_page(2));
  EXPECT_EQ(view.page().blocks(), 10);
  EXPECT_FALSE(view.set_page(3));
  view.set_channel(5);
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(canvas.contains("text 0,-30 \"25k\" (0,0,0) 8pt"));
  EXPECT_TRUE(canvas.contains("line 0,500-1,501 (255,0,0)")); // block 50, channel 5
  EXPECT_EQ(view.analyze("9", 0), "1.8");
  EXPECT_EQ(view.analyze("2.25", 1), "2.2");
  canvas.calls.clear();
  ASSERT_TRUE(view.draw(canvas));
  EXPECT_TRUE(canvas.contains("text 4000,2150 \"59\" (0,0,0) 8pt")); // record 59
}

TEST_F(PlotViewTest, TheSignalRefusesRealtimeFilesThatDoNotFitTheSetupsBufferLength) {
  record("20210316_1405", 60, 1);
  auto a = acquisition("20210316_1405");
  testing::write_realtime(
      a.folder, 60, [](int, int, int) { return std::int16_t{100}; }, 10); // written with B = 9
  a.buffer_length = 500;
  view.open(a);
  view.show_channel_signal();
  EXPECT_EQ(dialogs.messages(),
            std::vector<std::string>{"Real-time file " + (a.folder / "0.bin").string() +
                                     " holds 84700 bytes, which is not 11 blocks of 385770 bytes "
                                     "for the buffer length 500 of " +
                                     (a.folder / "setup.dat").string()});
  EXPECT_EQ(view.page().page_count(), 0);
  EXPECT_FALSE(view.set_page(1));
}

TEST_F(PlotViewTest, WellsOfAGroupAndTheChannelOfAWell) {
  record("20210316_1405", 10, 1);
  auto a = acquisition("20210316_1405");
  a.plate = *store::BuiltInPlateFormat("w96f");
  a.channels.enabled[1] = false;
  view.open(a);
  // Group 0 holds beam column 0 (channels 0..15); disabled channel 1 is left out.
  const auto wells = view.group_wells("000_Group0");
  ASSERT_FALSE(wells.empty());
  EXPECT_TRUE(
      std::none_of(wells.begin(), wells.end(), [](const auto& w) { return w.channel == 1; }));
  EXPECT_EQ(wells[0].text, store::WellLabel(a.plate.geometry, wells[0].well) + "." +
                               std::to_string(wells[0].position));
  EXPECT_TRUE(view.group_wells("999_Free").size() > 0);
  EXPECT_TRUE(view.group_wells("xyz").empty());

  // The channel at (well, position) is traced; outside the plate well 0 is used; a position
  // with no channel leaves the channel as it was.
  const int well = wells.back().well;
  const int rows = a.plate.geometry.rows;
  const auto picked = view.pick_well(well % rows, well / rows + 1, 0);
  ASSERT_TRUE(picked);
  EXPECT_EQ(a.plate.map.well_of_channel[static_cast<std::size_t>(*picked)], well);
  EXPECT_EQ(view.channel(), *picked);
  const auto first = view.pick_well(40, 99, 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(a.plate.map.well_of_channel[static_cast<std::size_t>(*first)], 0);
  EXPECT_FALSE(view.pick_well(0, 1, 50));
  EXPECT_EQ(view.channel(), *first);

  const auto place = view.activate_well(wells.back());
  ASSERT_TRUE(place);
  EXPECT_EQ(*place, (std::pair{well % rows, well / rows + 1}));
  EXPECT_EQ(view.channel(), *picked);
  EXPECT_EQ(view.channel_text(), "CH:" + std::to_string(*picked));
  EXPECT_EQ(view.mode(), PlotMode::Bars);
}

} // namespace
} // namespace kestrova::browser
