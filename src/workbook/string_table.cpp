#include "workbook/string_table.hpp"

namespace kestrova::workbook {
namespace {

// FNV-1a, 64 bits: short cell texts hash quickly and spread well enough with linear probing.
std::uint64_t hash_text(std::string_view text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  return h ^ (h >> 29);
}

} // namespace

std::uint32_t StringTable::intern(std::string_view text) {
  if ((strings_.size() + 1) * 2 > slots_.size()) grow();
  const std::uint64_t h = hash_text(text);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = slots_[i];
    if (slot == 0) {
      strings_.emplace_back(text);
      hashes_.push_back(h);
      slots_[i] = static_cast<std::uint32_t>(strings_.size());
      return static_cast<std::uint32_t>(strings_.size() - 1);
    }
    if (hashes_[slot - 1] == h && strings_[slot - 1] == text) return slot - 1;
  }
}

void StringTable::grow() {
  std::vector<std::uint32_t> slots(slots_.empty() ? 1024 : slots_.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t n = 0; n < strings_.size(); ++n) {
    std::size_t i = hashes_[n] & mask;
    while (slots[i] != 0)
      i = (i + 1) & mask;
    slots[i] = static_cast<std::uint32_t>(n + 1);
  }
  slots_ = std::move(slots);
}

void StringTable::clear() {
  strings_.clear();
  hashes_.clear();
  slots_.clear();
}

} // namespace kestrova::workbook
