#include "acquisition/activity_files.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/rounding.hpp"

namespace kestrova::acquisition {

namespace fs = std::filesystem;

namespace {

void put_u16(std::byte* p, std::uint16_t v) {
  p[0] = static_cast<std::byte>(v & 0xFF);
  p[1] = static_cast<std::byte>(v >> 8);
}
void put_u32(std::byte* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}
void put_u64(std::byte* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    p[i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}
std::uint16_t get_u16(const std::byte* p) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) |
                                    (std::to_integer<unsigned>(p[1]) << 8));
}
std::uint32_t get_u32(const std::byte* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= std::to_integer<std::uint32_t>(p[i]) << (8 * i);
  return v;
}
std::uint64_t get_u64(const std::byte* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i)
    v |= std::to_integer<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

long default_write_at(int fd, const void* data, std::size_t size, std::int64_t offset) {
  return static_cast<long>(::pwrite(fd, data, size, static_cast<off_t>(offset)));
}

// Size of a file in bytes; -1 when it cannot be examined.
std::int64_t regular_file_size(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

// Reads exactly `out.size()` bytes at `offset`; false on a short file or an error.
bool read_exact(const fs::path& file, std::int64_t offset, std::span<std::byte> out) {
  if (offset < 0) return false;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                              static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

} // namespace

bool valid_buffer_length(int buffer_length) {
  return buffer_length >= 1 && buffer_length <= kMaxBufferLength;
}

std::string realtime_file_name(std::int64_t file_number) {
  return std::to_string(file_number) + ".bin";
}

std::string histogram_file_name(std::int64_t file_number) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "histo%04lld.bin", static_cast<long long>(file_number));
  return buf;
}

std::int16_t temperature_tenths(double celsius) {
  const int tenths = common::round_to_int(celsius * 10.0);
  return static_cast<std::int16_t>(std::clamp(tenths, -32768, 32767));
}

std::array<std::byte, kCountsRecordBytes> encode_counts_record(const CountsRecord& record) {
  std::array<std::byte, kCountsRecordBytes> out{};
  put_u32(out.data(), static_cast<std::uint32_t>(record.minutes));
  for (int c = 0; c < kChannelSlots; ++c)
    put_u16(out.data() + 4 + 2 * c, static_cast<std::uint16_t>(record.slots[c]));
  return out;
}

CountsRecord decode_counts_record(std::span<const std::byte, kCountsRecordBytes> bytes) {
  CountsRecord record;
  record.minutes = static_cast<std::int32_t>(get_u32(bytes.data()));
  for (int c = 0; c < kChannelSlots; ++c)
    record.slots[c] = static_cast<std::int16_t>(get_u16(bytes.data() + 4 + 2 * c));
  return record;
}

std::vector<std::byte> encode_histogram_record(double minutes, double sample_period,
                                               std::span<const std::int32_t> totals) {
  std::vector<std::byte> out(kHistogramRecordBytes);
  put_u64(out.data(), std::bit_cast<std::uint64_t>(minutes));
  put_u64(out.data() + 8, std::bit_cast<std::uint64_t>(sample_period));
  const std::size_t n = std::min<std::size_t>(totals.size(), kHistogramBins * kChannelSlots);
  for (std::size_t i = 0; i < n; ++i)
    put_u32(out.data() + 16 + 4 * i, static_cast<std::uint32_t>(totals[i]));
  return out;
}

HistogramRecord decode_histogram_record(std::span<const std::byte, kHistogramRecordBytes> bytes) {
  HistogramRecord record;
  record.minutes = std::bit_cast<double>(get_u64(bytes.data()));
  record.sample_period = std::bit_cast<double>(get_u64(bytes.data() + 8));
  for (std::size_t i = 0; i < record.totals.size(); ++i)
    record.totals[i] = static_cast<std::int32_t>(get_u32(bytes.data() + 16 + 4 * i));
  return record;
}

void encode_samples(std::span<const std::int16_t> samples, std::vector<std::byte>& out) {
  out.resize(2 * samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i)
    put_u16(out.data() + 2 * i, static_cast<std::uint16_t>(samples[i]));
}

void decode_samples(std::span<const std::byte> bytes, std::span<std::int16_t> out) {
  const std::size_t n = std::min(out.size(), bytes.size() / 2);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<std::int16_t>(get_u16(bytes.data() + 2 * i));
}

// ---------------------------------------------------------------------------------------------
// Writer

ActivityWriter::ActivityWriter(fs::path folder, int buffer_length, WriteAtFunction write_at)
    : folder_(std::move(folder)), buffer_length_(buffer_length),
      write_at_(write_at ? std::move(write_at) : WriteAtFunction(default_write_at)) {
  records_ = counts_record_count(folder_ / kCountsFileName);
}

namespace {

// What an append at a fixed position does with the bytes the file already holds there.
enum class Existing { kAppend, kOrphan, kCutTail, kForeign };

// A file of `size` bytes receives a record of `record` bytes at `at`. Whole records before `at`
// may be missing (a run that did not save them). Past `at` only a write torn by a crash is cut,
// which is shorter than one record; for real-time blocks (`sample` bytes per sample) it is also
// not a whole number of samples, as blocks of another buffer length always are. One whole block
// ending the file at `at` is the block of a buffer end killed before its counts.bin record: it
// has no record, and its place is written over.
Existing classify_existing(std::int64_t size, std::int64_t at, std::size_t record,
                           std::size_t sample) {
  const auto record_bytes = static_cast<std::int64_t>(record);
  if (size <= at) return size % record_bytes == 0 ? Existing::kAppend : Existing::kForeign;
  const std::int64_t tail = size - at;
  if (sample != 0 && tail == record_bytes) return Existing::kOrphan;
  if (tail >= record_bytes) return Existing::kForeign;
  if (sample != 0 && tail % static_cast<std::int64_t>(sample) == 0) return Existing::kForeign;
  return Existing::kCutTail;
}

// Size of a file, 0 when it does not exist; -1 (with errno) when it cannot be examined.
std::int64_t size_or_zero(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) return static_cast<std::int64_t>(st.st_size);
  return errno == ENOENT ? 0 : -1;
}

AppendResult foreign_blocks(const fs::path& file) {
  return {false, file, 0, AppendFailure::kForeignBlocks};
}

} // namespace

std::string describe(const AppendResult& result) {
  const std::string file = result.file.string();
  switch (result.failure) {
  case AppendFailure::kNone:
    return result.ok ? std::string() : "Cannot write " + file;
  case AppendFailure::kWrite:
    // An error number of 0 is no reason: the plain sentence says all that is known.
    if (result.error == 0) return "Cannot write " + file;
    return "Cannot write " + file + ": " + std::strerror(result.error);
  case AppendFailure::kBadRecords:
    return "Records of the wrong size for " + file;
  case AppendFailure::kForeignBlocks:
    return file + " holds real-time blocks of another buffer length; the acquisition cannot "
                  "continue in this folder";
  }
  return {};
}

AppendResult ActivityWriter::check_realtime_files() const {
  if (!valid_buffer_length(buffer_length_))
    return {false, folder_, EINVAL, AppendFailure::kBadRecords};
  const std::size_t block = realtime_block_bytes(buffer_length_);
  const auto block_bytes = static_cast<std::int64_t>(block);
  // The file in progress, and the last full one before it, which holds at most 11 whole blocks.
  struct Check {
    std::int64_t number;
    std::int64_t at;
  };
  std::vector<Check> checks{{file_number(), block_counter() * block_bytes}};
  if (file_number() > 0)
    checks.push_back({file_number() - 1, kBlocksPerRealtimeFile * block_bytes});
  for (const Check& check : checks) {
    const fs::path file = folder_ / realtime_file_name(check.number);
    const std::int64_t size = size_or_zero(file);
    if (size < 0) return {false, file, errno, AppendFailure::kWrite};
    const Existing existing = classify_existing(size, check.at, block, kSampleBytes);
    if (check.number == file_number() && existing == Existing::kForeign &&
        (size - check.at) % block_bytes == 0)
      continue; // whole blocks without records: align_realtime_files() moves them aside
    if (existing == Existing::kForeign ||
        (existing != Existing::kAppend && check.number != file_number()))
      return foreign_blocks(file);
  }
  // Later files can only hold blocks without records, of this length to be moved aside.
  for (std::int64_t n = file_number() + 1;; ++n) {
    const fs::path file = folder_ / realtime_file_name(n);
    const std::int64_t size = size_or_zero(file);
    if (size < 0) return {false, file, errno, AppendFailure::kWrite};
    if (size == 0 && !fs::exists(file)) break;
    if (size % block_bytes != 0) return foreign_blocks(file);
  }
  return {};
}

namespace {

// Appends bytes [from, end) of `source` to `target`, flushed; 0 or errno.
int copy_tail(const fs::path& source, std::int64_t from, const fs::path& target) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    return err;
  }
  std::vector<char> buf(1 << 16);
  int err = 0;
  for (std::int64_t at = from;;) {
    const ssize_t n = ::pread(in, buf.data(), buf.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    if (::write(out, buf.data(), static_cast<std::size_t>(n)) != n) {
      err = errno != 0 ? errno : ENOSPC;
      break;
    }
    at += n;
  }
  if (err == 0 && ::fsync(out) != 0) err = errno;
  ::close(out);
  ::close(in);
  return err;
}

} // namespace

AppendResult ActivityWriter::align_realtime_files() {
  const auto block_bytes = static_cast<std::int64_t>(realtime_block_bytes(buffer_length_));
  const std::int64_t at = block_counter() * block_bytes;
  const fs::path aside = folder_ / kUnrecordedBlocksFileName;
  const fs::path current = folder_ / realtime_file_name(file_number());
  const std::int64_t size = size_or_zero(current);
  const bool later_files = fs::exists(folder_ / realtime_file_name(file_number() + 1));
  // One block past the records, ending the data, is the place a crash left between a block and
  // its record: it is written over. More whole blocks are kept aside, in order, before the cut.
  if (size - at > block_bytes || (size > at && later_files)) {
    if (const int err = copy_tail(current, at, aside); err != 0)
      return {false, aside, err, AppendFailure::kWrite};
    if (::truncate(current.c_str(), static_cast<off_t>(at)) != 0)
      return {false, current, errno, AppendFailure::kWrite};
  }
  for (std::int64_t n = file_number() + 1;; ++n) {
    const fs::path file = folder_ / realtime_file_name(n);
    if (!fs::exists(file)) break;
    if (const int err = copy_tail(file, 0, aside); err != 0)
      return {false, aside, err, AppendFailure::kWrite};
    if (::unlink(file.c_str()) != 0) return {false, file, errno, AppendFailure::kWrite};
  }
  return {};
}

AppendResult ActivityWriter::write_record(const fs::path& file, std::span<const std::byte> bytes,
                                          std::optional<std::int64_t> offset,
                                          std::size_t sample_bytes, std::vector<Written>& done) {
  // A symbolic link in the acquisition folder is not followed (ELOOP).
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return {false, file, errno, AppendFailure::kWrite};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return {false, file, err, AppendFailure::kWrite};
  }
  const auto size = static_cast<std::int64_t>(st.st_size);
  // Without a fixed position the record goes after the last whole record of the file.
  const std::int64_t at = offset ? *offset : size - size % static_cast<std::int64_t>(bytes.size());
  const Existing existing = classify_existing(size, at, bytes.size(), sample_bytes);
  if (existing == Existing::kForeign) {
    ::close(fd);
    return foreign_blocks(file);
  }
  // A torn record of an interrupted run is cut before its place is written again.
  if (existing == Existing::kCutTail && ::ftruncate(fd, static_cast<off_t>(at)) != 0) {
    const int err = errno;
    ::close(fd);
    return {false, file, err, AppendFailure::kWrite};
  }
  long n = -1;
  do {
    errno = 0;
    n = write_at_(fd, bytes.data(), bytes.size(), at);
  } while (n < 0 && errno == EINTR);
  int err = 0;
  if (n < 0) {
    err = errno != 0 ? errno : EIO;
  } else if (static_cast<std::size_t>(n) != bytes.size()) {
    err = ENOSPC;
  } else if (::fsync(fd) != 0) {
    err = errno;
  }
  if (err != 0) {
    // Cut back to the last whole record so the file stays aligned.
    if (::ftruncate(fd, static_cast<off_t>(at)) == 0) ::fsync(fd);
    ::close(fd);
    return {false, file, err, AppendFailure::kWrite};
  }
  if (::close(fd) != 0) {
    err = errno;
    if (err != EINTR) return {false, file, err, AppendFailure::kWrite};
  }
  done.push_back({file, at});
  return {};
}

void ActivityWriter::roll_back(const std::vector<Written>& done) {
  for (const Written& w : done) {
    const int fd = ::open(w.file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (::ftruncate(fd, static_cast<off_t>(w.offset)) == 0) ::fsync(fd);
    ::close(fd);
  }
}

AppendResult ActivityWriter::append_buffer(const BufferEndRecords& records) {
  const std::size_t block_samples = static_cast<std::size_t>(buffer_length_ + 1) * kChannelSlots;
  if (!valid_buffer_length(buffer_length_) || records.counts.size() < kChannelCount ||
      (records.save_realtime && records.raw_block.size() != block_samples) ||
      (records.body_bends &&
       records.histogram_totals.size() != static_cast<std::size_t>(kHistogramBins) * kChannelSlots))
    return {false, folder_, EINVAL, AppendFailure::kBadRecords};

  std::vector<Written> done;
  const std::int64_t n = file_number();
  if (records.save_realtime) {
    if (!realtime_checked_) {
      if (AppendResult r = check_realtime_files(); !r) return r;
      if (AppendResult r = align_realtime_files(); !r) return r;
      realtime_checked_ = true;
    }
    encode_samples(records.raw_block, scratch_);
    const auto at = static_cast<std::int64_t>(block_counter()) *
                    static_cast<std::int64_t>(realtime_block_bytes(buffer_length_));
    AppendResult r =
        write_record(folder_ / realtime_file_name(n), scratch_, at, kSampleBytes, done);
    if (!r) return r;
  }

  CountsRecord counts;
  // The minutes field has always been limited to the 16-bit range.
  counts.minutes = std::clamp<std::int32_t>(records.minutes, -32768, 32767);
  std::copy_n(records.counts.begin(), kChannelCount, counts.slots.begin());
  counts.slots[kChannelCount] = temperature_tenths(records.temperature);
  const auto counts_bytes = encode_counts_record(counts);
  AppendResult r = write_record(folder_ / kCountsFileName, counts_bytes,
                                records_ * static_cast<std::int64_t>(kCountsRecordBytes), 0, done);
  if (!r) {
    roll_back(done);
    return r;
  }

  if (records.body_bends) {
    const auto bytes = encode_histogram_record(records.histogram_minutes, records.sample_period,
                                               records.histogram_totals);
    r = write_record(folder_ / histogram_file_name(n), bytes, std::nullopt, 0, done);
    if (!r) {
      roll_back(done);
      return r;
    }
  }
  ++records_;
  return {};
}

// ---------------------------------------------------------------------------------------------
// Readers

std::int64_t counts_record_count(const fs::path& counts_file) {
  const std::int64_t size = regular_file_size(counts_file);
  return size < 0 ? 0 : size / static_cast<std::int64_t>(kCountsRecordBytes);
}

std::optional<CountsRecord> read_counts_record(const fs::path& counts_file, std::int64_t record) {
  if (record < 0 || record > INT64_MAX / static_cast<std::int64_t>(kCountsRecordBytes))
    return std::nullopt;
  std::array<std::byte, kCountsRecordBytes> bytes{};
  if (!read_exact(counts_file, record * static_cast<std::int64_t>(kCountsRecordBytes), bytes))
    return std::nullopt;
  return decode_counts_record(bytes);
}

std::optional<std::vector<std::int16_t>>
read_realtime_block(const fs::path& folder, std::int64_t block, int buffer_length) {
  if (block < 0 || !valid_buffer_length(buffer_length)) return std::nullopt;
  const std::size_t size = realtime_block_bytes(buffer_length);
  const fs::path file = folder / realtime_file_name(block / kBlocksPerRealtimeFile);
  const auto offset = (block % kBlocksPerRealtimeFile) * static_cast<std::int64_t>(size);
  std::vector<std::byte> bytes(size);
  if (!read_exact(file, offset, bytes)) return std::nullopt;
  std::vector<std::int16_t> samples(size / 2);
  decode_samples(bytes, samples);
  return samples;
}

std::int64_t histogram_record_count(const fs::path& histogram_file) {
  const std::int64_t size = regular_file_size(histogram_file);
  return size < 0 ? 0 : size / static_cast<std::int64_t>(kHistogramRecordBytes);
}

std::optional<HistogramRecord> read_histogram_record(const fs::path& histogram_file,
                                                     std::int64_t record) {
  if (record < 0 || record > INT64_MAX / static_cast<std::int64_t>(kHistogramRecordBytes))
    return std::nullopt;
  std::vector<std::byte> bytes(kHistogramRecordBytes);
  if (!read_exact(histogram_file, record * static_cast<std::int64_t>(kHistogramRecordBytes), bytes))
    return std::nullopt;
  return decode_histogram_record(std::span<const std::byte, kHistogramRecordBytes>(bytes));
}

bool has_histogram_files(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() >= 9 && name.compare(0, 5, "histo") == 0 &&
        name.compare(name.size() - 4, 4, ".bin") == 0)
      return true;
  }
  return false;
}

} // namespace kestrova::acquisition
