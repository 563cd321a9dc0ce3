#include "device/serial_ports.hpp"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

#include <fmt/format.h>

namespace kestrova::device {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<int> to_int(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// Names compare with digit runs as numbers, so ttyUSB2 comes before ttyUSB10.
bool natural_less(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
        ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
        ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

speed_t speed_of(int baud) {
  switch (baud) {
  case 1200:
    return B1200;
  case 2400:
    return B2400;
  case 4800:
    return B4800;
  case 9600:
    return B9600;
  case 19200:
    return B19200;
  case 38400:
    return B38400;
  case 57600:
    return B57600;
  case 115200:
    return B115200;
  case 230400:
    return B230400;
  default:
    return B0;
  }
}

// Whole milliseconds to `deadline`, rounded up, so a wait never ends before it.
int remaining_ms(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

} // namespace

std::optional<LineSettings> parse_line_settings(std::string_view text, LineSettings base) {
  LineSettings out = base;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ')
      ++pos;
    if (pos >= text.size()) break;
    std::size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(pos, end - pos);
    pos = end;
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string key = lower(item.substr(0, eq));
    const std::string value = lower(item.substr(eq + 1));
    if (key == "baud") {
      const auto v = to_int(value);
      if (!v || speed_of(*v) == B0) return std::nullopt;
      out.baud = *v;
    } else if (key == "parity") {
      if (value != "n" && value != "e" && value != "o") return std::nullopt;
      out.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    } else if (key == "data") {
      const auto v = to_int(value);
      if (!v || *v < 5 || *v > 8) return std::nullopt;
      out.data_bits = *v;
    } else if (key == "stop") {
      const auto v = to_int(value);
      if (!v || (*v != 1 && *v != 2)) return std::nullopt;
      out.stop_bits = *v;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::string error_text(int number) {
  std::string text = number == -1 ? std::string("Operation failed") : std::strerror(number);
  if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  if (text.size() > 255) text.resize(255);
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// ---- PortMap ----

std::vector<PortMap::Source> PortMap::system_sources() {
  return {{"/dev/serial/by-id", ""}, {"/dev", "ttyUSB"}, {"/dev", "ttyACM"}};
}

PortMap::PortMap(fs::path data_dir, std::vector<Source> sources)
    : data_dir_(std::move(data_dir)), sources_(std::move(sources)) {}

std::vector<fs::path> PortMap::system_devices() const {
  std::vector<fs::path> out;
  std::vector<fs::path> seen; // canonical targets, so a by-id link and its node count once
  for (const Source& src : sources_) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(src.folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.compare(0, src.prefix.size(), src.prefix) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), natural_less);
    for (const std::string& name : names) {
      const fs::path p = src.folder / name;
      std::error_code cec;
      const fs::path target = fs::weakly_canonical(p, cec);
      const fs::path key = cec ? p : target;
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(key);
      out.push_back(p);
    }
  }
  return out;
}

std::optional<fs::path> PortMap::device_for(int port) const {
  if (port < 1 || port > kPortCount) return std::nullopt;
  if (!data_dir_.empty()) {
    const fs::path link = data_dir_ / "ports" / ("COM" + std::to_string(port));
    std::error_code ec;
    // A configured entry wins even when its target is gone: the port is then absent rather
    // than silently some other device of the machine.
    if (fs::exists(fs::symlink_status(link, ec))) return link;
  }
  const auto devices = system_devices();
  if (static_cast<std::size_t>(port) <= devices.size()) return devices[port - 1];
  return std::nullopt;
}

// ---- SerialPorts ----

SerialPorts::SerialPorts(PortMap map, common::Clock& clock, CommTimeouts timeouts)
    : map_(std::move(map)), clock_(clock), timeouts_(timeouts) {}

SerialPorts::~SerialPorts() {
  for (Entry& e : ports_)
    release(e);
}

bool SerialPorts::is_open(int port) const {
  return port >= 1 && port <= kPortCount && ports_[port].open;
}

int SerialPorts::fail_text(int number, const char* source, std::string description) {
  error_.number = number;
  error_.source = source;
  error_.description = std::move(description);
  return number;
}

int SerialPorts::fail(int number, const char* source) {
  return fail_text(number, source, error_text(number));
}

SerialPorts::Entry* SerialPorts::entry(int port, const char* routine) {
  if (port < 1 || port > kPortCount) {
    fail_text(EINVAL, routine, fmt::format("Invalid port number {}.", port));
    return nullptr;
  }
  return &ports_[port];
}

void SerialPorts::release(Entry& e) {
  if (e.fd >= 0) {
    ::ioctl(e.fd, TIOCNXCL);
    ::close(e.fd);
  }
  e.fd = -1;
  e.open = false;
  e.waiting_at_write = 0;
}

unsigned SerialPorts::take_error_flags(Entry& e) {
  serial_icounter_struct ic{};
  if (e.fd < 0 || ::ioctl(e.fd, TIOCGICOUNT, &ic) != 0) return 0;
  const std::array<int, 5> now{ic.buf_overrun, ic.overrun, ic.parity, ic.frame, ic.brk};
  // Same bits as the classic line-error flags: receive queue overflow, overrun, parity,
  // framing, break.
  static constexpr std::array<unsigned, 5> kBits{0x1, 0x2, 0x4, 0x8, 0x10};
  unsigned flags = 0;
  for (std::size_t i = 0; i < now.size(); ++i)
    if (now[i] != e.counters[i]) flags |= kBits[i];
  e.counters = now;
  return flags;
}

void SerialPorts::io_failure(Entry& e, int number, const char* source) {
  const unsigned flags = take_error_flags(e);
  fail_text(number, source, fmt::format("{}  COMM Error Flags = {:X}", error_text(number), flags));
}

int SerialPorts::CommOpen(int port, std::string_view port_name, std::string_view settings) {
  try {
    Entry* e = entry(port, "CommOpen");
    if (!e) return error_.number;
    if (e->open) return fail_text(-1, "CommOpen", "Port in use.");

    std::optional<fs::path> device;
    if (!port_name.empty() && port_name.front() == '/') {
      device = fs::path(port_name);
    } else if (port_name.size() > 3 && lower(port_name.substr(0, 3)) == "com") {
      if (const auto n = to_int(port_name.substr(3))) device = map_.device_for(*n);
    }
    if (!device) return fail(ENOENT, "CommOpen (CreateFile)");

    const int fd = ::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno, "CommOpen (CreateFile)");
    int err = 0;
    if (!::isatty(fd)) {
      err = ENOTTY;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      err = errno; // another program holds the device
    } else if (::ioctl(fd, TIOCEXCL) != 0) {
      err = errno;
    }
    if (err != 0) {
      ::close(fd);
      return fail(err, "CommOpen (CreateFile)");
    }
    e->fd = fd;
    e->open = true;
    return configure(*e, settings);
  } catch (const std::exception& ex) {
    return fail_text(EIO, "CommOpen", ex.what());
  }
}

// Steps after the device opened. A failing step closes the device again, so the entry
// never stays marked open on a handle the caller believes was not opened.
int SerialPorts::configure(Entry& e, std::string_view settings) {
  const auto failed = [&](int number, const char* source) {
    release(e);
    return fail(number, source);
  };
  // The kernel's queues have fixed sizes; "CommOpen (SetupComm)" has nothing to set.
  if (::tcflush(e.fd, TCIOFLUSH) != 0) return failed(errno, "CommOpen (PurgeComm)");
  e.timeouts = timeouts_; // applied by device_read and CommWrite ("CommOpen (SetCommTimeouts)")
  if (::tcgetattr(e.fd, &e.settings) != 0) return failed(errno, "CommOpen (GetCommState)");
  const auto line = parse_line_settings(settings);
  if (!line) return failed(EINVAL, "CommOpen (BuildCommDCB)");

  termios t = e.settings;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  static constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[line->data_bits - 5];
  if (line->parity != 'N') t.c_cflag |= PARENB;
  if (line->parity == 'O') t.c_cflag |= PARODD;
  if (line->stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed_of(line->baud));
  ::cfsetospeed(&t, speed_of(line->baud));
  if (::tcsetattr(e.fd, TCSANOW, &t) != 0) return failed(errno, "CommOpen (SetCommState)");
  e.settings = t;
  take_error_flags(e);
  return 0;
}

int SerialPorts::CommClose(int port) {
  Entry* e = entry(port, "CommClose");
  if (!e) return error_.number;
  if (!e->open) return 0;
  ::ioctl(e->fd, TIOCNXCL);
  const int rc = ::close(e->fd);
  const int err = errno;
  // Linux releases the descriptor even when close reports an error; keeping the entry open
  // would later close a descriptor number that belongs to something else.
  e->fd = -1;
  e->open = false;
  e->waiting_at_write = 0;
  if (rc != 0) return fail(err, "CommClose (CloseHandle)");
  return 0;
}

int SerialPorts::CommFlush(int port) {
  Entry* e = entry(port, "CommFlush");
  if (!e) return error_.number;
  if (!e->open) return fail(EBADF, "CommFlush");
  e->waiting_at_write = 0;
  if (::tcflush(e->fd, TCIOFLUSH) != 0) return fail(errno, "CommFlush (PurgeComm)");
  return 0;
}

int SerialPorts::CommWrite(int port, std::string_view data) {
  Entry* e = entry(port, "CommWrite");
  if (!e) return -1;
  if (!e->open) {
    fail(EBADF, "CommWrite");
    return -1;
  }
  const long long budget = static_cast<long long>(e->timeouts.write_total_per_byte_ms) *
                               static_cast<long long>(data.size()) +
                           e->timeouts.write_total_constant_ms;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(budget);
  int waiting = 0;
  e->waiting_at_write = ::ioctl(e->fd, TIOCINQ, &waiting) == 0 ? waiting : 0;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(e->fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      io_failure(*e, errno, "CommWrite (WriteFile)");
      return -1;
    }
    int wait = -1;
    if (budget > 0) {
      wait = remaining_ms(deadline);
      if (wait == 0) break; // write time-out: report what left
    }
    pollfd p{e->fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      io_failure(*e, errno, "CommWrite (WriteFile)");
      return -1;
    }
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
      io_failure(*e, EIO, "CommWrite (WriteFile)");
      return -1;
    }
  }
  return static_cast<int>(done);
}

int SerialPorts::device_read(Entry& e, char* buffer, int want, int quiet_after) {
  const CommTimeouts& t = e.timeouts;
  const int total_ms = t.read_total_constant_ms + t.read_total_per_byte_ms * want;
  const auto start = SteadyClock::now();
  const auto deadline = start + std::chrono::milliseconds(total_ms);
  auto last_byte = start;
  int got = 0;
  while (got < want) {
    int wait = total_ms > 0 ? remaining_ms(deadline) : -1;
    if (got >= quiet_after) {
      // The reply has what it needs: only bytes that follow at once still belong to it.
      wait = remaining_ms(last_byte + std::chrono::milliseconds(t.reply_gap_ms));
    } else if (got > 0 && t.read_interval_ms > 0) {
      const int gap = remaining_ms(last_byte + std::chrono::milliseconds(t.read_interval_ms));
      wait = wait < 0 ? gap : std::min(wait, gap);
    }
    if (wait == 0) break;
    pollfd p{e.fd, POLLIN, 0};
    const int r = ::poll(&p, 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    if (p.revents & POLLIN) {
      const ssize_t n = ::read(e.fd, buffer + got, static_cast<std::size_t>(want - got));
      if (n > 0) {
        got += static_cast<int>(n);
        last_byte = SteadyClock::now();
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n == 0) errno = EIO; // end of file on a tty: the device went away
      return got > 0 ? got : -1;
    }
    errno = EIO; // hang-up or error without data
    return got > 0 ? got : -1;
  }
  return got;
}

int SerialPorts::CommRead(int port, std::string& data, int count) {
  return read_bytes(port, data, count, count);
}

int SerialPorts::CommReadReply(int port, std::string& data, int count, int complete) {
  return read_bytes(port, data, count, std::clamp(complete, 1, std::max(count, 1)));
}

int SerialPorts::read_bytes(int port, std::string& data, int count, int complete) {
  data.clear();
  Entry* e = entry(port, "CommRead");
  if (!e) return 0;
  if (!e->open) {
    fail(EBADF, "CommRead");
    return 0;
  }
  if (count <= 0) return 0;
  // Without a reply gap every read waits for the whole count; left-over bytes from before the
  // frame do not complete its reply.
  if (e->timeouts.reply_gap_ms <= 0) complete = count;
  complete = std::min(count, complete + e->waiting_at_write);
  e->waiting_at_write = 0;
  std::array<char, kReadBufferSize> buffer{};
  int total = 0;
  int retries = 0;
  bool failed = false;
  int read_error = 0;
  while (total < count && retries < 5) {
    const int want = std::min(count - total, kReadBufferSize);
    const int quiet_after = complete < count ? complete - total : want;
    const int n = device_read(*e, buffer.data(), want, quiet_after);
    if (n < 0) {
      failed = true;
      read_error = errno;
      break;
    }
    data.append(buffer.data(), static_cast<std::size_t>(n));
    total += n;
    if (total >= complete) break; // the whole count, or a complete reply and a quiet line
    ++retries;
    clock_.sleep_ms(5);
  }
  if (failed) io_failure(*e, read_error, "CommRead (ReadFile)");
  if (total < count && ::tcflush(e->fd, TCIOFLUSH) != 0 && !failed)
    fail(errno, "CommFlush (PurgeComm)");
  return total;
}

int SerialPorts::CommSetLine(int port, int line, bool state) {
  Entry* e = entry(port, "CommSetLine");
  if (!e) return error_.number;
  if (!e->open) return fail(EBADF, "CommSetLine");
  int rc = -1;
  if (line == 1) {
    rc = ::ioctl(e->fd, state ? TIOCSBRK : TIOCCBRK);
  } else if (line == 2 || line == 3) {
    int bits = line == 2 ? TIOCM_DTR : TIOCM_RTS;
    rc = ::ioctl(e->fd, state ? TIOCMBIS : TIOCMBIC, &bits);
  } else {
    errno = EINVAL;
  }
  if (rc != 0) return fail(errno, "CommSetLine (EscapeCommFunction)");
  return 0;
}

bool SerialPorts::CommAlive(int port) {
  if (port < 1 || port > kPortCount) return true;
  const Entry& e = ports_[static_cast<std::size_t>(port)];
  if (!e.open || e.fd < 0) return true;
  pollfd p{e.fd, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return errno == EINTR;
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
  termios t{};
  return ::tcgetattr(e.fd, &t) == 0; // EIO once the device has gone
}

} // namespace kestrova::device
