#include "acquisition/activity_sink.hpp"

namespace kestrova::acquisition {

ActivityFileSink::ActivityFileSink(std::filesystem::path folder, int buffer_length,
                                   WriteAtFunction write_at)
    : writer_(std::move(folder), buffer_length, std::move(write_at)) {}

SinkResult ActivityFileSink::consume(const BufferEnd& buffer) {
  BufferEndRecords records;
  records.minutes = buffer.minutes;
  records.counts = buffer.counts;
  records.temperature = buffer.temperature;
  records.save_realtime = buffer.save_realtime;
  records.raw_block = buffer.raw;
  records.body_bends = buffer.body_bends;
  records.histogram_minutes = buffer.minutes_2;
  records.sample_period = buffer.sample_period;
  records.histogram_totals = buffer.histogram;
  const AppendResult r = writer_.append_buffer(records);
  last_ok_ = r.ok;
  if (r.ok) return {};
  return {false, describe(r)};
}

} // namespace kestrova::acquisition
