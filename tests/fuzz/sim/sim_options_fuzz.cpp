// The kestrova-sim command line texts (faults, flooded channels, well lists): any text must be
// taken or refused with a message, never crash, and what is taken must lie in range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_options.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace sim = kestrova::sim;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;

  sim::FaultSchedule faults;
  const bool fault_ok = sim::apply_fault_text(text, faults, error);
  if (fault_ok != error.empty()) std::abort();
  if (fault_ok) {
    if (faults.late.delay_ms < 0.0 || faults.stall.after_bytes < 0) std::abort();
    if (faults.stall.pause_ms && *faults.stall.pause_ms < 0.0) std::abort();
    if (faults.unstable.address > 255 || faults.unstable.wrong_reads == 0) std::abort();
  }

  sim::Saturation saturation;
  const bool saturation_ok = sim::parse_saturation(text, saturation, error);
  if (saturation_ok != error.empty()) std::abort();
  if (saturation_ok && (saturation.channels.empty() || saturation.at_seconds < 0.0)) std::abort();
  for (int c : saturation.channels) {
    if (c < 0 || c >= sim::kChannelCount) std::abort();
  }

  std::vector<int> wells;
  const bool wells_ok = sim::parse_well_list(text, wells, error);
  if (wells_ok != error.empty()) std::abort();
  for (int w : wells) {
    if (w < 0 || w >= sim::kChannelCount) std::abort();
  }
  return 0;
}
