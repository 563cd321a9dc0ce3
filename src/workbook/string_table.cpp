#include "workbook/string_table.hpp"

#include <cstring>

namespace kestrova::workbook {
namespace {

// Eight bytes per multiply-and-mix step (the tail loaded as a partial word), so the short
// texts of cells hash in a few instructions; the final mix spreads the bits for the mask.
std::uint64_t hash_text(std::string_view text) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = text.size() * kMul;
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 32;
  }
  if (n > 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * kMul;
  }
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

} // namespace

std::uint32_t StringTable::intern(std::string_view text) {
  if ((strings_.size() + 1) * 2 > slots_.size()) grow();
  const std::uint64_t h = hash_text(text);
  const std::uint64_t tag = h & ~std::uint64_t{0xFFFFFFFF};
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) {
      strings_.emplace_back(text);
      slots_[i] = tag | strings_.size();
      return static_cast<std::uint32_t>(strings_.size() - 1);
    }
    if ((slot & ~std::uint64_t{0xFFFFFFFF}) == tag) {
      const auto n = static_cast<std::uint32_t>(slot) - 1;
      const std::string& s = strings_[n];
      if (s.size() == text.size() &&
          (text.empty() || std::memcmp(s.data(), text.data(), text.size()) == 0)) {
        return n;
      }
    }
  }
}

void StringTable::grow() {
  std::vector<std::uint64_t> slots(slots_.empty() ? 1024 : slots_.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (std::size_t n = 0; n < strings_.size(); ++n) {
    const std::uint64_t h = hash_text(strings_[n]);
    std::size_t i = h & mask;
    while (slots[i] != 0)
      i = (i + 1) & mask;
    slots[i] = (h & ~std::uint64_t{0xFFFFFFFF}) | (n + 1);
  }
  slots_ = std::move(slots);
}

void StringTable::clear() {
  strings_.clear();
  slots_.clear();
}

} // namespace kestrova::workbook
