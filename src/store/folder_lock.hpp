#pragma once

// The advisory lock an acquisition holds on its folder while it records: the file
// acquisition.lock locked with flock(2). The kernel drops the lock when the holder closes it,
// exits or dies, so a crash never leaves a folder busy. The file's text names the holder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::store {

inline constexpr std::string_view kAcquisitionLockFile = "acquisition.lock";

// An exclusive lock on a folder, held until destroyed (or the process ends).
class FolderLock {
public:
  // Locks `folder` and writes `holder` into the lock file. Nothing when another open file
  // holds the lock, or the file cannot be created (`error` then holds errno, or EWOULDBLOCK).
  static std::optional<FolderLock> acquire(const std::filesystem::path& folder,
                                           std::string_view holder, int* error = nullptr);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  const std::filesystem::path& folder() const { return folder_; }

private:
  FolderLock(std::filesystem::path folder, int fd) : folder_(std::move(folder)), fd_(fd) {}
  void release();

  std::filesystem::path folder_;
  int fd_ = -1;
};

// The holder's text when a live process holds the lock of `folder`; nothing when it is free
// (no lock file, or a lock file nobody holds, as a crashed acquisition leaves it).
std::optional<std::string> folder_lock_holder(const std::filesystem::path& folder);

// The refusal shown when `what` (e.g. "Replacing the counts") is asked of a busy folder:
// "<what> is not possible while an acquisition records into <folder> (<holder>)."; nothing
// when the folder is free.
std::optional<std::string> busy_folder_refusal(const std::filesystem::path& folder,
                                               std::string_view what);

} // namespace kestrova::store
