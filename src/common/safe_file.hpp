#pragma once

// Writing files without following links planted in their folder.
//
// A file replaced as a whole is written into a scratch file beside it, ".NAME.XXXXXX" (six
// random letters or digits), created with O_CREAT | O_EXCL | O_NOFOLLOW, synced and renamed over
// NAME. A target that is a symbolic link is refused, never followed nor replaced: the file it
// points to stays untouched and the operator learns of the link. Files written in place or
// appended are opened with O_NOFOLLOW and must be regular files.
//
// A writer holds a shared lock on its scratch file while it lives. Scratch files that nobody
// holds were left by a crash: the next write of the same target removes them, together with
// the "NAME.tmp" scratch of earlier versions of the program.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kestrova::common {

// The steps of this layer that change something on disk.
enum class FileStep { Create, Write, Sync, Rename, Remove };

// Test seam: while an instance lives, each step calls `before` first; when it returns false the
// step fails as an I/O error (EIO) would. A test fails or ends the process at any step this way.
// One instance at a time; it restores the previous one when it goes.
class FileStepHook {
public:
  using Before = std::function<bool(FileStep step, const std::filesystem::path& file)>;
  explicit FileStepHook(Before before);
  ~FileStepHook();
  FileStepHook(const FileStepHook&) = delete;
  FileStepHook& operator=(const FileStepHook&) = delete;

private:
  Before before_;
  FileStepHook* previous_;
  friend bool file_step(FileStep step, const std::filesystem::path& file);
};

// Runs the hook of a step (see FileStepHook); false (errno EIO) when the step is to fail.
bool file_step(FileStep step, const std::filesystem::path& file);

// A new file that will replace `target` as a whole, written under a unique scratch name in the
// target's folder. Destroying it before commit() removes the scratch file.
class ScratchFile {
public:
  // An empty scratch file, opened for reading and writing. Stale scratch of the same target is
  // removed first (see remove_stale_scratch). Check ok().
  explicit ScratchFile(std::filesystem::path target);
  // A scratch file holding a copy of `source`.
  ScratchFile(std::filesystem::path target, const std::filesystem::path& source);
  ScratchFile(ScratchFile&& other) noexcept;
  ScratchFile& operator=(ScratchFile&&) = delete;
  ScratchFile(const ScratchFile&) = delete;
  ~ScratchFile();

  bool ok() const { return fd_ >= 0 && error_.empty(); }
  // What went wrong, naming the file, for a message.
  const std::string& error() const { return error_; }
  // The errno value of the failure; 0 for a target refused (a link, not a regular file).
  int error_number() const { return error_number_; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }
  const std::filesystem::path& target() const { return target_; }

  // Appends `bytes`; false (see error()) on failure.
  bool write(std::string_view bytes);
  // Flushes the contents to disk.
  bool sync();
  // Syncs the file, renames it over the target (refused when the target is a symbolic link or
  // not a regular file) and syncs the folder.
  bool commit();
  // The rename of commit() alone, for a caller that syncs the file and the folder itself.
  bool rename_over_target();
  // Keeps the scratch file on disk when this object goes (a commit journal names it).
  void keep() { renamed_ = true; }

private:
  void create(const std::filesystem::path* source);
  bool fail(const std::string& what, int error_number);

  std::filesystem::path target_;
  std::filesystem::path path_;
  int fd_ = -1;
  bool renamed_ = false;
  std::string error_;
  int error_number_ = 0;
};

// Why `target` cannot be replaced by a rename: a symbolic link, or something other than a
// regular file. Empty when it may (it need not exist).
std::string replace_refusal(const std::filesystem::path& target);

// Writes `bytes` to a scratch file beside `target`, syncs it and renames it over `target`. False
// with the reason in `*error` (when given) on failure, `target` then unchanged.
bool write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                           std::string* error = nullptr);

// Opens `file` for writing in place (flags as for open(2), O_NOFOLLOW added): a symbolic link or
// anything but a regular file is refused. The descriptor, or -1 with the reason in `error`.
int open_for_update(const std::filesystem::path& file, int flags, std::string& error);

// Appends `bytes` to `file` (created when missing) through open_for_update; false with the
// reason in `*error` (when given).
bool append_to_file(const std::filesystem::path& file, std::string_view bytes,
                    std::string* error = nullptr);

// Removes the scratch files of `target` that no living writer holds, and "NAME.tmp" left by
// earlier versions. Nothing is swept while the folder holds an unfinished commit (see
// file_commit.hpp).
void remove_stale_scratch(const std::filesystem::path& target);

// True when `name` is a scratch name of the target file name `target_name`.
bool is_scratch_name(std::string_view name, std::string_view target_name);

// fsync of a folder, so that renames and removals in it are on disk.
bool sync_folder(const std::filesystem::path& folder);

} // namespace kestrova::common
