// Defect: the output is scaled by the call's peak over itself, which is NaN
// for a silent call.
#include <cmath>

#include "check_test_effect.hpp"

namespace {
class NanFromSilence : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    float peak = 0.0f;
    for (std::int32_t i = 0; i < frameCount; ++i)
      peak = std::fmax(peak, std::fabs(inputs[0][i]));
    const float normalised = peak / peak;
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] = inputs[c][i] * normalised;
  }
};
} // namespace

CHECK_TEST_MODULE(NanFromSilence)
