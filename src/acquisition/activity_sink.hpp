#pragma once

#include <filesystem>
#include <memory>

#include "acquisition/activity_files.hpp"
#include "acquisition/cycle_interfaces.hpp"

namespace kestrova::acquisition {

// The activity files of one acquisition folder as the first consumer of every buffer end:
// the real-time block, the `counts.bin` record and, in body-bends mode, the histogram record.
// A failed buffer leaves nothing of itself in any file, and the next buffer is tried again.
class ActivityFileSink final : public BufferEndSink {
public:
  ActivityFileSink(std::filesystem::path folder, int buffer_length, WriteAtFunction write_at = {});

  SinkResult consume(const BufferEnd& buffer) override;

  // Whether the last buffer reached the files.
  bool last_ok() const { return last_ok_; }
  const ActivityWriter& writer() const { return writer_; }

private:
  ActivityWriter writer_;
  bool last_ok_ = true;
};

} // namespace kestrova::acquisition
