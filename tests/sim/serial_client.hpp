#pragma once

// A minimal raw-mode serial client for the tests: opens a tty (or a link to one) the way an
// ordinary serial tool does and exchanges bytes with time-outs, so no test can hang.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::sim::testing {

class SerialClient {
public:
  explicit SerialClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~SerialClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  bool is_open() const { return fd_ >= 0; }

  bool send(int qualifier, int code, int argument) {
    const unsigned char frame[5] = {0xFF, static_cast<unsigned char>(qualifier),
                                    static_cast<unsigned char>(code),
                                    static_cast<unsigned char>(argument), 0xF0};
    if (::write(fd_, frame, 5) == 5) return true;
    hung_up_ = true;
    return false;
  }

  // Discards what is queued in both directions, as the driver's flush does.
  void flush() { ::tcflush(fd_, TCIOFLUSH); }

  // Reads until `count` bytes came or `timeout_ms` passed without completing.
  std::vector<std::uint8_t> read(std::size_t count, int timeout_ms = 5000) {
    std::vector<std::uint8_t> data;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (data.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      if (!(p.revents & POLLIN)) {
        hung_up_ = true;
        break;
      }
      unsigned char buffer[512];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - data.size()));
      if (n <= 0) {
        hung_up_ = true;
        break;
      }
      data.insert(data.end(), buffer, buffer + n);
    }
    return data;
  }

  std::vector<std::uint8_t> query(int qualifier, int code, int argument, std::size_t count,
                                  int timeout_ms = 5000) {
    if (!send(qualifier, code, argument)) return {};
    return read(count, timeout_ms);
  }

  // True once a read saw the line hang up (the other side closed).
  bool hung_up() const { return hung_up_; }

private:
  int fd_ = -1;
  bool hung_up_ = false;
};

} // namespace kestrova::sim::testing
