// Any bytes as each channel table and as subproj.dat: the readers either read them or fall
// back with one message each, and group numbers always stay within -1..383.

#include <cstdint>
#include <cstdlib>

#include "common/stderr_dialogs.hpp"
#include "fuzz/fuzz_support.hpp"
#include "store/channel_tables.hpp"
#include "store/subproj.hpp"

using namespace kestrova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& folder = fuzz::scratch_folder();
  for (const auto name : {store::kStatusFile, store::kThresholdFile, store::kGroupNamesFile,
                          store::kChannelGroupsFile, store::kAcquisitionIndexFile}) {
    fuzz::write_bytes(folder / name, data, size);
  }
  common::StderrDialogs dialogs({}, /*quiet=*/true);
  store::ChannelTables tables;
  store::GroupTables groups;
  const bool all = store::LoadChannelTables(folder, 1, tables, groups, dialogs);
  if (all != (dialogs.shown() == 0) || dialogs.shown() > 4) std::abort();
  for (int channel = 0; channel < store::kChannelCount; ++channel) {
    const int group = groups.main().channel_group[channel];
    if (group < store::kFreeGroup || group >= store::kGroupCount) std::abort();
  }
  (void)store::ReadAcquisitionTitle(folder);
  (void)store::ReadAcquisitionComments(folder);
  return 0;
}
