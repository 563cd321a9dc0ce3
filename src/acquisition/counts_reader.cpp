#include "acquisition/counts_reader.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::acquisition {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kLatestEver = kLongestRecordMinutes + kRecordTimeMargin;

// Aq_lapse of the folder's setup.dat (line 4, 2nd value), nullopt when it cannot be read.
std::optional<std::int64_t> setup_lapse(const fs::path& folder) {
  const auto lines = store::read_text_lines(folder / store::kSetupFileName);
  if (!lines || lines->size() < 4) return std::nullopt;
  int v[6] = {};
  if (!store::RecordReader((*lines)[3]).read(v[0], v[1], v[2], v[3], v[4], v[5]))
    return std::nullopt;
  return std::clamp<std::int64_t>(v[1], 0, kLongestRecordMinutes);
}

// Minutes from the start the folder's name gives (yyyymmdd_hhmm, local time) to the last write
// of its counts.bin; nullopt for another name, a missing file or a write before the start.
std::optional<std::int64_t> folder_span(const fs::path& folder) {
  const std::string name = folder.filename().string();
  std::tm start{};
  char tail = 0;
  if (name.size() < 13 || name[8] != '_' ||
      std::sscanf(name.c_str(), "%4d%2d%2d_%2d%2d%c", &start.tm_year, &start.tm_mon, &start.tm_mday,
                  &start.tm_hour, &start.tm_min, &tail) < 5)
    return std::nullopt;
  start.tm_year -= 1900;
  start.tm_mon -= 1;
  start.tm_isdst = -1;
  const std::time_t from = std::mktime(&start);
  struct stat info {};
  if (from == static_cast<std::time_t>(-1) ||
      ::stat((folder / kCountsFileName).c_str(), &info) != 0 || info.st_mtime < from)
    return std::nullopt;
  return (static_cast<std::int64_t>(info.st_mtime) - from) / 60;
}

std::string minutes_text(std::int64_t minutes) { return std::to_string(minutes) + " min"; }

} // namespace

RecordTimeLimit record_time_limit(const fs::path& folder) {
  const std::optional<std::int64_t> lapse = setup_lapse(folder);
  const std::optional<std::int64_t> span = folder_span(folder);
  RecordTimeLimit limit;
  if (!lapse) {
    limit.reason = "the longest recording (" + minutes_text(kLongestRecordMinutes) + ", " +
                   (folder / store::kSetupFileName).string() + " being unreadable)";
  } else {
    limit.latest = std::min(kLatestEver, std::max(*lapse, span.value_or(0)) + kRecordTimeMargin);
    limit.reason = "the setup's lapse of " + minutes_text(*lapse);
    if (span) limit.reason += " and the folder's real span of " + minutes_text(*span);
  }
  limit.reason += " plus " + minutes_text(kRecordTimeMargin);
  return limit;
}

std::optional<std::int64_t> RecordTimeline::next(std::int32_t minutes, std::string& problem) {
  std::int64_t t = day_ * 1440 + minutes;
  if (records_ > 0 && t < previous_ - 1000) {
    ++day_;
    t += 1440;
  }
  if (limit_) {
    if (minutes < 0) {
      problem = "has the time " + minutes_text(minutes) + ", before the start";
      return std::nullopt;
    }
    if (records_ > 0 && t < previous_) {
      problem = "has the time " + minutes_text(minutes) + ", before the " +
                minutes_text(previous_) + " of the record before it";
      return std::nullopt;
    }
    if (t > limit_->latest) {
      problem = "has the time " + minutes_text(t) + ", beyond the " + minutes_text(limit_->latest) +
                " this recording can reach (" + limit_->reason + ")";
      return std::nullopt;
    }
  }
  ++records_;
  previous_ = t;
  return t;
}

CountsReadResult read_counts_records(const fs::path& counts_file,
                                     const std::optional<RecordTimeLimit>& limit,
                                     const CountsVisitor& visit,
                                     const common::Cancellation* cancel) {
  CountsReadResult result;
  const auto unreadable = [&] {
    result.outcome = CountsReadResult::Outcome::Unreadable;
    result.problem = "Error loading " + counts_file.string();
    return result;
  };
  std::error_code ec;
  if (!fs::is_regular_file(counts_file, ec)) return unreadable();
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(counts_file.c_str(), "rb"),
                                                           std::fclose);
  if (!in) return unreadable();
  // About 128 kB of whole records per piece, reused for the whole file.
  constexpr std::size_t kPiece = 169 * kCountsRecordBytes;
  std::vector<unsigned char> piece(kPiece);
  RecordTimeline timeline(limit);
  std::size_t held = 0;
  for (;;) {
    if (common::cancelled(cancel)) {
      result.outcome = CountsReadResult::Outcome::Cancelled;
      return result;
    }
    const std::size_t n = std::fread(piece.data() + held, 1, kPiece - held, in.get());
    held += n;
    const std::size_t whole = held / kCountsRecordBytes * kCountsRecordBytes;
    for (std::size_t at = 0; at < whole; at += kCountsRecordBytes) {
      CountsRecordView record;
      record.index = result.records;
      record.bytes = piece.data() + at;
      const unsigned char* p = record.bytes;
      record.minutes = static_cast<std::int32_t>(
          static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
      std::string problem;
      const std::optional<std::int64_t> t = timeline.next(record.minutes, problem);
      if (!t) {
        result.outcome = CountsReadResult::Outcome::Damaged;
        result.problem = "Activity file " + counts_file.string() + " is damaged: record " +
                         std::to_string(record.index) + " " + problem;
        return result;
      }
      record.time = *t;
      ++result.records;
      if (!visit(record)) {
        result.outcome = CountsReadResult::Outcome::Done;
        return result;
      }
    }
    // A torn record at the end is left out.
    std::copy(piece.begin() + static_cast<std::ptrdiff_t>(whole),
              piece.begin() + static_cast<std::ptrdiff_t>(held), piece.begin());
    held -= whole;
    if (n == 0) break;
  }
  if (std::ferror(in.get())) return unreadable();
  result.outcome = CountsReadResult::Outcome::Done;
  return result;
}

CountsReadResult read_counts_records(const fs::path& counts_file, const CountsVisitor& visit,
                                     const common::Cancellation* cancel) {
  return read_counts_records(counts_file, record_time_limit(counts_file.parent_path()), visit,
                             cancel);
}

} // namespace kestrova::acquisition
