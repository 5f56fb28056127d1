// Defect: every processing call takes a zeroed scratch buffer from calloc and
// gives the previous one back.
#include <cstdlib>
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class AllocatingCalloc : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  ~AllocatingCalloc() override { std::free(scratch_); }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    std::free(scratch_);
    scratch_ = static_cast<float*>(std::calloc(static_cast<std::size_t>(frameCount + 1), sizeof(float)));
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch_ != nullptr && frameCount > 0) outputs[0][0] += scratch_[0];
  }

private:
  float* scratch_ = nullptr;
};
} // namespace

CHECK_TEST_MODULE(AllocatingCalloc)
