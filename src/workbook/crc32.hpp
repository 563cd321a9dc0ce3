#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrova::workbook {

// The CRC-32 of ZIP (reflected polynomial 0xEDB88320, initial 0xFFFFFFFF, final complement),
// fed in pieces. The lookup tables are built once, on first use.
class Crc32 {
public:
  void update(const void* data, std::size_t size);
  void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
  std::uint32_t value() const { return ~state_; }

private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

// The CRC-32 of a whole byte array; 0 for an empty one.
std::uint32_t crc32(std::string_view bytes);

} // namespace kestrova::workbook
