// How fast the main window answers input while it records. The program runs as it does for an
// operator (main window, 30 ms acquisition timer, real serial driver) against the virtual
// instrument paced at 115200 baud in a child process, where one scan of four blocks takes
// about 67 ms. Every 37 ms another thread posts an event to the window's event loop, as a click
// or a key would arrive; the delay until the loop handles it is the input latency. The figures:
// median, 99th percentile and largest delay, and the share above 100 ms, beside the longest tick.
//
// Usage: input_latency_bench [--seconds N]   (default 75: two buffer ends and their restarts)

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "app/app.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "ui/qt_event_pump.hpp"

namespace {

namespace fs = std::filesystem;
using namespace kestrova;

class QuietDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view text, common::Buttons, common::Icon,
                         std::string_view) override {
    std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    return common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

pid_t spawn(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int wait_for(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Handles the probes: each carries the time it was posted.
class Probe final : public QObject {
public:
  static constexpr QEvent::Type kType = QEvent::User;
  struct Event final : QEvent {
    explicit Event(qint64 posted) : QEvent(kType), posted_ns(posted) {}
    qint64 posted_ns;
  };
  explicit Probe(const QElapsedTimer& clock) : clock_(clock) {}
  bool event(QEvent* e) override {
    if (e->type() != kType) return QObject::event(e);
    delays_ms.push_back(
        static_cast<double>(clock_.nsecsElapsed() - static_cast<Event*>(e)->posted_ns) / 1e6);
    return true;
  }
  std::vector<double> delays_ms;

private:
  const QElapsedTimer& clock_;
};

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
  int seconds = 75;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(5, std::atoi(argv[i + 1]));
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qt(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  const fs::path data =
      fs::temp_directory_path() / ("kestrova-latency-" + std::to_string(::getpid()));
  if (wait_for(spawn({KESTROVA_DEMO_SETUP_PATH, data.string(), "10"})) != 0) {
    std::fprintf(stderr, "input_latency_bench: the data folder could not be prepared\n");
    return 1;
  }
  const pid_t sim = spawn({KESTROVA_SIM_PATH, "--link", (data / "ports" / "COM1").string(),
                           "--data-dir", data.string(), "--plate", "w96f", "--pace", "line"});
  for (int i = 0; i < 100 && !fs::exists(data / "ports" / "COM1"); ++i)
    ::usleep(50'000);

  QuietDialogs dialogs;
  ui::QtEventPump pump;
  common::SystemClock clock;
  common::NoShell shell;
  app::Services services{dialogs, pump, clock, shell};
  app::AppOptions options;
  options.data_dir = data;
  options.autorun = true;
  int rc = 0;
  {
    app::App program(std::move(options), services);
    if (program.start() != app::LoadOutcome::Ready) {
      std::fprintf(stderr, "input_latency_bench: the program did not start\n");
      rc = 1;
    } else {
      const auto& cycle = program.session().acquisition();
      QElapsedTimer wall;
      wall.start();
      while (cycle.state() != acquisition::AcquisitionState::Running && wall.elapsed() < 30'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      if (cycle.state() != acquisition::AcquisitionState::Running) {
        std::fprintf(stderr, "input_latency_bench: the acquisition did not start\n");
        rc = 1;
      } else {
        Probe probe(wall);
        // Input arrives from outside the loop, whenever the operator acts: a thread posts the
        // probes on its own clock.
        std::atomic<bool> posting{true};
        std::thread poster([&] {
          while (posting) {
            QCoreApplication::postEvent(&probe, new Probe::Event(wall.nsecsElapsed()));
            std::this_thread::sleep_for(std::chrono::milliseconds(37));
          }
        });
        // The longest stretch between two passes of the loop's timers: the longest tick.
        double longest_gap_ms = 0;
        qint64 last_ns = wall.nsecsElapsed();
        QTimer watcher;
        watcher.setInterval(1);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
          const qint64 now = wall.nsecsElapsed();
          longest_gap_ms = std::max(longest_gap_ms, static_cast<double>(now - last_ns) / 1e6);
          last_ns = now;
        });
        const long long buffers_before = cycle.buffers_done();
        watcher.start();
        const qint64 end = wall.elapsed() + seconds * 1000LL;
        while (wall.elapsed() < end && cycle.state() == acquisition::AcquisitionState::Running)
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        posting = false;
        poster.join();
        QCoreApplication::processEvents();
        watcher.stop();
        const auto& d = probe.delays_ms;
        const auto slow = std::count_if(d.begin(), d.end(), [](double x) { return x > 100; });
        std::printf("input latency while recording (115200-baud line, %d s, %lld buffer ends):\n",
                    seconds, static_cast<long long>(cycle.buffers_done() - buffers_before));
        std::printf("  probes %zu  median %.1f ms  p99 %.1f ms  max %.1f ms  above 100 ms: %lld "
                    "(%.2f %%)\n",
                    d.size(), quantile(d, 0.5), quantile(d, 0.99), quantile(d, 1.0),
                    static_cast<long long>(slow),
                    d.empty() ? 0.0
                              : 100.0 * static_cast<double>(slow) / static_cast<double>(d.size()));
        std::printf("  longest stretch without the event loop: %.1f ms\n", longest_gap_ms);
        program.session().stop_acquisition();
      }
    }
  }
  ::kill(sim, SIGTERM);
  wait_for(sim);
  std::error_code ec;
  fs::remove_all(data, ec);
  return rc;
}
