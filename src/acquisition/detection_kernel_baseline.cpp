// The detection kernel every processor of the target runs: two lanes per vector (SSE2 on x86).

#define KESTROVA_LANES_BASELINE
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

// Eight channels per group, in four independent vectors.
std::unique_ptr<LaneKernel> make_baseline_kernel() {
  return std::make_unique<baseline::Kernel<4>>();
}

} // namespace kestrova::acquisition::detail
