// Defect: dither noise seeded from a count of the instances made, so no two
// instances give the same output.
#include <cstdint>

#include "check_test_effect.hpp"

namespace {
class Dithering : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    for (std::int32_t i = 0; i < frameCount; ++i) {
      state_ = state_ * 1664525u + 1013904223u;
      const float dither = static_cast<float>(state_ >> 8) * 0x1p-24f * 0x1p-16f;
      outputs[0][i] += dither;
      outputs[1][i] += dither;
    }
  }

private:
  static inline std::uint32_t instancesMade = 0;
  std::uint32_t state_ = ++instancesMade;
};
} // namespace

CHECK_TEST_MODULE(Dithering)
