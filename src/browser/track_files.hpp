#pragma once

// What a track reads from an acquisition folder (setup snapshot, groups, plate map, counts.bin
// record minutes, real-time blocks) and the distance table it writes there.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.hpp"
#include "store/channel_grid.hpp"
#include "store/plate_format.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kTrackActivityNotFound = "Activity file not Found";
inline constexpr std::string_view kTrackRealtimeNotFound = "Real Time Data Not Found";
inline constexpr std::string_view kTrackPlate = "w6";

// Where the plate map comes from: the plate files of a data folder (the .dat, else the .bak),
// or, without a folder, the formats installed with the program.
struct TrackPlateSource {
  std::optional<std::filesystem::path> data_folder;
};

// The inputs of a track.
struct TrackInputs {
  std::filesystem::path folder;
  std::string plate_name;
  int organism = 0;
  int buffer_length = 500;
  store::PlateFormat plate;
  std::array<std::string, store::kChannelSlots> group_names; // groups 0..384
  std::array<int, store::kChannelSlots> channel_group;       // -1 free
  std::array<bool, store::kChannelSlots> enabled;            // status.dat; all when missing
  std::vector<double> record_minutes;                        // minutes of each counts.bin record

  // Records N; the track runs over blocks 0..N-2.
  std::int64_t records() const { return static_cast<std::int64_t>(record_minutes.size()); }
  std::int64_t blocks() const { return std::max<std::int64_t>(records() - 1, 0); }
  // The channels of each well 0..W in beam-position order.
  std::vector<std::vector<int>> well_channels() const;
};

// A load that failed carries the message to show.
struct TrackLoad {
  std::optional<TrackInputs> inputs;
  std::string error;
};

// True for the plates and organisms a track is offered for: w6 with zebrafish (1) or
// Drosophila (3).
bool track_offered(std::string_view plate_name, int organism);

// Reads the inputs of a track of `folder`. Refused, with the message: no counts.bin ("Activity
// file not Found"), an unreadable setup snapshot, a plate or organism the track is not offered
// for, a missing plate file, fewer than two records, no real-time file 0 ("Real Time Data Not
// Found"), or real-time files that do not hold every block tracked (the file is named).
TrackLoad load_track_inputs(const std::filesystem::path& folder, const TrackPlateSource& plate);

// Reads blocks of a folder's real-time files for buffer length B, keeping the file of the
// current number open and reading straight into the caller's samples, so a run over many
// blocks allocates nothing per block. The system is asked to read the current file and the next
// one into its cache in the background, so the disk works while blocks are detected.
class RealtimeBlocks {
public:
  RealtimeBlocks(std::filesystem::path folder, int buffer_length);
  ~RealtimeBlocks();
  RealtimeBlocks(const RealtimeBlocks&) = delete;
  RealtimeBlocks& operator=(const RealtimeBlocks&) = delete;

  // Block b as (B + 1) x 385 samples; false when it is missing, short or unreadable.
  bool read(std::int64_t block, std::vector<std::int16_t>& samples);

private:
  std::filesystem::path folder_;
  std::size_t block_bytes_;
  std::vector<std::byte> bytes_; // big-endian hosts decode through it
  int fd_ = -1;
  std::int64_t number_ = -1;
  int next_fd_ = -1; // the file after the current one, opened and asked for ahead
  std::int64_t next_number_ = -1;
};

// A distance in beam pitches as millimetres, whole, halves away from zero: 5 -> "23".
std::string track_millimetres(double pitches);

// Everything the distance table shows.
struct TrackTable {
  std::string date;                           // date-time text
  std::string folder;                         // the acquisition folder
  std::vector<double> minutes;                // per block column
  std::vector<std::string> labels;            // per well: "000_" + group name
  std::vector<std::vector<double>> distances; // [well][block] in beam pitches
};

// The text of the table; every line ends with CR LF.
std::string track_table_text(const TrackTable& table, std::string_view separator,
                             char decimal_separator);

// The date-time text of the table.
std::string track_date_text(const common::CivilTime& time);

// Saves the table as report.csv in `folder`, or report_1.csv, report_2.csv, ... when that file
// cannot be replaced (read-only, or not a file). Written beside and renamed, so a file is whole
// or absent. The path written, or nullopt.
std::optional<std::filesystem::path> save_track_table(const std::filesystem::path& folder,
                                                      std::string_view text);

} // namespace kestrova::browser
