#pragma once

namespace kestrova::acquisition {

// Whether an acquisition runs and how far it has come. The start-up resets them; the
// acquisition cycle owns their meaning.
struct AcquisitionFlags {
  bool running = false;
  bool paused = false;
  long long buffers_done = 0; // real-time counters
  long long samples_done = 0;
};

} // namespace kestrova::acquisition
