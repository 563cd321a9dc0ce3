// A full plate scan (four 192-byte block exchanges) through the real serial driver against the
// virtual instrument on a pty.
//   BM_ScanInstant: replies come at once; the CPU column is this program's thread per scan.
//   BM_ScanPaced:   replies come at 115200 baud; line_ratio = scan time / line time of the
//                   four replies (the physical limit), 1.00 being the limit itself.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim_rig.hpp"

namespace {

using namespace kestrova;

// One full scan; false when a block was not good.
bool scan(bench::SimRig& rig, std::vector<std::int16_t>& channels) {
  bool good = true;
  for (int k : device::kBlockStarts) {
    const device::ParsedBlock b = rig.protocol->ReadIntensityBlock(k);
    good = good && b.good();
    device::distribute_block(k, b.values, channels);
  }
  return good;
}

void run(benchmark::State& state, sim::Pacing pacing) {
  bench::SimRig rig(pacing);
  std::vector<std::int16_t> channels(store::kChannelSlots, 0);
  if (!rig.opened) {
    state.SkipWithError("port did not open");
    return;
  }
  int bad = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!scan(rig, channels)) ++bad;
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
