// The kestrova-sim program as an operator runs it: a serial tool opens its link, and SIGTERM
// stops it and removes the link.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/serial_client.hpp"
#include "support/temp_dir.hpp"

extern char** environ;

namespace kestrova::sim {
namespace {

using Clock = std::chrono::steady_clock;

// A child process running kestrova-sim with its standard output (and error) in a pipe.
class SimProcess {
public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), KESTROVA_SIM_EXE);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  bool started() const { return pid_ > 0; }
  void signal(int sig) { ::kill(pid_, sig); }

  // Waits up to timeout_ms for the exit; the exit status, or -1 on time-out.
  int wait_exit(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // Everything the process printed until now (reads what is available, up to timeout_ms).
  std::string output(int timeout_ms = 200) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char buffer[4096];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{out_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) break;
      text_.append(buffer, static_cast<std::size_t>(n));
    }
    return text_;
  }

private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
};

bool wait_for_link(const std::filesystem::path& link, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    if (std::filesystem::is_symlink(link)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SimProcess, SerialToolTalksThroughTheLinkAndSigtermRemovesIt) {
  kestrova::testing::TempDir dir;
  const auto link = dir / "DATA/ports/COM4";
  SimProcess sim({"--link", link.string(), "--serial", "77", "--plate", "w384", "--seed", "5"});
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(wait_for_link(link, 5000)) << sim.output();
  {
    testing::SerialClient port(link.string());
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(port.query(0, 0x00, 0, 2), (std::vector<std::uint8_t>{0, 77}));
    EXPECT_EQ(port.query(0, 0x30, 0, 192).size(), 192u);
    EXPECT_EQ(port.query(0, 0x20, 129, 1), std::vector<std::uint8_t>{6});
  }
  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait_exit(5000), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  const std::string out = sim.output();
  EXPECT_NE(out.find(link.string()), std::string::npos) << out;
  EXPECT_NE(out.find("SIGTERM"), std::string::npos) << out;
}

TEST(SimProcess, SigintStopsItToo) {
  kestrova::testing::TempDir dir;
  const auto link = dir / "COM9";
  SimProcess sim({"--link", link.string(), "--factory", "blank", "--fault", "silent@0x21"});
  ASSERT_TRUE(wait_for_link(link, 5000)) << sim.output();
  {
    testing::SerialClient port(link.string());
    EXPECT_EQ(port.query(0, 0x20, 128, 1), std::vector<std::uint8_t>{0xFF});
    EXPECT_TRUE(port.query(0, 0x21, 0, 1, 200).empty());
  }
  sim.signal(SIGINT);
  EXPECT_EQ(sim.wait_exit(5000), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

// Plate formats other than the built-in ones come from the installed plate files.
TEST(SimProcess, PlateFromAPlateFile) {
  const std::filesystem::path data = std::filesystem::path(KESTROVA_SOURCE_DIR) / "data";
  if (!std::filesystem::exists(data / "w24.dat")) GTEST_SKIP() << "no w24.dat in " << data;
  kestrova::testing::TempDir dir;
  const auto link = dir / "COM5";
  SimProcess sim({"--link", link.string(), "--plate", "w24", "--data-dir", data.string()});
  ASSERT_TRUE(wait_for_link(link, 5000)) << sim.output();
  EXPECT_NE(sim.output().find("plate w24 (24 wells"), std::string::npos) << sim.output();
  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait_exit(5000), 0);
}

// The new line faults and beam options reach the served instrument from the command line; the
// program's clock is the host's, so the cable comes back in while nothing is asked.
TEST(SimProcess, LineFaultsAndBeamOptionsFromTheCommandLine) {
  kestrova::testing::TempDir dir;
  const auto link = dir / "COM6";
  SimProcess sim({"--link", link.string(), "--fault", "unstable:129=1", "--fault",
                  "stall:96=1@0x30", "--fault", "late:200=1@0x21", "--saturate", "0-383",
                  "--saturate-factor", "100", "--fault", "cable-out-at=3", "--fault",
                  "cable-in-at=3.5"});
  ASSERT_TRUE(wait_for_link(link, 5000)) << sim.output();
  testing::SerialClient port(link.string());
  ASSERT_TRUE(port.is_open());
  std::vector<int> reads;
  for (int i = 0; i < 4; ++i)
    reads.push_back(port.query(0, 0x20, 129, 1).at(0));
  EXPECT_EQ(reads, (std::vector<int>{6, 7, 6, 6}));
  EXPECT_EQ(port.query(0, 0x30, 0, 192, 200).size(), 96u);
  port.flush();
  const auto block = port.query(0, 0x30, 32, 192);
  ASSERT_EQ(block.size(), 192u);
  for (std::size_t i = 0; i < block.size(); i += 2)
    EXPECT_EQ(block[i] * 256 + block[i + 1], 4095) << i;
  EXPECT_TRUE(port.query(0, 0x21, 0, 1, 100).empty());
  EXPECT_EQ(port.read(1, 1000).size(), 1u);

  // The cable goes out three seconds after the start and comes back half a second later, on
  // the same open port.
  const auto until = [&](bool answered, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      port.flush();
      if ((port.query(0, 0x00, 0, 2, 100).size() == 2u) == answered) return true;
    }
    return false;
  };
  ASSERT_TRUE(until(false, 8000));
  EXPECT_FALSE(port.hung_up());
  EXPECT_TRUE(until(true, 3000));
  EXPECT_FALSE(port.hung_up());
  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait_exit(5000), 0);
  EXPECT_NE(sim.output().find("cable out"), std::string::npos) << sim.output();
}

TEST(SimProcess, HelpDocumentsEveryOption) {
  SimProcess sim({"--help"});
  ASSERT_EQ(sim.wait_exit(5000), 0);
  const std::string out = sim.output();
  for (const char* option : {"--link",
                             "--serial",
                             "--plate",
                             "--seed",
                             "--factory",
                             "--pace",
                             "--fault",
                             "--organisms",
                             "--empty",
                             "--data-dir",
                             "bad-echo",
                             "unplug-at",
                             "replug-at",
                             "highbyte",
                             "--time",
                             "--noise",
                             "--drift",
                             "--saturate",
                             "--saturate-factor",
                             "late:",
                             "stall:",
                             "unstable:",
                             "cable-out-at",
                             "cable-in-at"}) {
    EXPECT_NE(out.find(option), std::string::npos) << option;
  }
}

TEST(SimProcess, BadOptionsAreRefusedWithAMessage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--fault", "loud"},
                                               {"--plate", "w7"},
                                               {"--factory", "maybe"},
                                               {"--empty", "3-1"},
                                               {"--time", "wall"},
                                               {"--saturate", "400"},
                                               {"--noise", "-1"},
                                               {"--fault", "stall"}}) {
    SimProcess sim(args);
    EXPECT_NE(sim.wait_exit(5000), 0) << args[0];
    EXPECT_FALSE(sim.output().empty()) << args[0];
  }
}

} // namespace
} // namespace kestrova::sim
