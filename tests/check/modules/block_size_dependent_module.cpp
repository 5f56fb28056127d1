// Defect: the gain eases in by one step per processing call, so the output
// depends on how the host divides the audio into calls.
#include "check_test_effect.hpp"

namespace {
class BlockSizeDependent : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    easing_ = 0.5f * (easing_ + 1.0f);
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] = inputs[c][i] * easing_;
  }

private:
  float easing_ = 0.0f;
};
} // namespace

CHECK_TEST_MODULE(BlockSizeDependent)
