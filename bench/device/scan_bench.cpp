// A full plate scan (four 192-byte block exchanges) through the real serial driver against the
// virtual instrument on a pty.
//   BM_ScanInstant: replies come at once; the CPU column is this program's thread per scan.
//   BM_ScanPaced:   replies come at 115200 baud; line_ratio = scan time / line time of the
//                   four replies (the physical limit), 1.00 being the limit itself.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "sim/pty_server.hpp"

namespace {

using namespace kestrova;
namespace fs = std::filesystem;

class QuietDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view, common::Buttons, common::Icon,
                         std::string_view) override {
    return common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

// One served instrument and an open port on it.
struct Rig {
  explicit Rig(sim::Pacing pacing) {
    data = fs::temp_directory_path() / ("kestrova-bench-" + std::to_string(::getpid()));
    fs::create_directories(data);
    sim::InstrumentOptions opt;
    opt.pacing = pacing;
    server = std::make_unique<sim::PtyServer>(opt);
    std::string error;
    if (!server->start(&error) || !server->link(data / "ports" / "COM1", &error))
      std::fprintf(stderr, "instrument: %s\n", error.c_str());
    ports = std::make_unique<device::SerialPorts>(device::PortMap(data, {}));
    link.port = 1;
    opened = ports->CommOpen(1, "COM1", device::kLineSettings) == 0;
    protocol = std::make_unique<device::DeviceProtocol>(*ports, link, clock, dialogs);
  }
  ~Rig() {
    ports.reset();
    server.reset();
    std::error_code ec;
    fs::remove_all(data, ec);
  }
  // One full scan; false when a block was not good.
  bool scan() {
    bool good = true;
    for (int k : device::kBlockStarts) {
      const device::ParsedBlock b = protocol->ReadIntensityBlock(k);
      good = good && b.good();
      device::distribute_block(k, b.values, channels);
    }
    return good;
  }

  fs::path data;
  std::unique_ptr<sim::PtyServer> server;
  std::unique_ptr<device::SerialPorts> ports;
  device::LinkState link;
  common::SystemClock clock;
  QuietDialogs dialogs;
  std::unique_ptr<device::DeviceProtocol> protocol;
  std::vector<std::int16_t> channels = std::vector<std::int16_t>(385, 0);
  bool opened = false;
};

void run(benchmark::State& state, sim::Pacing pacing) {
  Rig rig(pacing);
  if (!rig.opened) {
    state.SkipWithError("port did not open");
    return;
  }
  int bad = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!rig.scan()) ++bad;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double per_scan = seconds / static_cast<double>(state.iterations());
  const double line = sim::line_seconds(4 * device::kBlockBytes);
  state.counters["bad_scans"] = bad;
  state.counters["scan_ms"] = per_scan * 1e3;
  state.counters["line_ms"] = line * 1e3;
  state.counters["line_ratio"] = per_scan / line;
}

void BM_ScanInstant(benchmark::State& state) { run(state, sim::Pacing::kInstant); }
void BM_ScanPaced(benchmark::State& state) { run(state, sim::Pacing::kLine); }

BENCHMARK(BM_ScanInstant)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ScanPaced)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
