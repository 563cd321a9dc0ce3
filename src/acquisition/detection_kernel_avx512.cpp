// The detection kernel for processors with AVX-512: eight lanes per vector. Built with
// -mavx512f and run only where the processor has it.

#define KESTROVA_LANES_AVX512
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

// Sixteen channels per group, in two independent vectors.
std::unique_ptr<LaneKernel> make_avx512_kernel() { return std::make_unique<avx512::Kernel<4>>(); }

} // namespace kestrova::acquisition::detail
