// Defect: a new gain is reached by a ramp over the frames that passed since
// the previous change, less a 32-frame settling window, whose first step is
// taken at once. When changes come every 32 frames the ramp is 0 frames long
// and its step a division by zero: the output turns infinite or NaN.
#include <atomic>

#include "check_test_effect.hpp"

namespace {
class NanOnAutomation : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void setParameter(std::int32_t index, float value) noexcept override {
    if (index != 0) return;
    target_.store(value);
    changed_.store(true);
  }
  float getParameter(std::int32_t index) noexcept override { return index == 0 ? target_.load() : 0.0f; }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    if (changed_.exchange(false)) {
      step_ = (target_.load() - gain_) / static_cast<float>(framesSinceChange_ - 32);
      gain_ += step_;
      rampLeft_ = framesSinceChange_ > 33 ? framesSinceChange_ - 33 : 0;
      framesSinceChange_ = 0;
    }
    for (std::int32_t i = 0; i < frameCount; ++i) {
      if (rampLeft_ > 0) {
        gain_ += step_;
        --rampLeft_;
      }
      outputs[0][i] = inputs[0][i] * gain_;
      outputs[1][i] = inputs[1][i] * gain_;
    }
    framesSinceChange_ += frameCount;
  }

private:
  std::atomic<float> target_{1.0f};
  std::atomic<bool> changed_{false};
  float gain_ = 1.0f, step_ = 0.0f;
  std::int32_t rampLeft_ = 0, framesSinceChange_ = 0;
};
} // namespace

CHECK_TEST_MODULE(NanOnAutomation)
