#include "workbook/file_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrova::workbook {

Error system_error(int errno_value, const std::string& what) {
  return Error{errno_value, std::string(std::strerror(errno_value)) + ": " + what};
}

FileWriter::FileWriter() : buffer_(new char[kBufferSize]) {}

FileWriter::~FileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

Status FileWriter::open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return system_error(errno, path.string());
  adopt(fd, path);
  return std::nullopt;
}

void FileWriter::adopt(int fd, const std::filesystem::path& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  path_ = path;
  used_ = 0;
  flushed_ = 0;
  error_.reset();
}

void FileWriter::put_u16(std::uint16_t v) {
  const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  write(b, 2);
}

void FileWriter::put_u32(std::uint32_t v) {
  const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
  write(b, 4);
}

void FileWriter::fail(int errno_value) {
  if (!error_) error_ = system_error(errno_value, path_.string());
}

void FileWriter::write_all(const char* data, std::size_t size) {
  while (size > 0 && !error_) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    flushed_ += static_cast<std::uint64_t>(n);
  }
}

void FileWriter::flush() {
  if (used_ > 0) write_all(buffer_.get(), used_);
  used_ = 0;
}

void FileWriter::write_slow(const char* data, std::size_t size) {
  flush();
  if (size >= kBufferSize) {
    write_all(data, size);
  } else {
    std::memcpy(buffer_.get(), data, size);
    used_ = size;
  }
}

void FileWriter::patch(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0 && !error_) {
    if (offset >= flushed_) {
      std::memcpy(buffer_.get() + (offset - flushed_), p, size);
      return;
    }
    const std::size_t on_disk =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, flushed_ - offset));
    const ssize_t n = ::pwrite(fd_, p, on_disk, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
      return;
    }
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

Status FileWriter::close() {
  flush();
  if (fd_ >= 0) {
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
  }
  return error_;
}

} // namespace kestrova::workbook
