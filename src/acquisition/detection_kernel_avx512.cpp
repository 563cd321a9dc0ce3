// The detection kernel for processors with AVX-512: eight lanes per vector. Detection runs it only
// where the processor has the instructions.

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <memory>

#include "acquisition/detection.hpp"
#include "acquisition/detection_intrinsics.hpp"
#include "acquisition/detection_kernel.hpp"
#include "common/rounding.hpp"

// Every function defined from here on is built for avx512f (the translation unit itself is
// not): what the headers above define stays built for the baseline, so the copies of it that
// this unit may leave for the linker to choose from run on every processor. The headers below
// include nothing that is not already included above.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f")
#endif

#define KESTROVA_LANES_AVX512
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

// Thirty-two channels per group, in four independent vectors.
std::unique_ptr<LaneKernel> make_avx512_kernel() {
  return std::unique_ptr<LaneKernel>(new avx512::Kernel<4>);
}

} // namespace kestrova::acquisition::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
