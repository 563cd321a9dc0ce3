// Writes that never follow a planted link, leave no scratch behind, and replace files together
// so that a kill at any step leaves every old file or every new one.

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_commit.hpp"
#include "common/safe_file.hpp"
#include "support/file_steps.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::common {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;
using kestrova::testing::write_file;

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A folder "in" beside a file "outside" that planted links point to.
struct LinkFixture {
  TempDir dir;
  fs::path in = dir / "in";
  fs::path outside = dir / "outside";
  LinkFixture() {
    fs::create_directory(in);
    write_file(outside, "precious");
  }
  void plant(const std::string& name) const { fs::create_symlink(outside, in / name); }
};

TEST(SafeFile, NoWriteFollowsAPlantedLink) {
  struct Case {
    const char* what;
    const char* link; // the planted name
    std::function<bool(const fs::path& in, std::string& error)> write;
    bool refused;
  } cases[] = {
      {"replaced file is a link", "report.csv",
       [](const fs::path& in, std::string& e) {
         return write_file_atomically(in / "report.csv", "new", &e);
       },
       true},
      {"appended file is a link", "ch0.raw",
       [](const fs::path& in, std::string& e) { return append_to_file(in / "ch0.raw", "x", &e); },
       true},
      {"file written in place is a link", "ch000000.txt",
       [](const fs::path& in, std::string& e) {
         const int fd = open_for_update(in / "ch000000.txt", O_WRONLY | O_TRUNC, e);
         if (fd >= 0) ::close(fd);
         return fd >= 0;
       },
       true},
      {"old scratch name is a link", "counts.bin.tmp",
       [](const fs::path& in, std::string& e) {
         return write_file_atomically(in / "counts.bin", "new", &e);
       },
       false},
      {"a scratch-like name is a link", ".setup.dat.AAAAAA",
       [](const fs::path& in, std::string& e) {
         return write_file_atomically(in / "setup.dat", "new", &e);
       },
       false},
      {"commit journal is a link", "commit.jnl",
       [](const fs::path& in, std::string& e) {
         FileCommit commit(in);
         const bool ok = commit.add("a.dat", "new") && commit.commit();
         e = commit.error();
         return ok;
       },
       false},
      {"file of a commit is a link", "b.dat",
       [](const fs::path& in, std::string& e) {
         FileCommit commit(in);
         const bool ok =
             commit.add("a.dat", "new") && commit.add("b.dat", "new") && commit.commit();
         e = commit.error();
         return ok;
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkFixture f;
    f.plant(c.link);
    std::string error;
    EXPECT_EQ(c.write(f.in, error), !c.refused);
    EXPECT_EQ(read_file(f.outside), "precious");
    if (c.refused) {
      EXPECT_EQ(error, (f.in / c.link).string() + " is a symbolic link; it was not written");
      EXPECT_TRUE(fs::is_symlink(f.in / c.link));
      EXPECT_EQ(names_in(f.in), std::vector<std::string>{c.link}) << "no scratch left";
    } else {
      EXPECT_FALSE(fs::exists(fs::symlink_status(f.in / c.link))) << "the planted link is gone";
      for (const auto& e : fs::directory_iterator(f.in))
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(e.path()))) << e.path();
    }
  }
}

TEST(SafeFile, NeitherAFifoNorAFolderIsWrittenInPlace) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  fs::create_directory(dir / "folder");
  std::string error;
  EXPECT_FALSE(append_to_file(dir / "fifo", "x", &error));
  EXPECT_EQ(error, (dir / "fifo").string() + " is not a regular file; it was not written");
  EXPECT_FALSE(write_file_atomically(dir / "folder", "x", &error));
  EXPECT_EQ(error, (dir / "folder").string() + " is not a regular file; it was not written");
}

TEST(SafeFile, StaleScratchGoesAtTheNextWriteOfItsFileButNotAWritersOwn) {
  TempDir dir;
  write_file(dir / ".setup.dat.k3Jq9Z", "crashed");
  write_file(dir / "setup.dat.tmp", "crashed, older version");
  write_file(dir / ".counts.bin.k3Jq9Z", "another file's scratch");
  write_file(dir / ".setup.dat.toolong7", "not a scratch name");
  ScratchFile live(dir / "setup.dat");
  ASSERT_TRUE(live.ok()) << live.error();
  ASSERT_TRUE(write_file_atomically(dir / "setup.dat", "saved"));
  std::vector<std::string> kept = {".counts.bin.k3Jq9Z", live.path().filename().string(),
                                   ".setup.dat.toolong7", "setup.dat"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(names_in(dir.path()), kept);
  EXPECT_EQ(read_file(dir / "setup.dat"), "saved");
  ASSERT_TRUE(live.write("live") && live.commit()) << live.error();
  EXPECT_EQ(read_file(dir / "setup.dat"), "live");
}

TEST(SafeFile, AWriteThatFailsAtAnyStepLeavesTheOldFileAndNoScratch) {
  TempDir dir;
  write_file(dir / "config.dat", "old");
  const auto steps = kestrova::testing::file_steps_of(
      [&] { ASSERT_TRUE(write_file_atomically(dir / "config.dat", "new")); });
  EXPECT_EQ(steps.size(), 4u) << ::testing::PrintToString(steps); // create, write, sync, rename
  for (std::size_t fail_at = 1; fail_at <= steps.size(); ++fail_at) {
    SCOPED_TRACE(steps[fail_at - 1]);
    write_file(dir / "config.dat", "old");
    std::size_t taken = 0;
    FileStepHook hook([&](FileStep, const fs::path&) { return ++taken != fail_at; });
    std::string error;
    EXPECT_FALSE(write_file_atomically(dir / "config.dat", "new", &error));
    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
    EXPECT_EQ(read_file(dir / "config.dat"), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"config.dat"});
  }
}

// Three files replaced together, one of them new, one a copy of another's old version.
struct CommitFixture {
  TempDir dir;
  CommitFixture() {
    write_file(dir / "a.dat", "old a");
    write_file(dir / "b.dat", "old b");
  }
  void commit() const {
    FileCommit c(dir.path());
    ASSERT_TRUE(c.add_copy("a.bak", "a.dat") && c.add("a.dat", "new a") &&
                c.add("b.dat", "new b") && c.commit())
        << c.error();
  }
  // "old", "new", or what mixture was seen.
  std::string state() const {
    const std::string a = read_file(dir / "a.dat");
    const std::string b = read_file(dir / "b.dat");
    const std::string bak = fs::exists(dir / "a.bak") ? read_file(dir / "a.bak") : "none";
    if (a == "old a" && b == "old b" && bak == "none") return "old";
    if (a == "new a" && b == "new b" && bak == "old a") return "new";
    return a + "|" + b + "|" + bak;
  }
};

TEST(FileCommit, AKillAtAnyStepLeavesTheOldFilesOrTheNewOnesAfterTheNextOpen) {
  std::vector<std::string> steps;
  {
    CommitFixture f;
    steps = kestrova::testing::file_steps_of([&] { f.commit(); });
    EXPECT_EQ(f.state(), "new");
    EXPECT_EQ(names_in(f.dir.path()), (std::vector<std::string>{"a.bak", "a.dat", "b.dat"}));
  }
  bool saw_old = false, saw_new = false;
  for (std::size_t kill_at = 1; kill_at <= steps.size(); ++kill_at) {
    SCOPED_TRACE(steps[kill_at - 1]);
    CommitFixture f;
    ASSERT_TRUE(
        kestrova::testing::kill_at_file_step(static_cast<int>(kill_at), [&] { f.commit(); }));
    const bool pending = fs::exists(f.dir / "commit.jnl");
    EXPECT_EQ(settle_pending_commit(f.dir.path()),
              pending ? SettleResult::Completed : SettleResult::Nothing);
    const std::string state = f.state();
    EXPECT_TRUE(state == "old" || state == "new") << state;
    saw_old |= state == "old";
    saw_new |= state == "new";
    // The next commit sweeps whatever scratch the kill left.
    f.commit();
    for (const std::string& name : names_in(f.dir.path()))
      EXPECT_FALSE(name.starts_with(".")) << name;
  }
  EXPECT_TRUE(saw_old && saw_new);
}

TEST(FileCommit, AFailureBeforeTheJournalChangesNothingAndAfterItTheCommitStands) {
  std::vector<std::string> steps;
  {
    CommitFixture f;
    steps = kestrova::testing::file_steps_of([&] { f.commit(); });
  }
  for (std::size_t fail_at = 1; fail_at <= steps.size(); ++fail_at) {
    SCOPED_TRACE(steps[fail_at - 1]);
    CommitFixture f;
    std::size_t taken = 0;
    bool ok = false;
    {
      FileStepHook hook([&](FileStep, const fs::path&) { return ++taken != fail_at; });
      FileCommit c(f.dir.path());
      ok = c.add_copy("a.bak", "a.dat") && c.add("a.dat", "new a") && c.add("b.dat", "new b") &&
           c.commit();
    }
    settle_pending_commit(f.dir.path());
    EXPECT_EQ(f.state(), ok ? "new" : "old");
    for (const std::string& name : names_in(f.dir.path()))
      EXPECT_FALSE(name.starts_with(".") || name == "commit.jnl") << name;
  }
}

TEST(FileCommit, AJournalThatIsNotOursIsDroppedWithoutRenamingAnything) {
  const std::string header = "kestrova-commit 1\n";
  const std::string cases[] = {
      header + ".x.dat.AAAAAA\t../x.dat\nend\n", // a target outside the folder
      header + "victim.dat\ta.dat\nend\n",       // a source that is no scratch name
      header + ".a.dat.AAAAAA\ta.dat\n",         // cut short
      "garbage",
  };
  for (const std::string& journal : cases) {
    SCOPED_TRACE(journal);
    TempDir dir;
    write_file(dir / "a.dat", "old a");
    write_file(dir / "victim.dat", "victim");
    write_file(dir / ".a.dat.AAAAAA", "planted");
    write_file(dir / "commit.jnl", journal);
    EXPECT_EQ(settle_pending_commit(dir.path()), SettleResult::Nothing);
    EXPECT_EQ(read_file(dir / "a.dat"), "old a");
    EXPECT_EQ(read_file(dir / "victim.dat"), "victim");
    EXPECT_FALSE(fs::exists(dir / "commit.jnl"));
  }
}

TEST(FileCommit, AJournalHeldByItsWriterIsLeftAlone) {
  TempDir dir;
  write_file(dir / "a.dat", "old a");
  write_file(dir / ".a.dat.AAAAAA", "new a");
  write_file(dir / "commit.jnl", "kestrova-commit 1\n.a.dat.AAAAAA\ta.dat\nend\n");
  const int held = ::open((dir / "commit.jnl").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_SH), 0);
  EXPECT_EQ(settle_pending_commit(dir.path()), SettleResult::Busy);
  EXPECT_EQ(read_file(dir / "a.dat"), "old a");
  ::close(held);
  EXPECT_EQ(settle_pending_commit(dir.path()), SettleResult::Completed);
  EXPECT_EQ(read_file(dir / "a.dat"), "new a");
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"a.dat"});
}

} // namespace
} // namespace kestrova::common
