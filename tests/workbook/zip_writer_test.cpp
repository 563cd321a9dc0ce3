#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support/temp_dir.hpp"
#include "workbook/crc32.hpp"
#include "workbook/file_writer.hpp"
#include "workbook/folder.hpp"
#include "workbook/xlsx_probe.hpp"
#include "workbook/zip_reader.hpp"
#include "workbook/zip_writer.hpp"

namespace kestrova::workbook {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::read_zip;
using testing::TempDir;
using testing::write_file;

const common::CivilTime kStamp{2026, 3, 15, 13, 45, 59, 0};

std::uint32_t bitwise_crc(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : bytes) {
    crc ^= static_cast<unsigned char>(ch);
    for (int k = 0; k < 8; ++k)
      crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc32(""), 0u);
  EXPECT_EQ(crc32("a"), 0xE8B7BE43u);
}

TEST(Crc32, PiecesOfAnyLengthMatchTheBitwiseDefinition) {
  std::mt19937 rng(7);
  std::string data(5003, '\0');
  for (char& c : data)
    c = static_cast<char>(rng());
  // Short pieces take the table loop; pieces of 64 bytes and more the carry-less multiply
  // folding with a table tail, from any alignment.
  for (std::size_t start : {0u, 3u}) {
    for (std::size_t len :
         {1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u, 1000u, 5000u}) {
      const std::string_view whole(data.data() + start, len);
      EXPECT_EQ(crc32(whole), bitwise_crc(whole)) << start << " " << len;
      for (std::size_t piece : {5u, 100u}) {
        Crc32 pieces;
        for (std::size_t at = 0; at < len; at += piece)
          pieces.update(whole.substr(at, piece));
        EXPECT_EQ(pieces.value(), bitwise_crc(whole)) << start << " " << len << " " << piece;
      }
    }
  }
}

TEST(DosTime, FieldsAndYearLimits) {
  struct Case {
    common::CivilTime t;
    std::uint16_t time;
    std::uint16_t date;
  };
  const Case cases[] = {
      {{2026, 3, 15, 13, 45, 59, 0}, 13 * 2048 + 45 * 32 + 29, 46 * 512 + 3 * 32 + 15},
      {{1980, 1, 1, 0, 0, 0, 0}, 0, 1 * 32 + 1},
      {{1975, 6, 30, 23, 59, 58, 0}, 23 * 2048 + 59 * 32 + 29, 6 * 32 + 30},
      {{2200, 12, 31, 0, 0, 1, 0}, 0, 127 * 512 + 12 * 32 + 31},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dos_time(c.t), c.time) << c.t.year;
    EXPECT_EQ(dos_date(c.t), c.date) << c.t.year;
  }
}

std::string le16(std::uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

TEST(ZipFolder, WritesTheExactRecordsOfOneFile) {
  TempDir tmp;
  fs::create_directory(tmp / "in");
  write_file(tmp / "in" / "a.txt", "hello");
  ASSERT_FALSE(zip_folder(tmp / "in", tmp / "out.zip", kStamp));

  const std::string t = le16(13 * 2048 + 45 * 32 + 29);
  const std::string d = le16(46 * 512 + 3 * 32 + 15);
  const std::string crc = le32(0x3610A686); // CRC-32 of "hello"
  const std::string local = le32(0x04034B50) + le16(20) + le16(0x0800) + le16(0) + t + d + crc +
                            le32(5) + le32(5) + le16(5) + le16(0) + "a.txt" + "hello";
  const std::string central = le32(0x02014B50) + le16(20) + le16(20) + le16(0x0800) + le16(0) + t +
                              d + crc + le32(5) + le32(5) + le16(5) + le16(0) + le16(0) + le16(0) +
                              le16(0) + le32(0) + le32(0) + "a.txt";
  const std::string end = le32(0x06054B50) + le16(0) + le16(0) + le16(1) + le16(1) +
                          le32(static_cast<std::uint32_t>(central.size())) +
                          le32(static_cast<std::uint32_t>(local.size())) + le16(0);
  EXPECT_EQ(read_file(tmp / "out.zip"), local + central + end);
}

TEST(ZipFolder, ListsFilesBeforeFoldersSortedWithoutCase) {
  TempDir tmp;
  const fs::path in = tmp / "pkg";
  for (const char* dir : {"xl/worksheets", "xl/_rels", "_rels", "docProps"}) {
    fs::create_directories(in / dir);
  }
  for (const char* file :
       {"_rels/.rels", "xl/_rels/workbook.xml.rels", "xl/worksheets/sheet1.xml", "xl/workbook.xml",
        "xl/styles.xml", "xl/sharedStrings.xml", "docProps/core.xml", "docProps/app.xml",
        "[Content_Types].xml", "xl/b.XML", "xl/A.xml", "xl/C.xml"}) {
    write_file(in / file, "x");
  }
  Status status;
  std::vector<std::string> names;
  for (const ZipEntry& e : list_zip_entries(in, status))
    names.push_back(e.name);
  ASSERT_FALSE(status);
  const std::vector<std::string> expected = {"[Content_Types].xml",
                                             "docProps/app.xml",
                                             "docProps/core.xml",
                                             "xl/A.xml",
                                             "xl/b.XML",
                                             "xl/C.xml",
                                             "xl/sharedStrings.xml",
                                             "xl/styles.xml",
                                             "xl/workbook.xml",
                                             "xl/worksheets/sheet1.xml",
                                             "xl/_rels/workbook.xml.rels",
                                             "_rels/.rels"};
  EXPECT_EQ(names, expected);
}

TEST(ZipFolder, EmptyFilesNonAsciiNamesAndLargeFilesReadBack) {
  TempDir tmp;
  const fs::path in = tmp / "in";
  fs::create_directories(in / "sub");
  write_file(in / "empty.txt", "");
  write_file(in / "sub" / "\xC3\xA9t\xC3\xA9.txt", "summer");
  std::string big((1 << 20) + 12345, '\0');
  std::mt19937 rng(3);
  for (char& c : big)
    c = static_cast<char>(rng());
  write_file(in / "big.bin", big);
  write_file(in / ".hidden", "h");
  ASSERT_FALSE(zip_folder(in, tmp / "out.zip", {1975, 2, 3, 4, 5, 6, 0}));

  const auto z = read_zip(read_file(tmp / "out.zip"));
  ASSERT_TRUE(z.ok) << z.problem;
  ASSERT_EQ(z.entries.size(), 4u);
  EXPECT_EQ(z.entries[0].name, ".hidden");
  EXPECT_EQ(z.entries[1].name, "big.bin");
  EXPECT_EQ(z.entries[1].crc, bitwise_crc(big));
  EXPECT_EQ(z.entries[1].data, big);
  EXPECT_EQ(z.entries[2].name, "empty.txt");
  EXPECT_EQ(z.entries[2].crc, 0u);
  EXPECT_EQ(z.entries[2].size, 0u);
  EXPECT_EQ(z.entries[3].name, "sub/\xC3\xA9t\xC3\xA9.txt");
  for (const auto& e : z.entries) {
    EXPECT_EQ(e.flags, 0x0800) << e.name;
    EXPECT_EQ(e.method, 0) << e.name;
    EXPECT_EQ(e.date >> 9, 0) << "1975 is stored as 1980";
  }

  const auto probe = testing::probe_xlsx(tmp / "out.zip");
  if (probe.available) {
    // The archive is no workbook, so openpyxl fails after zipfile has checked every CRC.
    EXPECT_NE(probe.output.find("testzip: None"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("entry sub/\xC3\xA9t\xC3\xA9.txt 0 0x800"), std::string::npos)
        << probe.output;
  }
}

TEST(ZipFolder, KnownPartsGiveTheSameArchiveAndStaleOnesAreRecomputed) {
  TempDir tmp;
  const fs::path in = tmp / "in";
  fs::create_directories(in / "xl");
  std::string big((1 << 20) + 777, '\0');
  std::mt19937 rng(5);
  for (char& c : big)
    c = static_cast<char>(rng());
  write_file(in / "xl" / "big.bin", big);
  write_file(in / "a.txt", "hello");
  write_file(in / "empty.txt", "");
  ASSERT_FALSE(zip_folder(in, tmp / "plain.zip", kStamp));
  const std::string plain = read_file(tmp / "plain.zip");

  const std::vector<KnownPart> known = {
      {"xl/big.bin", big.size(), crc32(big)}, {"a.txt", 5, crc32("hello")}, {"empty.txt", 0, 0}};
  ASSERT_FALSE(zip_folder(in, tmp / "known.zip", kStamp, known));
  EXPECT_EQ(read_file(tmp / "known.zip"), plain);

  // A file rewritten after its size and CRC were taken is read again, not trusted.
  const std::vector<KnownPart> stale = {{"a.txt", 4, crc32("hell")},
                                        {"xl/big.bin", big.size() - 1, 0}};
  ASSERT_FALSE(zip_folder(in, tmp / "stale.zip", kStamp, stale));
  EXPECT_EQ(read_file(tmp / "stale.zip"), plain);
}

TEST(FileWriter, SizeAndCrcTakenWhileWriting) {
  TempDir tmp;
  std::string big(FileWriter::kBufferSize + 4321, 'x');
  for (std::size_t i = 0; i < big.size(); i += 7)
    big[i] = static_cast<char>(i);
  FileWriter out;
  ASSERT_FALSE(out.open(tmp / "part"));
  out.track_crc();
  out.write("head");
  out.write(big); // larger than the buffer: written past it
  out.put('!');
  char* room = out.reserve(3);
  std::memcpy(room, "end", 3);
  out.commit(room + 3);
  ASSERT_FALSE(out.close());
  const std::string content = read_file(tmp / "part");
  EXPECT_EQ(content, "head" + big + "!end");
  const auto summary = out.summary();
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->size, content.size());
  EXPECT_EQ(summary->crc, bitwise_crc(content));

  // Bytes changed on disk after they passed the CRC leave no summary.
  FileWriter patched;
  ASSERT_FALSE(patched.open(tmp / "patched"));
  patched.track_crc();
  patched.write(big);
  patched.patch(0, "y", 1);
  ASSERT_FALSE(patched.close());
  EXPECT_FALSE(patched.summary());
}

TEST(FileWriter, CopiesFromFilesAndPipesAndReportsFailures) {
  TempDir tmp;
  std::string data(3 * FileWriter::kBufferSize + 99, '\0');
  std::mt19937 rng(11);
  for (char& c : data)
    c = static_cast<char>(rng());
  write_file(tmp / "source", data);

  FileWriter out;
  ASSERT_FALSE(out.open(tmp / "copy"));
  out.write("<");
  const int file = ::open((tmp / "source").c_str(), O_RDONLY);
  ASSERT_GE(file, 0);
  EXPECT_FALSE(out.copy_from(file, data.size(), tmp / "source"));
  ::close(file);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ASSERT_EQ(::write(pipe_fds[1], "piped", 5), 5);
  ::close(pipe_fds[1]);
  // The kernel copy refuses a pipe as source: the bytes go through the buffer instead.
  EXPECT_FALSE(out.copy_from(pipe_fds[0], 5, "pipe"));
  ::close(pipe_fds[0]);
  out.write(">");
  EXPECT_EQ(out.position(), data.size() + 7);
  ASSERT_FALSE(out.close());
  EXPECT_EQ(read_file(tmp / "copy"), "<" + data + "piped>");

  FileWriter short_source;
  ASSERT_FALSE(short_source.open(tmp / "short"));
  const int again = ::open((tmp / "source").c_str(), O_RDONLY);
  const Status s = short_source.copy_from(again, data.size() + 1, tmp / "source");
  ::close(again);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->number, EIO);
  EXPECT_NE(s->description.find("source"), std::string::npos) << s->description;

  // A source read from the middle of a page on: the copy starts at the descriptor's position
  // and leaves it just past the bytes copied.
  FileWriter middle;
  ASSERT_FALSE(middle.open(tmp / "middle"));
  const int from = ::open((tmp / "source").c_str(), O_RDONLY);
  ASSERT_EQ(::lseek(from, 5001, SEEK_SET), 5001);
  EXPECT_FALSE(middle.copy_from(from, 70000, tmp / "source"));
  char next = 0;
  EXPECT_EQ(::read(from, &next, 1), 1);
  EXPECT_EQ(next, data[5001 + 70000]);
  ::close(from);
  ASSERT_FALSE(middle.close());
  EXPECT_EQ(read_file(tmp / "middle"), data.substr(5001, 70000));

  if (::access("/dev/full", W_OK) == 0) {
    FileWriter full;
    ASSERT_FALSE(full.open("/dev/full"));
    full.write(data);
    full.write("more");
    const Status f = full.close();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->number, ENOSPC);
  }
}

TEST(FileWriter, ASourceCutShortDuringTheCopyIsAnError) {
  // The copy goes into a pipe whose reader cuts the source once the first bytes arrive, so
  // the rest is copied from a source that no longer has them. A cut inside the last page
  // leaves that page readable with zeros where the bytes were; a longer cut removes pages.
  struct Case {
    const char* what;
    std::uint64_t start;
    std::uint64_t cut_to;
  };
  constexpr std::uint64_t kSize = (1u << 20) + 3000;
  const Case cases[] = {
      {"cut inside the last page", 0, kSize - 100},
      {"cut by many pages, copied from the middle of a page", 5001, kSize - 200000},
  };
  TempDir tmp;
  for (const Case& c : cases) {
    write_file(tmp / "source", std::string(kSize, 'x'));
    const int from = ::open((tmp / "source").c_str(), O_RDONLY);
    ASSERT_GE(from, 0);
    ASSERT_EQ(::lseek(from, static_cast<off_t>(c.start), SEEK_SET), static_cast<off_t>(c.start));
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    ::fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096); // the copy runs at most a page ahead of the cut
    std::thread reader([&] {
      char chunk[1 << 16];
      std::uint64_t got = 0;
      bool cut = false;
      for (ssize_t n; (n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
        got += static_cast<std::uint64_t>(n);
        if (!cut && got >= sizeof chunk) {
          cut = true;
          EXPECT_EQ(::truncate((tmp / "source").c_str(), static_cast<off_t>(c.cut_to)), 0);
        }
      }
    });
    FileWriter out;
    out.adopt(pipe_fds[1], "pipe");
    const Status s = out.copy_from(from, kSize - c.start, tmp / "source");
    out.close();
    reader.join();
    ::close(pipe_fds[0]);
    ::close(from);
    ASSERT_TRUE(s) << c.what;
    EXPECT_EQ(s->number, EIO) << c.what;
    EXPECT_EQ(s->description,
              "el archivo ha cambiado durante la copia: " + (tmp / "source").string())
        << c.what;
  }
}

TEST(ZipFolder, EmptyFolderGivesNoArchiveAndRemovesTheOldOne) {
  TempDir tmp;
  fs::create_directories(tmp / "in" / "only_a_folder");
  write_file(tmp / "out.zip", "old archive");
  EXPECT_FALSE(zip_folder(tmp / "in", tmp / "out.zip", kStamp));
  EXPECT_FALSE(fs::exists(tmp / "out.zip"));
}

std::size_t files_in(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}

TEST(ZipFolder, RefusesArchivesBeyondTheFormatLimits) {
  TempDir tmp;
  fs::create_directories(tmp / "in");
  fs::create_directories(tmp / "out");
  for (const char* f : {"a", "b", "c"})
    write_file(tmp / "in" / f, "12345");

  const Status too_many = zip_folder(tmp / "in", tmp / "out" / "x.zip", kStamp, {2, 0xFFFFFFFF});
  ASSERT_TRUE(too_many);
  EXPECT_NE(too_many->description.find("entradas"), std::string::npos);
  const Status too_big = zip_folder(tmp / "in", tmp / "out" / "x.zip", kStamp, {0xFFFF, 200});
  ASSERT_TRUE(too_big);
  EXPECT_NE(too_big->description.find("bytes"), std::string::npos);
  EXPECT_EQ(files_in(tmp / "out"), 0u) << "no archive and no temporary file is left";

  // A real 4 GiB file (sparse, so it costs no disk) is refused before anything is read.
  const int fd = ::open((tmp / "in" / "huge").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 0x100000000LL), 0);
  ::close(fd);
  const Status huge = zip_folder(tmp / "in", tmp / "out" / "x.zip", kStamp);
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->number, EFBIG);
  EXPECT_EQ(files_in(tmp / "out"), 0u);
}

TEST(ZipFolder, AnInterruptedArchiveLeavesTheOldOneAndNoTemporary) {
  TempDir tmp;
  fs::create_directories(tmp / "in");
  fs::create_directories(tmp / "out");
  write_file(tmp / "in" / "a", std::string(3 * FileWriter::kBufferSize, 'a'));
  write_file(tmp / "out" / "x.zip", "old archive");
  std::atomic<bool> interrupted{true};
  const Status s = zip_folder(tmp / "in", tmp / "out" / "x.zip", kStamp, {}, {}, &interrupted);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->number, ECANCELED);
  EXPECT_EQ(read_file(tmp / "out" / "x.zip"), "old archive");
  EXPECT_EQ(files_in(tmp / "out"), 1u) << "no temporary file is left";

  // A writer stops at its next flush after the flag is set; what it had written stays.
  interrupted = false;
  FileWriter out;
  out.stop_when(&interrupted);
  ASSERT_FALSE(out.open(tmp / "out" / "part"));
  const std::string chunk(FileWriter::kBufferSize / 2 + 1, 'p');
  out.write(chunk);
  out.write(chunk); // the first chunk is flushed to make room
  EXPECT_EQ(fs::file_size(tmp / "out" / "part"), chunk.size());
  interrupted = true;
  out.write(chunk);
  EXPECT_TRUE(out.failed());
  const Status closed = out.close();
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->number, ECANCELED);
  EXPECT_EQ(fs::file_size(tmp / "out" / "part"), chunk.size());
}

TEST(ZipFolder, ReportsAnArchiveThatCannotBeWritten) {
  TempDir tmp;
  fs::create_directories(tmp / "in");
  write_file(tmp / "in" / "a", "1");
  const Status s = zip_folder(tmp / "in", tmp / "missing" / "x.zip", kStamp);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->number, ENOENT);
  EXPECT_NE(s->description.find("x.zip"), std::string::npos);
}

TEST(DeleteFolderRecursive, RemovesReadOnlyEntriesAndNeverFollowsLinks) {
  TempDir tmp;
  const fs::path victim = tmp / "keep";
  fs::create_directories(victim);
  write_file(victim / "precious.txt", "keep me");

  const fs::path f = tmp / "scratch";
  fs::create_directories(f / "a" / "b");
  write_file(f / "ro.txt", "x");
  write_file(f / "a" / "b" / "deep.txt", "x");
  fs::permissions(f / "ro.txt", fs::perms::owner_read);
  fs::permissions(f / "a" / "b", fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_directory_symlink(victim, f / "a" / "link");

  EXPECT_FALSE(DeleteFolderRecursive(f));
  EXPECT_FALSE(fs::exists(f));
  EXPECT_EQ(read_file(victim / "precious.txt"), "keep me");

  fs::create_directory_symlink(victim, tmp / "scratch_link");
  EXPECT_FALSE(DeleteFolderRecursive(tmp / "scratch_link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tmp / "scratch_link")));
  EXPECT_EQ(read_file(victim / "precious.txt"), "keep me");

  EXPECT_FALSE(DeleteFolderRecursive(tmp / "never_was"));
}

} // namespace
} // namespace kestrova::workbook
