#include "acquisition/acquisition_log.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kestrova::acquisition {

namespace fs = std::filesystem;

namespace {

long default_write(int fd, const void* data, std::size_t size) {
  return static_cast<long>(::write(fd, data, size));
}

void put_digits(std::string& out, int value, int width) {
  std::string digits = std::to_string(value < 0 ? 0 : value);
  if (static_cast<int>(digits.size()) < width)
    out.append(static_cast<std::size_t>(width) - digits.size(), '0');
  out += digits;
}

} // namespace

std::string format_log_line(common::LocalTime now, std::string_view text) {
  const common::CivilTime c = common::to_civil(now);
  std::string line;
  line.reserve(21 + text.size());
  put_digits(line, c.year, 4);
  line += '-';
  put_digits(line, c.month, 2);
  line += '-';
  put_digits(line, c.day, 2);
  line += 'T';
  put_digits(line, c.hour, 2);
  line += ':';
  put_digits(line, c.minute, 2);
  line += ':';
  put_digits(line, c.second, 2);
  line += "  ";
  for (const char ch : text) {
    const auto u = static_cast<unsigned char>(ch);
    line += (u < 0x20 || u == 0x7F) ? ' ' : ch;
  }
  return line;
}

AcquisitionLog::AcquisitionLog(LogWriteFunction write)
    : write_(write ? std::move(write) : LogWriteFunction(default_write)) {}

AcquisitionLog::~AcquisitionLog() = default;

bool AcquisitionLog::open(const fs::path& folder) {
  folder_ = folder;
  lost_total_ = 0;
  lost_unreported_ = 0;
  torn_ = false;
  const int fd = open_file();
  healthy_ = fd >= 0;
  if (fd >= 0) ::close(fd);
  return healthy_;
}

void AcquisitionLog::close() {
  folder_.clear();
  healthy_ = false;
}

fs::path AcquisitionLog::path() const {
  return folder_.empty() ? fs::path{} : folder_ / kAcquisitionLogName;
}

int AcquisitionLog::open_file() const {
  if (folder_.empty()) return -1;
  // O_NONBLOCK keeps a FIFO planted under the name from blocking the open; it is then refused
  // as not a regular file.
  const int fd = ::open(path().c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool AcquisitionLog::put(const std::string& line) {
  const int fd = open_file();
  if (fd < 0) return false;
  long n = -1;
  do {
    n = write_(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n == static_cast<long>(line.size())) return true;
  if (n > 0) torn_ = true;
  return false;
}

bool AcquisitionLog::write(common::LocalTime now, std::string_view text) {
  if (folder_.empty()) return false;
  std::string line = torn_ ? "\n" : "";
  if (lost_unreported_ > 0) {
    line += format_log_line(now, std::to_string(lost_unreported_) +
                                     " earlier log line(s) could not be written");
    line += '\n';
  }
  line += format_log_line(now, text);
  line += '\n';
  healthy_ = put(line);
  if (healthy_) {
    torn_ = false;
    lost_unreported_ = 0;
    return true;
  }
  ++lost_total_;
  ++lost_unreported_;
  return false;
}

std::optional<std::string> read_acquisition_log(const fs::path& folder) {
  const fs::path file = folder / kAcquisitionLogName;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return text;
}

} // namespace kestrova::acquisition
