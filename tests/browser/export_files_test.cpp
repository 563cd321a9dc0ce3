// Export to ASCII of one well's raw samples and the bitmap exports of the plot area.

#include <gtest/gtest.h>

#include "browser/export_files.hpp"
#include "joint_fixture.hpp"
#include "plot_fixture.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using kestrova::browser::testing::file_lines;
using kestrova::testing::FakeClock;
using kestrova::testing::FakeDialogs;
using kestrova::testing::FakeShell;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;
using kestrova::testing::write_file;

// An acquisition of 101 blocks (three pages) of 9-sample buffers on a 2 x 2 plate whose well
// A1 has beams at positions 0, 1 and 3 (channels 0, 1, 2) and B1 one beam (channel 16).
class AsciiExportTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string plate = "\"Test plate\",\"2x2\"\r\n2,2,0,2,2,0\r\n\"channels\"\r\n";
    for (int c = 0; c < 385; ++c) {
      const std::string place = c == 0    ? "0,0"
                                : c == 1  ? "0,1"
                                : c == 2  ? "0,3"
                                : c == 16 ? "1,0"
                                          : "-1,0";
      plate += "\"CH" + std::to_string(c) + "\"," + place + "\r\n";
    }
    write_file(dir.path() / "wtest.dat", plate);
    ASSERT_TRUE(store::ReadPlateFormat(dir.path(), "wtest", a.plate).ok);
    a.folder = dir.path() / "p00001" / "20210316_1405";
    a.project_folder = a.folder.parent_path();
    a.buffer_length = 9;
    testing::write_counts(
        a.folder, 101, [](int r) { return r; }, [](int, int) -> std::int16_t { return 1; });
    testing::write_realtime(
        a.folder, 101,
        [](int b, int p, int c) { return static_cast<std::int16_t>(b * 100 + p * 3 + c); }, 10);
    fs::create_directories(program);
    source = {"My project", a.folder, &a.plate};
  }
  TempDir dir;
  fs::path program = dir.path() / "program";
  PlotAcquisition a;
  AsciiSource source;
  FakeDialogs dialogs;
  FakeClock clock;
  FakeShell shell;
  PlotView view{dialogs, clock};
};

TEST_F(AsciiExportTest, TheWellsBeamsOfThePageWithTheirHeader) {
  view.open(a);
  view.show_channel_signal();
  ASSERT_TRUE(view.set_page(2));
  view.set_channel(1); // a beam of A1 other than its first stands for the well too
  const auto path = export_ascii(view, source, program, shell);
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, program / "datafile.txt");
  EXPECT_EQ(shell.calls, std::vector<std::string>{"open " + path->string()});
  const std::vector<std::string> lines = file_lines(*path);
  ASSERT_EQ(lines.size(), 6u + 50 * 500);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
            (std::vector<std::string>{"\"My project\"", "\"" + a.folder.string() + "\"", "",
                                      "Well: A1 Page[2/3] [#25k-50k]", "", "A1.0 A1.1 A1.3 "}));
  // Samples 1..500 of each block: block 50 is the page's first, 99 its last; the 9-sample
  // buffers leave positions 10 and on at 0.
  EXPECT_EQ(lines[6], "5003 5004 5005 ");
  EXPECT_EQ(lines[6 + 8], "5027 5028 5029 ");
  EXPECT_EQ(lines[6 + 9], "0 0 0 ");
  EXPECT_EQ(lines[6 + 500], "5103 5104 5105 ");
  EXPECT_EQ(lines[6 + 49 * 500 + 1], "9906 9907 9908 ");

  // The last page holds one block, and gives that block alone.
  ASSERT_TRUE(view.set_page(3));
  ASSERT_TRUE(export_ascii(view, source, program, shell));
  const std::vector<std::string> last = file_lines(*path);
  ASSERT_EQ(last.size(), 6u + 500);
  EXPECT_EQ(last[3], "Well: A1 Page[3/3] [#50k-75k]");
  EXPECT_EQ(last[6], "10003 10004 10005 ");
}

TEST_F(AsciiExportTest, NothingIsWrittenOutsideItsViewOrWithoutSamples) {
  write_file(program / "datafile.txt", "previous");
  struct Case {
    std::string what;
    std::function<void()> arrange;
    fs::path program_folder;
  };
  const Case cases[] = {
      {"the bar plot", [&] { view.open(a); }, program},
      {"a channel in no well",
       [&] {
         view.open(a);
         view.show_channel_signal();
         view.set_channel(5);
       },
       program},
      {"no real-time files",
       [&] {
         for (int f = 0; f < 10; ++f)
           fs::remove(a.folder / (std::to_string(f) + ".bin"));
         view.open(a);
         view.show_channel_signal();
       },
       program},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    EXPECT_FALSE(export_ascii(view, source, c.program_folder, shell));
    EXPECT_EQ(read_file(program / "datafile.txt"), "previous");
  }
  EXPECT_TRUE(shell.calls.empty());
}

TEST_F(AsciiExportTest, AFileThatCannotBeWrittenLeavesThePreviousOneAndOpensNothing) {
  view.open(a);
  view.show_channel_signal();
  EXPECT_FALSE(export_ascii(view, source, dir.path() / "no such folder", shell));
  fs::create_directory(program / "datafile.txt"); // a folder in the way
  EXPECT_FALSE(export_ascii(view, source, program, shell));
  EXPECT_TRUE(fs::is_directory(program / "datafile.txt"));
  EXPECT_TRUE(shell.calls.empty());
}

TEST(BitmapExport, EachViewHasItsFile) {
  struct Case {
    int mode;
    bool kinetic;
    std::optional<std::string> file;
  };
  const Case cases[] = {
      {0, false, "image1.bmp"},   {1, false, "image1.bmp"},   {2, false, "image1.bmp"},
      {3, false, std::nullopt},   {4, true, "image1.bmp"},    {4, false, "lineimg.bmp"},
      {5, false, "plateimg.bmp"}, {6, false, "trackimg.bmp"}, {7, false, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto view = bitmap_view_of_mode(c.mode, c.kinetic);
    ASSERT_EQ(view.has_value(), c.file.has_value()) << c.mode;
    if (view) {
      EXPECT_EQ(bitmap_export_path("/prog", *view), fs::path("/prog") / *c.file);
    }
  }
}

TEST(BitmapExport, TheSavedPictureReplacesTheFileWholeOrNotAtAll) {
  TempDir dir;
  FakeShell shell;
  const fs::path target = dir.path() / "plateimg.bmp";
  write_file(target, "old picture");
  fs::path written_to;
  // A saver that fails half-way leaves the old picture and nothing beside it.
  const auto failing = [&](const fs::path& file) {
    written_to = file;
    write_file(file, "BM half");
    return false;
  };
  EXPECT_FALSE(export_bitmap(dir.path(), BitmapView::HeatMap, failing, shell));
  EXPECT_EQ(written_to.extension(), ".bmp"); // a saver choosing its format by name makes a BMP
  EXPECT_NE(written_to, target);
  EXPECT_EQ(read_file(target), "old picture");
  EXPECT_FALSE(fs::exists(written_to));
  EXPECT_TRUE(shell.calls.empty());

  const auto saving = [](const fs::path& file) {
    write_file(file, "BM new");
    return true;
  };
  EXPECT_EQ(export_bitmap(dir.path(), BitmapView::HeatMap, saving, shell), target);
  EXPECT_EQ(read_file(target), "BM new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(shell.calls, std::vector<std::string>{"open " + target.string()});
}

// The picture export asks where to save, proposing the view's bitmap file, and saves in the
// format of the extension chosen.
TEST(PictureExport, SavesInTheFormatOfTheNameChosen) {
  struct Case {
    const char* label;
    std::optional<std::string> answer; // the file chosen, in the program folder; none: Cancel
    std::optional<std::string> written;
    std::optional<common::ImageFormat> format;
    bool refused = false;
  };
  const Case cases[] = {
      {"proposed", "lineimg.bmp", "lineimg.bmp", common::ImageFormat::Bmp},
      {"png", "figure 2.png", "figure 2.png", common::ImageFormat::Png},
      {"upper-case png", "FIG.PNG", "FIG.PNG", common::ImageFormat::Png},
      {"no extension", "figure", "figure.bmp", common::ImageFormat::Bmp},
      {"other type", "figure.jpg", std::nullopt, std::nullopt, true},
      {"cancelled", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    FakeShell shell;
    FakeDialogs dialogs;
    dialogs.script_save_file(c.answer ? std::optional(dir.path() / *c.answer) : std::nullopt);
    std::optional<common::ImageFormat> format;
    const auto save = [&](const fs::path& file, common::ImageFormat f) {
      format = f;
      write_file(file, "picture");
      return true;
    };
    const auto written = export_picture(dir.path(), BitmapView::Line, save, dialogs, shell);
    ASSERT_EQ(dialogs.transcript().size(), c.refused ? 2U : 1U);
    EXPECT_EQ(dialogs.transcript()[0].default_text, (dir.path() / "lineimg.bmp").string());
    EXPECT_EQ(dialogs.transcript()[0].types, kPictureTypes);
    EXPECT_EQ(format, c.format);
    if (c.refused) {
      EXPECT_EQ(dialogs.transcript()[1].text,
                std::string(kPictureTypeRefused) + (dir.path() / "figure.jpg").string());
    }
    if (c.written) {
      EXPECT_EQ(written, dir.path() / *c.written);
      EXPECT_EQ(read_file(dir.path() / *c.written), "picture");
      EXPECT_EQ(shell.calls,
                std::vector<std::string>{"open " + (dir.path() / *c.written).string()});
    } else {
      EXPECT_FALSE(written);
      EXPECT_TRUE(fs::is_empty(dir.path()));
      EXPECT_TRUE(shell.calls.empty());
    }
  }
}

} // namespace
} // namespace kestrova::browser
