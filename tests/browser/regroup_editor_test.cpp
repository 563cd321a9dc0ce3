// The group re-assignment editor of a recorded acquisition: editing on its plate, the saved
// files and their backups, a save that fails at any step, and the report of a regrouped
// acquisition.

#include <gtest/gtest.h>

#include <sstream>

#include "browser/regroup_editor.hpp"
#include "common/event_pump.hpp"
#include "reports/generate_report.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::FakeCanvas;
using kestrova::testing::FakeClock;
using kestrova::testing::FakeDialogs;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;
using kestrova::testing::write_file;

std::pair<double, double> centre(const store::PlateGeometry& g, int row, int column) {
  const auto r = setup_editor::well_rect(g, row, column);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Calls of one kind ending with `tail`.
int drawn(const FakeCanvas& canvas, std::string_view kind, std::string_view tail) {
  return static_cast<int>(
      std::count_if(canvas.calls.begin(), canvas.calls.end(),
                    [&](const auto& c) { return c.starts_with(kind) && c.ends_with(tail); }));
}

TEST(BackupStamp, TwoDigitYearDayOfYearMonthDayHourMinute) {
  struct Case {
    common::CivilTime time;
    std::string stamp;
  };
  const Case cases[] = {
      {{2024, 3, 5, 14, 7, 33, 0}, "246503051407"},    {{2026, 1, 1, 0, 0, 0, 0}, "26101010000"},
      {{2024, 12, 31, 23, 59, 0, 0}, "2436612312359"}, // leap year
      {{2025, 12, 31, 9, 5, 0, 0}, "2536512310905"},   {{2009, 2, 1, 10, 0, 0, 0}, "093202011000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(backup_stamp(common::from_civil(c.time)), c.stamp);
}

// A 96-well acquisition (one beam per well) with wells A1 and B1 in group 2 and C1's channel
// disabled; the other channels free.
class RegroupTest : public ::testing::Test {
protected:
  static RegroupAcquisition acquisition() {
    RegroupAcquisition a;
    a.folder = "/nowhere";
    a.plate = *store::BuiltInPlateFormat("w96u");
    a.groups.channel_group.fill(store::kFreeGroup);
    a.groups.names.fill("Free");
    for (int well : {0, 1})
      a.groups.channel_group[static_cast<std::size_t>(a.plate.map.ChannelOfWell(well, 0))] = 2;
    a.channels.enabled[static_cast<std::size_t>(a.plate.map.ChannelOfWell(2, 0))] = false;
    return a;
  }
  void press(int row, int column, MouseButton b) {
    const auto [x, y] = centre(geometry(), row, column);
    editor.press(x, y, b);
  }
  void release(int row, int column, MouseButton b) {
    const auto [x, y] = centre(geometry(), row, column);
    editor.release(x, y, b);
  }
  void select_group(int group) {
    for (std::size_t i = 0; i < editor.group_entries().size(); ++i)
      if (editor.group_entries()[i].starts_with(fmt_group(group)))
        editor.select_entry(static_cast<int>(i));
    ASSERT_EQ(editor.current_group(), group);
  }
  static std::string fmt_group(int g) {
    char b[8];
    std::snprintf(b, sizeof b, "%03d_", g);
    return b;
  }
  static const store::PlateGeometry& geometry() {
    static const store::PlateGeometry g = store::BuiltInPlateFormat("w96u")->geometry;
    return g;
  }
  int group_of_well(int well) const {
    return editor.groups().channel_group[static_cast<std::size_t>(
        store::BuiltInPlateFormat("w96u")->map.ChannelOfWell(well, 0))];
  }
  RegroupEditor editor{acquisition()};
  FakeDialogs dialogs;
};

TEST_F(RegroupTest, OpeningOffersTheBlockSizesAndTheGroupsInUse) {
  ASSERT_EQ(editor.set_sizes().size(), 24u);
  EXPECT_EQ(editor.set_sizes().front(), "01x01 [RowsxColumn]");
  EXPECT_EQ(editor.set_sizes().back(), "08x12 [RowsxColumn]");
  EXPECT_EQ(editor.set_sizes()[static_cast<std::size_t>(editor.selected_set())],
            "04x01 [RowsxColumn]");
  // Group 2 in use: groups 0 to 3, group 0 selected; a used group named "Free" gets a name.
  EXPECT_EQ(editor.group_entries(),
            (std::vector<std::string>{"000_Free", "001_Free", "002_Group2", "003_Free"}));
  EXPECT_EQ(editor.current_group(), 0);
  select_group(2);
  EXPECT_EQ(editor.group_wells(), (std::vector<std::string>{"A1", "B1"}));
  // The disabled channel of C1 is never offered; the 93 other free wells are.
  const auto free = editor.free_channels();
  EXPECT_EQ(free.size(), 93u);
  EXPECT_EQ(free.front(), "D1.0");
  EXPECT_EQ(std::count(free.begin(), free.end(), "C1.0"), 0);
}

TEST_F(RegroupTest, MouseEditsFollowTheEditorsRules) {
  struct Step {
    std::string what;
    int group;                    // selected before the step
    std::pair<int, int> from, to; // (row, column) of press and release
    MouseButton button;
    std::vector<std::pair<int, int>> expected; // (well, group) after the step
  };
  const Step steps[] = {
      {"press on a well of group 2 with group 3 selected leaves it",
       3,
       {0, 0},
       {-1, -1},
       MouseButton::Left,
       {{0, 2}}},
      {"the release moves it to group 3", 3, {0, 0}, {0, 0}, MouseButton::Left, {{0, 3}, {1, 2}}},
      {"a drag takes the rectangle, the disabled channel stays out",
       1,
       {0, 1},
       {2, 2},
       MouseButton::Left,
       {{8, 1}, {9, 1}, {10, 1}, {16, 1}, {17, 1}, {18, 1}, {1, 2}, {2, -1}}},
      {"a right drag frees the rectangle",
       1,
       {0, 2},
       {1, 2},
       MouseButton::Right,
       {{16, -1}, {17, -1}, {18, 1}, {8, 1}}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    select_group(s.group);
    press(s.from.first, s.from.second, s.button);
    if (s.to.first >= 0) release(s.to.first, s.to.second, s.button);
    for (const auto& [well, group] : s.expected)
      EXPECT_EQ(group_of_well(well), group) << "well " << well;
  }
  // Groups 1, 2 and 3 in use: the list runs to group 4.
  EXPECT_EQ(
      editor.group_entries(),
      (std::vector<std::string>{"000_Free", "001_Group1", "002_Group2", "003_Group3", "004_Free"}));
  EXPECT_EQ(editor.current_group(), 1);
  EXPECT_EQ(editor.group_wells(), (std::vector<std::string>{"A2", "B2", "C2", "C3"}));

  // Beyond the plate nothing happens and no marks are drawn.
  const auto before = editor.groups();
  EXPECT_FALSE(editor.press(2440, 1640, MouseButton::Left));
  EXPECT_FALSE(editor.release(2440, 1640, MouseButton::Left));
  editor.move(2440, 1640);
  EXPECT_TRUE(editor.outside());
  EXPECT_EQ(editor.groups(), before);
  FakeCanvas canvas;
  editor.draw(canvas);
  EXPECT_EQ(drawn(canvas, "box", "(0,0,255) filled"), 0);
}

TEST_F(RegroupTest, TheMarksCoverTheRowsAndColumnsUnderThePointer) {
  const auto [x0, y0] = centre(geometry(), 1, 0);
  const auto [x1, y1] = centre(geometry(), 2, 2);
  editor.press(x0, y0, MouseButton::Left);
  EXPECT_TRUE(editor.move(x1, y1));
  EXPECT_FALSE(editor.move(x1 + 1, y1));
  FakeCanvas canvas;
  editor.draw(canvas);
  // Rows B..C along the left edge, columns 1..3 along the top.
  const auto b1 = setup_editor::well_rect(geometry(), 1, 0);
  const auto c3 = setup_editor::well_rect(geometry(), 2, 2);
  const auto fmt = [](double v) {
    std::ostringstream s;
    s << v;
    return s.str();
  };
  EXPECT_TRUE(canvas.contains("box " + fmt(b1.left - 4) + "," + fmt(b1.top) + "-" + fmt(b1.left) +
                              "," + fmt(c3.bottom) + " (0,0,255) filled"));
  const auto a1 = setup_editor::well_rect(geometry(), 0, 0);
  EXPECT_TRUE(canvas.contains("box " + fmt(a1.left) + "," + fmt(a1.top - 4) + "-" + fmt(c3.right) +
                              "," + fmt(a1.top) + " (0,0,255) filled"));
  EXPECT_EQ(drawn(canvas, "box", "(0,0,255) filled"), 2);
  // The browser's colours: red wells, blue beams in use, group 2's labels in red.
  EXPECT_EQ(drawn(canvas, "box", "(255,0,0)"), 96);
  EXPECT_TRUE(canvas.contains("circle 50,50 r5 (0,0,255) filled"));
  EXPECT_EQ(drawn(canvas, "text", "\"G2\" (255,0,0) 10pt"), 2);
}

TEST_F(RegroupTest, AutoLayoutRenameAndClear) {
  editor.select_set(9); // 02x03
  ASSERT_EQ(editor.set_sizes()[9], "02x03 [RowsxColumn]");
  editor.auto_layout();
  // The built-in plate's largest well number is 96: 96 / 6 = 16 gives blocks 0..16, the last
  // one finding no well left but named all the same. Group 0 is selected.
  EXPECT_EQ(editor.current_group(), 0);
  EXPECT_EQ(editor.group_entries().size(), 17u);
  EXPECT_EQ(editor.group_entries()[15], "015_Group15");
  EXPECT_EQ(editor.group_entries()[16], "016_Group16");
  EXPECT_EQ(editor.group_wells(), (std::vector<std::string>{"A1", "B1", "A2", "B2", "A3", "B3"}));
  // C1's channel is disabled: block 1 starts at C1 and holds the five others; block 2 starts
  // past it rather than at C1 again.
  select_group(1);
  EXPECT_EQ(editor.group_wells(), (std::vector<std::string>{"D1", "C2", "D2", "C3", "D3"}));
  select_group(2);
  EXPECT_EQ(editor.group_wells(), (std::vector<std::string>{"E1", "F1", "E2", "F2", "E3", "F3"}));
  select_group(16);
  EXPECT_TRUE(editor.group_wells().empty());
  select_group(15);
  EXPECT_EQ(editor.group_wells(),
            (std::vector<std::string>{"G10", "H10", "G11", "H11", "G12", "H12"}));

  struct Rename {
    std::optional<std::string> answer;
    std::string entry;
  };
  const Rename renames[] = {
      {"Treated", "015_Treated"}, {"", "015_Treated"}, {std::nullopt, "015_Treated"}};
  for (const Rename& r : renames) {
    dialogs.script_input(r.answer);
    editor.rename(dialogs);
    EXPECT_EQ(editor.group_entries()[static_cast<std::size_t>(editor.selected_entry())], r.entry);
  }
  EXPECT_EQ(dialogs.texts().front(), "Enter New Group (015) Name");

  dialogs.script_answer(common::Answer::No);
  EXPECT_FALSE(editor.clear(dialogs));
  EXPECT_EQ(editor.groups().names[15], "Treated");
  dialogs.script_answer(common::Answer::Yes);
  EXPECT_TRUE(editor.clear(dialogs));
  EXPECT_EQ(dialogs.messages().back(), "Do you like to Clear Group lists?");
  EXPECT_EQ(editor.group_entries(), std::vector<std::string>{"000_Free"});
  EXPECT_EQ(std::count(editor.groups().channel_group.begin(), editor.groups().channel_group.end(),
                       store::kFreeGroup),
            385);
}

} // namespace
} // namespace kestrova::browser
