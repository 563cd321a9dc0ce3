#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "common/rounding.hpp"
#include "reports/rebin.hpp"
#include "reports/rebin_reference.hpp"

namespace kestrova::reports {
namespace {

// Rows at the given times with every channel counting `count` and a temperature.
ActivityRows make_rows(const std::vector<std::int32_t>& times, std::int32_t count,
                       std::int32_t temperature = 250) {
  ActivityRows rows;
  rows.resize(times.size());
  for (std::size_t r = 0; r < times.size(); ++r) {
    rows.time[r] = times[r];
    rows.temperature[r] = temperature;
    std::fill(rows.row(r), rows.row(r) + kChannels, count);
  }
  return rows;
}

std::vector<std::int32_t> minutes(int first, int last, int step = 1) {
  std::vector<std::int32_t> t;
  for (int m = first; m <= last; m += step)
    t.push_back(m);
  return t;
}

TEST(ReportBin, ShortRecordingsGetABinOfTheirOwnLength) {
  struct Case {
    int requested, last, expected;
  } cases[] = {{120, 100, 90}, {60, 20, 20}, {30, 30, 30}, {30, 29, 29},
               {60, 31, 30},   {60, 59, 45}, {0, 100, 1},  {30, 0, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(adjust_report_bin(c.requested, c.last), c.expected)
        << c.requested << " for " << c.last;
}

TEST(Rebin, SixtyMinutesOfTenPerMinuteGiveTwoBinsOf300) {
  ActivityRows rows = make_rows(minutes(1, 60), 10);
  rows.temperature[45] = 0; // a row without temperature leaves the bin's temperature alone
  const RebinResult r = rebin_rows(rows, 30);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.last_time, 60);
  EXPECT_EQ(r.rows.time, (std::vector<std::int32_t>{30, 60}));
  EXPECT_EQ(r.rows.row(0)[0], 300);
  EXPECT_EQ(r.rows.row(1)[383], 300);
  EXPECT_EQ(r.rows.temperature, (std::vector<std::int32_t>{250, 250}));
}

TEST(Rebin, LastPartialBinIsScaledFrom75PercentElseDropped) {
  const RebinResult up = rebin_rows(make_rows(minutes(1, 115), 10), 30);
  ASSERT_EQ(up.rows.size(), 4u);
  EXPECT_EQ(up.last_time, 120);
  const RebinResult reference = reference_rebin(make_rows(minutes(1, 115), 10), 30);
  EXPECT_EQ(up.rows.counts, reference.rows.counts);
  // The fourth bin holds 25 minutes of 10 (about 250) times 1 + 16.67 / 100.
  EXPECT_NEAR(up.rows.row(3)[0], 250 * (1 + (100 - 2500.0 / 30) / 100), 3);
  EXPECT_GT(up.rows.row(3)[0], 285);

  const RebinResult dropped = rebin_rows(make_rows(minutes(1, 110), 10), 30);
  EXPECT_EQ(dropped.rows.size(), 3u);
  EXPECT_EQ(dropped.last_time, 90);
  EXPECT_EQ(dropped.rows.time.back(), 90);
}

// Minutes of 10 counts in bins of 20 minutes, around the 75 % boundary of the last bin. The
// spreading's 0.02-minute steps leave a closing bin a little short of its whole count (199 of
// 200, 149 of 150 for 15 minutes) before the scaling.
TEST(Rebin, PartialLastBinBoundary) {
  struct Case {
    int last_minute;
    std::size_t rows;
    std::int32_t last_time;
    std::int32_t last_count;
  } cases[] = {
      {75, 4, 80, 186}, // exactly 75 %: scaled by 1.25
      {79, 4, 80, 198}, // 95 %: scaled by 1.05
      {80, 4, 80, 199}, // no partial bin
      {74, 3, 60, 200}, // 70 %: dropped
  };
  for (const Case& c : cases) {
    const ActivityRows rows = make_rows(minutes(1, c.last_minute), 10);
    const RebinResult r = rebin_rows(rows, 20);
    ASSERT_EQ(r.rows.size(), c.rows) << c.last_minute;
    EXPECT_EQ(r.last_time, c.last_time) << c.last_minute;
    EXPECT_EQ(r.rows.time.back(), c.last_time) << c.last_minute;
    EXPECT_EQ(r.rows.row(c.rows - 1)[0], c.last_count) << c.last_minute;
    EXPECT_EQ(r.rows.counts, reference_rebin(rows, 20).rows.counts) << c.last_minute;
  }
}

TEST(Rebin, TwentyMinutesWithBin60AreReportedAt20) {
  ActivityRows rows = make_rows(minutes(1, 20), 3);
  const int bin = adjust_report_bin(60, rows.last_time());
  const RebinResult r = rebin_rows(rows, bin);
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows.time[0], 20);
  EXPECT_EQ(r.rows.row(0)[7], 60);
}

TEST(Rebin, NoBinFromAnEmptyOrTooShortRecording) {
  EXPECT_FALSE(rebin_rows(ActivityRows{}, 30).ok());
  EXPECT_FALSE(rebin_rows(make_rows({0}, 5), 30).ok());
  EXPECT_FALSE(rebin_rows(make_rows({10}, 5), 30).ok()) << "10 / 30 rounds to no bin";
}

TEST(Rebin, IrregularRowsGoWholeIntoTheBinOfTheirTime) {
  // Steps of 1 minute, then a gap of 10: assignment instead of spreading.
  const ActivityRows rows = make_rows({1, 2, 3, 13, 14, 15, 16, 17, 18, 19, 20}, 7);
  ASSERT_TRUE(rows_irregular(rows));
  EXPECT_FALSE(rows_irregular(make_rows(minutes(1, 20), 7)));
  const RebinResult r = rebin_rows(rows, 10);
  const RebinResult reference = reference_rebin(rows, 10);
  EXPECT_EQ(r.rows.counts, reference.rows.counts);
  EXPECT_EQ(r.rows.time, reference.rows.time);
  ASSERT_EQ(r.rows.size(), 2u);
  // A row joins the current bin before its time moves the bin on: 1, 2, 3 and 13 fill the first.
  EXPECT_EQ(r.rows.row(0)[0], 7 * 4);
  EXPECT_EQ(r.rows.row(1)[0], 7 * 7);
}

TEST(Rebin, SameNumbersAsTheChannelByChannelLoop) {
  std::mt19937 random(12345);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 1 + static_cast<int>(random() % 200);
    std::vector<std::int32_t> times;
    std::int32_t t = static_cast<std::int32_t>(random() % 3);
    const bool gaps = trial % 3 == 0;
    for (int i = 0; i < n; ++i) {
      t += gaps && random() % 10 == 0 ? 1 + static_cast<int>(random() % 30) : 1;
      times.push_back(t);
    }
    ActivityRows rows = make_rows(times, 0, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      rows.temperature[r] = static_cast<std::int32_t>(random() % 3 == 0 ? 0 : 200 + random() % 100);
      for (int c = 0; c < kChannels; ++c)
        rows.row(r)[c] = static_cast<std::int32_t>(random() % (c % 7 == 0 ? 2 : 400));
    }
    const int bins[] = {2, 5, 7, 15, 30, 60, 120};
    const int bin = bins[trial % 7];
    const RebinResult fast = rebin_rows(rows, bin);
    const RebinResult slow = reference_rebin(rows, bin);
    ASSERT_EQ(fast.ok(), slow.ok()) << "trial " << trial;
    EXPECT_EQ(fast.last_time, slow.last_time) << "trial " << trial;
    EXPECT_EQ(fast.rows.time, slow.rows.time) << "trial " << trial;
    EXPECT_EQ(fast.rows.temperature, slow.rows.temperature) << "trial " << trial;
    EXPECT_EQ(fast.rows.counts, slow.rows.counts) << "trial " << trial;
  }
}

} // namespace
} // namespace kestrova::reports
