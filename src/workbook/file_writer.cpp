#include "workbook/file_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::workbook {

namespace {

// Writes all of `data`; 0 or the errno value of the failure.
int write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

} // namespace

Error system_error(int errno_value, const std::string& what) {
  return Error{errno_value, std::string(std::strerror(errno_value)) + ": " + what};
}

FileWriter::FileWriter() : buffer_(new char[kBufferSize]) {}

FileWriter::~FileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

Status FileWriter::open(const std::filesystem::path& path) {
  // A part of the scratch folder: a symbolic link in its place is not followed.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
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
  crc_ = Crc32{};
  crc_on_ = false;
  crc_valid_ = false;
}

void FileWriter::track_crc() {
  crc_on_ = true;
  crc_valid_ = flushed_ == 0;
}

std::optional<FileWriter::Summary> FileWriter::summary() const {
  if (!crc_on_ || !crc_valid_ || used_ != 0) return std::nullopt;
  return Summary{flushed_, crc_.value()};
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

bool FileWriter::stop_requested() {
  if (interrupted_ == nullptr || !interrupted_->load(std::memory_order_relaxed)) return false;
  fail(ECANCELED);
  return true;
}

void FileWriter::changed_during_copy(const std::filesystem::path& source) {
  if (!error_) error_ = Error{EIO, "el archivo ha cambiado durante la copia: " + source.string()};
}

void FileWriter::write_all(const char* data, std::size_t size) {
  if (error_ || size == 0 || stop_requested()) return;
  if (crc_on_) crc_.update(data, size);
  if (const int e = write_fully(fd_, data, size)) {
    fail(e);
    return;
  }
  flushed_ += size;
}

void FileWriter::flush() {
  write_all(buffer_.get(), used_);
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
    crc_valid_ = false;
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

std::uint64_t FileWriter::copy_mapped(int fd, std::uint64_t size,
                                      const std::filesystem::path& source) {
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  const long page = ::sysconf(_SC_PAGESIZE);
  struct stat st {};
  if (start < 0 || page <= 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  // Only bytes the file has: a mapping past its end would read as zeros.
  size = std::min<std::uint64_t>(
      size, static_cast<std::uint64_t>(std::max<off_t>(st.st_size - start, 0)));
  constexpr std::uint64_t kWindow = 16u << 20;
  auto offset = static_cast<std::uint64_t>(start);
  std::uint64_t done = 0;
  while (done < size && !error_ && !stop_requested()) {
    const std::uint64_t base = offset - offset % static_cast<std::uint64_t>(page);
    const std::uint64_t lead = offset - base;
    const auto length = static_cast<std::size_t>(std::min(size - done + lead, kWindow));
    void* const map =
        ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(base));
    if (map == MAP_FAILED) break; // the caller copies the rest another way
    const char* p = static_cast<const char*>(map) + lead;
    std::size_t left = length - lead;
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EFAULT) { // the source was cut short under the mapping
        changed_during_copy(source);
        break;
      }
      if (n <= 0) {
        fail(n < 0 ? errno : EIO);
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
      flushed_ += static_cast<std::uint64_t>(n);
      done += static_cast<std::uint64_t>(n);
      offset += static_cast<std::uint64_t>(n);
    }
    ::munmap(map, length);
    // A source cut inside its last mapped page reads as zeros there instead of failing.
    if (!error_ && (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) < offset))
      changed_during_copy(source);
  }
  ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
  return done;
}

Status FileWriter::copy_from(int fd, std::uint64_t size, const std::filesystem::path& source) {
  flush();
  crc_valid_ = false; // copied bytes never pass through crc_
  // Written from a mapping of the source where it can be mapped (one copy out of the page
  // cache, cheaper than the kernel's file-to-file copy), else copied by the kernel, else
  // through the buffer.
  if (!error_) size -= copy_mapped(fd, size, source);
  bool kernel = true;
  while (size > 0 && !error_ && !stop_requested()) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30));
    ssize_t n = -1;
    if (kernel) {
      n = ::copy_file_range(fd, nullptr, fd_, nullptr, want, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        kernel = false; // not possible between these files: copy through the buffer
        continue;
      }
      if (n > 0) flushed_ += static_cast<std::uint64_t>(n);
    } else {
      n = ::read(fd, buffer_.get(), std::min(want, kBufferSize));
      if (n > 0) write_all(buffer_.get(), static_cast<std::size_t>(n));
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      // A full disk or a size limit is the destination's failure; anything else the source's.
      if (e == ENOSPC || e == EDQUOT || e == EFBIG) {
        fail(e);
      } else if (!error_) {
        error_ = system_error(e, source.string());
      }
      break;
    }
    if (n == 0) {
      changed_during_copy(source);
      break;
    }
    size -= static_cast<std::uint64_t>(n);
  }
  return error_;
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
