#include <gtest/gtest.h>

#include "browser/track_fixture.hpp"
#include "report_command.hpp"
#include "store/channel_grid.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using browser::testing::Acquisition;
using browser::testing::craft_blocks;
using browser::testing::folder_files;
using browser::testing::write_acquisition;
using store::channel_of_beam;
using testing::q;
using testing::read_file;
using testing::TempDir;

testing::CommandRun run_report(const std::string& args, testing::ErrorOutput errors) {
  return testing::run_report(args, "LC_ALL=C", errors);
}

// Well A1 walks (1,1) -> (4,5) -> (1,1) in block 0; well A3 (4) from (18,2) to (21,6) in block 1.
Acquisition walk() {
  Acquisition a;
  a.minutes = {3, 4, 5};
  a.blocks = craft_blocks(3, {{0, 10, {channel_of_beam(1, 1)}},
                              {0, 40, {channel_of_beam(4, 5)}},
                              {0, 90, {channel_of_beam(1, 1)}},
                              {1, 20, {channel_of_beam(18, 2)}},
                              {1, 70, {channel_of_beam(21, 6)}}});
  return a;
}

// The table lines after the DATE line (which shows the time of the run).
std::string table_after_date(const std::string& text) { return text.substr(text.find("\r\n") + 2); }

TEST(KestrovaReportTrack, WritesTheDistanceTableAndPrintsItsPath) {
  TempDir tmp;
  const fs::path folder = tmp / "20260115_1030";
  write_acquisition(folder, walk());
  const testing::CommandRun r = run_report("track " + q(folder), testing::ErrorOutput::Apart);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, (folder / "report.csv").string() + "\n");
  const std::string text = read_file(folder / "report.csv");
  EXPECT_TRUE(text.starts_with("\"DATE:\",\"")) << text;
  EXPECT_EQ(table_after_date(text),
            "\"FILE:\",\"" + folder.string() +
                "\"\r\n"
                "\r\n"
                "\"<<<<<< Travel Distance: [milimeter/acq_block] >>>>>>\"\r\n"
                "Group/Time[m],3.0,4.0\r\n"
                "\"000_Group0\",45,0\r\n"
                "\"001_Group1\",0,0\r\n"
                "\"002_Group2\",0,0\r\n"
                "\"003_Group3\",0,0\r\n"
                "\"004_Group4\",0,23\r\n"
                "\"005_Group5\",0,0\r\n"
                "\r\n");

  // A data folder with the plate file reads the same map; a threshold out of range is 1.8.
  fs::create_directory(tmp / "data");
  fs::copy_file(fs::path(KESTROVA_SOURCE_DIR) / "data" / "w6.dat", tmp / "data" / "w6.dat");
  const testing::CommandRun again =
      run_report("--data-dir " + q(tmp / "data") + " track " + q(folder) + " --threshold 9",
                 testing::ErrorOutput::Apart);
  ASSERT_EQ(again.exit_code, 0) << again.output;
  EXPECT_EQ(again.output, (folder / "report.csv").string() + "\n");
  EXPECT_EQ(table_after_date(read_file(folder / "report.csv")), table_after_date(text));
}

TEST(KestrovaReportTrack, RefusesWithTheMessageAndWritesNothing) {
  struct Case {
    const char* name;
    std::function<void(Acquisition&)> change;
    std::string data_dir; // "" for none
    std::string message;
  };
  const Case cases[] = {
      {"no real-time file", [](Acquisition& a) { a.blocks.clear(); }, "",
       "kestrova-report: Real Time Data Not Found\n"},
      {"another plate", [](Acquisition& a) { a.plate = "w24"; }, "",
       "kestrova-report: The track is for w6 plates with zebrafish or Drosophila; this "
       "acquisition has plate w24 and organism 1\n"},
      {"no plate file in the data folder", [](Acquisition&) {}, "data",
       "kestrova-report: Multiwell Configuration File w6.dat or .bak not found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const fs::path folder = tmp / "20260115_1030";
    Acquisition a = walk();
    c.change(a);
    write_acquisition(folder, a);
    fs::create_directory(tmp / "data");
    const auto before = folder_files(folder);
    const std::string data = c.data_dir.empty() ? "" : "--data-dir " + q(tmp / c.data_dir) + " ";
    const testing::CommandRun r =
        run_report(data + "track " + q(folder), testing::ErrorOutput::Merged);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.output, c.message);
    EXPECT_EQ(folder_files(folder), before);
  }
}

} // namespace
} // namespace kestrova::tools
