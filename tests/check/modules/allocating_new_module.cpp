// Defect: every processing call takes a scratch buffer from operator new.
#include <vector>

#include "check_test_effect.hpp"

namespace {
class AllocatingNew : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    const std::vector<float> scratch(inputs[0], inputs[0] + frameCount);
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (!scratch.empty()) outputs[0][0] = scratch[0];
  }
};
} // namespace

CHECK_TEST_MODULE(AllocatingNew)
