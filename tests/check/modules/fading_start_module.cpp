// Defect, reported as a warning: the gain rises from 0 to 1 by one step per
// processing call rather than per frame, so calls of other sizes give other
// output until it has settled, about three seconds in: a start-up
// difference that outlasts the first half second and fades.
#include "check_test_effect.hpp"

namespace {
class FadingStart : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] = inputs[c][i] * rise_;
    rise_ += (1.0f - rise_) * 0.05f;
  }

private:
  float rise_ = 0.0f;
};
} // namespace

CHECK_TEST_MODULE(FadingStart)
