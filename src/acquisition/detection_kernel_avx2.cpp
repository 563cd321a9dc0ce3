// The detection kernel for processors with AVX2: four lanes per vector. Detection runs it only
// where the processor has the instructions.

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <memory>

#include "acquisition/detection.hpp"
#include "acquisition/detection_intrinsics.hpp"
#include "acquisition/detection_kernel.hpp"
#include "common/rounding.hpp"

// Every function defined from here on is built for avx2 (the translation unit itself is
// not): what the headers above define stays built for the baseline, so the copies of it that
// this unit may leave for the linker to choose from run on every processor. The headers below
// include nothing that is not already included above.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#define KESTROVA_LANES_AVX2
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

// Sixteen channels per group, in four independent vectors.
std::unique_ptr<LaneKernel> make_avx2_kernel() {
  return std::unique_ptr<LaneKernel>(new avx2::Kernel<4>);
}

} // namespace kestrova::acquisition::detail

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
