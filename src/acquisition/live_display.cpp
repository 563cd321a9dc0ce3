#include "acquisition/live_display.hpp"

#include <algorithm>

namespace kestrova::acquisition {

LiveDisplay::LiveDisplay(common::Canvas& summary, common::Canvas& trace,
                         const store::ProjectState& project)
    : project_(project), summary_(summary), trace_(trace) {}

SummaryTables LiveDisplay::tables() const {
  return {project_.groups.sets[static_cast<std::size_t>(station_)], project_.plate};
}

SummaryValues LiveDisplay::values(const DisplayData& data) const {
  return {data.counts, data.histogram};
}

void LiveDisplay::set_station(int station) {
  station_ = std::clamp(station, 0, store::kStationCount - 1);
  wells_.clear();
  selected_ = -1;
}

void LiveDisplay::open_channel(int channel, const DisplayData& data) {
  trace_.set_channel(channel);
  trace_.full_redraw(data);
}

void LiveDisplay::choose_group(int group, const DisplayData& data) {
  const SummaryTables t = tables();
  wells_ = group_well_list(t.groups, project_.channels, project_.plate, group);
  summary_.show_group(group, wells_);
  selected_ = -1;
  if (!wells_.empty()) select_well(0, data);
  summary_.update(t, values(data));
}

void LiveDisplay::show_bars(const DisplayData& data) {
  summary_.show_bars(tables());
  summary_.update(tables(), values(data));
}

void LiveDisplay::show_heat_map(const DisplayData& data) {
  summary_.show_heat_map(tables());
  summary_.update(tables(), values(data));
}

void LiveDisplay::show_histogram(const DisplayData& data) {
  summary_.show_histogram();
  summary_.update(tables(), values(data));
}

bool LiveDisplay::next_page(const DisplayData& data) {
  if (!summary_.next_page()) return false;
  summary_.redraw_frame(tables());
  summary_.update(tables(), values(data));
  return true;
}

bool LiveDisplay::previous_page(const DisplayData& data) {
  if (!summary_.previous_page()) return false;
  summary_.redraw_frame(tables());
  summary_.update(tables(), values(data));
  return true;
}

bool LiveDisplay::select_well(int index, const DisplayData& data) {
  if (index < 0 || index >= static_cast<int>(wells_.size())) return false;
  selected_ = index;
  open_channel(wells_[static_cast<std::size_t>(index)].channel, data);
  return true;
}

bool LiveDisplay::step_well(int delta, const DisplayData& data) {
  return select_well(selected_ + delta, data);
}

ChannelPick LiveDisplay::pick_channel(int row, int column, int position, bool from_row,
                                      const DisplayData& data) {
  const ChannelPick pick =
      acquisition::pick_channel(project_.plate, row, column, position, from_row);
  if (pick.channel) open_channel(*pick.channel, data);
  return pick;
}

void LiveDisplay::zoom_in(const DisplayData& data) {
  trace_.zoom_in(data);
  trace_.full_redraw(data);
}

void LiveDisplay::zoom_out(const DisplayData& data) {
  trace_.zoom_out(data);
  trace_.full_redraw(data);
}

void LiveDisplay::redraw(const DisplayData& data) {
  summary_.redraw_frame(tables());
  summary_.update(tables(), values(data));
  trace_.full_redraw(data);
}

void LiveDisplay::tick(int tick_counter, const DisplayData& data) {
  const int d = project_.setup.DSP_Interval;
  if (d > 0 && tick_counter > 0 && tick_counter % d == 0) {
    trace_.flip_band_colour();
    if (trace_.zoom() > 0) trace_.take_baselines(data);
    trace_.full_redraw(data);
    return;
  }
  if (tick_counter % 2 == 0) trace_.incremental(data);
}

void LiveDisplay::buffer_end(const DisplayData& data) { summary_.update(tables(), values(data)); }

SinkResult LiveDisplayFeed::consume(const BufferEnd& buffer) {
  DisplayData data = source_();
  data.counts = buffer.counts;
  data.histogram = buffer.histogram;
  display_.buffer_end(data);
  return {};
}

} // namespace kestrova::acquisition
