// Defect: every processing call takes a scratch buffer from operator new and
// gives the previous one back. The buffer outlives the call, so no optimiser
// can drop the pair of calls.
#include <memory>

#include "check_test_effect.hpp"

namespace {
class AllocatingNew : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    scratch_.reset(new (std::nothrow) float[static_cast<std::size_t>(frameCount) + 1]);
    if (scratch_ != nullptr && frameCount > 0) scratch_[0] = inputs[0][0];
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch_ != nullptr && frameCount > 0) outputs[0][0] = scratch_[0];
  }

private:
  std::unique_ptr<float[]> scratch_;
};
} // namespace

CHECK_TEST_MODULE(AllocatingNew)
