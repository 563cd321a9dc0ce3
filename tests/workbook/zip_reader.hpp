#pragma once

// A small reader of stored ZIP archives for tests: walks the end record and the central
// directory and checks that each local header agrees with its directory entry.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::testing {

struct ZipRecord {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t time = 0;
  std::uint16_t date = 0;
  std::uint32_t crc = 0;
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
  std::string data;
};

struct ZipListing {
  bool ok = false;
  std::string problem;
  std::vector<ZipRecord> entries;
};

inline std::uint32_t le(std::string_view b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

inline ZipListing read_zip(std::string_view b) {
  ZipListing z;
  if (b.size() < 22 || le(b, b.size() - 22, 4) != 0x06054B50) {
    z.problem = "no end record at the end";
    return z;
  }
  const std::size_t end = b.size() - 22;
  const std::uint32_t count = le(b, end + 10, 2);
  const std::uint32_t dir_size = le(b, end + 12, 4);
  std::size_t p = le(b, end + 16, 4);
  if (le(b, end + 8, 2) != count || p + dir_size != end) {
    z.problem = "end record disagrees with the directory";
    return z;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (p + 46 > end || le(b, p, 4) != 0x02014B50) {
      z.problem = "bad central header";
      return z;
    }
    ZipRecord r;
    r.flags = static_cast<std::uint16_t>(le(b, p + 8, 2));
    r.method = static_cast<std::uint16_t>(le(b, p + 10, 2));
    r.time = static_cast<std::uint16_t>(le(b, p + 12, 2));
    r.date = static_cast<std::uint16_t>(le(b, p + 14, 2));
    r.crc = le(b, p + 16, 4);
    r.size = le(b, p + 24, 4);
    const std::uint32_t name_len = le(b, p + 28, 2);
    r.offset = le(b, p + 42, 4);
    r.name = std::string(b.substr(p + 46, name_len));
    p += 46 + name_len;
    const std::size_t l = r.offset;
    if (l + 30 > b.size() || le(b, l, 4) != 0x04034B50 || le(b, l + 14, 4) != r.crc ||
        le(b, l + 18, 4) != r.size || le(b, l + 22, 4) != r.size || le(b, l + 26, 2) != name_len ||
        b.substr(l + 30, name_len) != r.name) {
      z.problem = "local header of " + r.name + " disagrees with the directory";
      return z;
    }
    r.data = std::string(b.substr(l + 30 + name_len, r.size));
    z.entries.push_back(std::move(r));
  }
  z.ok = true;
  return z;
}

} // namespace kestrova::testing
