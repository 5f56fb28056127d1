// Defect: every processing call writes one sample past the end of output 0.
#include <cstdint>

#include "check_test_effect.hpp"

namespace {
struct OnePastTheEnd {
  void afterProcessing(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept {
    if (frameCount > 0) outputs[0][frameCount] = 0.0f;
  }
};
} // namespace

CHECK_TEST_MODULE(check_test::Planted<OnePastTheEnd>)
