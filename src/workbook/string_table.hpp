#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::workbook {

// The distinct strings of a workbook in order of first appearance, numbered from 0, with an
// open-addressing hash index so a lookup costs one hash and usually one comparison.
class StringTable {
public:
  // The number of `text`, adding it at the end when it is new.
  std::uint32_t intern(std::string_view text);

  std::size_t size() const { return strings_.size(); }
  const std::string& operator[](std::size_t i) const { return strings_[i]; }
  void clear();

private:
  void grow();

  std::vector<std::string> strings_;
  // Upper 32 bits of the hash, then number + 1 in the lower 32 bits; 0 for a free slot.
  std::vector<std::uint64_t> slots_;
};

} // namespace kestrova::workbook
