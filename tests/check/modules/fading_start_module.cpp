// Defect, reported as a warning: the gain rises from 0 to 1 by one step per
// processing call rather than per frame, so calls of other sizes give other
// output until it has settled, about three seconds in: a start-up
// difference that outlasts the first half second and fades.
#include <cstdint>

#include "check_test_effect.hpp"

namespace {
struct RiseByCall {
  void afterProcessing(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept {
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] *= rise;
    rise += (1.0f - rise) * 0.05f;
  }
  float rise = 0.0f;
};
} // namespace

CHECK_TEST_MODULE(check_test::Planted<RiseByCall>)
