#include "workbook/crc32.hpp"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTROVA_CRC_CLMUL 1
#endif

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

std::uint32_t update_tables(std::uint32_t crc, const unsigned char* p, std::size_t size) {
  const Tables& t = tables();
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
  return crc;
}

#ifdef KESTROVA_CRC_CLMUL

#define KESTROVA_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

KESTROVA_CLMUL_TARGET inline __m128i load(const unsigned char* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x * k folded forward by the distance k stands for, added to `data`.
KESTROVA_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i data) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), data);
}

// Carry-less multiplication folding (the method of Intel's white paper "Fast CRC computation
// for generic polynomials using PCLMULQDQ"): four 128-bit lanes are folded 64 bytes ahead,
// then into one lane, then reduced to 32 bits with a Barrett reduction. The constants are
// powers of x modulo the bit-reflected polynomial. `size` is a multiple of 16, at least 64.
KESTROVA_CLMUL_TARGET std::uint32_t update_clmul(std::uint32_t crc, const unsigned char* p,
                                                 std::size_t size) {
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load(p + 16);
  __m128i x3 = load(p + 32);
  __m128i x4 = load(p + 48);
  p += 64;
  size -= 64;
  const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  while (size >= 64) {
    x1 = fold(x1, k1k2, load(p));
    x2 = fold(x2, k1k2, load(p + 16));
    x3 = fold(x3, k1k2, load(p + 32));
    x4 = fold(x4, k1k2, load(p + 48));
    p += 64;
    size -= 64;
  }
  const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  x1 = fold(x1, k3k4, x2);
  x1 = fold(x1, k3k4, x3);
  x1 = fold(x1, k3k4, x4);
  while (size >= 16) {
    x1 = fold(x1, k3k4, load(p));
    p += 16;
    size -= 16;
  }
  // 128 -> 64 bits, then 64 -> 32 bits.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00));
  // Barrett reduction with the reflected polynomial and its quotient.
  const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool has_clmul() {
  static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return yes;
}

#endif

} // namespace

void Crc32::update(const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
#ifdef KESTROVA_CRC_CLMUL
  if (size >= 64 && has_clmul()) {
    const std::size_t bulk = size & ~std::size_t{15};
    state_ = update_clmul(state_, p, bulk);
    p += bulk;
    size -= bulk;
  }
#endif
  state_ = update_tables(state_, p, size);
}

std::uint32_t crc32(std::string_view bytes) {
  Crc32 c;
  c.update(bytes);
  return c.value();
}

} // namespace kestrova::workbook
