#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "workbook/crc32.hpp"
#include "workbook/error.hpp"

namespace kestrova::workbook {

// A buffered writer on a file descriptor. The first failure is kept and every later call
// does nothing, so a long run of writes needs one check at the end (`close`).
class FileWriter {
public:
  static constexpr std::size_t kBufferSize = 1 << 20;

  // A part written with its CRC-32 and size taken while writing, so it can be zipped without
  // being read back.
  struct Summary {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
  };

  FileWriter();
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Creates or truncates `path`.
  Status open(const std::filesystem::path& path);
  // Takes over an open descriptor (for a temporary made with mkstemp).
  void adopt(int fd, const std::filesystem::path& path);
  // Once `*interrupted` turns true (a signal handler's flag, say), the next flush or copy step
  // fails with ECANCELED, so a long run of writes stops within one buffer. Kept across files.
  void stop_when(const std::atomic<bool>* interrupted) { interrupted_ = interrupted; }

  void write(const char* data, std::size_t size) {
    if (size <= kBufferSize - used_) {
      std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
    } else {
      write_slow(data, size);
    }
  }
  void write(std::string_view text) { write(text.data(), text.size()); }
  void put(char c) {
    if (used_ == kBufferSize) flush();
    buffer_[used_++] = c;
  }
  // Room for `size` bytes (at most kBufferSize) to be filled in place and then committed
  // with `commit(end)`; avoids a copy per small piece of a long run of output.
  char* reserve(std::size_t size) {
    if (kBufferSize - used_ < size) flush();
    return buffer_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }
  void put_u16(std::uint16_t v);
  void put_u32(std::uint32_t v);

  // Keeps a CRC-32 of every byte that reaches the file from now on (call right after open).
  void track_crc();
  // Size and CRC-32 of everything written, once flushed; nullopt when the CRC was not tracked
  // or bytes already on disk were patched.
  std::optional<Summary> summary() const;

  // Appends `size` bytes read from the descriptor `fd` at its current position, written from
  // a memory mapping of the source where it can be mapped, else copied by the kernel
  // (copy_file_range), else through the buffer. A source that ends early is an error.
  Status copy_from(int fd, std::uint64_t size, const std::filesystem::path& source);

  // Overwrites bytes already written at `offset` (buffered or not).
  void patch(std::uint64_t offset, const void* data, std::size_t size);

  // Bytes written so far (flushed and buffered).
  std::uint64_t position() const { return flushed_ + used_; }
  bool failed() const { return error_.has_value(); }

  void flush();
  // Flushes and closes; returns the first error of the whole run.
  Status close();

private:
  void write_slow(const char* data, std::size_t size);
  // Writes up to `size` bytes of `fd` from its current position out of a memory mapping and
  // moves the position past them; returns how many were written.
  std::uint64_t copy_mapped(int fd, std::uint64_t size, const std::filesystem::path& source);
  void changed_during_copy(const std::filesystem::path& source);
  void write_all(const char* data, std::size_t size);
  void fail(int errno_value);
  // True, with the ECANCELED failure recorded, once the watched flag is set.
  bool stop_requested();

  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  int fd_ = -1;
  std::filesystem::path path_;
  Status error_;
  Crc32 crc_;
  bool crc_on_ = false;
  bool crc_valid_ = false;
  const std::atomic<bool>* interrupted_ = nullptr;
};

} // namespace kestrova::workbook
