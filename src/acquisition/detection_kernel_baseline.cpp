// The detection kernel every processor of the target runs: two lanes per vector (SSE2 on x86).

#define KESTROVA_LANES_BASELINE
#include "acquisition/detection_kernel_impl.hpp"

namespace kestrova::acquisition::detail {

namespace {

// One channel in one vector.
class SingleKernel final : public ChannelKernel {
public:
  std::int16_t count_one(const RawBlock& block, int channel, double threshold, int method,
                         const Published& out) override {
    baseline::count_set(lanes_, block, &channel, 1, threshold, method, out);
    return static_cast<std::int16_t>(lanes_.count[0]);
  }

private:
  baseline::Lanes<1> lanes_;
};

} // namespace

std::unique_ptr<ChannelKernel> make_channel_kernel() { return std::make_unique<SingleKernel>(); }

// Eight channels per group, in four independent vectors.
std::unique_ptr<LaneKernel> make_baseline_kernel() {
  return std::unique_ptr<LaneKernel>(new baseline::Kernel<4>);
}

} // namespace kestrova::acquisition::detail
