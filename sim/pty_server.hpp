#pragma once

// Serves a VirtualInstrument on a pseudo-terminal from a background thread, so the real serial
// driver can open the slave side (or a symlink to it) as if it were the instrument's port.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "sim/virtual_instrument.hpp"

namespace kestrova::sim {

class PtyServer {
public:
  explicit PtyServer(InstrumentOptions options = {});
  ~PtyServer(); // stops and removes the link
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Opens the pty (slave left in raw mode) and starts serving. False with a reason on failure.
  bool start(std::string* error = nullptr);
  // Stops the thread (within about 50 ms), closes the pty and removes the link. Idempotent.
  void stop();
  bool running() const { return running_.load(); }

  // The slave device, e.g. /dev/pts/7; empty while unplugged or stopped. A replug opens a new
  // pty, so the path can change; the link follows it.
  std::string slave_path() const;

  // Makes `path` a symlink to the slave (creating missing parent folders, replacing an existing
  // symlink but never a regular file). The link follows replugs and is removed by stop().
  bool link(const std::filesystem::path& path, std::string* error = nullptr);
  std::filesystem::path link_path() const;

  // Runs fn on the served instrument under the server's lock, e.g. to change faults while
  // running: server.with_instrument([](VirtualInstrument& vi) { vi.faults().silent.count = 3; }).
  // Return copies from fn, not references: the lock ends when fn returns.
  template <class Fn> decltype(auto) with_instrument(Fn&& fn) {
    std::lock_guard lock(instrument_mutex_);
    return std::forward<Fn>(fn)(instrument_);
  }

  // Removes the device now: the pty is closed (the open slave reads end of line / EIO, writes
  // fail) and the link is removed. replug() opens a fresh pty and relinks. Scheduled unplug_at /
  // replug_at times of the instrument's faults do the same. A pulled cable that leaves the node
  // (the faults' cable_out) keeps the pty open and silent instead. With a clock time source the
  // server keeps the instrument's clock moving while nothing is asked; per scan it moves the
  // clock with the host's while the line is dead after a scheduled unplug or with the cable out,
  // so a scheduled end is reached (after unplug() the clock stands still until replug()).
  void unplug();
  void replug();
  bool plugged() const { return plugged_.load(); }

  // Bytes served so far (replies written to the line).
  std::size_t bytes_served() const { return bytes_served_.load(); }

private:
  bool open_pty(std::string* error);
  void close_pty();
  void relink();
  void serve();
  bool handle_input();
  void write_reply(const std::string& reply, Pacing pacing);
  bool pause(double seconds);
  void check_schedule(double& dead_since);
  void wake();

  VirtualInstrument instrument_;
  std::mutex instrument_mutex_;
  mutable std::mutex pty_mutex_; // guards master_fd_, slave_path_, link_path_
  int master_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  std::string slave_path_;
  std::filesystem::path link_path_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> plugged_{true};
  std::atomic<int> plug_request_{0}; // +1 replug, -1 unplug, handled by the serving thread
  std::atomic<std::size_t> bytes_served_{0};
  std::chrono::steady_clock::time_point last_reply_{}; // serving thread only
  bool manually_unplugged_ = false;                    // serving thread only
};

} // namespace kestrova::sim
