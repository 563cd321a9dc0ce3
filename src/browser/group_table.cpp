#include "browser/group_table.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "acquisition/activity_files.hpp"
#include "acquisition/counts_reader.hpp"
#include "common/file_commit.hpp"
#include "common/rounding.hpp"
#include "reports/report_data.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;
using acquisition::kCountsRecordBytes;

std::array<int, store::kChannelCount> channels_per_group(const ChannelGroups& groups) {
  std::array<int, store::kChannelCount> n{};
  for (int k = 0; k < store::kChannelCount; ++k) {
    const int g = groups[static_cast<std::size_t>(k)];
    if (g >= 0 && g < store::kChannelCount) ++n[static_cast<std::size_t>(g)];
  }
  return n;
}

namespace {

std::int32_t read_i32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(u[0]) | static_cast<std::uint32_t>(u[1]) << 8 |
      static_cast<std::uint32_t>(u[2]) << 16 | static_cast<std::uint32_t>(u[3]) << 24);
}

// Adds the counts of channels 0..383 of one record to `sums`.
void add_counts(const char* record, std::int32_t* sums) {
  if constexpr (std::endian::native == std::endian::little) {
    std::int16_t raw[store::kChannelCount];
    std::memcpy(raw, record + 4, sizeof raw);
    for (int k = 0; k < store::kChannelCount; ++k)
      sums[k] += raw[k];
  } else {
    const auto* u = reinterpret_cast<const unsigned char*>(record + 4);
    for (int k = 0; k < store::kChannelCount; ++k)
      sums[k] += static_cast<std::int16_t>(static_cast<std::uint16_t>(u[2 * k]) |
                                           static_cast<std::uint16_t>(u[2 * k + 1]) << 8);
  }
}

// Per-channel sums of a run of records: 32-bit while adding (fast), carried into 64 bits
// before they could overflow.
class ChannelSums {
public:
  void add(const char* record) {
    add_counts(record, recent_.data());
    if (++pending_ == kCarryEvery) carry();
  }
  const std::array<std::int64_t, store::kChannelCount>& totals() {
    carry();
    return totals_;
  }
  void reset() {
    carry();
    totals_.fill(0);
  }

private:
  // 32768 records of at most 32767 (or -32768) stay within 32 bits.
  static constexpr int kCarryEvery = 32768;
  void carry() {
    for (int k = 0; k < store::kChannelCount; ++k) {
      totals_[static_cast<std::size_t>(k)] += recent_[static_cast<std::size_t>(k)];
      recent_[static_cast<std::size_t>(k)] = 0;
    }
    pending_ = 0;
  }
  std::array<std::int32_t, store::kChannelCount> recent_{};
  std::array<std::int64_t, store::kChannelCount> totals_{};
  int pending_ = 0;
};

// The row of each channel: its group, or the free row.
std::array<int, store::kChannelCount> channel_rows(const ChannelGroups& groups) {
  std::array<int, store::kChannelCount> rows{};
  for (int k = 0; k < store::kChannelCount; ++k) {
    const int g = groups[static_cast<std::size_t>(k)];
    rows[static_cast<std::size_t>(k)] = (g >= 0 && g < store::kChannelCount) ? g : kFreeRow;
  }
  return rows;
}

std::size_t whole_records(std::span<const char> counts) {
  return counts.size() / kCountsRecordBytes;
}

// Builds a group table from records handed over one by one, in a single pass. The largest time
// stamp T is only known at the end, and two rules depend on it: the number of columns (records
// beyond the last column are merged into it at the end) and the first record at T, which closes
// its column. That record is only known at the end too, so the records after the latest new
// largest time are kept; when that record did not close its column by the bin rule, they are
// moved on by one column afterwards.
class GroupAccumulator {
public:
  // `expected_columns` only sizes the memory reserved at first.
  GroupAccumulator(const ChannelGroups& groups, int bin, bool time_resolved,
                   std::size_t expected_columns = 1)
      : rows_(channel_rows(groups)), per_group_(channels_per_group(groups)), bin_(std::max(bin, 1)),
        time_resolved_(time_resolved), bin_end_(bin_) {
    sums_.reserve(std::min<std::size_t>(expected_columns, std::size_t{1} << 20) * kGroupRows);
    reach(1);
  }

  // Adds one record whose monotonic time is `t`.
  void add(const char* record, std::int64_t t) {
    channel_sums_.add(record);
    if (!time_resolved_) return;
    const bool new_largest = records_ == 0 || t > largest_;
    ++records_;
    const bool closes = t >= bin_end_ - 1;
    if (new_largest) {
      largest_ = t;
      after_largest_.clear();
      after_largest_times_.clear();
      at_largest_ = {column_, bin_end_, closes};
    } else {
      after_largest_.insert(after_largest_.end(), record, record + kCountsRecordBytes);
      after_largest_times_.push_back(t);
    }
    if (closes) {
      fold();
      ++column_;
      bin_end_ += bin_;
      reach(column_);
    }
  }

  GroupActivity finish() {
    fold();
    if (time_resolved_ && records_ > 0 && !at_largest_.closed) replay_after_largest();
    const int n = time_resolved_
                      ? std::max(1, common::round_to_int(static_cast<double>(largest_) / bin_) + 1)
                      : 1;
    // Columns beyond the last one belong to it.
    reach(n);
    double* last = column(n);
    for (std::size_t at = static_cast<std::size_t>(n) * kGroupRows; at < sums_.size(); ++at)
      last[at % kGroupRows] += sums_[at];
    sums_.resize(static_cast<std::size_t>(n) * kGroupRows);
    // Sums become averages per channel in place.
    double largest = 0;
    for (int m = 1; m <= n; ++m) {
      double* cells = column(m);
      for (int g = 0; g < store::kChannelCount; ++g) {
        const int channels = per_group_[static_cast<std::size_t>(g)];
        double& cell = cells[g];
        if (channels == 0) {
          cell = 0;
          continue;
        }
        const double average = cell / channels;
        largest = std::max(largest, average);
        cell = common::round_half_even(average);
      }
    }
    GroupActivity table;
    table.bin = bin_;
    table.columns = n;
    table.cells = std::move(sums_);
    table.maximum = common::round_to_int(largest);
    return table;
  }

private:
  struct State {
    int column = 1;
    std::int64_t bin_end = 0;
    bool closed = true;
  };

  double* column(int m) { return sums_.data() + static_cast<std::size_t>(m - 1) * kGroupRows; }
  // Columns 1..m exist.
  void reach(int m) {
    if (sums_.size() < static_cast<std::size_t>(m) * kGroupRows)
      sums_.resize(static_cast<std::size_t>(m) * kGroupRows, 0.0);
  }

  // Moves the channel sums gathered so far into the group rows of the current column. Sums of
  // 16-bit counts stay exact in a double far beyond any recording.
  void fold() {
    double* cells = column(column_);
    const auto& totals = channel_sums_.totals();
    for (int k = 0; k < store::kChannelCount; ++k)
      cells[rows_[static_cast<std::size_t>(k)]] +=
          static_cast<double>(totals[static_cast<std::size_t>(k)]);
    channel_sums_.reset();
  }

  // The first record at the largest time closed its column: the records after it go one column
  // further on, and the bins after it end one bin later.
  void replay_after_largest() {
    State before{at_largest_.column, at_largest_.bin_end, false};
    State after{at_largest_.column + 1, at_largest_.bin_end + bin_, false};
    std::int32_t counts[store::kChannelCount];
    const auto move_on = [&](State& state, std::int64_t t) {
      if (t >= state.bin_end - 1) {
        ++state.column;
        state.bin_end += bin_;
      }
    };
    for (std::size_t at = 0; at < after_largest_.size(); at += kCountsRecordBytes) {
      const char* record = after_largest_.data() + at;
      std::fill(std::begin(counts), std::end(counts), 0);
      add_counts(record, counts);
      reach(after.column);
      double* from = column(before.column);
      double* to = column(after.column);
      for (int k = 0; k < store::kChannelCount; ++k) {
        from[rows_[static_cast<std::size_t>(k)]] -= counts[k];
        to[rows_[static_cast<std::size_t>(k)]] += counts[k];
      }
      const std::int64_t t = after_largest_times_[at / kCountsRecordBytes];
      move_on(before, t);
      move_on(after, t);
    }
  }

  std::array<int, store::kChannelCount> rows_;
  std::array<int, store::kChannelCount> per_group_;
  int bin_;
  bool time_resolved_;
  ChannelSums channel_sums_;
  std::vector<double> sums_; // group rows of columns 1.. as far as reached
  int column_ = 1;
  std::int64_t bin_end_;
  std::int64_t records_ = 0;
  std::int64_t largest_ = 0;
  State at_largest_;
  std::vector<char> after_largest_;
  std::vector<std::int64_t> after_largest_times_;
};

// Hands every whole record of a counts file to `add` with its monotonic time, through the
// counts reader: with a limit, a record whose time cannot belong to the recording ends the
// reading, and the result says which.
template <typename Add>
acquisition::CountsReadResult each_record(const fs::path& counts_file,
                                          const std::optional<acquisition::RecordTimeLimit>& limit,
                                          Add add) {
  return acquisition::read_counts_records(
      counts_file, limit, [&](const acquisition::CountsRecordView& record) {
        add(reinterpret_cast<const char*>(record.bytes), record.time);
        return true;
      });
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open_counts(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return {nullptr, std::fclose};
  return {std::fopen(file.c_str(), "rb"), std::fclose};
}

// The time stamp of the last whole record, a guess at the largest one; 0 when there is none.
std::int32_t last_time_stamp(std::FILE* in) {
  std::int32_t t = 0;
  if (std::fseek(in, 0, SEEK_END) == 0) {
    const long size = std::ftell(in);
    const long records = size / static_cast<long>(kCountsRecordBytes);
    char stamp[4];
    if (records > 0 &&
        std::fseek(in, (records - 1) * static_cast<long>(kCountsRecordBytes), SEEK_SET) == 0 &&
        std::fread(stamp, 1, 4, in) == 4)
      t = read_i32(stamp);
  }
  std::rewind(in);
  return t;
}

} // namespace

GroupActivity group_activity_from_bytes(std::span<const char> counts, const ChannelGroups& groups,
                                        int bin, bool time_resolved) {
  GroupAccumulator table(groups, bin, time_resolved);
  acquisition::RecordTimeline timeline;
  std::string unused;
  for (std::size_t r = 0; r < whole_records(counts); ++r) {
    const char* record = counts.data() + r * kCountsRecordBytes;
    table.add(record, *timeline.next(read_i32(record), unused));
  }
  return table.finish();
}

std::optional<GroupActivity> group_activity(const fs::path& acquisition_folder,
                                            const ChannelGroups& groups, int bin,
                                            bool time_resolved, common::Dialogs& dialogs) {
  common::settle_pending_commit(acquisition_folder);
  const fs::path counts = acquisition_folder / acquisition::kCountsFileName;
  std::size_t expected = 1;
  if (const File in = open_counts(counts); in && time_resolved && bin > 0)
    expected = std::min(static_cast<std::size_t>(std::max(0, last_time_stamp(in.get()))) /
                                static_cast<std::size_t>(bin) +
                            2,
                        static_cast<std::size_t>(acquisition::counts_record_count(counts)) + 1);
  GroupAccumulator table(groups, bin, time_resolved, expected);
  const acquisition::CountsReadResult read =
      each_record(counts, acquisition::record_time_limit(acquisition_folder),
                  [&](const char* record, std::int64_t t) { table.add(record, t); });
  if (!read.ok()) {
    dialogs.message(read.outcome == acquisition::CountsReadResult::Outcome::Damaged
                        ? read.problem
                        : std::string(reports::kActivityNotFound));
    return std::nullopt;
  }
  return table.finish();
}

std::array<std::int64_t, store::kChannelCount> channel_totals(std::span<const char> counts) {
  ChannelSums sums;
  for (std::size_t r = 0; r < whole_records(counts); ++r)
    sums.add(counts.data() + r * kCountsRecordBytes);
  return sums.totals();
}

std::optional<std::array<std::int64_t, store::kChannelCount>>
channel_totals_of_file(const fs::path& counts_file) {
  ChannelSums sums;
  if (!each_record(counts_file, std::nullopt, [&](const char* record, std::int64_t) {
         sums.add(record);
       }).ok())
    return std::nullopt;
  return sums.totals();
}

double KineticActivity::span_minutes() const {
  if (dates.empty()) return 0;
  return std::chrono::duration<double, std::ratio<60>>(dates.back() - dates.front()).count();
}

int KineticActivity::minutes_of(int column) const {
  const auto d = dates[static_cast<std::size_t>(column - 1)] - dates.front();
  return common::round_to_int(std::chrono::duration<double, std::ratio<60>>(d).count());
}

common::LocalTime acquisition_date(std::string_view folder, common::LocalTime now) {
  if (folder.size() < 8) return now;
  const auto number = [&](std::size_t at, std::size_t len) -> int {
    if (at + len > folder.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + len; ++i) {
      const char c = folder[i];
      if (c < '0' || c > '9') return -1;
      v = v * 10 + (c - '0');
    }
    return v;
  };
  common::CivilTime c;
  c.year = number(0, 4);
  c.month = number(4, 2);
  c.day = number(6, 2);
  // A name without its time of day starts at midnight.
  c.hour = folder.size() >= 13 ? number(9, 2) : 0;
  c.minute = folder.size() >= 13 ? number(11, 2) : 0;
  if (c.year < 0 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour < 0 ||
      c.hour > 23 || c.minute < 0 || c.minute > 59)
    return now;
  return common::from_civil(c);
}

std::optional<KineticActivity> kinetic_activity(const fs::path& project_folder,
                                                std::string_view tag_list,
                                                const ChannelGroups& groups, common::Clock& clock,
                                                common::Dialogs& dialogs,
                                                const common::Cancellation* cancel) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < tag_list.size()) {
    const std::size_t end = std::min(tag_list.find(' ', at), tag_list.size());
    if (end > at) names.emplace_back(tag_list.substr(at, end - at));
    at = end + 1;
  }
  if (names.size() >= static_cast<std::size_t>(kMaxKineticAcquisitions)) {
    dialogs.message(kTooManyTagged);
    return std::nullopt;
  }
  const common::LocalTime now = clock.now();
  std::vector<std::pair<common::LocalTime, std::string>> dated;
  for (const std::string& name : names)
    dated.emplace_back(acquisition_date(name, now), name);
  // The earliest first; equal dates keep their order in the list.
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  KineticActivity out;
  const int n = static_cast<int>(dated.size());
  out.table.reset(n);
  int largest = 0;
  for (int m = 1; m <= n; ++m) {
    if (common::cancelled(cancel)) return std::nullopt;
    const auto& [date, name] = dated[static_cast<std::size_t>(m - 1)];
    out.folders.push_back(name);
    out.dates.push_back(date);
    out.acquisition_list += " " + name;
    const fs::path folder = project_folder / name;
    // All its records in one column, finished as a table of its own.
    GroupAccumulator column(groups, 1, false);
    common::settle_pending_commit(folder);
    if (!each_record(folder / acquisition::kCountsFileName, std::nullopt,
                     [&](const char* record, std::int64_t t) { column.add(record, t); })
             .ok()) {
      dialogs.message(std::string(kActivityNotFoundInto) + folder.string());
      continue;
    }
    const GroupActivity one = column.finish();
    for (int g = 0; g < kGroupRows; ++g)
      out.table.cell(g, m) = one.cell(g, 1);
    largest = std::max(largest, one.maximum);
  }
  out.table.maximum = largest;
  return out;
}

void relativize(GroupActivity& table, std::span<const int> groups) {
  const std::set<int> listed(groups.begin(), groups.end());
  double largest = 100;
  for (int g : listed) {
    if (g < 0 || g >= kGroupRows || table.columns < 1) continue;
    const double first = table.cell(g, 1);
    for (int m = 1; m <= table.columns; ++m) {
      double& v = table.cell(g, m);
      v = first > 0 ? (m == 1 ? 100 : v / first * 100) : 0;
      largest = std::max(largest, v);
    }
  }
  table.maximum = common::round_to_int(largest);
}

} // namespace kestrova::browser
