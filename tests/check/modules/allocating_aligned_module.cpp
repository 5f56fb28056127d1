// Defect: every processing call takes an aligned scratch buffer from
// aligned_alloc and gives the previous one back.
#include <cstdlib>

#include "check_test_effect.hpp"

namespace {
class AllocatingAligned : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  ~AllocatingAligned() override { std::free(scratch_); }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    std::free(scratch_);
    const std::size_t bytes = 64 * (1 + sizeof(float) * static_cast<std::size_t>(frameCount) / 64);
    scratch_ = static_cast<float*>(std::aligned_alloc(64, bytes));
    if (scratch_ != nullptr) scratch_[0] = 0.0f;
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch_ != nullptr && frameCount > 0) outputs[0][0] += scratch_[0];
  }

private:
  float* scratch_ = nullptr;
};
} // namespace

CHECK_TEST_MODULE(AllocatingAligned)
