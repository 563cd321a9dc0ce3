#pragma once

// The live display of a running acquisition: the summary plot (`Picact`) and the channel trace
// (`Picreal`), the operator's choices of view, group, well, page and zoom, and the pacing the
// acquisition cycle drives. Qt-free: it draws on two Canvas surfaces and keeps the state the
// main window copies into its controls.

#include <functional>
#include <string>
#include <vector>

#include "acquisition/cycle_interfaces.hpp"
#include "acquisition/live_display_choice.hpp"
#include "acquisition/live_display_summary.hpp"
#include "acquisition/live_display_trace.hpp"
#include "common/canvas.hpp"
#include "store/project_state.hpp"

namespace kestrova::acquisition {

class LiveDisplay {
public:
  // Draws the summary on `summary` and the trace on `trace`; reads the project's tables.
  LiveDisplay(common::Canvas& summary, common::Canvas& trace, const store::ProjectState& project);

  // The station shown (0..3): its group table; the well list and well selection start afresh.
  void set_station(int station);
  int station() const { return station_; }

  // `combogrup`: the wells view of `group`; selects and traces the group's first well.
  void choose_group(int group, const DisplayData& data);
  // Cmd_barplot, Cmd_gridplot, Cmd_histoplot.
  void show_bars(const DisplayData& data);
  void show_heat_map(const DisplayData& data);
  void show_histogram(const DisplayData& data);
  // ">" and "<" in the bar and histogram views; false when there is no such page.
  bool next_page(const DisplayData& data);
  bool previous_page(const DisplayData& data);
  // A `lstgrup` item becomes the traced channel; false for an index outside the list.
  bool select_well(int index, const DisplayData& data);
  // "next channel" (+1) / "previous channel" (-1) within the list's bounds.
  bool step_well(int delta, const DisplayData& data);
  // `Combofila` (from_row) / `Combocol` / `txtsub`: the channel of that well and position.
  ChannelPick pick_channel(int row, int column, int position, bool from_row,
                           const DisplayData& data);
  // "zoom+" / "zoom-", then a full trace redraw.
  void zoom_in(const DisplayData& data);
  void zoom_out(const DisplayData& data);
  // Clears and draws both pictures again (window activation and resize).
  void redraw(const DisplayData& data);

  // The cycle's calls: every running tick (pacing of the trace), every buffer end (summary).
  void tick(int tick_counter, const DisplayData& data);
  void buffer_end(const DisplayData& data);

  // What the window shows.
  const std::vector<WellEntry>& wells() const { return wells_; }
  int selected_well() const { return selected_; }
  int channel() const { return trace_.channel(); }
  int zoom() const { return trace_.zoom(); }
  const SummaryPlot& summary() const { return summary_; }
  const ChannelTrace& trace() const { return trace_; }

private:
  SummaryTables tables() const;
  SummaryValues values(const DisplayData& data) const;
  void open_channel(int channel, const DisplayData& data);

  const store::ProjectState& project_;
  SummaryPlot summary_;
  ChannelTrace trace_;
  int station_ = 0;
  std::vector<WellEntry> wells_;
  int selected_ = -1;
};

// Connects a LiveDisplay to the acquisition cycle: the cycle's per-tick pacing call and its
// buffer-end hand-over. `source` gives the cycle's display tables at the time of the call.
class LiveDisplayFeed final : public DisplayPacing, public BufferEndSink {
public:
  LiveDisplayFeed(LiveDisplay& display, std::function<DisplayData()> source)
      : display_(display), source_(std::move(source)) {}

  void display_tick(int tick_counter) override { display_.tick(tick_counter, source_()); }
  SinkResult consume(const BufferEnd& buffer) override;

private:
  LiveDisplay& display_;
  std::function<DisplayData()> source_;
};

} // namespace kestrova::acquisition
