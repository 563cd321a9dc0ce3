#include "store/record_file.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(RecordWriter, WritesEveryFieldKindWithCrLf) {
  RecordWriter w;
  w.record({"<Channel>, <Enabled>"});
  w.record({"Default", -1, 0.5, true, false, 3.0, -0.5, 0});
  w.field(12).field(2.5).end_record();
  w.line("plain, \"as is\"");
  EXPECT_EQ(w.text(), "\"<Channel>, <Enabled>\"\r\n"
                      "\"Default\",-1,.5,#TRUE#,#FALSE#,3,-.5,0\r\n"
                      "12,2.5\r\n"
                      "plain, \"as is\"\r\n");
}

TEST(RecordWriter, StringsCannotBreakTheRecord) {
  EXPECT_EQ(format_field(Field("say \"hi\"")), "\"say 'hi'\"");
  EXPECT_EQ(format_field(Field("two\r\nlines")), "\"two  lines\"");
  EXPECT_EQ(format_field(Field(40000)), "32767");
  EXPECT_EQ(format_field(Field(-40000)), "-32768");
}

TEST(RecordReader, FieldsFollowTheReadingRules) {
  RecordReader r("\"<Channel>, <Group: -1=Free>\"\r\n"
                 "  7,\t\"a, b\"junk,  text with spaces  ,+3,0.5,5E-01,.5,1E-05\r\n"
                 "2.5,3.5,-2.5,\"#TRUE#\",#FALSE#,,\r\n"
                 "\"last\"");
  EXPECT_EQ(r.read_string(), "<Channel>, <Group: -1=Free>");
  EXPECT_EQ(r.read_integer(), 7);
  EXPECT_EQ(r.read_string(), "a, b");
  EXPECT_EQ(r.read_string(), "text with spaces");
  EXPECT_EQ(r.read_integer(), 3);
  EXPECT_EQ(r.read_real(), 0.5);
  EXPECT_EQ(r.read_real(), 0.5);
  EXPECT_EQ(r.read_real(), 0.5);
  EXPECT_EQ(r.read_real(), 1e-05);
  EXPECT_EQ(r.read_integer(), 2); // halves go to even
  EXPECT_EQ(r.read_integer(), 4);
  EXPECT_EQ(r.read_integer(), -2);
  EXPECT_EQ(r.read_boolean(), true);
  EXPECT_EQ(r.read_boolean(), false);
  EXPECT_EQ(r.read_integer(), 0);     // empty field
  EXPECT_EQ(r.read_string(), "");     // empty field at the line end
  EXPECT_EQ(r.read_string(), "last"); // no final CR LF
  EXPECT_TRUE(r.at_end());
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(r.read_string(), std::nullopt); // past the end
  EXPECT_TRUE(r.failed());
}

TEST(RecordReader, NumericFormsOfOlderFiles) {
  const std::pair<const char*, double> reals[] = {
      {"007", 7},       {"+.5", 0.5},   {"-.5", -0.5},  {"1E+02", 100},
      {"1e-05", 1e-05}, {" 2.5 ", 2.5}, {"\"3\"", 3},   {"-0012.50", -12.5},
      {"5.", 5},        {"+0", 0},      {"2.5E0", 2.5}, {"\t-1E1", -10},
  };
  for (const auto& [text, value] : reals) {
    RecordReader r(std::string(text) + "\r\n");
    EXPECT_EQ(r.read_real(), value) << text;
    EXPECT_TRUE(r.at_end()) << text;
  }
  const std::pair<const char*, int> integers[] = {
      {"007", 7}, {"+4", 4}, {"1E+02", 100}, {"2.5E0", 2}, {"-1.5", -2}, {"32767.4", 32767},
  };
  for (const auto& [text, value] : integers) {
    RecordReader r(std::string(text) + "\r\n");
    EXPECT_EQ(r.read_integer(), value) << text;
  }
}

TEST(RecordReader, ReadsContinueOnTheNextLineAndLinesSkipHeaders) {
  RecordReader r("1,2\r\n3\r\n\"hdr, x\"\r\n4,5\n6\r7\r\n");
  int a = 0, b = 0, c = 0;
  ASSERT_TRUE(r.read(a, b, c));
  EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 2, 3));
  EXPECT_EQ(r.read_line(), "\"hdr, x\"");
  double d = 0;
  std::string s;
  ASSERT_TRUE(r.read(d, s));
  EXPECT_EQ(d, 4.0);
  EXPECT_EQ(s, "5");             // a number read as text
  EXPECT_EQ(r.read_line(), "6"); // lone LF and lone CR end lines too
  EXPECT_EQ(r.read_integer(), 7);
  EXPECT_EQ(r.line_number(), 7);
}

TEST(RecordReader, ConversionErrorsFailAndStick) {
  const std::pair<const char*, const char*> cases[] = {
      {"abc", "text in a numeric field"},
      {"32768", "above 16 bits"},
      {"-32769", "below 16 bits"},
      {"1E400", "beyond double"},
      {"1.2.3", "two points"},
      {"1E", "empty exponent"},
      {"--1", "two signs"},
      {".", "no digits"},
      {"#TRUE#", "boolean as integer"},
      {"12 34", "inner space"},
      {"1E99999999999", "huge exponent"},
  };
  for (const auto& [text, why] : cases) {
    RecordReader r(std::string(text) + ",5\r\n");
    EXPECT_EQ(r.read_integer(), std::nullopt) << why;
    EXPECT_TRUE(r.failed()) << why;
    EXPECT_EQ(r.read_integer(), std::nullopt) << why << ": the reader stays failed";
  }
  RecordReader tiny("1E-400,-0.0\r\n");
  EXPECT_EQ(tiny.read_real(), 0.0); // underflow is zero, not an error
  EXPECT_EQ(tiny.read_real(), 0.0);
  RecordReader limits("32767,-32768,32767.4\r\n");
  EXPECT_EQ(limits.read_integer(), 32767);
  EXPECT_EQ(limits.read_integer(), -32768);
  EXPECT_EQ(limits.read_integer(), 32767);
  RecordReader boolean("maybe\r\n");
  EXPECT_EQ(boolean.read_boolean(), std::nullopt);
}

TEST(RecordReader, UnterminatedQuoteRunsToTheEnd) {
  RecordReader r("\"open\r\nstill, open");
  EXPECT_EQ(r.read_string(), "open\r\nstill, open");
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.read_string(), std::nullopt);
}

TEST(RecordFile, RoundTripsEveryValue) {
  TempDir dir;
  const auto file = dir / "values.dat";
  const double reals[] = {0.5, -0.5, 3, 1.0 / 3.0, 2.0 / 3.0, 1e-05, 123456.789, -1e20, 0.1};
  RecordWriter w;
  w.record({"<Real>, <Integer>, <Bool>, <Name>"});
  for (const double x : reals)
    w.record({x, -32768, true,
              "Ca\xC3\xB1"
              "a, 25 C"});
  ASSERT_TRUE(w.save(file));
  auto r = RecordReader::open(file);
  ASSERT_TRUE(r);
  ASSERT_TRUE(r->read_string());
  for (const double x : reals) {
    double d = 0;
    int i = 0;
    bool b = false;
    std::string s;
    ASSERT_TRUE(r->read(d, i, b, s));
    EXPECT_NEAR(d, x, std::abs(x) * 1e-14); // 15 significant digits
    EXPECT_EQ(format_field(d), format_field(x));
    EXPECT_EQ(i, -32768);
    EXPECT_TRUE(b);
    EXPECT_EQ(s, "Ca\xC3\xB1"
                 "a, 25 C");
  }
  EXPECT_TRUE(r->at_end());
}

TEST(RecordFile, OlderWindows1252FilesReadAsUtf8) {
  TempDir dir;
  write_file(dir / "old.dat", "\"hdr\"\r\n\"Ca\xF1"
                              "a\"\r\n");
  auto r = RecordReader::open(dir / "old.dat");
  ASSERT_TRUE(r);
  r->read_line();
  EXPECT_EQ(r->read_string(), "Ca\xC3\xB1"
                              "a");
  EXPECT_FALSE(RecordReader::open(dir / "missing.dat"));
  EXPECT_FALSE(RecordReader::open(dir.path()));
}

TEST(RecordFile, SavingReplacesAndTwiceGivesTheSameBytes) {
  TempDir dir;
  const auto file = dir / "x.dat";
  write_file(file, std::string(1000, 'z'));
  RecordWriter w;
  w.record({"hdr"}).record({1, 2.5});
  ASSERT_TRUE(w.save(file));
  const std::string once = read_file(file);
  ASSERT_TRUE(w.save(file));
  EXPECT_EQ(read_file(file), once);
  EXPECT_EQ(once, "\"hdr\"\r\n1,2.5\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.dat.tmp"));
}

// Runs `save` in a child process whose files may not grow past 4 KiB, so a larger save stops
// in the middle of writing its bytes: with `crash` the child is killed there (as by a power
// cut or a kill), otherwise the write fails and the save reports it. Returns the wait status.
int save_cut_short(const std::function<bool()>& save, bool crash) {
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit no_core{0, 0};
    const rlimit small{4096, 4096};
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, crash ? SIG_DFL : SIG_IGN);
    ::_exit(save() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

std::vector<std::string> folder_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A save cut short while its bytes are written leaves the previous file whole, whichever way
// it was saved; a failed save says so and leaves nothing behind; the next save succeeds.
TEST(RecordFile, SaveCutShortLeavesThePreviousFileWhole) {
  const std::string old_bytes = "\"previous\"\r\n1,2,3\r\n";
  const std::string new_bytes(64 * 1024, 'n');
  RecordWriter big;
  big.line(new_bytes);
  struct Saver {
    const char* name;
    std::function<bool(const std::filesystem::path&)> save;
    std::string saved; // the bytes a whole save leaves
  } savers[] = {
      {"save_file_atomically",
       [&](const std::filesystem::path& f) { return save_file_atomically(f, new_bytes); },
       new_bytes},
      {"RecordWriter::save", [&](const std::filesystem::path& f) { return big.save(f); },
       big.text()},
      {"RewriteWithBackup",
       [&](const std::filesystem::path& f) { return RewriteWithBackup(f, new_bytes); }, new_bytes},
  };
  for (const Saver& saver : savers) {
    for (const bool crash : {true, false}) {
      SCOPED_TRACE(std::string(saver.name) + (crash ? ", killed while writing" : ", write failed"));
      TempDir dir;
      const auto file = dir / "setup.dat";
      write_file(file, old_bytes);
      write_file(dir / "setup.bak", old_bytes);
      const auto before = folder_names(dir.path());

      const int status = save_cut_short([&] { return saver.save(file); }, crash);
      if (crash) {
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
      } else {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << "the failed save reported success";
        EXPECT_EQ(folder_names(dir.path()), before) << "a failed save left a file behind";
      }
      const std::string left = read_file(file);
      EXPECT_TRUE(left == old_bytes) << "the previous file became " << left.size() << " bytes";
      EXPECT_EQ(read_file(dir / "setup.bak"), old_bytes);

      ASSERT_TRUE(saver.save(file));
      EXPECT_TRUE(read_file(file) == saver.saved) << "the next save is not whole";
    }
  }
}

TEST(RecordFile, CountLines) {
  TempDir dir;
  const std::pair<std::string, int> cases[] = {
      {"", 0},           {"a", 1},        {"a\r\n", 1},  {"a\r\nb", 2},
      {"a\r\nb\r\n", 2}, {"\r\n\r\n", 2}, {"a\nb\n", 2}, {"a\rb", 2},
  };
  for (const auto& [bytes, lines] : cases) {
    write_file(dir / "f.dat", bytes);
    EXPECT_EQ(CountLines(dir / "f.dat"), lines) << bytes;
  }
  EXPECT_EQ(CountLines(dir / "missing.dat"), 0);
  std::string many;
  for (int i = 0; i < 32767; ++i)
    many += "1\r\n";
  write_file(dir / "f.dat", many);
  EXPECT_EQ(CountLines(dir / "f.dat"), 32767);
  write_file(dir / "f.dat", many + "1\r\n");
  EXPECT_EQ(CountLines(dir / "f.dat"), 0);
}

TEST(RecordFile, TextLinesEndAtEveryKindOfLineEnd) {
  TempDir dir;
  using Lines = std::vector<std::string>;
  const std::pair<std::string, Lines> cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}}, // LF then CR is two line ends, not one
  };
  for (const auto& [bytes, lines] : cases) {
    write_file(dir / "f.dat", bytes);
    EXPECT_EQ(read_text_lines(dir / "f.dat"), std::optional<Lines>(lines)) << bytes;
  }
  EXPECT_EQ(read_text_lines(dir / "missing.dat"), std::nullopt);
}

TEST(RecordFile, FileExistsOnlyForFiles) {
  TempDir dir;
  write_file(dir / "f.dat", "x");
  EXPECT_TRUE(FileExists(dir / "f.dat"));
  EXPECT_FALSE(FileExists(dir / "g.dat"));
  EXPECT_FALSE(FileExists(dir.path()));
}

TEST(RecordFile, CopyWithResult) {
  TempDir dir;
  write_file(dir / "a.dat", "new");
  write_file(dir / "b.bak", "old and longer");
  EXPECT_EQ(CopyWithResult(dir / "a.dat", dir / "b.bak"), 1);
  EXPECT_EQ(read_file(dir / "b.bak"), "new");
  EXPECT_EQ(CopyWithResult(dir / "none.dat", dir / "c.bak"), -1);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.bak"));
  EXPECT_EQ(CopyWithResult(dir / "a.dat", dir / "no" / "such" / "folder.bak"), -1);
  std::filesystem::create_directory(dir / "folder.bak");
  EXPECT_EQ(CopyWithResult(dir / "a.dat", dir / "folder.bak"), -1);

  write_file(dir / "ro.bak", "keep");
  std::filesystem::permissions(dir / "ro.bak", std::filesystem::perms::owner_read);
  EXPECT_EQ(CopyWithResult(dir / "a.dat", dir / "ro.bak"), -1);
  EXPECT_EQ(read_file(dir / "ro.bak"), "keep");
}

TEST(RecordFile, RewriteWithBackupKeepsThePreviousVersion) {
  TempDir dir;
  const auto file = dir / "setup.dat";
  EXPECT_TRUE(RewriteWithBackup(file, "first\r\n")); // no file yet: the failed copy is ignored
  EXPECT_FALSE(FileExists(dir / "setup.bak"));
  EXPECT_TRUE(RewriteWithBackup(file, "second\r\n"));
  EXPECT_EQ(read_file(dir / "setup.bak"), "first\r\n");
  EXPECT_EQ(read_file(file), "second\r\n");
  EXPECT_EQ(backup_path(dir / "subproj.dat"), dir / "subproj.bak");
}

TEST(RecordFile, EditThroughBackup) {
  TempDir dir;
  testing::FakeDialogs dialogs;
  const auto file = dir / "subproj.dat";
  write_file(file, "\"hdr\"\r\n\"title\"\r\n");
  const auto upper = [](const std::string& text) -> std::optional<std::string> {
    std::string out = text;
    out.replace(out.find("title"), 5, "TITLE");
    return out;
  };
  EXPECT_TRUE(EditThroughBackup(file, dialogs, upper));
  EXPECT_EQ(read_file(file), "\"hdr\"\r\n\"TITLE\"\r\n");
  EXPECT_EQ(read_file(dir / "subproj.bak"), "\"hdr\"\r\n\"title\"\r\n");
  EXPECT_TRUE(dialogs.messages().empty());

  // A backup that cannot be written: "error", and the file stays as it was.
  std::filesystem::permissions(dir / "subproj.bak", std::filesystem::perms::owner_read);
  EXPECT_FALSE(EditThroughBackup(file, dialogs, upper));
  EXPECT_EQ(dialogs.messages(), std::vector<std::string>{"error"});
  EXPECT_EQ(read_file(file), "\"hdr\"\r\n\"TITLE\"\r\n");
}

} // namespace
} // namespace kestrova::store
