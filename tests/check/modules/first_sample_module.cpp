// Defect: every call reads the first input sample, even of an empty call
// whose channel arrays are null.
#include "check_test_effect.hpp"

namespace {
class FirstSample : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    lastFirstSample_ = inputs[0][0];
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
  }

private:
  volatile float lastFirstSample_ = 0.0f;
};
} // namespace

CHECK_TEST_MODULE(FirstSample)
