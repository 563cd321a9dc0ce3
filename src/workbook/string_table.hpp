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
  std::vector<std::uint64_t> hashes_; // hash of each string, by number
  std::vector<std::uint32_t> slots_;  // number + 1, or 0 for a free slot
};

} // namespace kestrova::workbook
