// The detection kernel for processors with AVX2: four lanes per vector. Built with -mavx2 and
// run only where the processor has it.

#define KESTROVA_LANES_AVX2
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

// Sixteen channels per group, in four independent vectors.
std::unique_ptr<LaneKernel> make_avx2_kernel() { return std::make_unique<avx2::Kernel<4>>(); }

} // namespace kestrova::acquisition::detail
