// Defect: dither noise seeded from a count of the instances made, so no two
// instances give the same output.
#include <cstdint>

#include "check_test_effect.hpp"

namespace {
struct Dither {
  void afterProcessing(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept {
    for (std::int32_t i = 0; i < frameCount; ++i) {
      state = state * 1664525u + 1013904223u;
      const float dither = static_cast<float>(state >> 8) * 0x1p-24f * 0x1p-16f;
      outputs[0][i] += dither;
      outputs[1][i] += dither;
    }
  }
  static inline std::uint32_t instancesMade = 0;
  std::uint32_t state = ++instancesMade;
};
} // namespace

CHECK_TEST_MODULE(check_test::Planted<Dither>)
