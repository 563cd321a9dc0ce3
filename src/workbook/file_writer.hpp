#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "workbook/error.hpp"

namespace kestrova::workbook {

// A buffered writer on a file descriptor. The first failure is kept and every later call
// does nothing, so a long run of writes needs one check at the end (`close`).
class FileWriter {
public:
  static constexpr std::size_t kBufferSize = 1 << 20;

  FileWriter();
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Creates or truncates `path`.
  Status open(const std::filesystem::path& path);
  // Takes over an open descriptor (for a temporary made with mkstemp).
  void adopt(int fd, const std::filesystem::path& path);

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
  void put_u16(std::uint16_t v);
  void put_u32(std::uint32_t v);

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
  void write_all(const char* data, std::size_t size);
  void fail(int errno_value);

  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;
  int fd_ = -1;
  std::filesystem::path path_;
  Status error_;
};

} // namespace kestrova::workbook
