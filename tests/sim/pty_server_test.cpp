#include "sim/pty_server.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "sim/serial_client.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::sim {
namespace {

using testing::SerialClient;
using Clock = std::chrono::steady_clock;

// Waits up to `timeout_ms` for a condition; the tests never wait without a bound.
template <class Pred> bool eventually(Pred pred, int timeout_ms = 10000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

class PtyServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    InstrumentOptions options;
    options.serial_number = 123;
    server_ = std::make_unique<PtyServer>(options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
  }
  std::unique_ptr<PtyServer> server_;
};

TEST_F(PtyServerTest, AnswersEveryKindOfReplyThroughARawPty) {
  ASSERT_FALSE(server_->slave_path().empty());
  SerialClient port(server_->slave_path());
  ASSERT_TRUE(port.is_open());
  EXPECT_EQ(port.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 123}));
  EXPECT_EQ(port.query(0, 0x30, 32, 192).size(), 192u);
  EXPECT_EQ(port.query(0x81, 72, 99, 1), std::vector<std::uint8_t>{72});
  EXPECT_EQ(port.query(0, 0x21, 0, 1).size(), 1u);
  port.send(0, 0x10, 5);
  EXPECT_TRUE(eventually([&] {
    return server_->with_instrument([](VirtualInstrument& vi) { return vi.outputs() == 5; });
  }));
  EXPECT_EQ(server_->with_instrument([](VirtualInstrument& vi) { return vi.channel_setting(200); }),
            99);
}

TEST_F(PtyServerTest, ClientsMayOpenAndCloseThePortRepeatedly) {
  for (int i = 0; i < 5; ++i) {
    SerialClient port(server_->slave_path());
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(port.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 123})) << i;
  }
}

TEST_F(PtyServerTest, FaultsChangedWhileRunning) {
  SerialClient port(server_->slave_path());
  server_->with_instrument(
      [](VirtualInstrument& vi) { vi.faults().silent.count = Fault::kAlways; });
  EXPECT_TRUE(port.query(0, 0x00, 0, 2, 150).empty());
  server_->with_instrument([](VirtualInstrument& vi) {
    vi.faults().silent.count = 0;
    vi.faults().short_reply.count = 1;
  });
  EXPECT_EQ(port.query(0, 0x30, 0, 192, 150).size(), 191u);
  EXPECT_EQ(port.query(0, 0x30, 0, 192).size(), 192u);
}

// Replies nobody reads overflow the line and are lost; the server keeps serving.
TEST_F(PtyServerTest, AClientThatNeverReadsDoesNotStallTheServer) {
  SerialClient port(server_->slave_path());
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(port.send(0, 0x30, 0)); // 7680 bytes of replies
  ASSERT_TRUE(eventually([&] {
    return server_->with_instrument([](VirtualInstrument& vi) { return vi.frames().size(); }) ==
           40u;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  port.flush();
  EXPECT_EQ(port.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 123}));
}

TEST_F(PtyServerTest, LinkFollowsThePtyAndIsRemovedOnStop) {
  kestrova::testing::TempDir dir;
  const auto link = dir / "data/ports/COM4";
  std::string error;
  ASSERT_TRUE(server_->link(link, &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  {
    SerialClient port(link.string());
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(port.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 123}));
  }
  server_->stop();
  EXPECT_FALSE(server_->running());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(PtyServerTest, LinkNeverReplacesARegularFile) {
  kestrova::testing::TempDir dir;
  kestrova::testing::write_file(dir / "COM1", "keep me");
  std::string error;
  EXPECT_FALSE(server_->link(dir / "COM1", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(kestrova::testing::read_file(dir / "COM1"), "keep me");
}

TEST_F(PtyServerTest, UnplugHangsUpTheLineAndReplugServesANewPty) {
  kestrova::testing::TempDir dir;
  const auto link = dir / "COM2";
  ASSERT_TRUE(server_->link(link));
  SerialClient port(link.string());
  ASSERT_EQ(port.query(0, 0x00, 0, 2).size(), 2u);

  server_->unplug();
  ASSERT_TRUE(eventually([&] { return !server_->plugged(); }));
  EXPECT_TRUE(port.query(0, 0x00, 0, 2, 300).empty());
  EXPECT_TRUE(port.hung_up());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  EXPECT_TRUE(server_->slave_path().empty());

  server_->replug();
  ASSERT_TRUE(eventually([&] { return server_->plugged(); }));
  ASSERT_TRUE(std::filesystem::is_symlink(link));
  SerialClient again(link.string());
  ASSERT_TRUE(again.is_open());
  EXPECT_EQ(again.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 123}));
}

struct StallCase {
  const char* name;
  std::optional<double> pause_ms;
};

// A block that stalls after 96 bytes: the first half arrives, then nothing; the rest follows
// after the pause, or never. Either way the port stays usable for the next frame.
TEST_F(PtyServerTest, StalledBlockSendsItsFirstPartThenPauses) {
  for (const auto& c : {StallCase{"pause", 400.0}, StallCase{"never", std::nullopt}}) {
    SerialClient port(server_->slave_path());
    server_->with_instrument([&](VirtualInstrument& vi) {
      vi.faults().stall = {Fault{1, kCodeReadBlock, -1}, 96, c.pause_ms};
    });
    EXPECT_EQ(port.query(0, 0x30, 0, 192, 150).size(), 96u) << c.name;
    EXPECT_FALSE(port.hung_up()) << c.name;
    EXPECT_EQ(port.read(96, c.pause_ms ? 1500 : 400).size(), c.pause_ms ? 96u : 0u) << c.name;
    port.flush();
    EXPECT_EQ(port.query(0, 0x30, 32, 192).size(), 192u) << c.name;
  }
}

TEST_F(PtyServerTest, LateReplyArrivesAfterItsDelay) {
  SerialClient port(server_->slave_path());
  server_->with_instrument([](VirtualInstrument& vi) {
    vi.faults().late = {Fault{1, kCodeReadBlock, -1}, 300.0};
  });
  const auto start = Clock::now();
  EXPECT_TRUE(port.query(0, 0x30, 0, 192, 150).empty());
  EXPECT_EQ(port.read(192, 1500).size(), 192u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_EQ(port.query(0, 0x30, 0, 192).size(), 192u);
}

struct CableCase {
  const char* name;
  TimeMode mode; // per scan the server moves the clock with the host's while the line is dead
};

// A pulled cable leaves the node: the open port stays open and writable, reads time out without
// a hang-up, and the same port answers again once the cable is back.
TEST(PtyServerCable, SilentWithTheNodeKeptThenAnswersAgain) {
  for (const auto& c :
       {CableCase{"per scan", TimeMode::kPerScan}, CableCase{"clock", TimeMode::kClock}}) {
    std::atomic<double> now{0.0};
    InstrumentOptions options;
    options.time_mode = c.mode;
    options.time_source = [&now] { return now.load(); };
    options.faults.cable_out_at = 0.0;
    options.faults.cable_in_at = 1.0;
    PtyServer server(options);
    ASSERT_TRUE(server.start()) << c.name;
    kestrova::testing::TempDir dir;
    ASSERT_TRUE(server.link(dir / "COM3")) << c.name;
    SerialClient port((dir / "COM3").string());
    ASSERT_TRUE(port.is_open()) << c.name;
    EXPECT_TRUE(port.query(0, 0x00, 0, 2, 100).empty()) << c.name;
    EXPECT_TRUE(port.send(0, 0x30, 0)) << c.name;
    EXPECT_TRUE(port.read(192, 100).empty()) << c.name;
    EXPECT_FALSE(port.hung_up()) << c.name;
    EXPECT_TRUE(server.plugged()) << c.name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "COM3")) << c.name;
    now = 2.0;
    EXPECT_TRUE(eventually([&] {
      port.flush();
      return port.query(0, 0x00, 0, 2, 50).size() == 2u;
    })) << c.name;
    EXPECT_FALSE(port.hung_up()) << c.name;
  }
}

TEST(PtyServerSchedule, ScheduledUnplugAndReplug) {
  InstrumentOptions options;
  options.scan_seconds = 0.1;
  options.faults.unplug_at = 0.19; // during the second scan
  options.faults.replug_at = 0.5;  // reached by the host's clock while unplugged
  PtyServer server(options);
  ASSERT_TRUE(server.start());
  {
    SerialClient port(server.slave_path());
    for (int scan = 0; scan < 2; ++scan) {
      for (int k = 0; k <= 96; k += 32)
        EXPECT_EQ(port.query(0, 0x30, k, 192).size(), 192u);
    }
    EXPECT_TRUE(port.query(0, 0x30, 0, 192, 300).empty());
  }
  ASSERT_TRUE(eventually([&] { return server.plugged() && !server.slave_path().empty(); }, 3000));
  SerialClient port(server.slave_path());
  EXPECT_EQ(port.query(0, 0x00, 0, 2).size(), 2u);
}

TEST(PtyServerPacing, LinePacingTakesTheLineTimeOfABlock) {
  InstrumentOptions options;
  options.pacing = Pacing::kLine;
  PtyServer server(options);
  ASSERT_TRUE(server.start());
  SerialClient port(server.slave_path());
  const auto start = Clock::now();
  EXPECT_EQ(port.query(0, 0x30, 0, 192).size(), 192u);
  const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(elapsed, line_seconds(192) * 0.9); // 16.7 ms
  EXPECT_NEAR(line_seconds(192), 0.0167, 0.0001);
}

TEST(PtyServerLifecycle, StopsPromptlyWithAClientAttachedAndRestarts) {
  PtyServer server;
  ASSERT_TRUE(server.start());
  SerialClient port(server.slave_path());
  ASSERT_EQ(port.query(0, 0x00, 0, 2).size(), 2u);
  const auto start = Clock::now();
  server.stop();
  // Far beyond a loaded machine's delays: only a stop that waits for the client reaches it.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(server.running());
  server.stop(); // idempotent
  ASSERT_TRUE(server.start());
  SerialClient again(server.slave_path());
  EXPECT_EQ(again.query(0, 0x00, 0, 2).size(), 2u);
}

} // namespace
} // namespace kestrova::sim
