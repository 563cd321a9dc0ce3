#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "store/channel_grid.hpp"

namespace kestrova::acquisition {

// Dimensions shared by the acquisition buffers and the activity files. The channel geometry
// (384 channels, 385 slots, the longest buffer) is the beam grid's.
using store::kChannelCount;
using store::kChannelSlots;
using store::kMaxBufferLength;
inline constexpr int kDefaultBufferLength = 500;
inline constexpr int kBlocksPerRealtimeFile = 11;
inline constexpr int kHistogramBins = 51; // interval bins 0..50 of a histogram record
inline constexpr std::size_t kCountsRecordBytes = 4 + 2 * kChannelSlots; // 774
inline constexpr std::size_t kHistogramRecordBytes =
    16 + 4 * static_cast<std::size_t>(kHistogramBins) * kChannelSlots; // 78,556
inline constexpr const char* kCountsFileName = "counts.bin";
// Real-time blocks found past the last `counts.bin` record when an acquisition continues a
// folder: they have no record, so they are moved here, in order, out of the way of the blocks
// that line up with the records.
inline constexpr const char* kUnrecordedBlocksFileName = "unrecorded.blocks";

// Bytes of one sample (385 slots of int16) and of one real-time block for buffer length B:
// (B + 1) samples.
inline constexpr std::size_t kSampleBytes = 2 * static_cast<std::size_t>(kChannelSlots); // 770
constexpr std::size_t realtime_block_bytes(int buffer_length) {
  return static_cast<std::size_t>(buffer_length + 1) * kSampleBytes;
}
bool valid_buffer_length(int buffer_length);

// "0.bin", "1.bin", ...
std::string realtime_file_name(std::int64_t file_number);
// "histo0000.bin", "histo0001.bin", ...
std::string histogram_file_name(std::int64_t file_number);

// One `counts.bin` record: elapsed minutes, then the counts of channels 0..383 with the
// temperature x 10 in slot 384.
struct CountsRecord {
  std::int32_t minutes = 0;
  std::array<std::int16_t, kChannelSlots> slots{};
};

// One histogram record: entry (bin t, slot c) of `totals` is at t * 385 + c.
struct HistogramRecord {
  double minutes = 0;
  double sample_period = 0;
  std::vector<std::int32_t> totals = std::vector<std::int32_t>(kHistogramBins * kChannelSlots);
};

// Temperature in tenths of a degree as stored in slot 384: rounded half to even, saturated to
// the 16-bit range, 0 for a temperature that is not a number.
std::int16_t temperature_tenths(double celsius);

// Little-endian encodings of the records, whatever the host's byte order.
std::array<std::byte, kCountsRecordBytes> encode_counts_record(const CountsRecord& record);
CountsRecord decode_counts_record(std::span<const std::byte, kCountsRecordBytes> bytes);
std::vector<std::byte> encode_histogram_record(double minutes, double sample_period,
                                               std::span<const std::int32_t> totals);
HistogramRecord decode_histogram_record(std::span<const std::byte, kHistogramRecordBytes> bytes);
void encode_samples(std::span<const std::int16_t> samples, std::vector<std::byte>& out);
void decode_samples(std::span<const std::byte> bytes, std::span<std::int16_t> out);

// Writes at an absolute offset like pwrite(2); injectable so that tests can simulate a full disk.
using WriteAtFunction =
    std::function<long(int fd, const void* data, std::size_t size, std::int64_t offset)>;

// What the acquisition cycle hands over at the end of a buffer while recording.
struct BufferEndRecords {
  std::int32_t minutes = 0;                // whole elapsed minutes
  std::span<const std::int16_t> counts;    // channels 0..383 (a 385th entry is ignored)
  double temperature = 0;                  // degrees C, stored x 10 in slot 384
  bool save_realtime = false;              // the setup's real-time saving switch
  std::span<const std::int16_t> raw_block; // (B + 1) x 385 samples, channel fastest
  bool body_bends = false;                 // body-bends mode: append a histogram record
  double histogram_minutes = 0;            // elapsed minutes, already rounded to 2 decimals
  double sample_period = 0;                // seconds per sample, already rounded to 3 decimals
  std::span<const std::int32_t> histogram_totals; // 51 x 385, bin-major
};

// Why a buffer end's appends failed.
enum class AppendFailure {
  kNone,
  kWrite,         // a file could not be opened, written or synced (see `error`)
  kBadRecords,    // records of the wrong size were handed over
  kForeignBlocks, // a real-time file holds data that this writer would cut or misplace
};

// Outcome of one buffer end's appends. On failure nothing of that buffer stays in any file.
struct AppendResult {
  bool ok = true;
  std::filesystem::path file; // the file that failed
  int error = 0;              // errno of the failure (EINVAL for records of the wrong size)
  AppendFailure failure = AppendFailure::kNone;
  explicit operator bool() const { return ok; }
};

// One line describing a failed append, for the operator; empty for a success.
std::string describe(const AppendResult& result);

// Appends the records of each buffer end to the activity files of one acquisition folder.
// Every record goes out whole in one write at its record boundary and is fsynced before the
// file is closed; nothing stays open between buffers. A short write (full disk) is cut back, and
// the appends of the same buffer that had succeeded are cut back too, so block b of the
// real-time files always belongs to record b of `counts.bin`. An existing folder is continued
// after its last whole `counts.bin` record. Real-time blocks past that record are aligned with
// the records before the first block is written: the one block a crash between a block and its
// record leaves is written over, more whole blocks are moved to kUnrecordedBlocksFileName, and a
// torn tail shorter than one record is cut. Real-time data of another buffer length is refused
// with kForeignBlocks and left as it is.
class ActivityWriter {
public:
  ActivityWriter(std::filesystem::path folder, int buffer_length, WriteAtFunction write_at = {});

  AppendResult append_buffer(const BufferEndRecords& records);
  // Whether the folder's real-time files can be continued with this buffer length (blocks
  // without records count as continuable: they are moved aside); run before the first
  // real-time block is appended, and available to a start action that refuses early.
  AppendResult check_realtime_files() const;

  const std::filesystem::path& folder() const { return folder_; }
  int buffer_length() const { return buffer_length_; }
  std::int64_t records_written() const { return records_; }
  // Block counter 0..10 inside the current real-time file, and that file's number N.
  int block_counter() const { return static_cast<int>(records_ % kBlocksPerRealtimeFile); }
  std::int64_t file_number() const { return records_ / kBlocksPerRealtimeFile; }

private:
  struct Written {
    std::filesystem::path file;
    std::int64_t offset;
  };
  AppendResult write_record(const std::filesystem::path& file, std::span<const std::byte> bytes,
                            std::optional<std::int64_t> offset, std::size_t sample_bytes,
                            std::vector<Written>& done);
  void roll_back(const std::vector<Written>& done);
  // Moves whole blocks without records out of the real-time files (after a passed check).
  AppendResult align_realtime_files();

  std::filesystem::path folder_;
  int buffer_length_;
  WriteAtFunction write_at_;
  std::int64_t records_ = 0;
  bool realtime_checked_ = false;
  std::vector<std::byte> scratch_;
};

// Readers. Each reads only whole records: a short final record (an interrupted write) is
// never returned, and a record past the end gives nothing.
std::int64_t counts_record_count(const std::filesystem::path& counts_file);
std::optional<CountsRecord> read_counts_record(const std::filesystem::path& counts_file,
                                               std::int64_t record);
// Block b (counting over all real-time files) of an acquisition folder for buffer length B,
// (B + 1) x 385 samples; nothing when B is out of range or the block is missing or short.
std::optional<std::vector<std::int16_t>> read_realtime_block(const std::filesystem::path& folder,
                                                             std::int64_t block, int buffer_length);
std::int64_t histogram_record_count(const std::filesystem::path& histogram_file);
std::optional<HistogramRecord> read_histogram_record(const std::filesystem::path& histogram_file,
                                                     std::int64_t record);
// True when the folder holds at least one file matching "histo*.bin".
bool has_histogram_files(const std::filesystem::path& folder);

} // namespace kestrova::acquisition
