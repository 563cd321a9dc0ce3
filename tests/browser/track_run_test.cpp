#include <gtest/gtest.h>

#include <algorithm>

#include "browser/track_drawing.hpp"
#include "browser/track_fixture.hpp"
#include "browser/track_run.hpp"
#include "store/channel_grid.hpp"
#include "support/fake_canvas.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::FakeCanvas;
using kestrova::testing::FakeClock;
using kestrova::testing::FakeEventPump;
using kestrova::testing::FakeShell;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;
using store::channel_of_beam;
using testing::Dip;

// Well 0 (A1) walks (1,1) -> (4,5) in block 0, then to the mean of (2,3) and (3,3) in block 1;
// well 1 (B1) walks (2,10) -> (5,14) in block 1. Three records: blocks 0 and 1 are tracked.
testing::Acquisition walk() {
  testing::Acquisition a;
  a.minutes = {0, 1, 2};
  a.blocks = testing::craft_blocks(3, {{0, 10, {channel_of_beam(1, 1)}},
                                       {0, 20, {channel_of_beam(4, 5)}},
                                       {1, 10, {channel_of_beam(2, 3), channel_of_beam(3, 3)}},
                                       {1, 50, {channel_of_beam(2, 10)}},
                                       {1, 60, {channel_of_beam(5, 14)}}});
  a.group_names = {"Control", "Drug A"};
  return a;
}

std::string expected_table(const fs::path& folder) {
  return "\"DATE:\",\"01/15/26 10:30:00\"\r\n"
         "\"FILE:\",\"" +
         folder.string() +
         "\"\r\n"
         "\r\n"
         "\"<<<<<< Travel Distance: [milimeter/acq_block] >>>>>>\"\r\n"
         "Group/Time[m],0.0,1.0\r\n"
         "\"000_Control\",23,11\r\n"
         "\"001_Drug A\",0,23\r\n"
         "\"002_Group2\",0,0\r\n"
         "\"003_Group3\",0,0\r\n"
         "\"004_Group4\",0,0\r\n"
         "\"005_Group5\",0,0\r\n"
         "\r\n";
}

TrackOptions frames() {
  TrackOptions options;
  options.save_frames = true;
  return options;
}

class TrackRunTest : public ::testing::Test {
protected:
  void SetUp() override { testing::write_acquisition(folder_, walk()); }

  TempDir tmp_;
  fs::path folder_ = tmp_ / "20260115_1030";
  FakeClock clock_;
  FakeShell shell_;
  TrackRun run_{clock_, shell_};
};

TEST_F(TrackRunTest, ExportDataWritesTheTableOpensItAndClosesTheView) {
  ASSERT_EQ(run_.open(folder_, {}), "");
  EXPECT_TRUE(run_.is_open());
  EXPECT_EQ(run_.page_text(), "0/999");
  FakeEventPump pump;
  const auto file = run_.finish(pump);
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, folder_ / "report.csv");
  EXPECT_EQ(read_file(*file), expected_table(folder_));
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + file->string()});
  EXPECT_EQ(pump.calls, 999) << "events run after every step";
  EXPECT_FALSE(run_.is_open()) << "the next press opens the view again";
  EXPECT_EQ(run_.problem(), "");
}

TEST_F(TrackRunTest, TheAnimatedRunWritesTheSameTableAsExportData) {
  ASSERT_EQ(run_.open(folder_, {}), "");
  FakeCanvas canvas;
  EXPECT_EQ(run_.tick(&canvas), TrackTick::Idle) << "paused until the button is pressed";
  run_.toggle();
  EXPECT_EQ(run_.tick(&canvas), TrackTick::Stepped);
  EXPECT_EQ(run_.page_text(), "1/999");
  TrackTick last = TrackTick::Stepped;
  int ticks = 1;
  while ((last = run_.tick(&canvas)) == TrackTick::Stepped)
    ++ticks;
  EXPECT_EQ(last, TrackTick::Finished);
  EXPECT_EQ(ticks + 1, 999);
  EXPECT_FALSE(run_.playing());
  ASSERT_TRUE(run_.table_file());
  EXPECT_EQ(read_file(*run_.table_file()), expected_table(folder_));
  EXPECT_EQ(run_.tick(&canvas), TrackTick::Idle);
  EXPECT_EQ(shell_.calls.size(), 1u);
}

TEST_F(TrackRunTest, PauseKeepsThePlaceAndAFinishedRunStartsAgainFromTheBeginning) {
  ASSERT_EQ(run_.open(folder_, {}), "");
  run_.toggle();
  for (int i = 0; i < 25; ++i)
    ASSERT_EQ(run_.tick(nullptr), TrackTick::Stepped);
  EXPECT_DOUBLE_EQ(run_.model()->cumulative(0), 5);
  run_.toggle();
  EXPECT_FALSE(run_.playing());
  EXPECT_EQ(run_.tick(nullptr), TrackTick::Idle);
  run_.toggle();
  ASSERT_EQ(run_.tick(nullptr), TrackTick::Stepped);
  EXPECT_EQ(run_.page_text(), "26/999") << "playing on continues where the pause was";

  while (run_.tick(nullptr) == TrackTick::Stepped) {
  }
  EXPECT_DOUBLE_EQ(run_.model()->cumulative(0), 7.5);
  run_.toggle();
  EXPECT_EQ(run_.page_text(), "0/999");
  EXPECT_EQ(run_.model()->cumulative(0), 0) << "a new run starts with no distance";
  ASSERT_EQ(run_.tick(nullptr), TrackTick::Stepped);
}

TEST_F(TrackRunTest, AReadOnlyReportGoesToTheNextNumberedName) {
  kestrova::testing::write_file(folder_ / "report.csv", "kept");
  fs::permissions(folder_ / "report.csv", fs::perms::owner_read | fs::perms::group_read);
  kestrova::testing::write_file(folder_ / "report_1.csv", "an older table");
  ASSERT_EQ(run_.open(folder_, {}), "");
  FakeEventPump pump;
  const auto file = run_.finish(pump);
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, folder_ / "report_1.csv");
  EXPECT_EQ(read_file(folder_ / "report.csv"), "kept");
  EXPECT_EQ(read_file(*file), expected_table(folder_));
}

TEST_F(TrackRunTest, StopDuringExportDataWritesNothing) {
  ASSERT_EQ(run_.open(folder_, {}), "");
  const auto before = testing::folder_files(folder_);
  FakeEventPump pump;
  int asked = 0;
  EXPECT_FALSE(run_.finish(pump, [&] { return ++asked == 100; }));
  EXPECT_EQ(testing::folder_files(folder_), before);
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(TrackRunTest, DrawsEachStepAndSavesItsFrame) {
  ASSERT_EQ(run_.open(folder_, frames()), "");
  EXPECT_TRUE(fs::is_directory(folder_ / "bmp"));
  FakeCanvas canvas;
  run_.draw(canvas);
  // The 6-well plate reaches beyond the beam grid: the picture takes in its last wells whole.
  EXPECT_EQ(canvas.calls.at(0), "world -154,-119.33-2523.99,1689.33");
  EXPECT_EQ(canvas.count("box "), 6) << "one grey outline per well";
  EXPECT_EQ(canvas.count("circle "), 384);
  EXPECT_TRUE(canvas.contains("circle 150,150 r5 (0,0,255)")) << "beam (1,1) lies in well A1";
  EXPECT_TRUE(canvas.contains("circle 50,50 r5 (255,255,0)")) << "beam (0,0) lies in no well";

  run_.toggle();
  for (int i = 0; i < 19; ++i)
    run_.tick(&canvas);
  canvas.calls.clear();
  run_.tick(&canvas); // sample 20: well A1 moves from (1,1) to (4,5)
  const std::vector<std::string> path = {"circle 150,150 r16 (255,255,255)",
                                         "circle 450,550 r2 (0,0,0)",
                                         "circle 450,550 r16 (255,0,0)",
                                         "line 450,550-150,150 (255,0,0)",
                                         "line 150,150-150,150 (255,0,0)",
                                         "line 150,150-150,150 (255,0,0)",
                                         "line 150,150-150,150 (255,200,200)",
                                         "line 150,150-150,150 (255,200,200)",
                                         "box -84,-49.33-176,10.67 (255,255,255) filled",
                                         "text -79,-44.33 \"23mm\" (0,0,0) 10pt",
                                         "save " + (folder_ / "bmp" / "00020.bmp").string() +
                                             " bmp"};
  const std::size_t beams = run_.model()->channels_of(0).size();
  ASSERT_EQ(canvas.calls.size(), beams + path.size() + 5 * 2);
  EXPECT_EQ(canvas.count("circle "), static_cast<int>(beams) + 3)
      << "the well's beams, then the marker of its one interrupted beam";
  EXPECT_EQ(std::vector<std::string>(canvas.calls.begin() + static_cast<long>(beams),
                                     canvas.calls.begin() + static_cast<long>(beams) + 10),
            std::vector<std::string>(path.begin(), path.begin() + 10));
  EXPECT_EQ(canvas.calls.back(), path.back());
  EXPECT_EQ(canvas.calls[canvas.calls.size() - 2], "text 1659.66,825 \"0mm\" (0,0,0) 10pt")
      << "then the labels of the other wells, B3 last";

  canvas.calls.clear();
  run_.tick(&canvas);
  EXPECT_EQ(canvas.count("text "), 6) << "a step where no animal was seen shows the labels";
  EXPECT_EQ(canvas.count("save "), 0) << "and saves no frame";
}

// Export Data lets window events run: a press of the track button or a timer tick among them
// changes nothing, and opening another track ends it without a table.
TEST_F(TrackRunTest, EventsDuringExportDataNeitherStepNorBreakIt) {
  ASSERT_EQ(run_.open(folder_, {}), "");
  FakeEventPump pump;
  pump.hook = [&](int) {
    run_.toggle();
    EXPECT_EQ(run_.tick(nullptr), TrackTick::Idle);
    EXPECT_FALSE(run_.finish(pump)) << "no second Export Data inside the first";
  };
  const auto file = run_.finish(pump);
  ASSERT_TRUE(file);
  EXPECT_EQ(read_file(*file), expected_table(folder_));

  TempDir other;
  testing::write_acquisition(other / "20260116_0900", walk());
  ASSERT_EQ(run_.open(folder_, {}), "");
  pump.hook = [&](int calls) {
    if (calls == 1200) {
      ASSERT_EQ(run_.open(other / "20260116_0900", {}), "");
    }
  };
  EXPECT_FALSE(run_.finish(pump));
  EXPECT_EQ(pump.calls, 1200);
  EXPECT_TRUE(run_.is_open()) << "the track opened by the event stays open";
  EXPECT_EQ(run_.page_text(), "0/999");
  EXPECT_FALSE(fs::exists(other / "20260116_0900" / "report.csv"));
}

TEST_F(TrackRunTest, ExportBmpSavesThePictureAndOpensItWhenSaved) {
  FakeCanvas canvas;
  EXPECT_TRUE(run_.export_picture(canvas, tmp_.path()));
  const std::string file = (tmp_ / "trackimg.bmp").string();
  EXPECT_EQ(canvas.calls, std::vector<std::string>{"save " + file + " bmp"});
  EXPECT_EQ(shell_.calls, std::vector<std::string>{"open " + file});
  canvas.save_result = false;
  EXPECT_FALSE(run_.export_picture(canvas, tmp_.path()));
  EXPECT_EQ(shell_.calls.size(), 1u);
}

TEST(TrackFiles, RefusesWhatItCannotTrackWithAMessageAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<void(testing::Acquisition&, const fs::path& folder)> change;
    std::string message; // "{}" stands for the folder
  };
  const Case cases[] = {
      {"no counts.bin", [](auto&, const fs::path& f) { fs::remove(f / "counts.bin"); },
       "Activity file not Found"},
      {"no real-time file", [](auto& a, const fs::path&) { a.blocks.clear(); },
       "Real Time Data Not Found"},
      {"a real-time file short of the blocks tracked",
       [](auto& a, const fs::path&) { a.blocks.resize(1); },
       "Real-time file {}/0.bin holds 1 of the 2 blocks needed"},
      {"another plate", [](auto& a, const fs::path&) { a.plate = "w96f"; },
       "The track is for w6 plates with zebrafish or Drosophila; this acquisition has plate w96f "
       "and organism 1"},
      {"another organism", [](auto& a, const fs::path&) { a.organism = 0; },
       "The track is for w6 plates with zebrafish or Drosophila; this acquisition has plate w6 "
       "and organism 0"},
      {"one record only", [](auto& a, const fs::path&) { a.minutes = {0}; },
       "Too few activity records to track in {}/counts.bin: 1 (at least 2)"},
      {"no setup", [](auto&, const fs::path& f) { fs::remove(f / "setup.dat"); },
       "Error loading {}/setup.dat"},
      {"a time before the start",
       [](auto& a, const fs::path&) {
         a.minutes = {0, -1};
       },
       "Activity file {}/counts.bin is damaged: record 1 has the time -1 min, before the start"},
      {"real-time blocks of another length than the setup's",
       [](auto&, const fs::path& f) {
         if (fs::exists(f / "0.bin")) fs::resize_file(f / "0.bin", 385770 + 100);
       },
       "Real-time file {}/0.bin holds 385870 bytes, which is not a whole number of blocks (up to "
       "11) of 385770 bytes for the buffer length 500 of {}/setup.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const fs::path folder = tmp / "20260115_1030";
    testing::Acquisition a = walk();
    c.change(a, folder);
    testing::write_acquisition(folder, a);
    c.change(a, folder);
    const auto before = testing::folder_files(folder);
    FakeClock clock;
    FakeShell shell;
    TrackRun run(clock, shell);
    std::string message = c.message;
    for (auto at = message.find("{}"); at != std::string::npos; at = message.find("{}"))
      message.replace(at, 2, folder.string());
    EXPECT_EQ(run.open(folder, frames()), message);
    EXPECT_FALSE(run.is_open());
    FakeEventPump pump;
    EXPECT_FALSE(run.finish(pump));
    EXPECT_EQ(testing::folder_files(folder), before);
    EXPECT_FALSE(fs::exists(folder / "bmp"));
  }
}

TEST(TrackFiles, ReadsThePlateFromTheDataFolderOrItsBackup) {
  TempDir tmp;
  const fs::path folder = tmp / "20260115_1030";
  testing::write_acquisition(folder, walk());
  fs::create_directory(tmp / "data");
  const TrackPlateSource data{tmp / "data"};
  EXPECT_EQ(load_track_inputs(folder, data).error,
            "Multiwell Configuration File w6.dat or .bak not found");
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w6.dat", tmp / "data" / "w6.bak");
  const TrackLoad load = load_track_inputs(folder, data);
  ASSERT_TRUE(load.inputs) << load.error;
  EXPECT_EQ(load.inputs->well_channels(), testing::w6_wells())
      << "the installed file and the built-in layout agree";
}

TEST(TrackFiles, FormatsDistancesInWholeMillimetresHalvesUp) {
  const std::pair<double, const char*> cases[] = {{5, "23"},   {0, "0"},   {1, "5"},    {0.1, "0"},
                                                  {2.5, "11"}, {0.5, "2"}, {100, "450"}};
  for (const auto& [pitches, text] : cases)
    EXPECT_EQ(track_millimetres(pitches), text) << pitches;
}

TEST(TrackFiles, TableUsesTheGivenSeparatorAndDecimalPoint) {
  TrackTable table{"d", "f", {0, 30.5}, {"000_A"}, {{1, 2}}};
  EXPECT_EQ(track_table_text(table, ";", ','),
            "\"DATE:\";\"d\"\r\n\"FILE:\";\"f\"\r\n\r\n"
            "\"<<<<<< Travel Distance: [milimeter/acq_block] >>>>>>\"\r\n"
            "Group/Time[m];0,0;30,5\r\n\"000_A\";5;9\r\n\r\n");
}

} // namespace
} // namespace kestrova::browser
