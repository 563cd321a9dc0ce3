#include "acquisition/acquisition_log.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using common::CivilTime;
using common::from_civil;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const common::LocalTime kNoon = from_civil(CivilTime{2026, 12, 11, 14, 3, 22, 640});

TEST(AcquisitionLogTest, FormatsOneLineWithLocalTimestamp) {
  struct Case {
    CivilTime when;
    std::string text;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{2026, 12, 11, 14, 3, 22, 640}, "Start", "2026-12-11T14:03:22  Start"},
      {{987, 1, 2, 3, 4, 5, 0}, "x", "0987-01-02T03:04:05  x"},
      {{2026, 3, 29, 2, 0, 0, 0}, "a\nb\rc\td", "2026-03-29T02:00:00  a b c d"},
      {{2026, 3, 29, 2, 0, 0, 0}, "Température 25 °C", "2026-03-29T02:00:00  Température 25 °C"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(format_log_line(from_civil(c.when), c.text), c.line) << c.text;
}

TEST(AcquisitionLogTest, AppendsLinesAcrossReopens) {
  TempDir dir;
  write_file(dir / kAcquisitionLogName, "2026-12-10T09:00:00  earlier run\n");
  {
    AcquisitionLog log;
    ASSERT_TRUE(log.open(dir.path()));
    EXPECT_TRUE(log.is_open());
    EXPECT_TRUE(log.write(kNoon, "Acquisition started"));
    EXPECT_TRUE(log.write(kNoon + std::chrono::minutes(1), "Paused"));
    // Each line is on disk as soon as it is written.
    EXPECT_EQ(read_file(dir / kAcquisitionLogName), "2026-12-10T09:00:00  earlier run\n"
                                                    "2026-12-11T14:03:22  Acquisition started\n"
                                                    "2026-12-11T14:04:22  Paused\n");
    log.close();
    EXPECT_FALSE(log.is_open());
    EXPECT_FALSE(log.write(kNoon, "after close"));
  }
  EXPECT_EQ(read_acquisition_log(dir.path()), read_file(dir / kAcquisitionLogName));
  EXPECT_EQ(read_acquisition_log(dir / "missing"), std::nullopt);
}

TEST(AcquisitionLogTest, CountsFailedWritesAndReportsThemWhenWritingReturns) {
  TempDir dir;
  bool disk_full = false;
  int short_once = 0;
  AcquisitionLog log([&](int fd, const void* data, std::size_t size) -> long {
    if (disk_full) {
      errno = ENOSPC;
      return -1;
    }
    if (short_once > 0) {
      --short_once;
      return static_cast<long>(::write(fd, data, 5));
    }
    return static_cast<long>(::write(fd, data, size));
  });
  ASSERT_TRUE(log.open(dir.path()));
  EXPECT_TRUE(log.write(kNoon, "one"));
  disk_full = true;
  EXPECT_FALSE(log.write(kNoon, "lost a"));
  EXPECT_FALSE(log.is_open());
  EXPECT_FALSE(log.write(kNoon, "lost b"));
  disk_full = false;
  short_once = 1;
  EXPECT_FALSE(log.write(kNoon, "torn"));
  EXPECT_TRUE(log.write(kNoon, "two"));
  EXPECT_EQ(log.lines_lost(), 3);
  EXPECT_EQ(read_file(dir / kAcquisitionLogName),
            "2026-12-11T14:03:22  one\n"
            "2026-\n"
            "2026-12-11T14:03:22  3 earlier log line(s) could not be written\n"
            "2026-12-11T14:03:22  two\n");
}

// A folder that is not there yet, or goes and comes back, is logged into once it is there.
TEST(AcquisitionLogTest, RetriesAFolderThatIsNotThere) {
  TempDir dir;
  const fs::path folder = dir / "acq";
  AcquisitionLog log;
  EXPECT_FALSE(log.open(folder));
  EXPECT_TRUE(log.active());
  EXPECT_FALSE(log.write(kNoon, "lost"));
  fs::create_directory(folder);
  EXPECT_TRUE(log.write(kNoon, "back"));
  EXPECT_EQ(read_file(folder / kAcquisitionLogName),
            "2026-12-11T14:03:22  1 earlier log line(s) could not be written\n"
            "2026-12-11T14:03:22  back\n");
  fs::remove_all(folder);
  EXPECT_FALSE(log.write(kNoon, "gone"));
  fs::create_directory(folder);
  EXPECT_TRUE(log.write(kNoon, "again"));
  EXPECT_EQ(read_file(folder / kAcquisitionLogName),
            "2026-12-11T14:03:22  1 earlier log line(s) could not be written\n"
            "2026-12-11T14:03:22  again\n");
  EXPECT_EQ(log.lines_lost(), 2);
}

TEST(AcquisitionLogTest, NeverWritesThroughALinkOrIntoAnotherKindOfFile) {
  TempDir dir;
  const fs::path target = dir / "elsewhere.txt";
  write_file(target, "keep");
  fs::create_directory(dir / "link");
  fs::create_symlink(target, dir / "link" / kAcquisitionLogName);
  fs::create_directory(dir / "fifo");
  ASSERT_EQ(::mkfifo((dir / "fifo" / kAcquisitionLogName).c_str(), 0600), 0);
  for (const char* sub : {"link", "fifo"}) {
    AcquisitionLog log;
    EXPECT_FALSE(log.open(dir / sub)) << sub;
    EXPECT_FALSE(log.write(kNoon, "x")) << sub;
  }
  EXPECT_EQ(read_file(target), "keep");
}

} // namespace
} // namespace kestrova::acquisition
