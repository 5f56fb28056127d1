// Defect: every processing call takes a scratch buffer from the C library's
// malloc and gives the previous one back, as code with a statically linked
// C++ runtime would. The buffer outlives the call, so no optimiser can drop
// the pair of calls.
#include <cstdlib>
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class AllocatingMalloc : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  ~AllocatingMalloc() override { std::free(scratch_); }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    std::free(scratch_);
    scratch_ = static_cast<float*>(std::malloc(sizeof(float) * static_cast<std::size_t>(frameCount + 1)));
    if (scratch_ != nullptr && frameCount > 0) std::memcpy(scratch_, inputs[0], sizeof(float));
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch_ != nullptr && frameCount > 0) outputs[0][0] = scratch_[0];
  }

private:
  float* scratch_ = nullptr;
};
} // namespace

CHECK_TEST_MODULE(AllocatingMalloc)
