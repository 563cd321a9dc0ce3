// Exchanges with one-byte replies through the real serial driver against the virtual instrument
// paced at 115200 baud:
//   BM_Connect:      the connect action on the configured port (probe, then the factory record
//                    read as 16 register reads); pause_s is the part spent in the pauses the
//                    connect action prescribes (opening pause, probe pause, 200 ms after each
//                    register read), exchange_s the rest.
//   BM_ChannelWrite: one acknowledged channel write (9 tries of frame and echo).
//   BM_WritePass:    a calibration pass writing all 384 channels, each acknowledged.
// line_ratio = time / line time of the bytes exchanged (1.00 is the physical limit);
// target_ratio = time / target (connect 1 s, channel write 50 ms, pass 30 s); below 1 meets it.

#include <benchmark/benchmark.h>

#include <chrono>

#include "common/event_pump.hpp"
#include "device/connection.hpp"
#include "sim_rig.hpp"

namespace {

using namespace kestrova;
using Steady = std::chrono::steady_clock;

constexpr double kConnectTarget = 1.0;
constexpr double kWriteTarget = 0.050;
constexpr double kPassTarget = 30.0;
// One acknowledged write: 9 frames of 5 bytes out, 9 echoes of 1 byte back.
constexpr std::size_t kWriteLineBytes = 9 * (5 + 1);

double since(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// A real clock that adds up the pauses asked of it.
class CountingClock final : public common::Clock {
public:
  common::LocalTime now() override { return inner_.now(); }
  void sleep_ms(int ms) override {
    slept_ms_ += ms > 0 ? ms : 0;
    inner_.sleep_ms(ms);
  }
  long long slept_ms() const { return slept_ms_; }

private:
  common::SystemClock inner_;
  long long slept_ms_ = 0;
};

class NoStatus final : public device::ConnectionStatus {
public:
  void set_autochannel(std::string_view) override {}
  void set_autotext(std::string_view) override {}
  void set_news(std::string_view) override {}
  void show_progress(bool) override {}
  void repaint() override {}
  void check_com_port(int) override {}
  void show_start_screen() override {}
};

class NoConfig final : public device::PortConfigWriter {
public:
  bool save_serial_port(int) override { return true; }
};

void BM_Connect(benchmark::State& state) {
  bench::SimRig rig(sim::Pacing::kLine, false);
  CountingClock clock;
  device::DeviceProtocol protocol(*rig.ports, rig.link, clock, rig.dialogs);
  common::NullEventPump pump;
  NoStatus status;
  NoConfig config;
  device::ConnectionManager manager(*rig.ports, protocol, rig.link, clock, rig.dialogs, pump,
                                    status, config);
  double seconds = 0.0;
  int failed = 0;
  for (auto _ : state) {
    rig.link.port = 1;
    const auto start = Steady::now();
    const bool ok = manager.Connect() == device::ConnectOutcome::Connected;
    seconds += since(start);
    if (!ok || !rig.link.factory_valid || rig.link.serial != 42) ++failed;
    manager.Disconnect();
  }
  const double n = static_cast<double>(state.iterations());
  const double pauses = static_cast<double>(clock.slept_ms()) / 1e3 / n;
  state.counters["failed"] = failed;
  state.counters["connect_s"] = seconds / n;
  state.counters["pause_s"] = pauses;
  state.counters["exchange_s"] = seconds / n - pauses;
  state.counters["target_ratio"] = seconds / n / kConnectTarget;
}

// Writes channels 0 .. count - 1 once per iteration, alternating two settings.
void run_writes(benchmark::State& state, int count, double target) {
  bench::SimRig rig(sim::Pacing::kLine);
  if (!rig.opened) {
    state.SkipWithError("port did not open");
    return;
  }
  double seconds = 0.0;
  int failed = 0;
  int round = 0;
  for (auto _ : state) {
    const int power = round++ % 2 == 0 ? 17 : 9;
    const auto start = Steady::now();
    for (int ch = 0; ch < count; ++ch)
      if (rig.protocol->WriteChannelSetting(ch, power, 4) != 1) ++failed;
    seconds += since(start);
  }
  const double per = seconds / static_cast<double>(state.iterations());
  state.counters["failed"] = failed;
  state.counters["ms"] = per * 1e3;
  state.counters["line_ratio"] = per / sim::line_seconds(kWriteLineBytes * count);
  state.counters["target_ratio"] = per / target;
}

void BM_ChannelWrite(benchmark::State& state) { run_writes(state, 1, kWriteTarget); }
void BM_WritePass(benchmark::State& state) {
  run_writes(state, device::kChannelCount, kPassTarget);
}

BENCHMARK(BM_Connect)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ChannelWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_WritePass)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
