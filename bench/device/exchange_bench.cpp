// Exchanges with one-byte replies through the real serial driver against the virtual instrument
// paced at 115200 baud:
//   BM_Connect:      the connect action on the configured port (probe, then the factory record
//                    read as 16 register reads); pause_s is the part spent in the pauses the
//                    connect action prescribes (opening pause, probe pause, 200 ms after each
//                    register read), exchange_s the rest.
//   BM_ChannelWrite: one acknowledged channel write (9 tries of frame and echo).
//   BM_WritePass:    a calibration pass writing all 384 channels, each acknowledged.
// literal = the same action once with every reply read as CommRead reads it, waiting out the
// retries for a second byte (the reference, measured in the same run); speedup = literal / time.
// line_ratio = time / line time of the bytes exchanged (1.00 is the physical limit);
// target_ratio = time / target (connect 1 s, channel write 50 ms, pass 30 s); below 1 meets it.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

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
  common::SteadyTime steady() override { return inner_.steady(); }
  void sleep_ms(int ms) override {
    slept_ms_ += ms > 0 ? ms : 0;
    inner_.sleep_ms(ms);
  }
  long long slept_ms() const { return slept_ms_; }

private:
  common::SystemClock inner_;
  long long slept_ms_ = 0;
};

// Reads every reply as CommRead does: a one-byte reply waits out the retries for a second byte.
class LiteralReads final : public device::SerialIo {
public:
  explicit LiteralReads(device::SerialIo& inner) : inner_(inner) {}
  int CommOpen(int port, std::string_view name, std::string_view settings) override {
    return inner_.CommOpen(port, name, settings);
  }
  int CommClose(int port) override { return inner_.CommClose(port); }
  int CommFlush(int port) override { return inner_.CommFlush(port); }
  int CommWrite(int port, std::string_view data) override { return inner_.CommWrite(port, data); }
  int CommRead(int port, std::string& data, int count) override {
    return inner_.CommRead(port, data, count);
  }
  int CommSetLine(int port, int line, bool state) override {
    return inner_.CommSetLine(port, line, state);
  }

private:
  device::SerialIo& inner_;
};

class NoConfig final : public device::PortConfigWriter {
public:
  bool save_serial_port(int) override { return true; }
};

// One connect action on port 1, then a disconnect: its time, negative when it failed.
double connect_once(device::ConnectionManager& manager, device::LinkState& link) {
  link.port = 1;
  const auto start = Steady::now();
  const bool ok = manager.Connect() == device::ConnectOutcome::Connected;
  const double seconds = since(start);
  const bool whole = ok && link.factory_valid && link.serial == 42;
  manager.Disconnect();
  return whole ? seconds : -seconds;
}

void BM_Connect(benchmark::State& state) {
  bench::SimRig rig(sim::Pacing::kLine, false);
  CountingClock clock;
  common::NullEventPump pump;
  device::NullConnectionStatus status;
  NoConfig config;
  LiteralReads literal_io(*rig.ports);
  device::DeviceProtocol literal_protocol(literal_io, rig.link, clock, rig.dialogs);
  device::ConnectionManager literal(literal_io, literal_protocol, rig.link, clock, rig.dialogs,
                                    pump, status, config);
  device::DeviceProtocol protocol(*rig.ports, rig.link, clock, rig.dialogs);
  device::ConnectionManager manager(*rig.ports, protocol, rig.link, clock, rig.dialogs, pump,
                                    status, config);
  const double reference = connect_once(literal, rig.link);
  int failed = reference < 0 ? 1 : 0;
  const long long paused_before = clock.slept_ms();
  double seconds = 0.0;
  for (auto _ : state) {
    const double t = connect_once(manager, rig.link);
    if (t < 0) ++failed;
    seconds += std::abs(t);
  }
  const double n = static_cast<double>(state.iterations());
  const double per = seconds / n;
  const double pauses = static_cast<double>(clock.slept_ms() - paused_before) / 1e3 / n;
  state.counters["failed"] = failed;
  state.counters["connect_s"] = per;
  state.counters["pause_s"] = pauses;
  state.counters["exchange_s"] = per - pauses;
  state.counters["literal_s"] = std::abs(reference);
  state.counters["speedup"] = std::abs(reference) / per;
  state.counters["target_ratio"] = per / kConnectTarget;
}

// Writes channels 0 .. count - 1 once per iteration, alternating two settings; with `literal`
// the same writes run once beforehand through literal reads, as the reference.
void run_writes(benchmark::State& state, int count, double target, bool literal) {
  bench::SimRig rig(sim::Pacing::kLine);
  if (!rig.opened) {
    state.SkipWithError("port did not open");
    return;
  }
  int failed = 0;
  const auto write_all = [&](device::DeviceProtocol& protocol, int power) {
    const auto start = Steady::now();
    for (int ch = 0; ch < count; ++ch)
      if (protocol.WriteChannelSetting(ch, power, 4) != 1) ++failed;
    return since(start);
  };
  double reference = 0.0;
  if (literal) {
    LiteralReads literal_io(*rig.ports);
    device::DeviceProtocol literal_protocol(literal_io, rig.link, rig.clock, rig.dialogs);
    reference = write_all(literal_protocol, 5);
  }
  double seconds = 0.0;
  int round = 0;
  for (auto _ : state)
    seconds += write_all(*rig.protocol, round++ % 2 == 0 ? 17 : 9);
  const double per = seconds / static_cast<double>(state.iterations());
  state.counters["failed"] = failed;
  state.counters["ms"] = per * 1e3;
  if (literal) {
    state.counters["literal_ms"] = reference * 1e3;
    state.counters["speedup"] = reference / per;
  }
  state.counters["line_ratio"] = per / sim::line_seconds(kWriteLineBytes * count);
  state.counters["target_ratio"] = per / target;
}

void BM_ChannelWrite(benchmark::State& state) { run_writes(state, 1, kWriteTarget, true); }
// A literal pass would take most of an hour; the line time is this one's reference.
void BM_WritePass(benchmark::State& state) {
  run_writes(state, store::kChannelCount, kPassTarget, false);
}

BENCHMARK(BM_Connect)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_ChannelWrite)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(BM_WritePass)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
