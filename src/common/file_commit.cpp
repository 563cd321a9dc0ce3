#include "common/file_commit.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestrova::common {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalHeader = "kestrova-commit 1";
constexpr std::string_view kJournalEnd = "end";

// A plain file name of the folder: no separator, no line or field break, not "." or "..".
bool plain_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\t\r\n") == std::string_view::npos;
}

struct JournalEntry {
  std::string scratch;
  std::string target;
};

// The entries of a journal's text; nullopt unless it is whole and every name is a scratch name
// of its target.
std::optional<std::vector<JournalEntry>> parse_journal(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (lines.size() < 2 || lines.front() != kJournalHeader || lines.back() != kJournalEnd)
    return std::nullopt;
  std::vector<JournalEntry> entries;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const auto tab = lines[i].find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    JournalEntry e{std::string(lines[i].substr(0, tab)), std::string(lines[i].substr(tab + 1))};
    if (!plain_name(e.target) || !is_scratch_name(e.scratch, e.target)) return std::nullopt;
    entries.push_back(std::move(e));
  }
  return entries;
}

std::optional<std::string> read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > (1 << 20)) return std::nullopt;
  }
}

bool remove_journal(const fs::path& journal) {
  return file_step(FileStep::Remove, journal) && ::unlink(journal.c_str()) == 0;
}

} // namespace

SettleResult settle_pending_commit(const fs::path& folder) {
  const fs::path journal = folder / kCommitJournalName;
  const int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ELOOP) return SettleResult::Nothing;
    return remove_journal(journal) ? SettleResult::Nothing : SettleResult::Failed;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return SettleResult::Busy;
  // Its writer finished and removed it between the open and the lock.
  if (::fstat(fd, &st) != 0 || st.st_nlink == 0) return SettleResult::Nothing;
  const auto text = S_ISREG(st.st_mode) ? read_all(fd) : std::nullopt;
  const auto entries = text ? parse_journal(*text) : std::nullopt;
  if (!entries) return remove_journal(journal) ? SettleResult::Nothing : SettleResult::Failed;
  for (const JournalEntry& e : *entries) {
    const fs::path scratch = folder / e.scratch;
    struct stat s {};
    // Gone: renamed before the interruption.
    if (::lstat(scratch.c_str(), &s) != 0) continue;
    if (!S_ISREG(s.st_mode)) {
      if (file_step(FileStep::Remove, scratch)) ::unlink(scratch.c_str());
      continue;
    }
    const fs::path target = folder / e.target;
    if (!replace_refusal(target).empty()) {
      if (file_step(FileStep::Remove, scratch)) ::unlink(scratch.c_str());
      continue;
    }
    if (!file_step(FileStep::Rename, target) || ::rename(scratch.c_str(), target.c_str()) != 0)
      return SettleResult::Failed;
  }
  sync_folder(folder);
  if (!remove_journal(journal)) return SettleResult::Failed;
  sync_folder(folder);
  return SettleResult::Completed;
}

FileCommit::FileCommit(fs::path folder) : folder_(std::move(folder)) {
  settle_pending_commit(folder_);
  remove_stale_scratch(folder_ / kCommitJournalName);
}

bool FileCommit::fail(std::string text) {
  if (error_.empty()) error_ = std::move(text);
  files_.clear();
  return false;
}

ScratchFile* FileCommit::add_scratch(std::string_view name) {
  if (!error_.empty()) return nullptr;
  if (!plain_name(name)) {
    fail("Error writing " + (folder_ / name).string() + ": not a file name of the folder");
    return nullptr;
  }
  files_.emplace_back(folder_ / name);
  if (!files_.back().ok()) {
    fail(files_.back().error());
    return nullptr;
  }
  return &files_.back();
}

bool FileCommit::add(std::string_view name, std::string_view bytes) {
  ScratchFile* file = add_scratch(name);
  return file != nullptr && (file->write(bytes) || fail(file->error()));
}

bool FileCommit::add_copy(std::string_view name, std::string_view source) {
  if (!error_.empty()) return false;
  if (!plain_name(name) || !plain_name(source))
    return fail("Error writing " + (folder_ / name).string() + ": not a file name of the folder");
  files_.emplace_back(folder_ / name, folder_ / source);
  return files_.back().ok() || fail(files_.back().error());
}

bool FileCommit::commit() {
  if (!error_.empty()) return false;
  std::string text = std::string(kJournalHeader) + "\n";
  for (ScratchFile& f : files_) {
    if (!f.sync()) return fail(f.error());
    if (std::string refusal = replace_refusal(f.target()); !refusal.empty())
      return fail(std::move(refusal));
    text += f.path().filename().string() + "\t" + f.target().filename().string() + "\n";
  }
  text += std::string(kJournalEnd) + "\n";
  // The journal stays open (and locked) until it has been removed.
  std::optional<ScratchFile> journal(std::in_place, folder_ / kCommitJournalName);
  if (!journal->write(text) || !journal->commit()) return fail(journal->error());
  // The commit point is passed: from here on the new files are on their way whatever happens.
  bool renamed = true;
  for (ScratchFile& f : files_)
    renamed = renamed && f.rename_over_target();
  if (renamed) {
    sync_folder(folder_);
    if (remove_journal(folder_ / kCommitJournalName)) sync_folder(folder_);
    files_.clear();
    return true;
  }
  // A rename failed: let go of the files (kept for the journal) and complete it as an open
  // would; what is left is completed by the next open of the folder.
  for (ScratchFile& f : files_)
    f.keep();
  files_.clear();
  journal.reset();
  settle_pending_commit(folder_);
  return true;
}

} // namespace kestrova::common
