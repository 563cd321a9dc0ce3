#include "sim/pty_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace kestrova::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kPollMs = 20;
constexpr int kHangupPauseMs = 5;
constexpr int kDrainMs = 50;
constexpr int kOverrunMs = 100;
constexpr std::size_t kLineChunk = 8; // bytes written at a time when pacing at line speed

double host_seconds() {
  return std::chrono::duration<double>(SteadyClock::now().time_since_epoch()).count();
}

std::string errno_text(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool remove_symlink(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
    return false;
  }
  return std::filesystem::remove(path, ec);
}

} // namespace

PtyServer::PtyServer(InstrumentOptions options) : instrument_(std::move(options)) {}

PtyServer::~PtyServer() { stop(); }

bool PtyServer::start(std::string* error) {
  if (thread_.joinable()) return true;
  if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = errno_text("pipe");
    return false;
  }
  std::string reason;
  if (!open_pty(&reason)) {
    ::close(wake_pipe_[0]);
    ::close(wake_pipe_[1]);
    wake_pipe_[0] = wake_pipe_[1] = -1;
    if (error) *error = reason;
    return false;
  }
  stop_requested_ = false;
  manually_unplugged_ = false;
  plugged_ = true;
  running_ = true;
  thread_ = std::thread(&PtyServer::serve, this);
  return true;
}

void PtyServer::stop() {
  if (!thread_.joinable()) return;
  stop_requested_ = true;
  wake();
  thread_.join();
  close_pty();
  {
    std::lock_guard lock(pty_mutex_);
    remove_symlink(link_path_);
  }
  ::close(wake_pipe_[0]);
  ::close(wake_pipe_[1]);
  wake_pipe_[0] = wake_pipe_[1] = -1;
  running_ = false;
}

std::string PtyServer::slave_path() const {
  std::lock_guard lock(pty_mutex_);
  return slave_path_;
}

std::filesystem::path PtyServer::link_path() const {
  std::lock_guard lock(pty_mutex_);
  return link_path_;
}

bool PtyServer::link(const std::filesystem::path& path, std::string* error) {
  std::lock_guard lock(pty_mutex_);
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
    if (error) *error = path.string() + " exists and is not a symlink";
    return false;
  }
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) {
      if (error) *error = "cannot create " + path.parent_path().string() + ": " + ec.message();
      return false;
    }
  }
  if (!link_path_.empty() && link_path_ != path) remove_symlink(link_path_);
  link_path_ = path;
  if (slave_path_.empty()) return true; // made at the next replug
  remove_symlink(path);
  std::filesystem::create_symlink(slave_path_, path, ec);
  if (ec) {
    if (error) *error = "cannot link " + path.string() + ": " + ec.message();
    return false;
  }
  return true;
}

void PtyServer::relink() {
  std::lock_guard lock(pty_mutex_);
  if (link_path_.empty()) return;
  remove_symlink(link_path_);
  if (slave_path_.empty()) return;
  std::error_code ec;
  std::filesystem::create_symlink(slave_path_, link_path_, ec);
}

void PtyServer::wake() {
  const char byte = 1;
  if (wake_pipe_[1] >= 0) {
    [[maybe_unused]] const auto n = ::write(wake_pipe_[1], &byte, 1);
  }
}

void PtyServer::unplug() {
  plug_request_ = -1;
  wake();
}

void PtyServer::replug() {
  plug_request_ = 1;
  wake();
}

bool PtyServer::open_pty(std::string* error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    if (error) *error = errno_text("posix_openpt");
    return false;
  }
  char name[128] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    if (error) *error = errno_text("grantpt/unlockpt/ptsname");
    ::close(master);
    return false;
  }
  // Put the slave in raw mode once, so nothing is echoed or line-buffered before the client
  // sets its own line settings (which it normally does).
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) {
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::cfsetispeed(&tio, B115200);
      ::cfsetospeed(&tio, B115200);
      ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  {
    std::lock_guard lock(pty_mutex_);
    master_fd_ = master;
    slave_path_ = name;
  }
  relink();
  plugged_ = true;
  return true;
}

void PtyServer::close_pty() {
  int fd = -1;
  {
    std::lock_guard lock(pty_mutex_);
    fd = master_fd_;
    master_fd_ = -1;
    slave_path_.clear();
    remove_symlink(link_path_);
  }
  if (fd >= 0) ::close(fd);
  plugged_ = false;
}

void PtyServer::write_reply(const std::string& reply, Pacing pacing) {
  const auto start = SteadyClock::now();
  std::size_t sent = 0;
  while (sent < reply.size() && !stop_requested_) {
    std::size_t chunk = reply.size() - sent;
    if (pacing == Pacing::kLine) {
      chunk = std::min(chunk, kLineChunk);
      const auto due = start + std::chrono::duration_cast<SteadyClock::duration>(
                                   std::chrono::duration<double>(line_seconds(sent + chunk)));
      std::this_thread::sleep_until(due);
    }
    const ssize_t n = ::write(master_fd_, reply.data() + sent, chunk);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      bytes_served_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      pollfd p{master_fd_, POLLOUT, 0};
      ::poll(&p, 1, kPollMs);
      // Nobody reads: the rest is lost, as a receiver overrun loses it on a real line.
      if (SteadyClock::now() - start > std::chrono::milliseconds(kOverrunMs)) return;
      continue;
    }
    return; // the slave is closed: the reply is lost, as on a line without a listener
  }
}

bool PtyServer::pause(double seconds) {
  const auto due = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                            std::chrono::duration<double>(seconds));
  while (SteadyClock::now() < due) {
    // A stop or a plug request ends the pause and loses the rest of the reply.
    if (stop_requested_ || plug_request_.load() != 0) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(due - SteadyClock::now());
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kPollMs)));
  }
  return !stop_requested_;
}

bool PtyServer::handle_input() {
  char buffer[512];
  const ssize_t n = ::read(master_fd_, buffer, sizeof buffer);
  if (n <= 0) return false;
  std::vector<ReplyPiece> pieces;
  Pacing pacing = Pacing::kInstant;
  {
    std::lock_guard lock(instrument_mutex_);
    pieces = instrument_.respond(std::string_view(buffer, static_cast<std::size_t>(n)));
    pacing = instrument_.pacing();
  }
  for (const auto& piece : pieces) {
    if (piece.pause_s > 0.0 && !pause(piece.pause_s)) break;
    if (piece.bytes.empty()) continue;
    write_reply(piece.bytes, pacing);
    last_reply_ = SteadyClock::now();
  }
  return true;
}

void PtyServer::check_schedule(double& dead_since) {
  const int request = plug_request_.exchange(0);
  const bool open = master_fd_ >= 0;
  if (request < 0 && open) {
    close_pty();
    manually_unplugged_ = true;
    dead_since = -1.0;
    return;
  }
  if (request > 0 && !open) {
    open_pty(nullptr);
    manually_unplugged_ = false;
    return;
  }
  bool instrument_plugged = true;
  {
    std::lock_guard lock(instrument_mutex_);
    instrument_.update();
    if (manually_unplugged_) return;
    if (instrument_.time_mode() == TimeMode::kPerScan) {
      // Nothing scans while the line is dead, so the host's clock moves the instrument's on.
      const bool dead = !instrument_.plugged() || !instrument_.cable_connected();
      const double now = host_seconds();
      if (dead && dead_since >= 0.0) instrument_.advance(now - dead_since);
      dead_since = dead ? now : -1.0;
    }
    instrument_plugged = instrument_.plugged();
  }
  if (open && !instrument_plugged) {
    // A reply already on its way still arrives: the device goes only once the line has been
    // quiet for a moment.
    if (SteadyClock::now() - last_reply_ < std::chrono::milliseconds(kDrainMs)) return;
    close_pty();
  } else if (!open && instrument_plugged) {
    open_pty(nullptr);
  }
}

void PtyServer::serve() {
  double dead_since = -1.0;
  while (!stop_requested_) {
    check_schedule(dead_since);
    pollfd fds[2] = {{wake_pipe_[0], POLLIN, 0}, {master_fd_, POLLIN, 0}};
    const nfds_t count = master_fd_ >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wake_pipe_[0], drain, sizeof drain) > 0) {
      }
    }
    if (count < 2) continue;
    const bool got = (fds[1].revents & POLLIN) && handle_input();
    if (!got && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      // No client has the slave open: wait a little instead of spinning on the hang-up.
      std::this_thread::sleep_for(std::chrono::milliseconds(kHangupPauseMs));
    }
  }
}

} // namespace kestrova::sim
