// Feeds arbitrary line bytes to the virtual instrument, with or without the timing and register
// faults: it must never crash, every frame it takes must be answered with one of the protocol's
// reply lengths (or a part of one where a fault cuts it), and the timed pieces must carry exactly
// the bytes the frame log counts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/virtual_instrument.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  namespace sim = kestrova::sim;
  sim::InstrumentOptions options;
  options.organisms_per_well = data[0] % 3;
  options.seed = data[1];
  options.plate = data[0] & 0x80 ? sim::PlateMap::w384() : sim::PlateMap::w96f();
  const std::uint8_t faults = data[2];
  const bool cuts = (faults & 0x03) != 0;
  if (faults & 0x01) options.faults.stall = {sim::Fault{sim::Fault::kAlways}, data[1] % 200, 5.0};
  if (faults & 0x02) options.faults.stall = {sim::Fault{3}, data[1] % 200, std::nullopt};
  if (faults & 0x04) options.faults.late = {sim::Fault{sim::Fault::kAlways}, 20.0};
  if (faults & 0x08) options.faults.unstable = {0, 128 + data[1] % 8, sim::Fault::kAlways};
  if (faults & 0x10) options.faults.cable_out_at = 0.05;
  if (faults & 0x20) options.faults.cable_in_at = 0.1;
  options.drift_percent_per_min = (faults & 0x40) ? 20.0 : 0.0;
  if (faults & 0x80) options.saturation = {{0, 1, 2, 200, 383}, 0.02, 3.0};
  sim::VirtualInstrument vi(options);
  std::size_t replied = 0;
  // Split the bytes into feeds of varying length, so frames cross feed boundaries.
  std::size_t pos = 3;
  while (pos < size) {
    const std::size_t chunk = 1 + data[pos] % 11;
    const std::size_t n = std::min(chunk, size - pos);
    for (const auto& piece :
         vi.respond(std::string_view(reinterpret_cast<const char*>(data + pos), n))) {
      if (piece.pause_s < 0.0) std::abort();
      replied += piece.bytes.size();
    }
    pos += n;
  }
  std::size_t logged = 0;
  for (const auto& frame : vi.frames()) {
    const std::size_t r = frame.reply_size;
    const bool whole = r == 0 || r == 1 || r == 2 || r == 192;
    if (!whole && !(cuts && r < 192)) std::abort();
    logged += r;
  }
  if (logged != replied) std::abort();
  return 0;
}
