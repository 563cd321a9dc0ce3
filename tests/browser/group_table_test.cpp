// Group activity tables: bins, averages per channel, the free row, the kinetic group over tagged
// acquisitions and the relative values.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "browser/group_table.hpp"
#include "group_table_reference.hpp"
#include "plot_fixture.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using testing::column_groups;
using testing::counts_bytes;

auto every_minute = [](int r) { return r; };
auto ones = [](int, int) -> std::int16_t { return 1; };

TEST(GroupTable, FiftyNineMinutesInBinsOfFiveGiveThirteenColumnsTheLastEmpty) {
  const std::string bytes = counts_bytes(60, every_minute, ones);
  const GroupActivity t = group_activity_from_bytes(bytes, column_groups(2), 5, true);
  ASSERT_EQ(t.columns, 13);
  EXPECT_EQ(t.bin, 5);
  EXPECT_EQ(t.cell(0, 1), 5);  // minutes 0..4
  EXPECT_EQ(t.cell(0, 2), 5);  // minutes 5..9
  EXPECT_EQ(t.cell(1, 12), 5); // minutes 55..59
  EXPECT_EQ(t.cell(0, 13), 0);
  EXPECT_EQ(t.maximum, 5);
}

TEST(GroupTable, AveragesPerChannelRoundHalfToEvenAndTheFreeRowKeepsItsSum) {
  // Groups 0 and 1 have 16 channels each; the other channels are free.
  const std::string bytes = counts_bytes(1, every_minute, [](int, int k) -> std::int16_t {
    switch (k) {
    case 0:
      return 40; // group 0: 40 / 16 = 2.5
    case 16:
      return 56; // group 1: 56 / 16 = 3.5
    case 100:
      return 7; // free
    case 200:
      return 5; // free
    default:
      return 0;
    }
  });
  const GroupActivity t = group_activity_from_bytes(bytes, column_groups(2), 30, false);
  ASSERT_EQ(t.columns, 1);
  EXPECT_EQ(t.cell(0, 1), 2);
  EXPECT_EQ(t.cell(1, 1), 4);
  EXPECT_EQ(t.cell(kFreeRow, 1), 12);
  EXPECT_EQ(t.cell(5, 1), 0); // a group without channels
  EXPECT_EQ(t.maximum, 4);    // 3.5, the largest unrounded average, rounded
}

TEST(GroupTable, NotTimeResolvedPutsEveryRecordInOneColumn) {
  const std::string bytes = counts_bytes(
      100, [](int r) { return 3 * r; }, ones);
  const GroupActivity t = group_activity_from_bytes(bytes, column_groups(1), 5, false);
  ASSERT_EQ(t.columns, 1);
  EXPECT_EQ(t.cell(0, 1), 100);
}

TEST(GroupTable, RecordsBeyondTheLastColumnStayInIt) {
  // 2 minutes in bins of 5: one column, although the record at the largest time closes it.
  const std::string short_run = counts_bytes(3, every_minute, ones);
  const GroupActivity a = group_activity_from_bytes(short_run, column_groups(1), 5, true);
  ASSERT_EQ(a.columns, 1);
  EXPECT_EQ(a.cell(0, 1), 3);
  // 12 minutes make 3 columns; the first record at minute 12 closes the third, and a second
  // record of that minute still belongs to it.
  const std::vector<int> times = {0, 4, 9, 12, 12};
  const std::string repeated = counts_bytes(
      5, [&](int r) { return times[r]; }, ones);
  const GroupActivity b = group_activity_from_bytes(repeated, column_groups(1), 5, true);
  ASSERT_EQ(b.columns, 3);
  EXPECT_EQ(b.cell(0, 1), 2);
  EXPECT_EQ(b.cell(0, 2), 1);
  EXPECT_EQ(b.cell(0, 3), 2);
}

TEST(GroupTable, ATornRecordAtTheEndIsLeftOutAndAllZeroCountsGiveMaximumZero) {
  std::string bytes = counts_bytes(10, every_minute, [](int, int) -> std::int16_t { return 0; });
  bytes += std::string(100, '\x7f');
  const GroupActivity t = group_activity_from_bytes(bytes, column_groups(3), 5, true);
  EXPECT_EQ(t.columns, 3); // 9 / 5 -> 2, + 1
  EXPECT_EQ(t.maximum, 0);
}

TEST(GroupTable, AFileWithATimeThatCannotBelongToTheRecordingIsRefused) {
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  const fs::path folder = dir / "20210316_1405";
  fs::create_directories(folder);
  const std::vector<int> times = {0, 1, 2, 2147483647};
  kestrova::testing::write_file(folder / "counts.bin",
                                counts_bytes(
                                    4, [&](int r) { return times[r]; }, ones));
  EXPECT_FALSE(group_activity(folder, column_groups(1), 5, true, dialogs));
  ASSERT_EQ(dialogs.texts().size(), 1u);
  EXPECT_EQ(dialogs.texts()[0].rfind("Activity file " + (folder / "counts.bin").string() +
                                         " is damaged: record 3 has the time 2147483647 min, "
                                         "beyond the 34207 min",
                                     0),
            0u)
      << dialogs.texts()[0];
}

TEST(GroupTable, OnePassMatchesTheTwoPassWalkWhateverTheOrderOfTimes) {
  // Times that rise, repeat, jump, fall back (a clock set back) and peak early or late: the
  // table read in one pass must equal the literal walk, including the record at the largest time.
  std::mt19937 rng(3);
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  for (int trial = 0; trial < 60; ++trial) {
    const int records = 1 + static_cast<int>(rng() % 80);
    std::vector<int> times;
    int t = static_cast<int>(rng() % 5);
    for (int r = 0; r < records; ++r) {
      switch (rng() % 6) {
      case 0:
        break; // repeat
      case 1:
        t += 5 + static_cast<int>(rng() % 20);
        break; // gap
      case 2:
        t = std::max(0, t - static_cast<int>(rng() % 30));
        break; // back
      default:
        t += 1;
      }
      times.push_back(t);
    }
    const std::string bytes = counts_bytes(
        records, [&](int r) { return times[r]; },
        [&](int r, int k) -> std::int16_t { return static_cast<std::int16_t>((r * 7 + k) % 13); });
    const int bin = 1 + static_cast<int>(rng() % 12);
    const ChannelGroups groups = column_groups(1 + trial % 24);
    for (bool resolved : {true, false}) {
      const GroupActivity expected = testing::literal_group_activity(bytes, groups, bin, resolved);
      const GroupActivity got = group_activity_from_bytes(bytes, groups, bin, resolved);
      ASSERT_EQ(got.columns, expected.columns) << trial;
      EXPECT_EQ(got.cells, expected.cells) << trial;
      EXPECT_EQ(got.maximum, expected.maximum) << trial;
    }
    // The same from the file, whose reader refuses a clock set back (a damaged file).
    kestrova::testing::write_file(dir.path() / "counts.bin", bytes);
    const auto from_file = group_activity(dir.path(), groups, bin, true, dialogs);
    ASSERT_EQ(from_file.has_value(), std::is_sorted(times.begin(), times.end())) << trial;
    if (!from_file) continue;
    EXPECT_EQ(from_file->cells, testing::literal_group_activity(bytes, groups, bin, true).cells)
        << trial;
  }
}

TEST(GroupTable, TimesRunOnAcrossMidnight) {
  // Time stamps from 1430 that restart at 0 after 1439 run on to 1449. Every record lies past
  // its bin's end, so each one closes a column.
  const std::string bytes = counts_bytes(
      20, [](int r) { return (1430 + r) % 1440; }, ones);
  const GroupActivity t = group_activity_from_bytes(bytes, column_groups(1), 5, true);
  ASSERT_EQ(t.columns, 291); // 1449 / 5 -> 290, + 1 (not 1439 / 5 -> 288, + 1)
  EXPECT_EQ(t.cell(0, 1), 1);
  EXPECT_EQ(t.cell(0, 20), 1);
  EXPECT_EQ(t.cell(0, 21), 0);
}

TEST(GroupTable, AMissingCountsFileIsToldAndGivesNothing) {
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  EXPECT_FALSE(group_activity(dir.path(), column_groups(1), 5, true, dialogs));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Activity file not Found"});
}

TEST(GroupTable, ChannelTotalsSumEveryRecord) {
  const std::string bytes = counts_bytes(
      4, every_minute, [](int r, int k) -> std::int16_t { return k == 7 ? 30000 : r; });
  const auto totals = channel_totals(bytes);
  EXPECT_EQ(totals[7], 120000); // beyond 16 bits
  EXPECT_EQ(totals[0], 0 + 1 + 2 + 3);
}

class KineticTest : public ::testing::Test {
protected:
  void add(const std::string& folder, std::int16_t count) {
    testing::write_counts(dir.path() / folder, 3, every_minute, [=](int, int) { return count; });
  }
  kestrova::testing::TempDir dir;
  kestrova::testing::FakeDialogs dialogs;
  kestrova::testing::FakeClock clock;
};

TEST_F(KineticTest, AcquisitionsAreOrderedByTheDateOfTheirName) {
  add("20210318_0900", 3);
  add("20210316_1405", 1);
  add("20210316_1405_s2", 2);
  const auto k = kinetic_activity(dir.path(), "20210318_0900 20210316_1405  20210316_1405_s2",
                                  column_groups(2), clock, dialogs);
  ASSERT_TRUE(k);
  EXPECT_TRUE(dialogs.messages().empty());
  EXPECT_EQ(k->folders,
            (std::vector<std::string>{"20210316_1405", "20210316_1405_s2", "20210318_0900"}));
  EXPECT_EQ(k->acquisition_list, " 20210316_1405 20210316_1405_s2 20210318_0900");
  ASSERT_EQ(k->table.columns, 3);
  EXPECT_EQ(k->table.cell(0, 1), 3); // three records of 1
  EXPECT_EQ(k->table.cell(1, 2), 6);
  EXPECT_EQ(k->table.cell(0, 3), 9);
  EXPECT_EQ(k->table.maximum, 9);
  EXPECT_EQ(k->minutes_of(3), 2 * 1440 - 305);
  EXPECT_DOUBLE_EQ(k->span_minutes(), 2 * 1440 - 305);
}

TEST_F(KineticTest, AMissingAcquisitionIsToldAndItsColumnStaysZero) {
  add("20210316_1405", 1);
  const auto k =
      kinetic_activity(dir.path(), "20210316_1405 20210317_1405", column_groups(1), clock, dialogs);
  ASSERT_TRUE(k);
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Activity file not Found into " +
                                                         (dir.path() / "20210317_1405").string()});
  EXPECT_EQ(k->table.cell(0, 2), 0);
  EXPECT_EQ(k->table.cell(0, 1), 3);
}

TEST_F(KineticTest, NinetyNineTaggedAcquisitionsAreRefused) {
  std::string list;
  for (int i = 0; i < 99; ++i)
    list += "202101" + std::to_string(10 + i % 18) + "_1000 ";
  EXPECT_FALSE(kinetic_activity(dir.path(), list, column_groups(1), clock, dialogs));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"To many Tagged Sub_Projects! (max=99)"});
}

TEST(KineticDate, NamesThatAreNoDateTakeThePresentTime) {
  const common::LocalTime now = common::from_civil({2026, 5, 1, 12, 0, 0, 0});
  EXPECT_EQ(acquisition_date("2021", now), now);
  EXPECT_EQ(acquisition_date("abcdefgh_ijkl", now), now);
  EXPECT_EQ(acquisition_date("20210316_1405_s3", now),
            common::from_civil({2021, 3, 16, 14, 5, 0, 0}));
}

TEST(Relativize, ListedGroupsBecomePercentagesOfTheirFirstColumn) {
  GroupActivity t;
  t.reset(3);
  t.cell(0, 1) = 20, t.cell(0, 2) = 30, t.cell(0, 3) = 50;
  t.cell(1, 1) = 0, t.cell(1, 2) = 40, t.cell(1, 3) = 10;
  t.cell(2, 1) = 10, t.cell(2, 2) = 99; // not listed
  const std::vector<int> listed = {0, 1, 1};
  relativize(t, listed);
  EXPECT_EQ(t.cell(0, 1), 100);
  EXPECT_EQ(t.cell(0, 2), 150);
  EXPECT_EQ(t.cell(0, 3), 250);
  EXPECT_EQ(t.cell(1, 2), 0);
  EXPECT_EQ(t.cell(2, 2), 99);
  EXPECT_EQ(t.maximum, 250);
}

} // namespace
} // namespace kestrova::browser
