#pragma once

// Internal to the detection kernels: a vector of kWidth doubles (Vec), the mask its comparisons
// give (Mask) and the operations detection needs, for the instruction set the including
// code that includes it is built for. Define one of
//   KESTROVA_LANES_AVX512   namespace detail::avx512
//   KESTROVA_LANES_AVX2     namespace detail::avx2
//   KESTROVA_LANES_BASELINE namespace detail::baseline
// before including it. The wider sets are included inside a region of their translation unit
// that builds every function for that set (see detection_kernel_avx2.cpp). Each set has a
// namespace of its own (KESTROVA_LANES_NS), so the same inline functions built for different
// instruction sets never meet at link time. The baseline uses SSE2 where the target has it and
// the compiler's generic vectors elsewhere.
//
// Every operation is exact and acts on each lane as the scalar operation would, so all sets
// give the same numbers. min and max are a < b ? a : b and a > b ? a : b, as the SSE2
// instructions define them.

#include <cstdint>

#if defined(KESTROVA_LANES_AVX512) || defined(KESTROVA_LANES_AVX2)
#include "acquisition/detection_intrinsics.hpp"
#elif defined(KESTROVA_LANES_BASELINE) && defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
#include <emmintrin.h>
#endif

#if defined(KESTROVA_LANES_AVX512)
#define KESTROVA_LANES_NS avx512
namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

constexpr int kWidth = 8;
using Vec = __m512d;
using Mask = __mmask8;
inline Vec vadd(Vec a, Vec b) { return _mm512_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm512_div_pd(a, b); }
inline Mask vlt(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
inline Mask vgt(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
inline Mask veq(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
inline Mask vle(Vec a, Vec b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
inline Vec vabs(Vec a) { return _mm512_abs_pd(a); }
inline Mask mand(Mask a, Mask b) { return static_cast<Mask>(a & b); }
inline Mask mor(Mask a, Mask b) { return static_cast<Mask>(a | b); }
inline Mask mand_not(Mask a, Mask b) { return static_cast<Mask>(a & ~b); }
inline Mask mxor(Mask a, Mask b) { return static_cast<Mask>(a ^ b); }
inline Vec vselect(Mask m, Vec a, Vec b) { return _mm512_mask_blend_pd(m, b, a); }
inline Vec vsplat(double v) { return _mm512_set1_pd(v); }
inline unsigned mask_bits(Mask m) { return m; }
inline Vec vkeep(Mask m, Vec a) { return _mm512_maskz_mov_pd(m, a); }
inline Vec vdrop(Mask m, Vec a) { return _mm512_maskz_mov_pd(static_cast<Mask>(~m), a); }
inline Vec vmin(Vec a, Vec b) { return _mm512_min_pd(a, b); }
inline Vec vmax(Vec a, Vec b) { return _mm512_max_pd(a, b); }

// Eight neighbouring 16-bit samples into 8 / kWidth vectors, and back (truncating, saturated).
inline void load8(const std::int16_t* p, Vec* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  out[0] = _mm512_cvtepi32_pd(_mm256_cvtepi16_epi32(v));
}
inline void store8(const Vec* in, std::int16_t* p) {
  const __m256i v = _mm512_cvttpd_epi32(in[0]);
  const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
}

#elif defined(KESTROVA_LANES_AVX2)
#define KESTROVA_LANES_NS avx2
namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

constexpr int kWidth = 4;
using Vec = __m256d;
using Mask = __m256d;
inline Vec vadd(Vec a, Vec b) { return _mm256_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm256_div_pd(a, b); }
inline Mask vlt(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline Mask vgt(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline Mask veq(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
inline Mask vle(Vec a, Vec b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
inline Vec vabs(Vec a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
inline Mask mand(Mask a, Mask b) { return _mm256_and_pd(a, b); }
inline Mask mor(Mask a, Mask b) { return _mm256_or_pd(a, b); }
inline Mask mand_not(Mask a, Mask b) { return _mm256_andnot_pd(b, a); }
inline Mask mxor(Mask a, Mask b) { return _mm256_xor_pd(a, b); }
inline Vec vselect(Mask m, Vec a, Vec b) { return _mm256_blendv_pd(b, a, m); }
inline Vec vsplat(double v) { return _mm256_set1_pd(v); }
inline unsigned mask_bits(Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
inline Vec vkeep(Mask m, Vec a) { return _mm256_and_pd(m, a); }
inline Vec vdrop(Mask m, Vec a) { return _mm256_andnot_pd(m, a); }
inline Vec vmin(Vec a, Vec b) { return _mm256_min_pd(a, b); }
inline Vec vmax(Vec a, Vec b) { return _mm256_max_pd(a, b); }

inline void load8(const std::int16_t* p, Vec* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m256i wide = _mm256_cvtepi16_epi32(v);
  out[0] = _mm256_cvtepi32_pd(_mm256_castsi256_si128(wide));
  out[1] = _mm256_cvtepi32_pd(_mm256_extracti128_si256(wide, 1));
}
inline void store8(const Vec* in, std::int16_t* p) {
  const __m128i packed = _mm_packs_epi32(_mm256_cvttpd_epi32(in[0]), _mm256_cvttpd_epi32(in[1]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
}

#elif defined(KESTROVA_LANES_BASELINE) && defined(__SSE2__) && !defined(KESTROVA_DETECTION_GENERIC)
#define KESTROVA_LANES_NS baseline
namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

constexpr int kWidth = 2;
using Vec = __m128d;
using Mask = __m128d;
inline Vec vadd(Vec a, Vec b) { return _mm_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm_div_pd(a, b); }
inline Mask vlt(Vec a, Vec b) { return _mm_cmplt_pd(a, b); }
inline Mask vgt(Vec a, Vec b) { return _mm_cmpgt_pd(a, b); }
inline Mask veq(Vec a, Vec b) { return _mm_cmpeq_pd(a, b); }
inline Mask vle(Vec a, Vec b) { return _mm_cmple_pd(a, b); }
inline Vec vabs(Vec a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
inline Mask mand(Mask a, Mask b) { return _mm_and_pd(a, b); }
inline Mask mor(Mask a, Mask b) { return _mm_or_pd(a, b); }
inline Mask mand_not(Mask a, Mask b) { return _mm_andnot_pd(b, a); }
inline Mask mxor(Mask a, Mask b) { return _mm_xor_pd(a, b); }
inline Vec vselect(Mask m, Vec a, Vec b) {
  return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
}
inline Vec vsplat(double v) { return _mm_set1_pd(v); }
inline unsigned mask_bits(Mask m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
inline Vec vkeep(Mask m, Vec a) { return _mm_and_pd(m, a); }
inline Vec vdrop(Mask m, Vec a) { return _mm_andnot_pd(m, a); }
inline Vec vmin(Vec a, Vec b) { return _mm_min_pd(a, b); }
inline Vec vmax(Vec a, Vec b) { return _mm_max_pd(a, b); }

inline void load8(const std::int16_t* p, Vec* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
  const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
  out[0] = _mm_cvtepi32_pd(lo);
  out[1] = _mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0x0E));
  out[2] = _mm_cvtepi32_pd(hi);
  out[3] = _mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0x0E));
}
inline void store8(const Vec* in, std::int16_t* p) {
  const __m128i a = _mm_unpacklo_epi64(_mm_cvttpd_epi32(in[0]), _mm_cvttpd_epi32(in[1]));
  const __m128i b = _mm_unpacklo_epi64(_mm_cvttpd_epi32(in[2]), _mm_cvttpd_epi32(in[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(a, b));
}

#elif defined(KESTROVA_LANES_BASELINE)
#define KESTROVA_LANES_NS baseline
namespace kestrova::acquisition::detail::KESTROVA_LANES_NS {

// The compiler's generic vectors, for targets without SSE2.
constexpr int kWidth = 2;
typedef double Vec __attribute__((vector_size(16)));
typedef std::int64_t Mask __attribute__((vector_size(16)));
inline Vec vselect(Mask m, Vec a, Vec b) { return (Vec)(((Mask)a & m) | ((Mask)b & ~m)); }
inline Vec vadd(Vec a, Vec b) { return a + b; }
inline Vec vsub(Vec a, Vec b) { return a - b; }
inline Vec vmul(Vec a, Vec b) { return a * b; }
inline Vec vdiv(Vec a, Vec b) { return a / b; }
inline Mask vlt(Vec a, Vec b) { return a < b; }
inline Mask vgt(Vec a, Vec b) { return a > b; }
inline Mask veq(Vec a, Vec b) { return a == b; }
inline Mask vle(Vec a, Vec b) { return a <= b; }
inline Vec vabs(Vec a) { return vselect(a < Vec{0.0, 0.0}, -a, a); }
inline Mask mand(Mask a, Mask b) { return a & b; }
inline Mask mor(Mask a, Mask b) { return a | b; }
inline Mask mand_not(Mask a, Mask b) { return a & ~b; }
inline Mask mxor(Mask a, Mask b) { return a ^ b; }
inline Vec vsplat(double v) { return Vec{v, v}; }
inline unsigned mask_bits(Mask m) { return (m[0] != 0 ? 1u : 0u) | (m[1] != 0 ? 2u : 0u); }
inline Vec vkeep(Mask m, Vec a) { return (Vec)(m & (Mask)a); }
inline Vec vdrop(Mask m, Vec a) { return (Vec)(~m & (Mask)a); }
inline Vec vmin(Vec a, Vec b) { return vselect(a < b, a, b); }
inline Vec vmax(Vec a, Vec b) { return vselect(a > b, a, b); }

inline void load8(const std::int16_t* p, Vec* out) {
  for (int i = 0; i < 4; ++i)
    out[i] = Vec{static_cast<double>(p[2 * i]), static_cast<double>(p[2 * i + 1])};
}
inline void store8(const Vec* in, std::int16_t* p) {
  for (int i = 0; i < 8; ++i)
    p[i] = static_cast<std::int16_t>(in[i / 2][i % 2]);
}

#else
#error "define the instruction set of the detection kernel before including detection_vectors.hpp"
#endif

// Set where every lane of the mask is set.
constexpr unsigned kAllLanes = (1u << kWidth) - 1;
inline bool lane_set(Mask m, int j) { return (mask_bits(m) >> j) & 1u; }
inline bool all_set(Mask m) { return mask_bits(m) == kAllLanes; }

} // namespace kestrova::acquisition::detail::KESTROVA_LANES_NS
