// Not a fault, a start-up: the gain fades in over the first call, whatever
// its size, so calls of other sizes give other output at the very start and
// the same output after it.
#include "check_test_effect.hpp"

namespace {
class StartUp : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] =
            inputs[c][i] * (first_ ? static_cast<float>(i) / static_cast<float>(frameCount) : 1.0f);
    first_ = false;
  }

private:
  bool first_ = true;
};
} // namespace

CHECK_TEST_MODULE(StartUp)
