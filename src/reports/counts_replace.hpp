#pragma once

// Writing re-analysed counts back into an acquisition folder, and putting the recorded ones
// back.
//
// counts.bin and setup.dat are replaced together in one commit (common/file_commit.hpp): a
// reader sees either both old files or both new ones. The files replaced are kept as counts.bak
// and setup.bak. The first replace also keeps the counts and setup that the acquisition
// recorded as counts.rec and setup.rec (read-only); no later replace touches them, and
// restore_recorded_counts puts them back. A folder replaced by a version of the program that
// kept only counts.bak gets that file (and setup.bak) as its recorded pair: it is the only copy
// that may still hold the live counts.

#include <filesystem>
#include <optional>
#include <string>

#include "reports/report_data.hpp"

namespace kestrova::reports {

// Backup of the counts file that a replacing run supersedes.
inline constexpr const char* kCountsBackupName = "counts.bak";
// The counts and setup as the acquisition recorded them.
inline constexpr const char* kRecordedCountsName = "counts.rec";
inline constexpr const char* kRecordedSetupName = "setup.rec";

// The detection settings written into setup.dat with new counts.
struct DetectionSettings {
  int method = 1;
  int organism = 0;
  int threshold_tenths = 18;
};

struct CountsReplaceResult {
  std::optional<std::string> error; // the message of a failure; then no file changed
  bool setup_updated = false;       // false: setup.dat could not be rewritten, counts replaced
};

// Replaces counts.bin with `rows` and the detection settings of setup.dat (line 4, 5th value;
// line 10, 1st and 4th values) with `settings`, in one commit. A setup.dat that cannot be read
// as such (missing, no 10th line) is left as it is and only the counts are replaced.
CountsReplaceResult replace_counts(const std::filesystem::path& folder, const ActivityRows& rows,
                                   const DetectionSettings& settings);

// Puts counts.rec and setup.rec back as counts.bin and setup.dat (in one commit, the files
// replaced kept as counts.bak and setup.bak). The message of a failure, nothing then changed;
// a folder that an acquisition is recording into (store::FolderLock) is refused.
std::optional<std::string> restore_recorded_counts(const std::filesystem::path& folder);

} // namespace kestrova::reports
