#include "store/folder_lock.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::TempDir;

TEST(FolderLock, AHeldFolderIsBusyWithItsHolderAndFreeOnceReleased) {
  TempDir dir;
  EXPECT_FALSE(folder_lock_holder(dir.path()));
  EXPECT_FALSE(busy_folder_refusal(dir.path(), "Tagging"));
  {
    std::optional<FolderLock> lock = FolderLock::acquire(dir.path(), "acquisition \"worms\"");
    ASSERT_TRUE(lock);
    EXPECT_EQ(folder_lock_holder(dir.path()), "acquisition \"worms\"");
    EXPECT_EQ(busy_folder_refusal(dir.path(), "Tagging"),
              "Tagging is not possible while an acquisition records into " + dir.path().string() +
                  " (acquisition \"worms\").");
    // A second holder (another open file, as another program would have) is refused.
    int error = 0;
    EXPECT_FALSE(FolderLock::acquire(dir.path(), "second", &error));
    EXPECT_EQ(error, EWOULDBLOCK);
    // Moving the lock keeps it held.
    FolderLock moved = std::move(*lock);
    lock.reset();
    EXPECT_TRUE(folder_lock_holder(dir.path()));
  }
  EXPECT_FALSE(folder_lock_holder(dir.path()));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / kAcquisitionLockFile));
  EXPECT_TRUE(FolderLock::acquire(dir.path(), "again"));
}

// The lock of a process that dies (here killed, as a crash would end it) is free at once,
// although its lock file stays behind.
TEST(FolderLock, TheLockOfADeadProcessIsFree) {
  TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto lock = FolderLock::acquire(dir.path(), "child");
    const char c = lock ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(folder_lock_holder(dir.path()), "child");
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / kAcquisitionLockFile));
  EXPECT_FALSE(folder_lock_holder(dir.path()));
  EXPECT_FALSE(busy_folder_refusal(dir.path(), "Replacing the counts"));
  EXPECT_TRUE(FolderLock::acquire(dir.path(), "next"));
}

TEST(FolderLock, AFolderThatCannotHoldTheLockFileCannotBeLocked) {
  TempDir dir;
  int error = 0;
  EXPECT_FALSE(FolderLock::acquire(dir / "missing", "x", &error));
  EXPECT_EQ(error, ENOENT);
}

} // namespace
} // namespace kestrova::store
