// Any bytes as a plate format file: the loader either reads them or falls back with one
// message, and the well map never points outside its table or the channel range.

#include <cstdint>
#include <cstdlib>

#include "common/stderr_dialogs.hpp"
#include "fuzz/fuzz_support.hpp"
#include "store/plate_format.hpp"

using namespace kestrova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& folder = fuzz::scratch_folder();
  fuzz::write_bytes(folder / "w48.dat", data, size);

  common::StderrDialogs dialogs({}, /*quiet=*/true);
  std::string name = "w48";
  store::PlateFormat plate = *store::BuiltInPlateFormat("w384");
  const bool read = store::LoadPlateFormat(folder, name, plate, dialogs);
  if (read != (dialogs.shown() == 0) || (!read && name != "w96f")) std::abort();

  const store::WellMap& map = plate.map;
  const auto entries =
      static_cast<size_t>(map.greatest_well + 1) * static_cast<size_t>(map.greatest_position + 1);
  if (map.well_channel.size() != entries) std::abort();
  for (int well = -1; well <= map.greatest_well + 1; ++well) {
    for (int position = -1; position <= map.greatest_position + 1; ++position) {
      const int channel = map.ChannelOfWell(well, position);
      if (channel < -1 || channel >= store::kChannelCount) std::abort();
    }
  }
  for (int channel = -1; channel <= store::kChannelCount; ++channel) {
    const store::WellPosition wp = map.WellOfChannel(channel);
    if (wp.well < -1 || wp.position < 0) std::abort();
  }
  (void)store::WellLabel(plate.geometry, map.greatest_well);
  return 0;
}
