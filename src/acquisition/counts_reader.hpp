#pragma once

// The one reader of counts.bin: whole records in file order, their times made monotonic across
// midnight, and times that cannot belong to the recording refused, so that nothing built from
// the records grows with what a damaged time claims.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "acquisition/activity_files.hpp"
#include "common/cancellation.hpp"

namespace kestrova::acquisition {

// The minute counter of a record passes through 16 bits, so no recording reaches further.
inline constexpr std::int64_t kLongestRecordMinutes = 32767;
// Slack added to the longest time a folder can account for: the record written at completion,
// a lapse lengthened while recording, the day a midnight step adds, clocks set by hand.
inline constexpr std::int64_t kRecordTimeMargin = 1440;

// The latest monotonic record time accepted in one acquisition folder, and why.
struct RecordTimeLimit {
  std::int64_t latest = kLongestRecordMinutes + kRecordTimeMargin;
  std::string reason; // e.g. "the setup's lapse of 30 min plus 1440 min"
};

// The limit for the records of `folder`: the larger of its setup's lapse (Aq_lapse of its
// setup.dat) and its real span (from the start its name yyyymmdd_hhmm gives to the last write
// of its counts.bin), plus kRecordTimeMargin, and never beyond the 16-bit counter plus the
// margin. What cannot be read counts as the longest.
RecordTimeLimit record_time_limit(const std::filesystem::path& folder);

// Record times in file order. Each time is made monotonic by adding 1440 minutes whenever a
// record lies more than 1000 minutes below the previous record time. With a limit, a negative
// time, a time below the previous record time (after that rule) or beyond the limit is refused.
class RecordTimeline {
public:
  explicit RecordTimeline(std::optional<RecordTimeLimit> limit = std::nullopt)
      : limit_(std::move(limit)) {}
  // The monotonic time of the next record, or nullopt with what is wrong in `problem`.
  std::optional<std::int64_t> next(std::int32_t minutes, std::string& problem);

private:
  std::optional<RecordTimeLimit> limit_;
  std::int64_t records_ = 0;
  std::int64_t day_ = 0;
  std::int64_t previous_ = 0;
};

// One whole record as the reader hands it over.
struct CountsRecordView {
  std::int64_t index = 0;
  std::int32_t minutes = 0;             // as stored
  std::int64_t time = 0;                // monotonic
  const unsigned char* bytes = nullptr; // the record's kCountsRecordBytes bytes
  // Slot s: the count of channel s (0..383), the temperature x 10 at 384.
  std::int16_t slot(int s) const {
    const unsigned char* p = bytes + 4 + 2 * s;
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
  }
};

struct CountsReadResult {
  enum class Outcome { Done, Unreadable, Damaged, Cancelled };
  Outcome outcome = Outcome::Unreadable;
  std::int64_t records = 0; // records handed over
  std::string problem;      // for Unreadable and Damaged
  bool ok() const { return outcome == Outcome::Done; }
};

// Receives each record; returning false ends the reading there (not an error).
using CountsVisitor = std::function<bool(const CountsRecordView&)>;

// Reads `counts_file` in pieces of whole records (a torn last record is left out) and hands
// each to `visit`. A damaged time stops the reading with a message naming the file, the record
// and the limit; so does a missing or unreadable file ("Error loading " + path). `cancel` is
// read between pieces.
CountsReadResult read_counts_records(const std::filesystem::path& counts_file,
                                     const std::optional<RecordTimeLimit>& limit,
                                     const CountsVisitor& visit,
                                     const common::Cancellation* cancel = nullptr);

// read_counts_records with the limit of the file's own folder.
CountsReadResult read_counts_records(const std::filesystem::path& counts_file,
                                     const CountsVisitor& visit,
                                     const common::Cancellation* cancel = nullptr);

} // namespace kestrova::acquisition
