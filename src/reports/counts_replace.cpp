#include "reports/counts_replace.hpp"

#include <algorithm>
#include <sys/stat.h>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "common/file_commit.hpp"
#include "store/folder_lock.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;
using acquisition::kCountsRecordBytes;

namespace {

const std::string kCountsName = acquisition::kCountsFileName;
const std::string kSetupName = std::string(store::kSetupFileName);
const std::string kSetupBackup = std::string(store::kSetupBackupName);

// setup.dat's text with the detection mode (line 4, 5th value), the organism (line 10, 1st
// value) and the threshold x 10 (line 10, 4th value) replaced; the other lines are copied as
// text. nullopt when the text has no 10th line or those lines do not read as six values.
std::optional<std::string> setup_with_detection(const std::string& text,
                                                const DetectionSettings& settings) {
  store::RecordReader reader(text);
  store::RecordWriter out;
  for (int i = 0; !reader.at_end(); ++i) {
    auto line = reader.read_line();
    if (!line) return std::nullopt;
    if (i != 3 && i != 9) {
      out.line(*line);
      continue;
    }
    store::RecordReader values(*line);
    int v[6] = {};
    if (!values.read(v[0], v[1], v[2], v[3], v[4], v[5])) return std::nullopt;
    if (i == 3) {
      v[4] = settings.method;
    } else {
      v[0] = settings.organism;
      v[3] = settings.threshold_tenths;
    }
    out.record({v[0], v[1], v[2], v[3], v[4], v[5]});
  }
  if (reader.failed()) return std::nullopt;
  if (std::count(out.text().begin(), out.text().end(), '\n') < 10) return std::nullopt;
  return out.text();
}

// A regular file, not a link to one: a planted link is never read as one of the pair.
bool plain_file_at(const fs::path& file) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(file, ec));
}

// Adds a read-only copy of `source` under `name` to the commit; false with the message in
// `error` when `source` cannot be read. A failed write shows when the commit is made.
bool add_recorded(common::FileCommit& commit, const fs::path& folder, const std::string& name,
                  const std::string& source, std::string& error) {
  const auto bytes = store::read_file_bytes(folder / source);
  if (!bytes) {
    error = "Error reading " + (folder / source).string();
    return false;
  }
  if (common::ScratchFile* file = commit.add_scratch(name); file && file->write(*bytes))
    ::fchmod(file->fd(), 0444);
  return true;
}

// The recorded pair, kept at the first replace: the oldest counts the folder holds.
bool add_recorded_pair(common::FileCommit& commit, const fs::path& folder, std::string& error) {
  if (plain_file_at(folder / kRecordedCountsName)) return true;
  const bool older_backup = plain_file_at(folder / kCountsBackupName);
  if (!add_recorded(commit, folder, kRecordedCountsName,
                    older_backup ? kCountsBackupName : kCountsName, error))
    return false;
  if (plain_file_at(folder / kRecordedSetupName)) return true;
  const std::string setup =
      older_backup && plain_file_at(folder / kSetupBackup) ? kSetupBackup : kSetupName;
  return !plain_file_at(folder / setup) ||
         add_recorded(commit, folder, kRecordedSetupName, setup, error);
}

bool write_counts(common::ScratchFile& out, const ActivityRows& rows) {
  std::string bytes;
  bytes.reserve(kCountsRecordBytes * std::min<std::size_t>(rows.size(), 4096));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    acquisition::CountsRecord record;
    record.minutes = rows.time[r];
    for (int c = 0; c < kChannels; ++c)
      record.slots[c] = static_cast<std::int16_t>(rows.row(r)[c]);
    record.slots[kChannels] = static_cast<std::int16_t>(rows.temperature[r]);
    const auto encoded = acquisition::encode_counts_record(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
    if (bytes.size() >= kCountsRecordBytes * 4096 || r + 1 == rows.size()) {
      if (!out.write(bytes)) return false;
      bytes.clear();
    }
  }
  return true;
}

std::string not_changed(const std::string& why, const fs::path& folder) {
  return why + "; " + (folder / kCountsName).string() + " was not changed";
}

} // namespace

CountsReplaceResult replace_counts(const fs::path& folder, const ActivityRows& rows,
                                   const DetectionSettings& settings) {
  CountsReplaceResult result;
  common::FileCommit commit(folder);
  std::optional<std::string> setup;
  if (auto text = store::read_file_bytes(folder / kSetupName))
    setup = setup_with_detection(*text, settings);
  std::string error;
  if (!add_recorded_pair(commit, folder, error)) {
    result.error = not_changed(error, folder);
    return result;
  }
  commit.add_copy(kCountsBackupName, kCountsName);
  if (setup) commit.add_copy(kSetupBackup, kSetupName);
  if (common::ScratchFile* counts = commit.add_scratch(kCountsName)) write_counts(*counts, rows);
  if (setup) commit.add(kSetupName, *setup);
  if (!commit.commit()) {
    result.error = not_changed(commit.error(), folder);
    return result;
  }
  result.setup_updated = setup.has_value();
  return result;
}

std::optional<std::string> restore_recorded_counts(const fs::path& folder) {
  if (auto refusal = store::busy_folder_refusal(folder, "Restoring the recorded counts"))
    return refusal;
  const fs::path recorded = folder / kRecordedCountsName;
  const auto counts = store::read_file_bytes(recorded);
  if (!counts)
    return "No recorded counts in " + folder.string() + ": " + recorded.string() +
           " is missing or unreadable";
  common::FileCommit commit(folder);
  const auto setup = store::read_file_bytes(folder / kRecordedSetupName);
  if (plain_file_at(folder / kCountsName)) commit.add_copy(kCountsBackupName, kCountsName);
  if (setup && plain_file_at(folder / kSetupName)) commit.add_copy(kSetupBackup, kSetupName);
  commit.add(kCountsName, *counts);
  if (setup) commit.add(kSetupName, *setup);
  if (!commit.commit()) return not_changed(commit.error(), folder);
  return std::nullopt;
}

} // namespace kestrova::reports
