// Any bytes as tags_id.dat: reading never fails, and after SetTag the key's tags hold the tag.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "store/tags.hpp"

using namespace kestrova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& folder = fuzz::scratch_folder();
  // The first byte picks a key and a tag; the rest is the file.
  const int pick = size > 0 ? data[0] : 0;
  fuzz::write_bytes(folder / "tags_id.dat", size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);
  const std::string key = (pick & 1) ? "20240315_1430" : "A";
  const std::string tag = "[K" + std::to_string((pick >> 1) % 5) + "]";

  (void)store::ReadTags(folder, key);
  (void)store::FindKeysWithTag(folder, tag);
  if ((pick & 0x80) != 0) {
    store::SetTag(folder, key, "");
    if (!store::ReadTags(folder, key).empty()) std::abort();
  } else {
    store::SetTag(folder, key, tag);
    if (!store::TagsHold(store::ReadTags(folder, key), tag)) std::abort();
  }
  return 0;
}
