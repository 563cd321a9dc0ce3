// The live display's drawing on a recording canvas.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <vector>

#include "acquisition/live_display.hpp"
#include "support/fake_canvas.hpp"

namespace kestrova::acquisition {
namespace {

using testing::FakeCanvas;

constexpr int kB = 20; // samples per buffer in these tests

// A small plate: 2 rows x 3 columns, well w read by channels 2w (position 0) and 2w + 1.
store::PlateFormat small_plate() {
  store::PlateFormat p;
  p.geometry = {2, 2, 0, 3, 2, 0};
  for (int w = 0; w < 6; ++w)
    for (int pos = 0; pos < 2; ++pos) {
      p.map.well_of_channel[static_cast<std::size_t>(2 * w + pos)] = w;
      p.map.position_of_channel[static_cast<std::size_t>(2 * w + pos)] = pos;
    }
  p.map.greatest_well = 5;
  p.map.greatest_position = 1;
  p.map.rebuild_well_channel_table();
  return p;
}

class LiveDisplayTest : public ::testing::Test {
protected:
  LiveDisplayTest()
      : counts_(store::kChannelSlots, 0), histogram_(51 * store::kChannelSlots, 0),
        raw_((kB + 1) * store::kChannelSlots, 0), band_(raw_.size(), 0) {
    project_.plate = small_plate();
    project_.setup.DSP_Interval = 4;
  }
  DisplayData data(int cursor = 10) const { return {counts_, histogram_, raw_, band_, kB, cursor}; }
  std::int16_t& raw(int position, int channel) {
    return raw_[static_cast<std::size_t>(position) * store::kChannelSlots + channel];
  }
  std::int16_t& band(int position, int channel) {
    return band_[static_cast<std::size_t>(position) * store::kChannelSlots + channel];
  }
  store::GroupTable& groups() { return project_.groups.sets[0]; }
  // Index of the first call equal to `call`, or -1.
  static long index_of(const FakeCanvas& c, const std::string& call) {
    const auto it = std::find(c.calls.begin(), c.calls.end(), call);
    return it == c.calls.end() ? -1 : it - c.calls.begin();
  }

  store::ProjectState project_;
  std::vector<std::int16_t> counts_;
  std::vector<std::int32_t> histogram_;
  std::vector<std::int16_t> raw_;
  std::vector<std::int16_t> band_;
  FakeCanvas picact_;
  FakeCanvas picreal_;
  LiveDisplay display_{picact_, picreal_, project_};
};

TEST(LiveDisplayChoice, GroupEntriesAndTheirNumbers) {
  const store::GroupTable defaults;
  const std::vector<std::string> entries = group_entries(defaults);
  ASSERT_EQ(entries.size(), 13u) << "default groups 0..12";
  EXPECT_EQ(entries.front(), "000_Group0");
  EXPECT_EQ(entries.back(), "012_Free");
  EXPECT_EQ(group_of_entry("012_Free"), 12);
  EXPECT_EQ(group_of_entry("Grupo 1"), std::nullopt);
  EXPECT_EQ(group_of_entry(""), std::nullopt);
}

TEST(LiveDisplayChoice, ChannelByRowColumnAndPosition) {
  const store::PlateFormat plate = small_plate();
  struct Case {
    int row, column, position;
    bool from_row;
    int well;
    int channel;
    bool reset_row_column, reset_position;
  };
  const Case cases[] = {
      {1, 2, 1, false, 3, 7, false, false}, // B2.1
      {0, 1, 0, true, 0, 0, false, false},  // A1.0
      {1, 4, 0, true, 0, 0, true, false},   // column 4 lies beyond the plate: back to A1
      {1, 1, 5, true, 1, 2, false, true},   // position 5 above the largest: back to 0
  };
  for (const Case& c : cases) {
    const ChannelPick p = pick_channel(plate, c.row, c.column, c.position, c.from_row);
    SCOPED_TRACE(fmt::format("row {} column {} position {}", c.row, c.column, c.position));
    EXPECT_EQ(p.well, c.well);
    EXPECT_EQ(p.channel, c.channel);
    EXPECT_EQ(p.reset_row_column, c.reset_row_column);
    EXPECT_EQ(p.reset_position, c.reset_position);
  }
}

TEST(LiveDisplayChoice, BodyBendsOnlyWithTheUndividedPlate) {
  const std::string warning = "WARNING!\r\nExperimental functionality! Beta testing.\r\n"
                              "Contact us for more information";
  struct Case {
    bool checked;
    const char* plate;
    bool mode, box_checked, box_visible, histogram;
    bool warns;
  };
  const Case cases[] = {
      {true, "w96u", true, true, true, true, true},
      {true, "W96U", true, true, true, true, true},
      {true, "w96f", false, false, false, false, false}, // refused: unchecked and hidden
      {true, "w384", false, false, false, false, false},
      {false, "w96u", false, false, true, false, false},
      {false, "w96f", false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("{} {}", c.checked, c.plate));
    const BodyBendsBox b = body_bends_changed(c.checked, c.plate);
    EXPECT_EQ(b.mode, c.mode);
    EXPECT_EQ(b.checked, c.box_checked);
    EXPECT_EQ(b.box_visible, c.box_visible);
    EXPECT_EQ(b.histogram_button, c.histogram);
    EXPECT_EQ(b.warning, c.warns ? warning : "");
  }
}

TEST_F(LiveDisplayTest, GroupWellsShowTheGroupMeanAndOneBarPerWell) {
  groups().channel_group.fill(store::kFreeGroup);
  for (int c = 0; c < 4; ++c)
    groups().channel_group[static_cast<std::size_t>(c)] = 2;
  project_.channels.enabled[1] = false; // listed no more, but still counted in its well
  counts_[0] = 10;
  counts_[1] = 20;
  counts_[2] = 40;
  counts_[3] = 60;
  display_.choose_group(2, data());

  ASSERT_EQ(display_.wells().size(), 3u);
  EXPECT_EQ(display_.wells()[0].text, "A1.0");
  EXPECT_EQ(display_.wells()[2].text, "B1.1");
  EXPECT_EQ(display_.selected_well(), 0);
  EXPECT_EQ(display_.channel(), 0) << "the first well is traced";
  EXPECT_TRUE(picreal_.contains("clear (255,255,255)"));

  EXPECT_TRUE(picact_.contains("world -30,300-300,-30"));
  // Group value: 130 / 4 = 32.5, rounded to even.
  EXPECT_TRUE(picact_.contains("box 10,2-30,32 (0,0,0)"));
  EXPECT_TRUE(picact_.contains("box 10,2-30,32 (200,200,200) filled"));
  EXPECT_TRUE(picact_.contains("text 13,37 \"32\" (128,128,128) 8pt"));
  EXPECT_TRUE(picact_.contains("text 5,-5 \"G2_Group2\" (0,0,0) 8pt"));
  // Two wells, 25 wide: A1 = (10 + 20) / 2, B1 = (40 + 60) / 2.
  EXPECT_TRUE(picact_.contains("box 42.5,2-62.5,15 (0,0,0)"));
  EXPECT_TRUE(picact_.contains("box 67.5,2-87.5,50 (0,0,0)"));
  EXPECT_TRUE(picact_.contains("text 67.5,-5 \"B1\" (0,0,0) 8pt"));
  EXPECT_EQ(picact_.count("box 92.5,"), 0) << "one bar per well, not per listed channel";

  // A count far above the axis grows the scale by halves until it fits, and relabels the axis.
  counts_[0] = counts_[1] = counts_[2] = counts_[3] = 600;
  picact_.calls.clear();
  display_.buffer_end(data());
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 2.5);
  EXPECT_TRUE(picact_.contains("text -15,260 \"625\" (0,0,0) 8pt"));
  EXPECT_TRUE(picact_.contains("box 10,2-30,240 (0,0,0)"));
}

// Well bars share 260 units, at most 25 each; the last one stays inside the picture (x 300).
TEST_F(LiveDisplayTest, WellBarsFitThePicture) {
  struct Case {
    int wells;
    double width;
  };
  // 12 and 24 wells: rounding to the nearest (22, 11) would end the last bar at 304.
  for (const Case k : {Case{2, 25}, Case{12, 21}, Case{13, 20}, Case{24, 10}}) {
    store::PlateFormat& p = project_.plate;
    p = store::PlateFormat{};
    p.geometry = {8, 2, 0, 4, 2, 0}; // 8 rows x 4 columns, one beam per well
    for (int c = 0; c < 32; ++c) {
      p.map.well_of_channel[static_cast<std::size_t>(c)] = c;
      p.map.position_of_channel[static_cast<std::size_t>(c)] = 0;
    }
    p.map.greatest_well = 31;
    p.map.greatest_position = 0;
    p.map.rebuild_well_channel_table();
    groups().channel_group.fill(store::kFreeGroup);
    for (int c = 0; c < k.wells; ++c)
      groups().channel_group[static_cast<std::size_t>(c)] = 1;
    picact_.calls.clear();
    display_.choose_group(1, data());
    const double last = 40 + k.width * (k.wells - 1);
    EXPECT_TRUE(picact_.contains(
        fmt::format("box {:g},2-{:g},300 (255,255,255) filled", last, last + k.width)))
        << k.wells << " wells";
    EXPECT_EQ(picact_.count(fmt::format("box {:g},2-", last + k.width)), 0) << k.wells;
    // No label strip is erased after the group's name is printed.
    const long name = index_of(picact_, "text 5,-5 \"G1_Group1\" (0,0,0) 8pt");
    ASSERT_GE(name, 0);
    for (std::size_t i = static_cast<std::size_t>(name); i < picact_.calls.size(); ++i)
      EXPECT_EQ(picact_.calls[i].find(",-20 (255,255,255) filled"), std::string::npos) << i;
  }
}

TEST_F(LiveDisplayTest, AGroupWithoutEnabledChannelsListsNothingAndTracesNothing) {
  display_.choose_group(7, data());
  EXPECT_TRUE(display_.wells().empty());
  EXPECT_EQ(display_.selected_well(), -1);
  EXPECT_EQ(display_.channel(), -1);
  EXPECT_TRUE(picreal_.calls.empty());
  EXPECT_FALSE(display_.step_well(1, data()));
  EXPECT_TRUE(picact_.contains("box 10,2-30,0 (0,0,0)"));
}

TEST_F(LiveDisplayTest, NextAndPreviousChannelStayWithinTheList) {
  display_.choose_group(0, data()); // default group 0: beam column 0, wells A1..B3 of the plate
  ASSERT_EQ(display_.wells().size(), 12u);
  EXPECT_FALSE(display_.step_well(-1, data()));
  EXPECT_EQ(display_.selected_well(), 0);
  EXPECT_TRUE(display_.step_well(1, data()));
  EXPECT_EQ(display_.channel(), 1);
  EXPECT_TRUE(display_.select_well(11, data()));
  EXPECT_FALSE(display_.step_well(1, data()));
  EXPECT_EQ(display_.channel(), 11);
}

TEST_F(LiveDisplayTest, ThirteenGroupsGiveTwoPagesAndTheSecondShowsOneBar) {
  display_.show_bars(data()); // the default groups 0..12
  EXPECT_EQ(display_.summary().page_count(), 2);
  EXPECT_TRUE(display_.summary().page_buttons_visible());
  EXPECT_EQ(picact_.count("text") - 3, 2 * 12) << "12 bars: a name and a value each";
  // Every label strip is erased before the first name is printed: a name wider than its bar
  // is not cut by the next bar's strip.
  long last_strip = -1, first_name = -1;
  for (std::size_t i = 0; i < picact_.calls.size(); ++i) {
    const std::string& call = picact_.calls[i];
    if (call.find(",-30-") != std::string::npos) last_strip = static_cast<long>(i);
    if (first_name < 0 && call.find(",-10 \"G") != std::string::npos)
      first_name = static_cast<long>(i);
  }
  ASSERT_GE(first_name, 0);
  EXPECT_LT(last_strip, first_name);

  picact_.calls.clear();
  EXPECT_TRUE(display_.next_page(data()));
  EXPECT_FALSE(display_.next_page(data())) << "no third page";
  EXPECT_EQ(display_.summary().page(), 1);
  const auto erases = std::count_if(picact_.calls.begin(), picact_.calls.end(), [](auto& s) {
    return s.find(",275 (255,255,255) filled") != std::string::npos;
  });
  EXPECT_EQ(erases, 1);
  EXPECT_TRUE(picact_.contains("text 9.14286,-10 \"G12_Free\" (0,0,0) 8pt"));
  EXPECT_TRUE(display_.previous_page(data()));
  EXPECT_FALSE(display_.previous_page(data()));
}

TEST_F(LiveDisplayTest, ABarThreeHundredTimesTheScaleClipsAndGrowsTheScaleForTheNextUpdate) {
  std::fill(counts_.begin(), counts_.begin() + 16, std::int16_t{300}); // group 0
  display_.show_bars(data());
  // 13 groups: w = 300 / 14 and a = 0.35w rounded (just below 7.5 in binary: 7); bar 0 spans
  // a + 0.1w to a + 0.9w.
  const double w = 300.0 / 14;
  const std::string x = fmt::format("box {:g},{{}}-{:g},", 7 + 0.1 * w, 7 + 0.9 * w);
  EXPECT_TRUE(picact_.contains(fmt::format(fmt::runtime(x), 1) + "255 (0,0,0)"));
  EXPECT_TRUE(picact_.contains(fmt::format(fmt::runtime(x), 2) + "257 (200,200,200) filled"));
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 1.5);

  picact_.calls.clear();
  display_.buffer_end(data());
  EXPECT_TRUE(picact_.contains(fmt::format(fmt::runtime(x), 1) + "200 (0,0,0)"));
  EXPECT_TRUE(picact_.contains("text -15,260 \"375\" (0,0,0) 8pt"));
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 1.5) << "200 is not above 250";
}

TEST_F(LiveDisplayTest, HeatMapGreysEachWellByItsShareOfTheBusiestWell) {
  counts_[0] = counts_[1] = 255; // well A1: 510, the busiest
  counts_[2] = 255;              // well B1: half of it
  display_.show_heat_map(data());
  EXPECT_TRUE(picact_.contains("world -150,-200-2410,1610"));
  EXPECT_TRUE(picact_.contains("box 20,20-180,180 (0,0,0) filled"));
  EXPECT_TRUE(picact_.contains("box 20,220-180,380 (127,127,127) filled")); // 127.5 to even
  EXPECT_TRUE(picact_.contains("box 220,20-380,180 (255,255,255) filled"));
  EXPECT_TRUE(picact_.contains("text 50,-100 \"1\" (0,0,0) 8pt"));
  EXPECT_TRUE(picact_.contains("text -50,250 \"B\" (0,0,0) 8pt"));
  // The outlines are drawn again over the fills.
  const long fill = index_of(picact_, "box 20,20-180,180 (0,0,0) filled");
  const auto outline =
      std::find(picact_.calls.rbegin(), picact_.calls.rend(), "box 0,0-200,200 (255,0,0)");
  ASSERT_NE(outline, picact_.calls.rend());
  EXPECT_GT(picact_.calls.rend() - outline - 1, fill);
  EXPECT_FALSE(display_.summary().page_buttons_visible());
}

TEST_F(LiveDisplayTest, HistogramScaleFollowsTheGroupsLargestMeanBin) {
  histogram_[3 * store::kChannelSlots + 0] = 500;
  histogram_[3 * store::kChannelSlots + 1] = 100;
  display_.show_histogram(data()); // page 0: group 0, 16 channels
  EXPECT_EQ(display_.summary().page_count(), 96);
  EXPECT_TRUE(display_.summary().page_buttons_visible());
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 37.5 / 250 * 1.2);
  const long label = index_of(picact_, "text 260,260 \"G0_Group0\" (0,0,0) 8pt");
  ASSERT_GE(label, 0);
  // The label comes after the bars, whose erase boxes reach through its line.
  for (std::size_t i = static_cast<std::size_t>(label); i < picact_.calls.size(); ++i)
    EXPECT_EQ(picact_.calls[i].find(",275 (255,255,255) filled"), std::string::npos) << i;
  EXPECT_TRUE(picact_.contains("text -15,260 \"45\" (0,0,0) 8pt"));
  // Rare bends: a largest mean of 1 / 16 spans an axis of 0.075, labelled with decimals.
  histogram_[3 * store::kChannelSlots + 0] = 1;
  histogram_[3 * store::kChannelSlots + 1] = 0;
  picact_.calls.clear();
  display_.buffer_end(data());
  EXPECT_TRUE(picact_.contains("text -15,260 \"0.08\" (0,0,0) 8pt"));
  EXPECT_TRUE(picact_.contains("text -15,130 \"0.04\" (0,0,0) 8pt"));
  display_.next_page(data());
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 1.0); // group 1 has no counts at all
  for (int i = 1; i < 60; ++i)
    display_.next_page(data());
  EXPECT_EQ(display_.summary().page(), 60);
  EXPECT_DOUBLE_EQ(display_.summary().bar_scale(), 100.0 / 250 * 1.2) << "a group without channels";
}

TEST_F(LiveDisplayTest, TraceShowsRawSamplesAtZoomZeroAndBaselineOffsetsWhenZoomed) {
  std::fill(raw_.begin() + 10 * store::kChannelSlots, raw_.begin() + 11 * store::kChannelSlots,
            std::int16_t{2000});
  raw(3, 5) = 2000;
  raw(4, 5) = 2010;
  display_.pick_channel(0, 3, 1, false, data()); // well 4 (A3), position 1: channel 9
  ASSERT_EQ(display_.channel(), 9);
  picreal_.calls.clear();
  display_.select_well(-1, data()); // no such item: nothing changes
  EXPECT_TRUE(picreal_.calls.empty());

  display_.choose_group(0, data());
  picreal_.calls.clear();
  display_.select_well(5, data()); // the sixth item of group 0: channel 5
  ASSERT_EQ(display_.channel(), 5);
  EXPECT_TRUE(picreal_.contains("world 0,2100-40,0"));
  EXPECT_TRUE(picreal_.contains("line 3,2000-4,2010 (255,0,0)"));
  // The three positions around the sweep cursor (10) are left out.
  for (int i : {9, 10, 11})
    EXPECT_EQ(picreal_.count(fmt::format("line {},", i - 1)), 0) << i;
  EXPECT_EQ(picreal_.count("line 11,"), 1);

  for (int z = 0; z < 3; ++z)
    display_.zoom_in(data());
  EXPECT_EQ(display_.zoom(), 3);
  EXPECT_EQ(display_.trace().baseline(5), 2000);
  EXPECT_TRUE(picreal_.contains("line 3,1750-4,1780 (255,0,0)"));

  for (int z = 0; z < 12; ++z)
    display_.zoom_in(data());
  EXPECT_EQ(display_.zoom(), kMaxTraceZoom);
  raw(10, 5) = 1500; // a new sample at the cursor: only a zoom above 0 takes it as baseline
  for (int z = 0; z < 9; ++z)
    display_.zoom_out(data());
  EXPECT_EQ(display_.trace().baseline(5), 1500);
  raw(10, 5) = 1000;
  display_.zoom_out(data());
  display_.zoom_out(data());
  EXPECT_EQ(display_.zoom(), 0);
  EXPECT_EQ(display_.trace().baseline(5), 1500);
}

TEST_F(LiveDisplayTest, IncrementalTraceDrawsBehindTheCursorAndErasesAhead) {
  display_.choose_group(0, data());
  display_.select_well(5, data()); // channel 5
  for (int i = 0; i <= kB; ++i) {
    raw(i, 5) = static_cast<std::int16_t>(1000 + i);
    band(i, 5) = static_cast<std::int16_t>(i % 2); // 0 where none was computed
  }
  struct Case {
    int cursor;
    int lines;
    bool eraser;
  };
  for (const Case c :
       {Case{2, 0, false}, Case{3, 0, true}, Case{5, 0, true}, Case{8, 3 + 2, true}}) {
    picreal_.calls.clear();
    display_.tick(2, data(c.cursor));
    SCOPED_TRACE(c.cursor);
    EXPECT_EQ(picreal_.count("line"), c.lines);
    EXPECT_EQ(picreal_.contains(
                  fmt::format("box {},21-{},2048 (255,255,255) filled", c.cursor, c.cursor + 6)),
              c.eraser);
    EXPECT_EQ(picreal_.count("clear"), 0) << "no full redraw";
  }
  // Cursor 8: trace 4-5, 5-6, 6-7 and the band where it is above 0 (positions 5 and 7).
  EXPECT_TRUE(picreal_.contains("line 6,1006-7,1007 (255,0,0)"));
  EXPECT_TRUE(picreal_.contains("line 4,0-5,1 (0,0,255)"));
  EXPECT_FALSE(picreal_.contains("line 5,1-6,0 (0,0,255)"));

  // Zoomed, values far below the baseline are raised to 6.
  raw(10, 5) = 3000;
  display_.zoom_in(data(10));
  picreal_.calls.clear();
  display_.tick(2, data(8));
  EXPECT_TRUE(picreal_.contains("line 6,6-7,6 (255,0,0)"));
}

TEST_F(LiveDisplayTest, EveryDspIntervalTheTraceIsRedrawnAndTheBandChangesColour) {
  display_.choose_group(0, data());
  display_.select_well(5, data());
  for (int i = 0; i <= kB; ++i)
    band(i, 5) = 100;
  picreal_.calls.clear();
  display_.tick(1, data()); // odd tick: nothing
  EXPECT_TRUE(picreal_.calls.empty());
  display_.tick(4, data()); // DSP_Interval 4
  EXPECT_EQ(picreal_.count("clear"), 1);
  EXPECT_TRUE(display_.trace().band_green());
  EXPECT_TRUE(picreal_.contains("line 1,100-2,100 (0,255,0)"));
  picreal_.calls.clear();
  display_.tick(6, data());
  EXPECT_EQ(picreal_.count("clear"), 0);
  display_.tick(8, data());
  EXPECT_FALSE(display_.trace().band_green());
  EXPECT_TRUE(picreal_.contains("line 1,100-2,100 (0,0,255)"));

  // At a zoom above 0 the baselines are taken again before the redraw.
  display_.zoom_in(data());
  raw(10, 5) = 700;
  display_.tick(12, data());
  EXPECT_EQ(display_.trace().baseline(5), 700);
}

} // namespace
} // namespace kestrova::acquisition
