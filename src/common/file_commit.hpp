#pragma once

// Files of a folder replaced together, in one step that a reader can tell.
//
// Every new file is first written and synced under a scratch name (see safe_file.hpp). Then the
// journal "commit.jnl" is written (scratch, sync, rename): its arrival is the commit point. The
// scratch files are renamed over their targets in the journal's order and the journal is
// removed. A process killed before the journal arrived leaves the old files and scratch that
// the next write sweeps; one killed after it leaves a journal that the next open of the folder
// completes (settle_pending_commit), so a reader sees either every old file or every new one.
//
// Journal, text: a first line "kestrova-commit 1", then one line per file,
// "<scratch name>\t<target name>", then "end". The committing process holds a shared lock on it
// until it has removed it, so no other process acts on a journal whose writer is alive.

#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/safe_file.hpp"

namespace kestrova::common {

inline constexpr std::string_view kCommitJournalName = "commit.jnl";

class FileCommit {
public:
  // Pending interruptions of `folder` are settled first.
  explicit FileCommit(std::filesystem::path folder);

  // `name` (a file of the folder) gets `bytes`.
  bool add(std::string_view name, std::string_view bytes);
  // `name` gets the contents the caller writes into the returned scratch file (nullptr on
  // failure). The caller need not sync it.
  ScratchFile* add_scratch(std::string_view name);
  // `name` becomes what `source` (a file of the folder) holds now.
  bool add_copy(std::string_view name, std::string_view source);

  // Replaces every file added, in the order added; false (nothing replaced, see error()) when
  // any scratch file or the journal cannot be written, or a target is a link. Once the journal
  // is in place the commit stands: a rename that fails then is retried by the next open.
  bool commit();

  const std::string& error() const { return error_; }

private:
  bool fail(std::string text);

  std::filesystem::path folder_;
  std::deque<ScratchFile> files_; // stable addresses for add_scratch
  std::string error_;
};

// What settle_pending_commit did.
enum class SettleResult { Nothing, Completed, Busy, Failed };

// Completes the commit interrupted in `folder`, if any: the files named by its journal are
// renamed over their targets and the journal is removed. A journal that its writer still holds
// is left alone (Busy). A damaged journal, or one that is a link, is removed: its commit never
// happened. Cheap when there is no journal (one failed open).
SettleResult settle_pending_commit(const std::filesystem::path& folder);

} // namespace kestrova::common
