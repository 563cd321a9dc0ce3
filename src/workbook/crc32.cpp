#include "workbook/crc32.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace kestrova::workbook {
namespace {

// tables[0] is the classic byte table; tables[1..7] let the loop take eight bytes per step
// (slicing-by-8), which gives the same result several times faster.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

Tables build_tables() {
  Tables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k)
      c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i) {
    for (std::size_t s = 1; s < 8; ++s)
      t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
  }
  return t;
}

const Tables& tables() {
  static const Tables t = build_tables();
  return t;
}

} // namespace

void Crc32::update(const void* data, std::size_t size) {
  const Tables& t = tables();
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t crc = state_;
  while (size >= 8) {
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      lo = __builtin_bswap32(lo);
      hi = __builtin_bswap32(hi);
    }
    lo ^= crc;
    crc = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFFu] ^ t[2][(hi >> 8) & 0xFFu] ^ t[1][(hi >> 16) & 0xFFu] ^ t[0][hi >> 24];
    p += 8;
    size -= 8;
  }
  while (size-- > 0)
    crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFFu];
  state_ = crc;
}

std::uint32_t crc32(std::string_view bytes) {
  Crc32 c;
  c.update(bytes);
  return c.value();
}

} // namespace kestrova::workbook
