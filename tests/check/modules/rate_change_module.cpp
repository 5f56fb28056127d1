// Defect: a one-pole smoother whose state is sized for the sample rate at
// the first switch-on; when the rate changes, the state is made anew but not
// cleared, and its first value is NaN.
#include <cmath>
#include <limits>

#include "check_test_effect.hpp"

namespace {
class BreaksAfterRateChange : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void resume() noexcept override {
    if (firstRate_ == 0.0f) firstRate_ = getSampleRate();
    if (getSampleRate() != firstRate_) smoothed_ = std::numeric_limits<float>::quiet_NaN();
  }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (std::int32_t i = 0; i < frameCount; ++i) {
      smoothed_ += 0.01f * (getParameter(0) - smoothed_);
      outputs[0][i] = inputs[0][i] * smoothed_;
      outputs[1][i] = inputs[1][i] * smoothed_;
    }
  }

private:
  float firstRate_ = 0.0f;
  float smoothed_ = 1.0f;
};
} // namespace

CHECK_TEST_MODULE(BreaksAfterRateChange)
