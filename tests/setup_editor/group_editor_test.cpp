#include "setup_editor/group_editor.hpp"

#include <gtest/gtest.h>

#include "setup_editor/annotations.hpp"
#include "setup_editor/plate_change.hpp"
#include "setup_editor/plate_map.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::setup_editor {
namespace {

using testing::FakeCanvas;
using testing::FakeDialogs;

// World point in the middle of the well at (row, column) of the plate.
std::pair<double, double> centre(const store::PlateGeometry& g, int row, int column) {
  const WorldRect r = well_rect(g, row, column);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A w96f project with every channel free and the editor ready for mouse input.
class GroupEditorTest : public ::testing::Test {
protected:
  GroupEditorTest() {
    project_.plate = *store::BuiltInPlateFormat("w96f");
    editor_.clear_all();
    editor_.refresh();
    editor_.set_ready(true);
  }
  int group_of(int channel) const { return project_.groups.main().channel_group[channel]; }
  void click(int row, int column, MouseButton b) {
    const auto [x, y] = centre(project_.plate.geometry, row, column);
    editor_.press(x, y, b);
    editor_.release(x, y, b, editor_.current_group());
  }

  store::ProjectState project_;
  GroupEditor editor_{project_};
};

TEST_F(GroupEditorTest, ClickOnWellB1AssignsAndFreesBothBeams) {
  const auto [x, y] = centre(project_.plate.geometry, 1, 0);
  EXPECT_EQ(editor_.press(x, y, MouseButton::Left), "1");
  EXPECT_EQ(group_of(2), 0);
  EXPECT_EQ(group_of(18), 0);
  EXPECT_TRUE(editor_.release(x, y, MouseButton::Left, 0));
  click(1, 0, MouseButton::Right);
  EXPECT_EQ(group_of(2), -1);
  EXPECT_EQ(group_of(18), -1);
}

TEST_F(GroupEditorTest, PressTakesOnlyFreeEnabledBeamsButDragTakesEveryEnabledBeam) {
  project_.groups.main().channel_group[18] = 5;
  project_.channels.enabled[2] = false;
  const auto [x, y] = centre(project_.plate.geometry, 1, 0);
  editor_.press(x, y, MouseButton::Left);
  EXPECT_EQ(group_of(2), -1); // disabled
  EXPECT_EQ(group_of(18), 5); // in another group
  editor_.release(x, y, MouseButton::Left, 0);
  EXPECT_EQ(group_of(2), -1);
  EXPECT_EQ(group_of(18), 0);
}

TEST_F(GroupEditorTest, DragFromA1ToB2AssignsTheFourWells) {
  project_.groups.main().channel_group[16] = 7; // A1, position 1
  const auto [x1, y1] = centre(project_.plate.geometry, 0, 0);
  const auto [x2, y2] = centre(project_.plate.geometry, 1, 1);
  editor_.press(x1, y1, MouseButton::Left);
  EXPECT_EQ(editor_.move(x2, y2), "B2");
  ASSERT_TRUE(editor_.rubber_band());
  EXPECT_EQ(editor_.rubber_band()->current.well, 9);
  editor_.release(x2, y2, MouseButton::Left, 3);
  // A1: 0, 16; B1: 2, 18; A2: 32, 48; B2: 34, 50.
  for (int c : {0, 16, 2, 18, 32, 48, 34, 50})
    EXPECT_EQ(group_of(c), 3) << c;
  EXPECT_EQ(group_of(4), -1); // C1 is outside the rectangle
  EXPECT_FALSE(editor_.dragging());
  EXPECT_FALSE(editor_.rubber_band());
}

TEST_F(GroupEditorTest, MouseIsIgnoredBeforeReadyAndBeyondThePlate) {
  editor_.set_ready(false);
  const auto [x, y] = centre(project_.plate.geometry, 0, 0);
  EXPECT_FALSE(editor_.press(x, y, MouseButton::Left));
  EXPECT_EQ(group_of(0), -1);
  editor_.set_ready(true);
  EXPECT_FALSE(editor_.press(-90, -90, MouseButton::Left));
  EXPECT_TRUE(editor_.outside());
  EXPECT_FALSE(editor_.press(x, y, MouseButton::Other));
  // A drag released beyond the plate assigns nothing and leaves no band behind.
  editor_.press(x, y, MouseButton::Left);
  project_.groups.main().channel_group[0] = -1;
  EXPECT_FALSE(editor_.release(2400, 1600, MouseButton::Left, 0));
  EXPECT_FALSE(editor_.dragging());
  EXPECT_EQ(group_of(2), -1);
}

TEST(PlateMap, HitTestingFollowsOffsetsAndPitches) {
  const store::PlateGeometry g = store::BuiltInPlateFormat("w96f")->geometry; // row offset -0.5
  struct Case {
    double x, y;
    WellCell cell;
    bool over;
  };
  const Case cases[] = {
      {10, -40, {0, 0, 0}, true},   {199, 149, {0, 0, 0}, true},
      {200, 150, {1, 1, 9}, true},  {2399, 1549, {7, 11, 95}, true},
      {-50, -80, {0, 0, 0}, false}, {2410, 1600, {7, 11, 95}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(well_at(g, c.x, c.y), c.cell);
    EXPECT_EQ(over_plate(g, c.x, c.y), c.over);
  }
  EXPECT_EQ(plate_world(g), (WorldRect{-100, -150, 2425, 1625}));
  // A plate larger than the beam grid is shown whole, 20 units beyond its last well.
  store::PlateGeometry wide = g;
  wide.column_pitch = wide.row_pitch = 9;
  EXPECT_EQ(plate_world(wide), (WorldRect{-100, -150, 12 * 900 + 20, -50 + 8 * 900 + 20}));
}

TEST_F(GroupEditorTest, GroupListShowsEveryNumberUpToTheNextFreeOne) {
  project_.groups.main().channel_group[0] = 0;
  project_.groups.main().channel_group[40] = 2;
  project_.groups.main().names[0] = "Control";
  project_.groups.main().names[2] = "Free"; // used: renamed on refresh
  editor_.refresh();
  EXPECT_EQ(editor_.group_entries(),
            (std::vector<std::string>{"000_Control", "001_Free", "002_Group2", "003_Free"}));
  editor_.select_entry(2);
  EXPECT_EQ(editor_.current_group(), 2);
  project_.groups.main().channel_group[40] = -1;
  editor_.refresh(); // group 2 is no longer listed: the first entry is selected
  EXPECT_EQ(editor_.group_entries().size(), 2u);
  EXPECT_EQ(editor_.current_group(), 0);
}

TEST_F(GroupEditorTest, WellListsAndMovingWellsBetweenThem) {
  project_.channels.enabled[52] = false;
  // Free list: the enabled beams in a well, in channel order; C2 is well 10 (channels 36, 52).
  const auto free = editor_.free_wells();
  EXPECT_EQ(free.front(), "A1.0");
  EXPECT_EQ(free[1], "B1.0");
  EXPECT_EQ(std::count(free.begin(), free.end(), "C2.1"), 0);
  ASSERT_TRUE(editor_.add_well("C2.0"));
  EXPECT_EQ(group_of(36), 0);
  EXPECT_EQ(group_of(52), 0); // moved too, whatever its enabled state
  EXPECT_EQ(editor_.group_wells(), std::vector<std::string>{"C2.0"});
  ASSERT_TRUE(editor_.free_well("C2.0"));
  EXPECT_EQ(group_of(36), -1);
  EXPECT_EQ(group_of(52), -1);
  EXPECT_FALSE(editor_.add_well("Z9.0"));
  EXPECT_FALSE(editor_.add_well("A13.0"));
  EXPECT_FALSE(editor_.add_well(""));
  EXPECT_EQ(kept_selection(5, 3), 2);
  EXPECT_EQ(kept_selection(1, 3), 1);
  EXPECT_EQ(kept_selection(0, 0), -1);
}

TEST(GroupEditorMap, WellWithFewerBeamsDoesNotMoveChannelZero) {
  // A map whose greatest position is 1 while well 1 has a single beam: its table entry for
  // position 1 holds 0, which is not a beam of that well.
  store::ProjectState project;
  project.plate = *store::BuiltInPlateFormat("w96u");
  project.plate.map.well_of_channel[1] = 0;
  project.plate.map.position_of_channel[1] = 1;
  project.plate.map.greatest_position = 1;
  project.plate.map.rebuild_well_channel_table();
  project.groups.main().channel_group.fill(-1);
  GroupEditor editor(project);
  editor.refresh();
  ASSERT_TRUE(editor.add_well("B1.0"));
  EXPECT_EQ(project.groups.main().channel_group[2], 0);
  EXPECT_EQ(project.groups.main().channel_group[0], -1);
}

TEST_F(GroupEditorTest, RenameAndClearGroup) {
  FakeDialogs dialogs;
  project_.groups.main().channel_group[0] = 1;
  editor_.refresh();
  editor_.select_entry(1);
  dialogs.script_input(std::string("Dose \"high\"\nday 2"));
  EXPECT_TRUE(editor_.rename_current(dialogs));
  EXPECT_EQ(dialogs.transcript().back().text, "Enter New Group (001) Name");
  EXPECT_EQ(dialogs.transcript().back().default_text, "Group1"); // renamed when listed
  EXPECT_EQ(editor_.group_entries()[1], "001_Dose 'high' day 2");
  dialogs.script_input(std::string());
  EXPECT_FALSE(editor_.rename_current(dialogs));
  EXPECT_EQ(project_.groups.main().names[1], "Dose 'high' day 2");

  dialogs.script_answer(common::Answer::No);
  EXPECT_FALSE(editor_.clear_current(dialogs));
  EXPECT_EQ(dialogs.messages().back(), "Clear Group #001?");
  EXPECT_EQ(group_of(0), 1);
  dialogs.script_answer(common::Answer::Yes);
  EXPECT_TRUE(editor_.clear_current(dialogs));
  EXPECT_EQ(group_of(0), -1);
  EXPECT_EQ(project_.groups.main().names[1], "Free");
}

TEST_F(GroupEditorTest, SetSizesOfA96WellPlate) {
  const auto sizes = set_sizes(project_.plate.geometry);
  ASSERT_EQ(sizes.size(), 24u); // rows 1, 2, 4, 8 by columns 1, 2, 3, 4, 6, 12
  EXPECT_EQ(sizes[0], "01x01 [RowsxColumn]");
  EXPECT_EQ(sizes[2], "04x01 [RowsxColumn]");
  EXPECT_EQ(sizes[9], "02x03 [RowsxColumn]");
  EXPECT_EQ(sizes.back(), "08x12 [RowsxColumn]");
  EXPECT_EQ(default_set_index(sizes.size()), 2);
  EXPECT_EQ(default_set_index(2), 0);
  EXPECT_EQ(parse_set_size("02x03 [RowsxColumn]"), (std::pair{2, 3}));
  EXPECT_FALSE(parse_set_size("xx"));
}

TEST_F(GroupEditorTest, AutoArrangeTwoByThreeBlocksInColumnOrder) {
  project_.groups.main().channel_group[100] = 9;
  editor_.auto_arrange(2, 3);
  // Block 0: A1 B1 A2 B2 A3 B3; block 1 starts at C1; block 4 at A4 (well 24).
  const auto group_of_well = [&](int well) {
    return group_of(project_.plate.map.ChannelOfWell(well, 0));
  };
  for (int w : {0, 1, 8, 9, 16, 17})
    EXPECT_EQ(group_of_well(w), 0) << w;
  for (int w : {2, 3, 10, 11, 18, 19})
    EXPECT_EQ(group_of_well(w), 1) << w;
  EXPECT_EQ(group_of_well(6), 3);
  EXPECT_EQ(group_of_well(24), 4);
  EXPECT_EQ(group_of_well(95), 15);
  EXPECT_EQ(group_of(project_.plate.map.ChannelOfWell(95, 1)), 15);
  EXPECT_EQ(project_.groups.main().names[4], "Group4");
  EXPECT_EQ(group_of(1), -1); // beams between wells stay free
}

TEST_F(GroupEditorTest, PlateDrawingShowsBeamsLabelsCaptionsAndBand) {
  project_.channels.enabled[2] = false;
  project_.groups.main().channel_group[34] = 3; // B2, position 0
  FakeCanvas canvas;
  draw_plate(canvas, project_);
  EXPECT_EQ(canvas.calls.front(), "world -100,-150-2425,1625");
  EXPECT_TRUE(canvas.contains("box 0,-50-200,150 (0,0,255)")); // well A1
  EXPECT_TRUE(canvas.contains("circle 50,50 r5 (200,200,200) filled"));
  EXPECT_TRUE(canvas.contains("circle 50,250 r5 (255,255,0) filled")); // disabled
  EXPECT_TRUE(canvas.contains("circle 50,150 r5 (255,255,0) filled")); // between wells
  EXPECT_TRUE(canvas.contains("text 225,195 \"G3\" (255,150,0) 10pt"));
  EXPECT_EQ(canvas.count("text"), 1 + 12 + 8);
  EXPECT_EQ(canvas.count("circle"), 384);
  EXPECT_EQ(canvas.count("box"), 96);
  FakeCanvas banded;
  draw_plate(banded, project_, RubberBand{{0, 0, 0}, {1, 1, 9}});
  EXPECT_TRUE(banded.contains("box 0,-50-400,350 (255,0,255)"));
  EXPECT_EQ(group_colour(0), (common::Rgb{0, 128, 0}));
  EXPECT_EQ(group_colour(5), (common::Rgb{0, 0, 128}));
  EXPECT_EQ(group_colour(6), (common::Rgb{255, 0, 0}));
}

TEST(AnnotationsTest, FillGlobalsAndScrolling) {
  Annotations a;
  std::array<std::string, store::kGroupCount> names;
  names.fill("Free");
  names[0] = "Control";
  names[2] = "Dose";
  a.fill(AnnotationKind::Strain, "CB1370", names);
  EXPECT_EQ(a.group(0).strain, "CB1370");
  EXPECT_EQ(a.group(1).strain, "");
  EXPECT_EQ(a.group(2).strain, "CB1370");
  EXPECT_FALSE(a.global(AnnotationKind::Strain)->checked);
  EXPECT_EQ(a.global(AnnotationKind::Strain)->value, "");
  a.check_global(AnnotationKind::Strain, true);
  EXPECT_EQ(a.global(AnnotationKind::Strain)->value, "N2");
  a.set_global(AnnotationKind::Buffer, "S basal");
  EXPECT_EQ(a.global(AnnotationKind::Buffer)->value, "S basal");
  EXPECT_EQ(a.global(AnnotationKind::Compound), nullptr);
  a.fill(AnnotationKind::Compound, "Aldicarb", names);
  EXPECT_EQ(a.group(2).compound, "Aldicarb");

  for (int i = 0; i < 400; ++i)
    a.scroll_down();
  EXPECT_EQ(a.first_shown(), 378);
  a.set_row(5, AnnotationKind::Concentration, "10 mM");
  EXPECT_EQ(a.group(383).concentration, "10 mM");
  for (int i = 0; i < 400; ++i)
    a.scroll_up();
  EXPECT_EQ(a.first_shown(), 0);
}

} // namespace
} // namespace kestrova::setup_editor

namespace kestrova::setup_editor {
namespace {

TEST(PlateChangeTest, MissingFileDeclinedAndLoaded) {
  testing::TempDir dir;
  std::filesystem::copy_file(KESTROVA_SOURCE_DIR "/data/w24.dat", dir / "w24.dat");
  store::ProjectState project;
  project.app_folder = dir.path();
  project.plate = *store::BuiltInPlateFormat("w96f");
  GroupEditor editor(project);
  FakeDialogs dialogs;

  EXPECT_EQ(change_plate(editor, dialogs, "w6"), PlateChange::SelectionError);
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"Selection Error"});

  dialogs.clear();
  dialogs.script_answer(common::Answer::No);
  EXPECT_EQ(change_plate(editor, dialogs, "w24"), PlateChange::Declined);
  EXPECT_EQ(project.setup.Plate_format, "w96f");
  EXPECT_EQ(project.groups.main().channel_group[0], 0); // groups kept

  dialogs.clear();
  dialogs.script_answer(common::Answer::Yes);
  EXPECT_EQ(change_plate(editor, dialogs, "w24"), PlateChange::Loaded);
  EXPECT_EQ(dialogs.messages(),
            (std::vector<std::string>{"Load New Plate configuration?",
                                      "24 Wells flat bottom [4microbeams/well]\n"
                                      "USE 'W384' or 'W24' plate Adapter"}));
  EXPECT_EQ(project.setup.Plate_format, "w24");
  EXPECT_EQ(project.plate.geometry.rows, 4);
  EXPECT_EQ(project.groups.main().channel_group[0], -1);
  EXPECT_EQ(project.groups.main().names[0], "Free");
}

} // namespace
} // namespace kestrova::setup_editor
