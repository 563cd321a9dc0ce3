#pragma once

// Group activity tables of the offline plots: the counts per channel of every group, per time
// bin of one acquisition or per acquisition of a kinetic group (a tag's acquisitions).

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/cancellation.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::browser {

// Rows 0..383 are groups; row 384 collects the channels in no group.
inline constexpr int kGroupRows = store::kChannelSlots;
inline constexpr int kFreeRow = store::kChannelCount;
// A tag may list at most this many acquisitions less one.
inline constexpr int kMaxKineticAcquisitions = 99;
inline constexpr std::string_view kTooManyTagged = "To many Tagged Sub_Projects! (max=99)";
inline constexpr std::string_view kActivityNotFoundInto = "Activity file not Found into ";

// Group of each channel 0..383 (-1 free), as chgroup.dat holds it.
using ChannelGroups = std::array<int, store::kChannelSlots>;

struct GroupActivity {
  int columns = 0; // n: bins, or acquisitions of a kinetic group
  int bin = 0;     // minutes per column of a time-resolved table (0 for a kinetic group)
  // The rounded average of group g (0..383) in column m (1..n) is cell(g, m); row 384 holds the
  // raw sum of the free channels.
  std::vector<double> cells;
  // The largest unrounded average, rounded.
  int maximum = 0;

  double cell(int group, int column) const {
    return cells[static_cast<std::size_t>(column - 1) * kGroupRows +
                 static_cast<std::size_t>(group)];
  }
  double& cell(int group, int column) {
    return cells[static_cast<std::size_t>(column - 1) * kGroupRows +
                 static_cast<std::size_t>(group)];
  }
  void reset(int n) {
    columns = n;
    cells.assign(static_cast<std::size_t>(n) * kGroupRows, 0.0);
    maximum = 0;
  }
};

// Number of channels 0..383 in each group 0..383.
std::array<int, store::kChannelCount> channels_per_group(const ChannelGroups& groups);

// The table of one acquisition from the bytes of its counts.bin (whole 774-byte records; a torn
// tail is ignored). Time-resolved: T / bin (halves to even) + 1 columns of `bin` minutes, T the
// largest time stamp; a record closes its column when its time reaches the bin's end less one
// minute, and the first record at T closes the last one it fills. Otherwise one column. Records
// beyond the last column stay in it.
GroupActivity group_activity_from_bytes(std::span<const char> counts, const ChannelGroups& groups,
                                        int bin, bool time_resolved);

// The same from the acquisition folder's counts.bin; shows "Activity file not Found" and gives
// nothing when the file is missing.
std::optional<GroupActivity> group_activity(const std::filesystem::path& acquisition_folder,
                                            const ChannelGroups& groups, int bin,
                                            bool time_resolved, common::Dialogs& dialogs);

// Per-channel totals (channels 0..383) of every record of a counts.bin.
std::array<std::int64_t, store::kChannelCount> channel_totals(std::span<const char> counts);
// The same read from a counts.bin; nothing when it is missing or cannot be read.
std::optional<std::array<std::int64_t, store::kChannelCount>>
channel_totals_of_file(const std::filesystem::path& counts_file);

// The kinetic-group table: one column per acquisition of the tag, in date order.
struct KineticActivity {
  GroupActivity table;
  std::vector<std::string> folders;     // in column order
  std::vector<common::LocalTime> dates; // start of each column's acquisition
  std::string acquisition_list;         // " " before each folder, in column order
  // Minutes from the first to the last acquisition, unrounded.
  double span_minutes() const;
  // Minutes from the first acquisition to column m (1..n), rounded.
  int minutes_of(int column) const;
};

// The start of an acquisition from its folder name yyyymmdd_hhmm; `now` for a name shorter than
// eight characters or one that is not a date.
common::LocalTime acquisition_date(std::string_view folder, common::LocalTime now);

// Builds the kinetic-group table of the space-separated acquisition list `tag_list` from the
// acquisitions of `project_folder`. 99 or more names show "To many Tagged Sub_Projects!
// (max=99)" and give nothing; an acquisition without counts.bin is told ("Activity file not
// Found into " + its path) and its column stays 0. A stop through `cancel`, read before each
// acquisition, gives nothing.
std::optional<KineticActivity> kinetic_activity(const std::filesystem::path& project_folder,
                                                std::string_view tag_list,
                                                const ChannelGroups& groups, common::Clock& clock,
                                                common::Dialogs& dialogs,
                                                const common::Cancellation* cancel = nullptr);

// "Relativize to Time0": each listed group's columns become percentages of its first column
// (a group whose first column is 0 becomes all 0); the maximum becomes the largest of 100 and
// the new values, rounded.
void relativize(GroupActivity& table, std::span<const int> groups);

} // namespace kestrova::browser
