#include "browser/group_table.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "acquisition/activity_files.hpp"
#include "common/rounding.hpp"
#include "reports/report_data.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;
using acquisition::kCountsRecordBytes;

namespace {

std::int32_t read_i32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(u[0]) | static_cast<std::uint32_t>(u[1]) << 8 |
      static_cast<std::uint32_t>(u[2]) << 16 | static_cast<std::uint32_t>(u[3]) << 24);
}

// Counts of channels 0..383 of one record, decoded into `out`.
void read_counts(const char* record, std::int32_t* out) {
  const auto* u = reinterpret_cast<const unsigned char*>(record + 4);
  for (int k = 0; k < store::kChannelCount; ++k)
    out[k] = static_cast<std::int16_t>(static_cast<std::uint16_t>(u[2 * k]) |
                                       static_cast<std::uint16_t>(u[2 * k + 1]) << 8);
}

// The row of each channel: its group, or the free row.
std::array<int, store::kChannelCount> channel_rows(const ChannelGroups& groups) {
  std::array<int, store::kChannelCount> rows{};
  for (int k = 0; k < store::kChannelCount; ++k) {
    const int g = groups[static_cast<std::size_t>(k)];
    rows[static_cast<std::size_t>(k)] = (g >= 0 && g < store::kChannelCount) ? g : kFreeRow;
  }
  return rows;
}

// Turns the sums of columns [first, last] into averages per channel; returns the largest
// unrounded average.
double finish_columns(GroupActivity& table, const std::vector<std::int64_t>& sums, int first,
                      int last, const std::array<int, store::kChannelCount>& per_group) {
  double largest = 0;
  for (int m = first; m <= last; ++m) {
    const std::size_t base = static_cast<std::size_t>(m - 1) * kGroupRows;
    for (int g = 0; g < store::kChannelCount; ++g) {
      const int n = per_group[static_cast<std::size_t>(g)];
      if (n == 0) {
        table.cell(g, m) = 0;
        continue;
      }
      const double average =
          static_cast<double>(sums[base + static_cast<std::size_t>(g)]) / static_cast<double>(n);
      largest = std::max(largest, average);
      table.cell(g, m) = common::round_half_even(average);
    }
    table.cell(kFreeRow, m) = static_cast<double>(sums[base + kFreeRow]);
  }
  return largest;
}

std::size_t whole_records(std::span<const char> counts) {
  return counts.size() / kCountsRecordBytes;
}

} // namespace

std::array<int, store::kChannelCount> channels_per_group(const ChannelGroups& groups) {
  std::array<int, store::kChannelCount> n{};
  for (int k = 0; k < store::kChannelCount; ++k) {
    const int g = groups[static_cast<std::size_t>(k)];
    if (g >= 0 && g < store::kChannelCount) ++n[static_cast<std::size_t>(g)];
  }
  return n;
}

GroupActivity group_activity_from_bytes(std::span<const char> counts, const ChannelGroups& groups,
                                        int bin, bool time_resolved) {
  bin = std::max(bin, 1);
  const std::size_t records = whole_records(counts);
  std::int32_t last_time = 0;
  for (std::size_t r = 0; r < records; ++r) {
    const std::int32_t t = read_i32(counts.data() + r * kCountsRecordBytes);
    if (r == 0 || t > last_time) last_time = t;
  }
  GroupActivity table;
  table.bin = bin;
  const int n = time_resolved
                    ? std::max(1, common::round_to_int(static_cast<double>(last_time) / bin) + 1)
                    : 1;
  table.reset(n);
  std::vector<std::int64_t> sums(table.cells.size(), 0);
  const auto rows = channel_rows(groups);
  std::int32_t values[store::kChannelCount];
  int column = 1;
  std::int64_t bin_end = bin;
  bool last_reached = false;
  for (std::size_t r = 0; r < records; ++r) {
    const char* record = counts.data() + r * kCountsRecordBytes;
    const std::int32_t t = read_i32(record);
    read_counts(record, values);
    std::int64_t* cell = sums.data() + static_cast<std::size_t>(column - 1) * kGroupRows;
    for (int k = 0; k < store::kChannelCount; ++k)
      cell[rows[static_cast<std::size_t>(k)]] += values[k];
    if (!time_resolved) continue;
    const bool at_last = t == last_time && !last_reached;
    if (t >= last_time) last_reached = true;
    if (t >= bin_end - 1 || at_last) {
      // Records past the last column (times out of order) stay in it.
      if (column < n) ++column;
      bin_end += bin;
    }
  }
  table.maximum =
      common::round_to_int(finish_columns(table, sums, 1, n, channels_per_group(groups)));
  return table;
}

std::optional<GroupActivity> group_activity(const fs::path& acquisition_folder,
                                            const ChannelGroups& groups, int bin,
                                            bool time_resolved, common::Dialogs& dialogs) {
  const auto bytes = reports::read_counts_file(acquisition_folder / acquisition::kCountsFileName);
  if (!bytes) {
    dialogs.message(reports::kActivityNotFound);
    return std::nullopt;
  }
  return group_activity_from_bytes(*bytes, groups, bin, time_resolved);
}

std::array<std::int64_t, store::kChannelCount> channel_totals(std::span<const char> counts) {
  std::array<std::int64_t, store::kChannelCount> totals{};
  std::int32_t values[store::kChannelCount];
  for (std::size_t r = 0; r < whole_records(counts); ++r) {
    read_counts(counts.data() + r * kCountsRecordBytes, values);
    for (int k = 0; k < store::kChannelCount; ++k)
      totals[static_cast<std::size_t>(k)] += values[k];
  }
  return totals;
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
                                                common::Dialogs& dialogs) {
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
  const auto rows = channel_rows(groups);
  const auto per_group = channels_per_group(groups);
  std::vector<std::int64_t> sums(out.table.cells.size(), 0);
  std::int32_t values[store::kChannelCount];
  double largest = 0;
  for (int m = 1; m <= n; ++m) {
    const auto& [date, name] = dated[static_cast<std::size_t>(m - 1)];
    out.folders.push_back(name);
    out.dates.push_back(date);
    out.acquisition_list += " " + name;
    const fs::path folder = project_folder / name;
    const auto bytes = reports::read_counts_file(folder / acquisition::kCountsFileName);
    if (!bytes) {
      dialogs.message(std::string(kActivityNotFoundInto) + folder.string());
      continue;
    }
    std::int64_t* cell = sums.data() + static_cast<std::size_t>(m - 1) * kGroupRows;
    for (std::size_t r = 0; r < whole_records(*bytes); ++r) {
      read_counts(bytes->data() + r * kCountsRecordBytes, values);
      for (int k = 0; k < store::kChannelCount; ++k)
        cell[rows[static_cast<std::size_t>(k)]] += values[k];
    }
    largest = std::max(largest, finish_columns(out.table, sums, m, m, per_group));
  }
  out.table.maximum = common::round_to_int(largest);
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
