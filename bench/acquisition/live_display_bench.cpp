// Live display work inside the 30 ms acquisition tick, drawn on the real picture widget under
// the offscreen platform (the same QImage painting the window shows). Each figure's
// "of_tick" counter is its wall time as a fraction of the tick: the incremental trace update runs
// every second tick, a summary update at every buffer end, a full redraw on a view change.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/live_display.hpp"
#include "ui/picture_box.hpp"

namespace {

using namespace kestrova;
using acquisition::DisplayData;

constexpr int kB = 500;

struct Bench {
  Bench() {
    project.plate = *store::BuiltInPlateFormat("w96f");
    project.setup.DSP_Interval = 30;
    // The pictures' sizes in the main window at 1920 x 1080, the largest layout.
    picact.resize(1110, 435);
    picreal.resize(815, 225);
    for (std::size_t i = 0; i < raw.size(); ++i) {
      raw[i] = static_cast<std::int16_t>(1500 + (i * 7919) % 400);
      band[i] = static_cast<std::int16_t>(raw[i] * 97 / 100);
    }
    for (std::size_t c = 0; c < counts.size(); ++c)
      counts[c] = static_cast<std::int16_t>((c * 37) % 300);
    for (std::size_t i = 0; i < histogram.size(); ++i)
      histogram[i] = static_cast<std::int32_t>(i % 90);
  }
  DisplayData data(int cursor) const { return {counts, histogram, raw, band, kB, cursor}; }

  store::ProjectState project;
  std::vector<std::int16_t> counts = std::vector<std::int16_t>(store::kChannelSlots);
  std::vector<std::int32_t> histogram = std::vector<std::int32_t>(51 * store::kChannelSlots);
  std::vector<std::int16_t> raw = std::vector<std::int16_t>((kB + 1) * store::kChannelSlots);
  std::vector<std::int16_t> band = std::vector<std::int16_t>((kB + 1) * store::kChannelSlots);
  ui::PictureBox picact;
  ui::PictureBox picreal;
  acquisition::LiveDisplay display{picact, picreal, project};
};

Bench& bench() {
  static Bench b; // built after the application in main()
  return b;
}

void of_tick(benchmark::State& state) {
  state.counters["of_tick"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * acquisition::kCycleTimerMs / 1000.0,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_IncrementalTrace(benchmark::State& state) {
  Bench& b = bench();
  b.display.choose_group(1, b.data(0));
  int cursor = 0;
  for (auto _ : state) {
    b.display.tick(2, b.data(cursor));
    cursor = (cursor + 1) % kB;
  }
  of_tick(state);
}

void BM_FullTraceRedraw(benchmark::State& state) {
  Bench& b = bench();
  b.display.choose_group(1, b.data(0));
  for (auto _ : state)
    b.display.tick(30, b.data(250)); // the DSP_Interval tick
  of_tick(state);
}

// Summary update at a buffer end (0) or a full redraw of both pictures (1), per view.
void BM_Summary(benchmark::State& state) {
  Bench& b = bench();
  const auto view = static_cast<acquisition::SummaryView>(state.range(0));
  switch (view) {
  case acquisition::SummaryView::GroupWells:
    b.display.choose_group(1, b.data(0));
    break;
  case acquisition::SummaryView::GroupBars:
    b.display.show_bars(b.data(0));
    break;
  case acquisition::SummaryView::HeatMap:
    b.display.show_heat_map(b.data(0));
    break;
  case acquisition::SummaryView::Histogram:
    b.display.show_histogram(b.data(0));
    break;
  }
  const bool full = state.range(1) == 1;
  for (auto _ : state) {
    if (full)
      b.display.redraw(b.data(250));
    else
      b.display.buffer_end(b.data(0));
  }
  of_tick(state);
}

BENCHMARK(BM_IncrementalTrace)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FullTraceRedraw)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Summary)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->ArgNames({"view", "full"})
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
