// Defect: the audio comes out 64 frames late, but the record reports no delay.
#include "check_test_effect.hpp"

namespace {
class HiddenDelay : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (std::int32_t i = 0; i < frameCount; ++i) {
      for (int c = 0; c < 2; ++c) {
        const float in = inputs[c][i];
        outputs[c][i] = line_[c][position_];
        line_[c][position_] = in;
      }
      position_ = (position_ + 1) % delayFrames;
    }
  }

private:
  static constexpr int delayFrames = 64;
  float line_[2][delayFrames] = {};
  int position_ = 0;
};
} // namespace

CHECK_TEST_MODULE(HiddenDelay)
