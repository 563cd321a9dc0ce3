#pragma once

#include <termios.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.hpp"

namespace kestrova::device {

// Ports are numbered 1 to 16; entry n serves the device "COM" + n.
inline constexpr int kPortCount = 16;
// The line settings every caller passes to CommOpen.
inline constexpr std::string_view kLineSettings = "baud=115200 parity=N data=8 stop=1";
// One device read lands in a buffer of this size.
inline constexpr int kReadBufferSize = 512;

// The last failure of the driver: number, the routine and step that failed, a readable text.
struct CommError {
  std::int32_t number = 0;
  std::string source;
  std::string description;
};

// Quiet time after which a reply that has all the bytes it needs is taken as ended: about 35
// byte times at 115200 baud, while the bytes of one reply leave the instrument back to back.
inline constexpr int kReplyGapMs = 3;

// Read and write time-outs in milliseconds; a zero member is not applied.
struct CommTimeouts {
  int read_interval_ms = 100; // longest pause between two bytes once the first arrived
  int read_total_per_byte_ms = 0;
  int read_total_constant_ms = 200;
  int write_total_per_byte_ms = 1000;
  int write_total_constant_ms = 0;
  int reply_gap_ms = kReplyGapMs; // quiet time that ends a complete reply (CommReadReply)
};

// Line settings taken from a settings text "baud=115200 parity=N data=8 stop=1".
struct LineSettings {
  int baud = 9600;
  char parity = 'N'; // N, E, O
  int data_bits = 8; // 5..8
  int stop_bits = 1; // 1 or 2
};

// Overlays `base` with the keys present in `text` (baud, parity, data, stop; any order, any
// case). std::nullopt for an unknown key or a value the line cannot take.
std::optional<LineSettings> parse_line_settings(std::string_view text, LineSettings base = {});

// The system's text for an error number: at most 255 characters, cut at a NUL, trimmed.
std::string error_text(int number);

// The serial port routines every caller uses. SerialPorts drives real devices; tests and the
// fuzzer put fakes behind it. All take the port number (1 to 16) first.
class SerialIo {
public:
  virtual ~SerialIo() = default;
  // Opens "COM" + n (or an absolute device path) with a settings text. 0, or an error number
  // (-1 when the port is already open).
  virtual int CommOpen(int port, std::string_view port_name, std::string_view settings) = 0;
  // Closes an open port. 0 (also for a port that is not open) or an error number.
  virtual int CommClose(int port) = 0;
  // Drops pending transfers and both queues. 0 or an error number.
  virtual int CommFlush(int port) = 0;
  // Writes all bytes (one char per byte). The count written, or -1 when the write failed
  // (also for a port that is not open).
  virtual int CommWrite(int port, std::string_view data) = 0;
  // Reads up to `count` bytes into `data` (emptied first). The count read, 0 to count; a short
  // read has flushed the port.
  virtual int CommRead(int port, std::string& data, int count) = 0;
  // CommRead for a reply of `complete` bytes (1 to count) asked for as `count`: once the reply
  // is complete, the read ends when the line stays quiet for the reply gap instead of waiting
  // out its retries for the rest of `count`. Bytes that follow within the gap are still read,
  // a short read still flushes, and a reply that never completes takes CommRead's full time.
  // Bytes already waiting when the last frame was written are left-overs of earlier exchanges:
  // the reply completes only with `complete` bytes beyond them. Without a reply gap this is
  // CommRead.
  virtual int CommReadReply(int port, std::string& data, int count, int complete) {
    (void)complete;
    return CommRead(port, data, count);
  }
  // Line 1 = break, 2 = DTR, 3 = RTS; state true sets the line. 0 or an error number.
  virtual int CommSetLine(int port, int line, bool state) = 0;
  // False when the open port's device is gone (unplugged adapter, closed far end); looks
  // without sending or reading anything. A port that is not open counts as alive.
  virtual bool CommAlive(int port) {
    (void)port;
    return true;
  }
};

// Maps port numbers to device nodes: DATA/ports/COMn when that entry exists (a link to a tty),
// otherwise the n-th device of the system list (by-id links, ttyUSB*, ttyACM*, each sorted).
class PortMap {
public:
  // One source of the system list: the entries of `folder` whose names start with `prefix`.
  struct Source {
    std::filesystem::path folder;
    std::string prefix;
  };
  static std::vector<Source> system_sources();

  explicit PortMap(std::filesystem::path data_dir, std::vector<Source> sources = system_sources());

  // The device node of port n, or std::nullopt when there is none.
  std::optional<std::filesystem::path> device_for(int port) const;
  // The system list in port order, one entry per distinct device.
  std::vector<std::filesystem::path> system_devices() const;

private:
  std::filesystem::path data_dir_;
  std::vector<Source> sources_;
};

// The port table and the error record of the program, on termios and poll(). Devices are
// opened for exclusive use (TIOCEXCL and flock). The pause between read retries goes through
// `clock`. Owned by the App; no global state.
class SerialPorts final : public SerialIo {
public:
  SerialPorts(PortMap map, common::Clock& clock, CommTimeouts timeouts = {});
  ~SerialPorts() override;
  SerialPorts(const SerialPorts&) = delete;
  SerialPorts& operator=(const SerialPorts&) = delete;

  int CommOpen(int port, std::string_view port_name, std::string_view settings) override;
  int CommClose(int port) override;
  int CommFlush(int port) override;
  int CommWrite(int port, std::string_view data) override;
  int CommRead(int port, std::string& data, int count) override;
  int CommReadReply(int port, std::string& data, int count, int complete) override;
  int CommSetLine(int port, int line, bool state) override;
  bool CommAlive(int port) override;

  const CommError& last_error() const { return error_; }
  bool is_open(int port) const;
  // Time-outs applied by the next CommOpen (tests shorten them).
  void set_timeouts(const CommTimeouts& t) { timeouts_ = t; }
  const PortMap& port_map() const { return map_; }

private:
  struct Entry {
    int fd = -1;
    bool open = false;
    termios settings{};
    CommTimeouts timeouts;
    std::array<int, 5> counters{}; // line error counters at the last look
    int waiting_at_write = 0;      // unread input bytes when the last write started
  };

  Entry* entry(int port, const char* routine);
  int fail(int number, const char* source);
  int fail_text(int number, const char* source, std::string description);
  void io_failure(Entry& e, int number, const char* source);
  // Line error flags that rose since the last look; also takes the new snapshot.
  unsigned take_error_flags(Entry& e);
  // One device read: up to `want` bytes within the read time-outs; once `quiet_after` bytes
  // came it ends at the first reply gap instead. Bytes read, or -1 with errno.
  int device_read(Entry& e, char* buffer, int want, int quiet_after);
  // CommRead of `count` bytes that may end, after a reply gap, once `complete` bytes came.
  int read_bytes(int port, std::string& data, int count, int complete);
  int configure(Entry& e, std::string_view settings);
  void release(Entry& e);

  PortMap map_;
  common::Clock& clock_;
  CommTimeouts timeouts_;
  std::array<Entry, kPortCount + 1> ports_{}; // index 0 unused
  CommError error_;
};

} // namespace kestrova::device
