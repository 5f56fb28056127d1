// Defect: every processing call writes one sample past the end of output 0.
#include "check_test_effect.hpp"

namespace {
class OutputOverrun : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (frameCount > 0) outputs[0][frameCount] = 0.0f;
  }
};
} // namespace

CHECK_TEST_MODULE(OutputOverrun)
