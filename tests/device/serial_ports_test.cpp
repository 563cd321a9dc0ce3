#include "device/serial_ports.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>
#include <vector>

#include "support/fake_clock.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::device {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A pty pair; the slave is reachable as DATA/ports/COM<n>.
class Pty {
public:
  Pty() {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty");
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    name_ = name;
  }
  ~Pty() {
    close_master();
    if (slave_ >= 0) ::close(slave_);
  }
  void link(const fs::path& data, int port) const {
    fs::create_directories(data / "ports");
    fs::create_symlink(name_, data / "ports" / ("COM" + std::to_string(port)));
  }
  void send(std::string_view bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the driver wrote, waiting up to 200 ms for it.
  std::string received(std::size_t want) const {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + 200ms;
    while (out.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) {
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
      }
    }
    return out;
  }
  void close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  const std::string& name() const { return name_; }

private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

CommTimeouts short_timeouts() {
  CommTimeouts t;
  t.read_interval_ms = 20;
  t.read_total_constant_ms = 40;
  return t;
}

class SerialPortsTest : public ::testing::Test {
protected:
  SerialPortsTest() {
    pty.link(data.path(), 3);
    ports.set_timeouts(short_timeouts());
  }
  testing::TempDir data;
  Pty pty;
  testing::FakeClock clock; // takes the pauses between read retries
  SerialPorts ports{PortMap(data.path(), {}), clock};
};

// The pause after each of the five device reads of a read that stays short.
const std::vector<int> kFiveRetryPauses(5, 5);

// Far longer than any call of these tests takes on a loaded machine: only a call that waits for
// ever, or for a time-out it should not have waited for, reaches it.
constexpr auto kHang = 10s;

TEST_F(SerialPortsTest, OpenAppliesRawLineSettings) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  EXPECT_TRUE(ports.is_open(3));
  const int fd = ::open(pty.name().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  ::close(fd);
  EXPECT_EQ(::cfgetospeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(SerialPortsTest, OpenFailures) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  EXPECT_EQ(ports.CommOpen(3, "COM3", kLineSettings), -1);
  EXPECT_EQ(ports.last_error().number, -1);
  EXPECT_EQ(ports.last_error().source, "CommOpen");
  EXPECT_EQ(ports.last_error().description, "Port in use.");
  EXPECT_TRUE(ports.is_open(3));

  // The same device through another table (another program) is refused: exclusive use.
  SerialPorts other{PortMap(data.path(), {}), clock};
  const int rc = other.CommOpen(1, "COM3", kLineSettings);
  EXPECT_TRUE(rc == EWOULDBLOCK || rc == EBUSY) << rc;
  EXPECT_EQ(other.last_error().source, "CommOpen (CreateFile)");
  EXPECT_FALSE(other.is_open(1));

  EXPECT_EQ(ports.CommOpen(5, "COM5", kLineSettings), ENOENT);
  EXPECT_EQ(ports.last_error().source, "CommOpen (CreateFile)");
  EXPECT_EQ(ports.last_error().description, "No such file or directory");
  EXPECT_FALSE(ports.is_open(5));

  testing::write_file(data / "plain.txt", "x");
  EXPECT_EQ(ports.CommOpen(6, (data / "plain.txt").string(), kLineSettings), ENOTTY);
  EXPECT_FALSE(ports.is_open(6));

  EXPECT_EQ(ports.CommOpen(17, "COM17", kLineSettings), EINVAL);
  EXPECT_EQ(ports.last_error().source, "CommOpen");
}

TEST_F(SerialPortsTest, BadSettingsTextLeavesThePortClosed) {
  EXPECT_EQ(ports.CommOpen(3, "COM3", "baud=115201 parity=N data=8 stop=1"), EINVAL);
  EXPECT_EQ(ports.last_error().source, "CommOpen (BuildCommDCB)");
  EXPECT_FALSE(ports.is_open(3));
  EXPECT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
}

TEST_F(SerialPortsTest, CloseAndFlush) {
  EXPECT_EQ(ports.CommClose(9), 0); // never opened
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  pty.send("stale");
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ports.CommFlush(3), 0);
  std::string data;
  EXPECT_EQ(ports.CommRead(3, data, 2), 0);
  EXPECT_EQ(ports.CommClose(3), 0);
  EXPECT_FALSE(ports.is_open(3));
  EXPECT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0); // reopens after close
  EXPECT_EQ(ports.CommFlush(4), EBADF);
  EXPECT_EQ(ports.last_error().source, "CommFlush");
}

TEST_F(SerialPortsTest, WriteSendsEveryByte) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  const std::string frame{'\xFF', '\x81', 'H', '\x00', '\xF0'};
  EXPECT_EQ(ports.CommWrite(3, frame), 5);
  EXPECT_EQ(pty.received(5), frame);
  EXPECT_EQ(ports.CommWrite(4, frame), -1); // not open: a failed write
  EXPECT_EQ(ports.last_error().source, "CommWrite");
  EXPECT_EQ(ports.CommWrite(0, frame), -1); // no such port
}

TEST_F(SerialPortsTest, ShortReadReturnsWhatCameAndFlushes) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  pty.send("\x2A");
  std::string data;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ports.CommRead(3, data, 2), 1);
  EXPECT_EQ(data, "\x2A");
  // One interval wait, then four empty reads of 40 ms with 5 ms pauses.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4 * 40ms);
  EXPECT_EQ(clock.sleeps(), kFiveRetryPauses);
}

TEST_F(SerialPortsTest, SilentLineReturnsZeroAfterFiveReads) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  std::string data = "old";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ports.CommRead(3, data, 192), 0);
  EXPECT_TRUE(data.empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5 * 40ms);
  EXPECT_EQ(clock.sleeps(), kFiveRetryPauses);
}

// A one-byte reply read as two bytes, with the table's time-outs (100 ms between bytes, 200 ms
// per device read). `stale` waits on the line before the frame is written, `reply` comes after
// it, `late` 20 ms after the frame.
struct ReplyCase {
  const char* name;
  int gap_ms;
  std::string stale;
  std::string reply;
  std::string late;
  int result;
  std::vector<int> pauses; // retry pauses; none when the read ended at the reply gap

  friend void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }
};

class ReplyReadTest : public SerialPortsTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyReadTest, EndsOnceCompleteAndQuiet) {
  const ReplyCase& c = GetParam();
  CommTimeouts t;
  t.reply_gap_ms = c.gap_ms;
  if (c.pauses.empty()) {
    // A read that should end at the reply gap would otherwise wait out these time-outs.
    t.read_interval_ms = 2 * std::chrono::milliseconds(kHang).count();
    t.read_total_constant_ms = t.read_interval_ms;
  }
  ports.set_timeouts(t);
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  pty.send(c.stale);
  std::this_thread::sleep_for(10ms);
  ASSERT_EQ(ports.CommWrite(3, "frame"), 5);
  pty.send(c.reply);
  std::thread late([&] {
    std::this_thread::sleep_for(20ms);
    pty.send(c.late);
  });
  std::string data;
  const auto start = std::chrono::steady_clock::now();
  const int n = ports.CommReadReply(3, data, 2, 1);
  const auto took = std::chrono::steady_clock::now() - start;
  late.join();
  EXPECT_EQ(n, c.result);
  EXPECT_EQ(data, (c.stale + c.reply + c.late).substr(0, 2));
  EXPECT_EQ(clock.sleeps(), c.pauses);
  if (c.pauses.empty()) {
    EXPECT_LT(took, kHang); // sooner than the pause between bytes could have ended
  } else {
    EXPECT_GE(took, c.result == 0 ? 5 * 200ms : 4 * 200ms);
  }
  // Nothing of this exchange is left for the next one.
  std::this_thread::sleep_for(10ms);
  ASSERT_EQ(ports.CommWrite(3, "frame"), 5);
  pty.send("\x07");
  EXPECT_EQ(ports.CommReadReply(3, data, 2, 1), 1);
  EXPECT_EQ(data, "\x07");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyReadTest,
    ::testing::Values(ReplyCase{"one_byte", kReplyGapMs, "", "\x2A", "", 1, {}},
                      ReplyCase{"stray_second_byte", kReplyGapMs, "", "\x2A\x2B", "", 2, {}},
                      ReplyCase{"second_byte_inside_the_gap", 300, "", "\x2A", "\x2B", 2, {}},
                      // A byte left over from before the frame does not complete the reply.
                      ReplyCase{"left_over_then_reply", kReplyGapMs, "\x2A", "", "\x2B", 2, {}},
                      ReplyCase{"no_reply", kReplyGapMs, "", "", "", 0, kFiveRetryPauses},
                      ReplyCase{"no_gap_waits_out_the_retries", 0, "", "\x2A", "", 1,
                                kFiveRetryPauses}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialPortsTest, BlockInPiecesArrivesInOrder) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  std::string block;
  for (int i = 0; i < 192; ++i)
    block.push_back(static_cast<char>(i));
  std::thread writer([&] {
    for (int piece = 0; piece < 4; ++piece) {
      pty.send(std::string_view(block).substr(piece * 48, 48));
      std::this_thread::sleep_for(10ms);
    }
  });
  std::string data;
  const int n = ports.CommRead(3, data, 192);
  writer.join();
  EXPECT_EQ(n, 192);
  EXPECT_EQ(data, block);
}

TEST_F(SerialPortsTest, BabblingLineNeverHoldsARead) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  std::atomic<bool> stop{false};
  std::thread babbler([&] {
    while (!stop) {
      pty.send("\x55\x55\x55\x55");
      std::this_thread::sleep_for(1ms);
    }
  });
  std::string data;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ports.CommRead(3, data, 2), 2);
  EXPECT_EQ(ports.CommRead(3, data, 192), 192);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHang);
  stop = true;
  babbler.join();
}

TEST_F(SerialPortsTest, StalledWriteEndsAtItsTimeOut) {
  CommTimeouts t = short_timeouts();
  t.write_total_per_byte_ms = 0;
  t.write_total_constant_ms = 50;
  ports.set_timeouts(t);
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  // Nobody reads the other end, so the line's buffer fills up.
  const std::string big(1 << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  const int n = ports.CommWrite(3, big);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(big.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHang);
}

TEST_F(SerialPortsTest, LineControl) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  // A pty has no modem lines: the failure is reported, never a crash.
  EXPECT_EQ(ports.CommSetLine(3, 3, true), ENOTTY);
  EXPECT_EQ(ports.last_error().source, "CommSetLine (EscapeCommFunction)");
  EXPECT_EQ(ports.CommSetLine(3, 1, true), 0); // break is accepted (and ignored) by a pty
  EXPECT_EQ(ports.CommSetLine(3, 1, false), 0);
  EXPECT_EQ(ports.CommSetLine(3, 4, true), EINVAL);
  EXPECT_EQ(ports.last_error().source, "CommSetLine (EscapeCommFunction)");
  EXPECT_EQ(ports.CommSetLine(2, 2, true), EBADF);
  EXPECT_EQ(ports.last_error().source, "CommSetLine");
}

TEST_F(SerialPortsTest, UnpluggedDeviceIsAFailureNotACrash) {
  ASSERT_EQ(ports.CommOpen(3, "COM3", kLineSettings), 0);
  pty.close_master();
  std::string data;
  EXPECT_EQ(ports.CommRead(3, data, 2), 0);
  EXPECT_EQ(ports.last_error().number, EIO);
  EXPECT_EQ(ports.last_error().source, "CommRead (ReadFile)");
  EXPECT_EQ(ports.last_error().description, "Input/output error  COMM Error Flags = 0");
  EXPECT_EQ(ports.CommWrite(3, "abcde"), -1);
  EXPECT_EQ(ports.last_error().source, "CommWrite (WriteFile)");
  EXPECT_EQ(ports.CommClose(3), 0);
}

TEST(LineSettingsText, Parse) {
  const auto s = parse_line_settings("baud=115200 parity=N data=8 stop=1");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->baud, 115200);
  EXPECT_EQ(s->parity, 'N');
  EXPECT_EQ(s->data_bits, 8);
  EXPECT_EQ(s->stop_bits, 1);
  const auto partial = parse_line_settings("PARITY=e  Stop=2", *s);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->baud, 115200);
  EXPECT_EQ(partial->parity, 'E');
  EXPECT_EQ(partial->stop_bits, 2);
  for (const char* bad : {"baud=12345", "parity=X", "data=9", "stop=3", "speed=9600", "baud"})
    EXPECT_FALSE(parse_line_settings(bad)) << bad;
}

TEST(ErrorText, SystemTextTrimmed) {
  EXPECT_EQ(error_text(EIO), "Input/output error");
  EXPECT_EQ(error_text(ENOENT), "No such file or directory");
  EXPECT_LE(error_text(123456).size(), 255u);
}

TEST(PortMapping, ConfiguredLinksFirstThenSortedSystemDevices) {
  testing::TempDir root;
  const fs::path dev = root / "dev";
  const fs::path by_id = root / "by-id";
  fs::create_directories(dev);
  fs::create_directories(by_id);
  for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0"})
    testing::write_file(dev / n, "");
  fs::create_symlink(dev / "ttyACM0", by_id / "usb-Maker_Kit-if00");
  const PortMap map(root / "data", {{by_id, ""}, {dev, "ttyUSB"}, {dev, "ttyACM"}});
  // The by-id link and the node it points to count once.
  EXPECT_EQ(map.system_devices(), (std::vector<fs::path>{by_id / "usb-Maker_Kit-if00",
                                                         dev / "ttyUSB2", dev / "ttyUSB10"}));
  EXPECT_EQ(map.device_for(2), dev / "ttyUSB2");
  EXPECT_EQ(map.device_for(4), std::nullopt);
  EXPECT_EQ(map.device_for(0), std::nullopt);

  fs::create_directories(root / "data" / "ports");
  fs::create_symlink(dev / "ttyS0", root / "data" / "ports" / "COM2");
  fs::create_symlink(root / "gone", root / "data" / "ports" / "COM3");
  EXPECT_EQ(map.device_for(2), root / "data" / "ports" / "COM2");
  // A configured link whose device is gone stays that port (absent), not another device.
  EXPECT_EQ(map.device_for(3), root / "data" / "ports" / "COM3");
}

} // namespace
} // namespace kestrova::device
