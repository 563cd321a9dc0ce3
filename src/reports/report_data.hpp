#pragma once

// The inputs of a report read from one acquisition folder: its well map and groups, the setting
// text of its setup snapshot and the rows of its activity file.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/cancellation.hpp"
#include "common/dialogs.hpp"
#include "reports/large_block_allocator.hpp"
#include "store/channel_grid.hpp"
#include "store/plate_format.hpp"

namespace kestrova::reports {

inline constexpr int kChannels = store::kChannelCount; // 384
inline constexpr int kGroupSlots = 385;                // group names 0..384
inline constexpr std::string_view kActivityNotFound = "Activity file not Found";

// Per-minute activity rows: time in minutes (monotonic across midnight), the counts of the 384
// channels and the temperature in tenths of a degree. Counts are 32-bit so re-binned sums and
// basal percentages fit.
struct ActivityRows {
  std::vector<std::int32_t> time;
  std::vector<std::int32_t, LargeBlockAllocator<std::int32_t>> counts; // size() x 384, by row
  std::vector<std::int32_t> temperature;

  std::size_t size() const { return time.size(); }
  std::int32_t* row(std::size_t r) { return counts.data() + r * kChannels; }
  const std::int32_t* row(std::size_t r) const { return counts.data() + r * kChannels; }
  void resize(std::size_t n) {
    time.assign(n, 0);
    counts.assign(n * kChannels, 0);
    temperature.assign(n, 0);
  }
  // The largest row time, 0 without rows.
  std::int32_t last_time() const;
};

// The well map of an acquisition's plate and its groups.
struct AcquisitionLayout {
  std::string plate_name;
  store::PlateGeometry geometry; // plate rows and columns of wells
  std::array<int, store::kChannelSlots> well_of_channel;
  std::array<int, store::kChannelSlots> position_of_channel;
  int greatest_well = -1;
  int greatest_position = 0;
  // (greatest_well + 1) x (greatest_position + 1) channels; -1 where no channel lies.
  std::vector<int> well_channel;
  std::array<int, store::kChannelSlots> channel_group; // -1 free
  std::array<std::string, kGroupSlots> group_names;

  AcquisitionLayout() {
    well_of_channel.fill(-1);
    position_of_channel.fill(0);
    channel_group.fill(-1);
  }
  // The channel at (well, position), -1 for none or outside the table.
  int channel_at(int well, int position) const;
  // Fills well_channel from the per-channel map (channels 0..383 with a well).
  void rebuild_table();
  // The largest group of channels 0..383, -1 when every channel is free.
  int largest_group() const;
};

// Reads the plate format name (setup.dat), the group names (groups.dat) and channel groups
// (chgroup.dat) of `folder`, and the plate file of that name in `data_folder` (or its .bak).
// Every failure is shown with `dialogs` and gives nullopt, so no report is made from a wrong
// or empty map: a missing or damaged file ("Error loading " + path), a missing plate file
// (store::PlateFileNotFoundMessage), or no channel in any group.
std::optional<AcquisitionLayout> load_acquisition_layout(const std::filesystem::path& folder,
                                                         const std::filesystem::path& data_folder,
                                                         common::Dialogs& dialogs);

// The setting text built from setup.dat of `folder`: "Mode" + detection mode + " " + organism
// name + "[snr=" + threshold in one decimal + "]", e.g. "Mode1 C.elegans[snr=1.8]". Empty when
// the file cannot be read.
std::string setting_text_from_setup(const std::filesystem::path& folder, char decimal_separator);

// Reads every whole record of a counts file into rows through the counts reader, with the time
// limit of the file's folder: times are made monotonic across midnight, a torn final record is
// left out, and a record whose time cannot belong to the recording refuses the whole file (a
// report from the records around it would spread them over a wrong time axis). nullopt when the
// file is missing, unreadable, damaged or holds no whole record ("Error loading " + path, or
// the reader's message naming the record, in `problem`), and when `cancel` was set.
std::optional<ActivityRows> read_counts_rows(const std::filesystem::path& counts_file,
                                             std::string* problem = nullptr,
                                             const common::Cancellation* cancel = nullptr);

// read_counts_rows that tells the operator why it failed (nothing when it was cancelled).
std::optional<ActivityRows> load_counts_rows(const std::filesystem::path& counts_file,
                                             common::Dialogs& dialogs,
                                             const common::Cancellation* cancel = nullptr);

} // namespace kestrova::reports
