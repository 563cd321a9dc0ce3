#include "store/folder_lock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrova::store {

namespace fs = std::filesystem;

namespace {

fs::path lock_path(const fs::path& folder) { return folder / kAcquisitionLockFile; }

bool write_text(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

} // namespace

std::optional<FolderLock> FolderLock::acquire(const fs::path& folder, std::string_view holder,
                                              int* error) {
  const auto fail = [&](int e) -> std::optional<FolderLock> {
    if (error) *error = e;
    return std::nullopt;
  };
  // O_NOFOLLOW: a link planted under the lock's name is never written through.
  const int fd = ::open(lock_path(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return fail(errno);
  // A reader holds its shared lock only for an instant: a few more tries get past it.
  int rc = -1;
  for (int attempt = 0; attempt < 50 && rc != 0; ++attempt) {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
    if (rc != 0 && errno != EINTR && errno != EWOULDBLOCK) break;
    if (rc != 0) ::sched_yield();
  }
  if (rc != 0) {
    const int e = errno;
    ::close(fd);
    return fail(e);
  }
  // The holder's text is a courtesy for the refusal message; the lock works without it.
  if (::ftruncate(fd, 0) == 0) {
    std::string text(holder);
    text += '\n';
    (void)write_text(fd, text);
  }
  if (error) *error = 0;
  return FolderLock(folder, fd);
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : folder_(std::move(other.folder_)), fd_(other.fd_) {
  other.fd_ = -1;
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    release();
    folder_ = std::move(other.folder_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FolderLock::~FolderLock() { release(); }

void FolderLock::release() {
  if (fd_ < 0) return;
  // The file is removed while still locked, so no reader sees it held by nobody in between.
  ::unlink(lock_path(folder_).c_str());
  ::close(fd_);
  fd_ = -1;
}

std::optional<std::string> folder_lock_holder(const fs::path& folder) {
  const int fd = ::open(lock_path(folder).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  int rc = 0;
  do {
    rc = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char buf[512];
  ssize_t n = 0;
  while (text.size() < 4096 && (n = ::read(fd, buf, sizeof buf)) > 0)
    text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  if (text.empty()) text = "another program";
  return text;
}

std::optional<std::string> busy_folder_refusal(const fs::path& folder, std::string_view what) {
  const std::optional<std::string> holder = folder_lock_holder(folder);
  if (!holder) return std::nullopt;
  return std::string(what) + " is not possible while an acquisition records into " +
         folder.string() + " (" + *holder + ").";
}

} // namespace kestrova::store
