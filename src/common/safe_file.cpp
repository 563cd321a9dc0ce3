#include "common/safe_file.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/file_commit.hpp"

namespace kestrova::common {

namespace fs = std::filesystem;

namespace {

std::atomic<FileStepHook*> active_hook{nullptr};

constexpr std::size_t kScratchSuffix = 6;
constexpr std::string_view kScratchLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string scratch_suffix() {
  unsigned char random[kScratchSuffix] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Unique enough without the generator: O_EXCL turns a clash into another try.
    static std::atomic<unsigned> counter{0};
    const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u + counter++;
    for (std::size_t i = 0; i < kScratchSuffix; ++i)
      random[i] = static_cast<unsigned char>(seed >> (i * 5));
  }
  std::string suffix;
  for (const unsigned char r : random)
    suffix += kScratchLetters[r % kScratchLetters.size()];
  return suffix;
}

std::string errno_text(int error_number) { return std::strerror(error_number); }

fs::path folder_of(const fs::path& file) {
  return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// True when `name` still names the file open as `fd`.
bool names_open_file(const fs::path& name, int fd) {
  struct stat by_name {};
  struct stat open_file {};
  return ::lstat(name.c_str(), &by_name) == 0 && ::fstat(fd, &open_file) == 0 &&
         by_name.st_dev == open_file.st_dev && by_name.st_ino == open_file.st_ino;
}

bool copy_contents(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

} // namespace

FileStepHook::FileStepHook(Before before)
    : before_(std::move(before)), previous_(active_hook.exchange(this)) {}

FileStepHook::~FileStepHook() { active_hook.store(previous_); }

bool file_step(FileStep step, const fs::path& file) {
  FileStepHook* hook = active_hook.load();
  if (hook == nullptr || hook->before_(step, file)) return true;
  errno = EIO;
  return false;
}

bool is_scratch_name(std::string_view name, std::string_view target_name) {
  if (name.size() != target_name.size() + 2 + kScratchSuffix || name[0] != '.' ||
      name.substr(1, target_name.size()) != target_name || name[target_name.size() + 1] != '.')
    return false;
  for (const char c : name.substr(target_name.size() + 2))
    if (kScratchLetters.find(c) == std::string_view::npos) return false;
  return true;
}

bool sync_folder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

void remove_stale_scratch(const fs::path& target) {
  const fs::path folder = folder_of(target);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(folder / kCommitJournalName, ec))) return;
  const std::string name = target.filename().string();
  // The scratch name of earlier versions: remove the name only (a link is not followed).
  const fs::path legacy = folder / (name + ".tmp");
  const auto legacy_status = fs::symlink_status(legacy, ec);
  if ((fs::is_regular_file(legacy_status) || fs::is_symlink(legacy_status)) &&
      file_step(FileStep::Remove, legacy))
    ::unlink(legacy.c_str());
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path candidate = it->path();
    if (!is_scratch_name(candidate.filename().string(), name)) continue;
    const int fd = ::open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ELOOP && file_step(FileStep::Remove, candidate)) ::unlink(candidate.c_str());
      continue;
    }
    // Removed under the lock: a writer that locks it afterwards finds its name gone and retries.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && names_open_file(candidate, fd) &&
        file_step(FileStep::Remove, candidate))
      ::unlink(candidate.c_str());
    ::close(fd);
  }
}

std::string replace_refusal(const fs::path& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return target.string() + " is a symbolic link; it was not written";
  if (!S_ISREG(st.st_mode)) return target.string() + " is not a regular file; it was not written";
  return {};
}

ScratchFile::ScratchFile(fs::path target) : target_(std::move(target)) { create(nullptr); }

ScratchFile::ScratchFile(fs::path target, const fs::path& source) : target_(std::move(target)) {
  create(&source);
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : target_(std::move(other.target_)), path_(std::move(other.path_)), fd_(other.fd_),
      renamed_(other.renamed_), error_(std::move(other.error_)) {
  other.fd_ = -1;
  other.path_.clear();
}

ScratchFile::~ScratchFile() {
  if (!renamed_ && !path_.empty() && file_step(FileStep::Remove, path_)) ::unlink(path_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

bool ScratchFile::fail(const std::string& what, int error_number) {
  error_number_ = error_number;
  error_ = "Error " + what + " " + (path_.empty() ? target_ : path_).string() + ": " +
           errno_text(error_number);
  return false;
}

void ScratchFile::create(const fs::path* source) {
  remove_stale_scratch(target_);
  const fs::path folder = folder_of(target_);
  const std::string base = "." + target_.filename().string() + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = folder / (base + scratch_suffix());
    if (!file_step(FileStep::Create, candidate)) {
      fail("creating", errno);
      return;
    }
    const int fd =
        ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      fail("creating", errno);
      return;
    }
    // A sweep may have removed the name before the lock was taken: then try another name.
    if (::flock(fd, LOCK_SH) != 0 || !names_open_file(candidate, fd)) {
      ::close(fd);
      continue;
    }
    fd_ = fd;
    path_ = candidate;
    if (source == nullptr) return;
    // A copy, not a hard link: the scratch needs an inode of its own for its lock, and a file
    // appended in place later must not reach it.
    const int from = ::open(source->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const bool copied = from >= 0 && file_step(FileStep::Write, path_) && copy_contents(from, fd_);
    const int err = errno;
    if (from >= 0) ::close(from);
    if (!copied) fail(from >= 0 ? "writing" : "reading", err);
    return;
  }
  fail("creating", EEXIST);
}

bool ScratchFile::write(std::string_view bytes) {
  if (!ok()) return false;
  while (!bytes.empty()) {
    if (!file_step(FileStep::Write, path_)) return fail("writing", errno);
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("writing", errno);
    if (n == 0) return fail("writing", ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ScratchFile::sync() {
  if (!ok()) return false;
  if (!file_step(FileStep::Sync, path_) || ::fsync(fd_) != 0) return fail("writing", errno);
  return true;
}

bool ScratchFile::rename_over_target() {
  if (!ok()) return false;
  if (std::string refusal = replace_refusal(target_); !refusal.empty()) {
    error_number_ = 0;
    error_ = std::move(refusal);
    return false;
  }
  if (!file_step(FileStep::Rename, target_) || ::rename(path_.c_str(), target_.c_str()) != 0)
    return fail("replacing", errno);
  renamed_ = true;
  return true;
}

bool ScratchFile::commit() {
  if (!sync() || !rename_over_target()) return false;
  sync_folder(folder_of(target_));
  return true;
}

bool write_file_atomically(const fs::path& target, std::string_view bytes, std::string* error) {
  ScratchFile file(target);
  if (file.write(bytes) && file.commit()) return true;
  if (error != nullptr) *error = file.error();
  return false;
}

int open_for_update(const fs::path& file, int flags, std::string& error) {
  // O_NONBLOCK keeps a planted FIFO from blocking the open; it means nothing for a regular file.
  const int fd = ::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    error = replace_refusal(file);
    if (error.empty()) error = "Error writing " + file.string() + ": " + errno_text(err);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = file.string() + " is not a regular file; it was not written";
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool append_to_file(const fs::path& file, std::string_view bytes, std::string* error) {
  std::string why;
  const int fd = open_for_update(file, O_WRONLY | O_CREAT | O_APPEND, why);
  bool ok = fd >= 0;
  while (ok && !bytes.empty()) {
    if (!file_step(FileStep::Write, file)) {
      ok = false;
      break;
    }
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (fd >= 0 && !ok) why = "Error writing " + file.string() + ": " + errno_text(errno);
  if (fd >= 0 && ::close(fd) != 0 && ok) {
    ok = false;
    why = "Error writing " + file.string() + ": " + errno_text(errno);
  }
  if (!ok && error != nullptr) *error = why;
  return ok;
}

} // namespace kestrova::common
