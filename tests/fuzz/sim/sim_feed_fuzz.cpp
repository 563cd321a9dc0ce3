// Feeds arbitrary line bytes to the virtual instrument: it must never crash, and every frame it
// takes must be answered with one of the protocol's reply lengths.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/virtual_instrument.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  kestrova::sim::InstrumentOptions options;
  options.organisms_per_well = data[0] % 3;
  options.seed = data[1];
  options.plate =
      data[0] & 0x80 ? kestrova::sim::PlateMap::w384() : kestrova::sim::PlateMap::w96f();
  kestrova::sim::VirtualInstrument vi(options);
  std::size_t replied = 0;
  // Split the bytes into feeds of varying length, so frames cross feed boundaries.
  std::size_t pos = 2;
  while (pos < size) {
    const std::size_t chunk = 1 + data[pos] % 11;
    const std::size_t n = std::min(chunk, size - pos);
    replied += vi.feed(std::string_view(reinterpret_cast<const char*>(data + pos), n)).size();
    pos += n;
  }
  std::size_t logged = 0;
  for (const auto& frame : vi.frames()) {
    const std::size_t r = frame.reply_size;
    if (r != 0 && r != 1 && r != 2 && r != 192) std::abort();
    logged += r;
  }
  if (logged != replied) std::abort();
  return 0;
}
