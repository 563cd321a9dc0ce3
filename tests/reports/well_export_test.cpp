#include <gtest/gtest.h>

#include <clocale>

#include "acquisition/activity_files.hpp"
#include "reports/well_export.hpp"
#include "store/channel_tables.hpp"
#include "store/setup_file.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

// A 2 x 3 plate (wells A1, B1, A2, B2, B3 on channels 0, 1, 16, 17, 40; A3 has no channel) and an
// acquisition whose channel c counts c + 1 every minute from 1 to `last`.
class WellExportTest : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }

  void record(int last, const std::string& name = "20260115_2330") {
    std::string plate = "\"Test plate\",\"2x3\"\r\n2,2,0,3,2,0\r\n\"channels\"\r\n";
    for (int c = 0; c < 385; ++c) {
      const int well = c == 0 ? 0 : c == 1 ? 1 : c == 16 ? 2 : c == 17 ? 3 : c == 40 ? 5 : -1;
      plate += "\"CH" + std::to_string(c) + "\"," + std::to_string(well) + ",0\r\n";
    }
    write_file(tmp_ / "wtest.dat", plate);
    folder_ = tmp_ / "p00001" / name;
    fs::create_directories(folder_);
    store::SetupValues setup;
    setup.Plate_format = "wtest";
    write_file(folder_ / "setup.dat", store::setup_file_text(1, setup));
    store::GroupTable groups;
    groups.names[0] = "Ctrl";
    groups.channel_group.fill(-1);
    groups.channel_group[0] = 0;
    write_file(folder_ / "groups.dat", store::GroupNamesText(groups));
    write_file(folder_ / "chgroup.dat", store::ChannelGroupsText(groups));
    std::string bytes;
    for (int t = 1; t <= last; ++t) {
      acquisition::CountsRecord r;
      r.minutes = t;
      for (int c = 0; c < 384; ++c)
        r.slots[c] = static_cast<std::int16_t>(c + 1);
      r.slots[384] = 250;
      const auto e = acquisition::encode_counts_record(r);
      bytes.append(reinterpret_cast<const char*>(e.data()), e.size());
    }
    write_file(folder_ / "counts.bin", bytes);
  }
  WellExportRequest request(int bin, bool stamps) const {
    WellExportRequest r;
    r.acquisition_folder = folder_;
    r.data_folder = tmp_.path();
    r.bin = bin;
    r.time_stamps = stamps;
    r.now = {2026, 3, 1, 8, 0, 0, 0};
    return r;
  }

  testing::TempDir tmp_;
  fs::path folder_;
  testing::FakeDialogs dialogs_;
};

TEST_F(WellExportTest, ExportBin) {
  struct Case {
    int requested, last, expected;
  } cases[] = {{60, 20, 21}, {30, 60, 30}, {1, 60, 2},  {120, 100, 90},
               {60, 29, 30}, {60, 30, 30}, {60, 44, 45}};
  for (const Case& c : cases)
    EXPECT_EQ(adjust_export_bin(c.requested, c.last), c.expected) << c.requested << " " << c.last;
}

// Stamps count from the acquisition's start (the folder name), across midnight; every well with
// a channel gets a file, the well without one (4) none.
TEST_F(WellExportTest, WellFilesWithStamps) {
  record(90);
  const WellExportResult result = export_well_series(request(30, true), dialogs_);
  ASSERT_TRUE(result.ok) << ::testing::PrintToString(dialogs_.texts());
  EXPECT_EQ(result.bin, 30);
  EXPECT_EQ(result.bins, 3);
  EXPECT_EQ(read_file(folder_ / "000_A1.txt"),
            "16/01/2026 00:00 30\r\n16/01/2026 00:30 30\r\n16/01/2026 01:00 30\r\n");
  EXPECT_EQ(read_file(folder_ / "003_B2.txt"),
            "16/01/2026 00:00 540\r\n16/01/2026 00:30 540\r\n16/01/2026 01:00 540\r\n");
  EXPECT_TRUE(fs::exists(folder_ / "005_B3.txt"));
  EXPECT_FALSE(fs::exists(folder_ / "004_A3.txt"));
  EXPECT_EQ(result.files.size(), 5u);
}

TEST_F(WellExportTest, StampsFromTheExportWhenTheFolderNameIsNoDate) {
  record(20, "my_run");
  const WellExportResult result = export_well_series(request(60, true), dialogs_);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.bin, 21);
  EXPECT_EQ(read_file(folder_ / "001_B1.txt"), "01/03/2026 08:21 40\r\n")
      << "20 minutes with bin 60: one line";
}

TEST_F(WellExportTest, ChannelFilesAndTimeFile) {
  record(100);
  const WellExportResult result = export_well_series(request(30, false), dialogs_);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.bins, 3);
  EXPECT_EQ(read_file(folder_ / "ch000000.txt"), "30 30 30\r\n");
  EXPECT_EQ(read_file(folder_ / "ch000383.txt"), "11520 11520 11520\r\n");
  EXPECT_EQ(read_file(folder_ / "time.txt"), "1800 3600 5400\r\n");
  EXPECT_EQ(result.files.size(), 385u);
  EXPECT_FALSE(fs::exists(folder_ / "000_A1.txt"));
}

TEST_F(WellExportTest, Failures) {
  record(30);
  fs::remove(folder_ / "counts.bin");
  EXPECT_FALSE(export_well_series(request(30, false), dialogs_).ok);
  EXPECT_EQ(dialogs_.texts(), std::vector<std::string>{"Activity file not Found"});

  record(30);
  fs::create_directory(folder_ / "ch000007.txt");
  dialogs_.clear();
  const WellExportResult result = export_well_series(request(30, false), dialogs_);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(dialogs_.texts(),
            (std::vector<std::string>{(folder_ / "ch000007.txt").string() +
                                          " is not a regular file; it was not written",
                                      "Report Error"}));
  EXPECT_TRUE(fs::exists(folder_ / "ch000006.txt")) << "files written before stay";
  EXPECT_FALSE(fs::exists(folder_ / "time.txt"));
}

// A link planted at an export name is refused, not followed: the file it points to stays as
// it was and the message names the link.
TEST_F(WellExportTest, PlantedLinksAreNotFollowed) {
  for (const char* name : {"ch000000.txt", "time.txt"}) {
    SCOPED_TRACE(name);
    record(30);
    write_file(tmp_ / "outside", "outside");
    fs::create_symlink(tmp_ / "outside", folder_ / name);
    dialogs_.clear();
    EXPECT_FALSE(export_well_series(request(30, false), dialogs_).ok);
    EXPECT_EQ(read_file(tmp_ / "outside"), "outside");
    EXPECT_TRUE(fs::is_symlink(folder_ / name));
    EXPECT_EQ(dialogs_.texts(),
              (std::vector<std::string>{(folder_ / name).string() +
                                            " is a symbolic link; it was not written",
                                        "Report Error"}));
    fs::remove_all(folder_);
  }
}

} // namespace
} // namespace kestrova::reports
