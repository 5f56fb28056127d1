// Defect: the channels are crossed over, writing output 0 before input 1 is
// read, so outputs in the inputs' buffers give other audio.
#include "check_test_effect.hpp"

namespace {
class CrossedChannels : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (std::int32_t i = 0; i < frameCount; ++i)
      outputs[0][i] = inputs[1][i];
    for (std::int32_t i = 0; i < frameCount; ++i)
      outputs[1][i] = inputs[0][i];
  }
};
} // namespace

CHECK_TEST_MODULE(CrossedChannels)
