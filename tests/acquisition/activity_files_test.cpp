#include "acquisition/activity_files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.hpp"

namespace kestrova::acquisition {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The records of buffer `b`, recognisable on reading back.
struct Buffer {
  std::vector<std::int16_t> counts = std::vector<std::int16_t>(kChannelCount);
  std::vector<std::int16_t> raw;
  std::vector<std::int32_t> histogram = std::vector<std::int32_t>(kHistogramBins * kChannelSlots);

  Buffer(int b, int buffer_length) : raw((buffer_length + 1) * kChannelSlots) {
    for (int c = 0; c < kChannelCount; ++c)
      counts[c] = static_cast<std::int16_t>(b * 7 + c);
    for (std::size_t i = 0; i < raw.size(); ++i)
      raw[i] = static_cast<std::int16_t>((b * 131 + static_cast<int>(i)) % 4096);
    for (std::size_t i = 0; i < histogram.size(); ++i)
      histogram[i] = static_cast<std::int32_t>(b * 1000 + i);
  }

  BufferEndRecords records(int b, bool save_realtime, bool body_bends) const {
    BufferEndRecords r;
    r.minutes = b;
    r.counts = counts;
    r.temperature = 20.0 + b / 10.0;
    r.save_realtime = save_realtime;
    r.raw_block = raw;
    r.body_bends = body_bends;
    r.histogram_minutes = b * 0.25;
    r.sample_period = 0.031;
    r.histogram_totals = histogram;
    return r;
  }
};

AppendResult append(ActivityWriter& writer, int b, bool save_realtime = true,
                    bool body_bends = false) {
  const Buffer buffer(b, writer.buffer_length());
  return writer.append_buffer(buffer.records(b, save_realtime, body_bends));
}

std::uintmax_t size_of(const fs::path& file) {
  std::error_code ec;
  const auto n = fs::file_size(file, ec);
  return ec ? 0 : n;
}

TEST(ActivityFiles, SixtyFiveBuffersFillSixRealtimeFilesOfElevenBlocks) {
  TempDir dir;
  constexpr int kB = 40; // a short buffer keeps the test fast; 500 gives blocks of 385,770 bytes
  EXPECT_EQ(realtime_block_bytes(500), 385770u);
  ActivityWriter writer(dir.path(), kB);
  for (int b = 0; b < 65; ++b)
    ASSERT_TRUE(append(writer, b, true, true)) << b;

  EXPECT_EQ(size_of(dir / "counts.bin"), 65u * 774u);
  for (int n = 0; n <= 5; ++n) {
    const std::uintmax_t blocks = n < 5 ? 11 : 10;
    EXPECT_EQ(size_of(dir / realtime_file_name(n)), blocks * realtime_block_bytes(kB)) << n;
    EXPECT_EQ(size_of(dir / histogram_file_name(n)), blocks * 78556u) << n;
  }
  EXPECT_FALSE(fs::exists(dir / "6.bin"));
  EXPECT_FALSE(fs::exists(dir / "histo0006.bin"));
  EXPECT_TRUE(fs::exists(dir / "histo0005.bin"));
  EXPECT_EQ(writer.block_counter(), 10);
  EXPECT_EQ(writer.file_number(), 5);

  for (int b : {0, 10, 11, 33, 64}) {
    const Buffer expected(b, kB);
    const auto record = read_counts_record(dir / "counts.bin", b);
    ASSERT_TRUE(record) << b;
    EXPECT_EQ(record->minutes, b);
    EXPECT_TRUE(std::equal(expected.counts.begin(), expected.counts.end(), record->slots.begin()));
    EXPECT_EQ(record->slots[384], temperature_tenths(20.0 + b / 10.0));
    const auto block = read_realtime_block(dir.path(), b, kB);
    ASSERT_TRUE(block) << b;
    EXPECT_EQ(*block, expected.raw) << b;
    const auto histogram = read_histogram_record(dir / histogram_file_name(b / 11), b % 11);
    ASSERT_TRUE(histogram) << b;
    EXPECT_EQ(histogram->minutes, b * 0.25);
    EXPECT_EQ(histogram->sample_period, 0.031);
    EXPECT_EQ(histogram->totals, expected.histogram);
  }
  EXPECT_FALSE(read_counts_record(dir / "counts.bin", 65));
  EXPECT_FALSE(read_realtime_block(dir.path(), 65, kB));
  EXPECT_TRUE(has_histogram_files(dir.path()));
}

TEST(ActivityFiles, RecordsAreLittleEndianWithTheTemperatureInSlot384) {
  struct Case {
    double celsius;
    std::int16_t stored;
  };
  for (const Case& c : std::vector<Case>{{23.25, 232},
                                         {23.35, 234},
                                         {-5.25, -52},
                                         {0.0, 0},
                                         {1e9, 32767},
                                         {-1e9, -32768},
                                         {std::numeric_limits<double>::quiet_NaN(), 0}})
    EXPECT_EQ(temperature_tenths(c.celsius), c.stored) << c.celsius;

  TempDir dir;
  ActivityWriter writer(dir.path(), 500);
  std::vector<std::int16_t> counts(kChannelCount, 0);
  counts[0] = -2;
  counts[1] = 0x1234;
  BufferEndRecords r;
  r.minutes = 40000; // beyond the 16-bit minutes: stored as 32767
  r.counts = counts;
  r.temperature = 23.25;
  ASSERT_TRUE(writer.append_buffer(r));
  const std::string bytes = testing::read_file(dir / "counts.bin");
  ASSERT_EQ(bytes.size(), 774u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\xFF\x7F\x00\x00\xFE\xFF\x34\x12", 8));
  EXPECT_EQ(bytes.substr(772, 2), std::string("\xE8\x00", 2)); // 232

  // Real-time blocks: sample after sample, channel fastest, block b at b x (B + 1) x 770 bytes.
  TempDir rt;
  constexpr int kB = 3;
  ActivityWriter blocks(rt.path(), kB);
  for (int b = 0; b < 2; ++b) {
    std::vector<std::int16_t> raw((kB + 1) * kChannelSlots, 0);
    raw[1 * kChannelSlots + 2] = static_cast<std::int16_t>(0x0102 + b);
    raw[kB * kChannelSlots - 1] = -3; // slot 384 of sample 2
    BufferEndRecords block_records = r;
    block_records.save_realtime = true;
    block_records.raw_block = raw;
    ASSERT_TRUE(blocks.append_buffer(block_records));
  }
  const std::string rt_bytes = testing::read_file(rt / "0.bin");
  ASSERT_EQ(rt_bytes.size(), 2u * 4 * 385 * 2);
  const std::size_t second = 4 * 385 * 2;
  EXPECT_EQ(rt_bytes.substr(2 * (385 + 2), 2), std::string("\x02\x01", 2));
  EXPECT_EQ(rt_bytes.substr(second + 2 * (385 + 2), 2), std::string("\x03\x01", 2));
  EXPECT_EQ(rt_bytes.substr(2 * (3 * 385 - 1), 2), std::string("\xFD\xFF", 2));

  std::vector<std::int32_t> totals(kHistogramBins * kChannelSlots, 0);
  totals[2 * 385 + 5] = 0x01020304;
  const auto histogram = encode_histogram_record(1.25, 0.5, totals);
  ASSERT_EQ(histogram.size(), 78556u);
  const std::byte minutes[8] = {std::byte{0}, std::byte{0}, std::byte{0},    std::byte{0},
                                std::byte{0}, std::byte{0}, std::byte{0xF4}, std::byte{0x3F}};
  EXPECT_TRUE(std::equal(minutes, minutes + 8, histogram.begin()));
  const std::byte period[8] = {std::byte{0}, std::byte{0}, std::byte{0},    std::byte{0},
                               std::byte{0}, std::byte{0}, std::byte{0xE0}, std::byte{0x3F}};
  EXPECT_TRUE(std::equal(period, period + 8, histogram.begin() + 8)); // 0.5
  const std::size_t at = 16 + 4 * (2 * 385 + 5);
  EXPECT_EQ(histogram[at], std::byte{4});
  EXPECT_EQ(histogram[at + 3], std::byte{1});
}

TEST(ActivityFiles, RealtimeSavingOffWritesNoRealtimeFile) {
  TempDir dir;
  ActivityWriter writer(dir.path(), 500);
  for (int b = 0; b < 12; ++b)
    ASSERT_TRUE(append(writer, b, false, false));
  EXPECT_EQ(size_of(dir / "counts.bin"), 12u * 774u);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    ++files;
    EXPECT_EQ(entry.path().filename(), "counts.bin");
  }
  EXPECT_EQ(files, 1);
  EXPECT_FALSE(has_histogram_files(dir.path()));
  EXPECT_EQ(writer.file_number(), 1);
  EXPECT_EQ(writer.block_counter(), 1);
}

TEST(ActivityFiles, AWriterOnAFolderWithRecordsContinuesAfterThemBlockBesideRecord) {
  TempDir dir;
  constexpr int kB = 20;
  {
    ActivityWriter first(dir.path(), kB);
    for (int b = 0; b < 3; ++b)
      ASSERT_TRUE(append(first, b));
  }
  ActivityWriter second(dir.path(), kB);
  EXPECT_EQ(second.records_written(), 3);
  EXPECT_EQ(second.block_counter(), 3);
  for (int b = 3; b < 14; ++b)
    ASSERT_TRUE(append(second, b));
  EXPECT_EQ(counts_record_count(dir / "counts.bin"), 14);
  EXPECT_EQ(size_of(dir / "0.bin"), 11 * realtime_block_bytes(kB));
  EXPECT_EQ(size_of(dir / "1.bin"), 3 * realtime_block_bytes(kB));
  for (int b = 0; b < 14; ++b) {
    EXPECT_EQ(read_counts_record(dir / "counts.bin", b)->minutes, b);
    EXPECT_EQ(*read_realtime_block(dir.path(), b, kB), Buffer(b, kB).raw) << b;
  }
}

// Every file of a folder with its bytes, to show that a refused append changed nothing.
std::map<std::string, std::string> folder_contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = testing::read_file(entry.path());
  return files;
}

// A folder continued by a new writer: real-time data of another buffer length is refused and
// left as it is; whole blocks past the last record are aligned with the records, the blocks
// beyond the one a crash leaves kept aside in order.
TEST(ActivityFiles, AContinuedFolderAlignsBlocksWithRecordsOrRefusesOtherLengths) {
  struct Run {
    int buffer_length;
    int buffers;
    bool save_realtime = true;
  };
  struct Case {
    const char* name;
    std::vector<Run> earlier;
    int drop_counts_records; // records cut from the end of counts.bin after the earlier runs
    int buffer_length;       // of the run that continues the folder
    bool refused;
    int aside = 0; // blocks moved to unrecorded.blocks
  };
  const std::vector<Case> cases = {
      {"a restart with a shorter buffer", {{40, 3}}, 0, 20, true},
      {"a shorter buffer, less than a block apart", {{30, 1}}, 0, 20, true},
      {"a restart with a longer buffer", {{20, 3}}, 0, 40, true},
      {"a full earlier file of another length", {{20, 11}}, 0, 21, true},
      {"a later file of another length", {{20, 12}, {21, 1}}, 3, 20, true},
      {"counts.bin missing", {{20, 3}}, 3, 20, false, 3},
      {"two blocks without their counts records", {{20, 3}}, 2, 20, false, 2},
      {"blocks without records in two files", {{20, 13}}, 8, 20, false, 8},
      {"a block without its counts record (a crash between the two)", {{20, 3}}, 1, 20, false},
      {"the same buffer length", {{20, 3}}, 0, 20, false},
      {"blocks missing from a run that saved none", {{20, 2}, {20, 2, false}}, 0, 20, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    int b = 0;
    for (const Run& run : c.earlier) {
      ActivityWriter earlier(dir.path(), run.buffer_length);
      for (int i = 0; i < run.buffers; ++i, ++b) {
        // Blocks of another length can only be planted past the records (as a foreign file).
        if (run.buffer_length != c.earlier.front().buffer_length) {
          const Buffer planted(b, run.buffer_length);
          std::vector<std::byte> bytes;
          encode_samples(planted.raw, bytes);
          testing::write_file(
              dir / realtime_file_name(b / kBlocksPerRealtimeFile + 1),
              std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
          continue;
        }
        ASSERT_TRUE(append(earlier, b, run.save_realtime)) << c.name;
      }
    }
    const int recorded = static_cast<int>(counts_record_count(dir / "counts.bin"));
    const auto counts_size = static_cast<std::uintmax_t>(recorded - c.drop_counts_records) * 774u;
    if (counts_size == 0)
      fs::remove(dir / "counts.bin");
    else
      fs::resize_file(dir / "counts.bin", counts_size);
    const auto before = folder_contents(dir.path());

    ActivityWriter writer(dir.path(), c.buffer_length);
    const std::int64_t continued_at = writer.records_written();
    EXPECT_EQ(!writer.check_realtime_files(), c.refused) << c.name;
    const AppendResult r = append(writer, 100, true);
    if (c.refused) {
      EXPECT_FALSE(r) << c.name;
      EXPECT_EQ(r.failure, AppendFailure::kForeignBlocks) << c.name;
      EXPECT_NE(describe(r).find(r.file.filename().string()), std::string::npos) << describe(r);
      EXPECT_EQ(describe(r).find("Success"), std::string::npos) << describe(r);
      EXPECT_EQ(folder_contents(dir.path()), before) << c.name;
      EXPECT_EQ(writer.records_written(), continued_at) << c.name;
      EXPECT_FALSE(append(writer, 101, true)) << c.name; // and it stays refused
      EXPECT_EQ(folder_contents(dir.path()), before) << c.name;
      continue;
    }
    ASSERT_TRUE(r) << c.name << ": " << describe(r);
    ASSERT_TRUE(append(writer, 101, true)) << c.name;
    // Block r belongs to record r again, old and new.
    const std::int64_t blocks_now = continued_at + 2;
    EXPECT_EQ(counts_record_count(dir / "counts.bin"), blocks_now) << c.name;
    EXPECT_EQ(*read_realtime_block(dir.path(), continued_at, c.buffer_length),
              Buffer(100, c.buffer_length).raw)
        << c.name;
    EXPECT_EQ(*read_realtime_block(dir.path(), continued_at + 1, c.buffer_length),
              Buffer(101, c.buffer_length).raw)
        << c.name;
    EXPECT_FALSE(read_realtime_block(dir.path(), blocks_now, c.buffer_length)) << c.name;
    for (std::int64_t k = 0; k < std::min<std::int64_t>(c.earlier.front().buffers, continued_at);
         ++k)
      EXPECT_EQ(*read_realtime_block(dir.path(), k, c.buffer_length),
                Buffer(k, c.buffer_length).raw)
          << c.name << " block " << k;
    // The blocks without records are kept, in order, out of the way.
    const std::string aside = testing::read_file(dir / kUnrecordedBlocksFileName);
    const std::size_t block = realtime_block_bytes(c.buffer_length);
    ASSERT_EQ(aside.size(), static_cast<std::size_t>(c.aside) * block) << c.name;
    for (int k = 0; k < c.aside; ++k) {
      std::vector<std::int16_t> samples(block / 2);
      decode_samples(std::as_bytes(std::span(aside.data() + k * block, block)), samples);
      EXPECT_EQ(samples, Buffer(static_cast<int>(continued_at) + k, c.buffer_length).raw)
          << c.name << " block aside " << k;
    }
  }
}

// A failure is described by its reason; an error number of 0 is no reason and is never shown
// as one (strerror(0) reads "Success").
TEST(ActivityFiles, FailuresAreDescribedWithoutAnErrorNumberOfZero) {
  EXPECT_EQ(describe({false, "/d/0.bin", 0, AppendFailure::kWrite}), "Cannot write /d/0.bin");
  EXPECT_EQ(describe({false, "/d/0.bin", ENOSPC, AppendFailure::kWrite}),
            std::string("Cannot write /d/0.bin: ") + std::strerror(ENOSPC));
  EXPECT_EQ(describe({false, "/d/1.bin", 0, AppendFailure::kForeignBlocks}),
            "/d/1.bin holds real-time blocks of another buffer length; the acquisition cannot "
            "continue in this folder");
  EXPECT_EQ(describe({}), "");
}

TEST(ActivityFiles, ReadersIgnoreATruncatedFinalRecordAndTheWriterCutsItBack) {
  TempDir dir;
  constexpr int kB = 20;
  {
    ActivityWriter writer(dir.path(), kB);
    for (int b = 0; b < 2; ++b)
      ASSERT_TRUE(append(writer, b, true, true));
  }
  // An interrupted write left part of a third record in every file.
  for (const char* name : {"counts.bin", "0.bin", "histo0000.bin"}) {
    fs::resize_file(dir / name, size_of(dir / name) + 100);
  }
  EXPECT_EQ(counts_record_count(dir / "counts.bin"), 2);
  EXPECT_FALSE(read_counts_record(dir / "counts.bin", 2));
  EXPECT_TRUE(read_counts_record(dir / "counts.bin", 1));
  EXPECT_FALSE(read_realtime_block(dir.path(), 2, kB));
  EXPECT_TRUE(read_realtime_block(dir.path(), 1, kB));
  EXPECT_EQ(histogram_record_count(dir / "histo0000.bin"), 2);
  EXPECT_FALSE(read_histogram_record(dir / "histo0000.bin", 2));

  struct Bad {
    std::int64_t record;
    int buffer_length;
  };
  for (const Bad& bad : std::vector<Bad>{{-1, kB}, {0, 0}, {0, -3}, {0, 40000}})
    EXPECT_FALSE(read_realtime_block(dir.path(), bad.record, bad.buffer_length));
  EXPECT_FALSE(read_counts_record(dir / "counts.bin", -1));
  EXPECT_FALSE(read_counts_record(dir / "missing.bin", 0));
  EXPECT_EQ(counts_record_count(dir / "missing.bin"), 0);

  ActivityWriter writer(dir.path(), kB);
  ASSERT_TRUE(append(writer, 2, true, true));
  EXPECT_EQ(size_of(dir / "counts.bin"), 3u * 774u);
  EXPECT_EQ(size_of(dir / "0.bin"), 3 * realtime_block_bytes(kB));
  EXPECT_EQ(size_of(dir / "histo0000.bin"), 3u * 78556u);
  EXPECT_EQ(read_counts_record(dir / "counts.bin", 2)->minutes, 2);
}

// A disk that fills after `room` more bytes: writes past it are short, as write(2) makes them.
WriteAtFunction disk_with_room(std::int64_t& room) {
  return [&room](int fd, const void* data, std::size_t size, std::int64_t offset) -> long {
    const auto n = static_cast<std::size_t>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(room, static_cast<std::int64_t>(size))));
    if (n == 0) {
      errno = ENOSPC;
      return -1;
    }
    const long written = static_cast<long>(::pwrite(fd, data, n, offset));
    room -= written;
    return written;
  };
}

TEST(ActivityFiles, AFullDiskCutsEveryFileBackToTheLastWholeBuffer) {
  constexpr int kB = 20;
  const auto block = static_cast<std::int64_t>(realtime_block_bytes(kB));
  struct Case {
    const char* name;
    std::int64_t room; // bytes left when the third buffer is written
  };
  const std::vector<Case> cases = {
      {"inside the real-time block", block / 2},
      {"inside the counts record", block + 300},
      {"inside the histogram record", block + 774 + 5000},
      {"nothing left", 0},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::int64_t room = std::numeric_limits<std::int64_t>::max();
    ActivityWriter writer(dir.path(), kB, disk_with_room(room));
    for (int b = 0; b < 2; ++b)
      ASSERT_TRUE(append(writer, b, true, true));
    room = c.room;
    const AppendResult failed = append(writer, 2, true, true);
    EXPECT_FALSE(failed) << c.name;
    EXPECT_EQ(failed.error, ENOSPC) << c.name;
    EXPECT_EQ(size_of(dir / "counts.bin"), 2u * 774u) << c.name;
    EXPECT_EQ(size_of(dir / "0.bin"), 2u * static_cast<std::uintmax_t>(block)) << c.name;
    EXPECT_EQ(size_of(dir / "histo0000.bin"), 2u * 78556u) << c.name;
    EXPECT_EQ(writer.records_written(), 2) << c.name;

    room = std::numeric_limits<std::int64_t>::max(); // space freed: the next buffer follows on
    ASSERT_TRUE(append(writer, 3, true, true)) << c.name;
    EXPECT_EQ(read_counts_record(dir / "counts.bin", 2)->minutes, 3) << c.name;
    EXPECT_EQ(*read_realtime_block(dir.path(), 2, kB), Buffer(3, kB).raw) << c.name;
  }
}

TEST(ActivityFiles, AFileSizeLimitCutsTheShortWriteBack) {
  TempDir dir;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{2000, 2000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ActivityWriter writer(dir.path(), 500);
    int status = 0;
    for (int b = 0; b < 2; ++b)
      if (!append(writer, b, false, false)) status |= 1;
    const AppendResult third = append(writer, 2, false, false);
    if (third || third.error == 0) status |= 2;
    if (size_of(dir / "counts.bin") != 2 * 774) status |= 4;
    ::_exit(status);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(counts_record_count(dir / "counts.bin"), 2);
}

TEST(ActivityFiles, RecordsOfTheWrongSizeAndAMissingFolderAreRefused) {
  TempDir dir;
  ActivityWriter writer(dir.path(), 500);
  const Buffer wrong(0, 499); // a raw block of another buffer length
  const AppendResult refused = writer.append_buffer(wrong.records(0, true, false));
  EXPECT_EQ(refused.error, EINVAL);
  EXPECT_EQ(refused.failure, AppendFailure::kBadRecords);
  EXPECT_FALSE(fs::exists(dir / "counts.bin"));

  ActivityWriter gone(dir / "no-such-folder", 500);
  const AppendResult r = append(gone, 0, false, false);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_EQ(r.failure, AppendFailure::kWrite);
  EXPECT_NE(describe(r).find(std::strerror(ENOENT)), std::string::npos) << describe(r);
  EXPECT_EQ(gone.records_written(), 0);
}

} // namespace
} // namespace kestrova::acquisition
