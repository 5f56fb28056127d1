// Defect: a gain computed as 1 / level gives infinity wherever the input on
// output 1's channel is exactly 0 (one frame in every 1000 of full-scale
// noise is made so).
#include "check_test_effect.hpp"

namespace {
class Infinity : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    for (std::int32_t i = 0; i < frameCount; ++i, ++frames_)
      if (frames_ % 1000 == 999) outputs[1][i] = 1.0f / (inputs[1][i] * 0.0f);
  }

private:
  long frames_ = 0;
};
} // namespace

CHECK_TEST_MODULE(Infinity)
