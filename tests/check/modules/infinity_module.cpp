// Defect: a gain computed as 1 / level gives infinity wherever the input on
// output 1's channel is exactly 0 (one frame in every 1000 of full-scale
// noise is made so).
#include <cstdint>

#include "check_test_effect.hpp"

namespace {
struct OneOverZero {
  void afterProcessing(float** inputs, float** outputs, std::int32_t frameCount) noexcept {
    for (std::int32_t i = 0; i < frameCount; ++i, ++frames)
      if (frames % 1000 == 999) outputs[1][i] = 1.0f / (inputs[1][i] * 0.0f);
  }
  long frames = 0;
};
} // namespace

CHECK_TEST_MODULE(check_test::Planted<OneOverZero>)
