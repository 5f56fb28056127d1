// Defect: every processing call resizes a scratch buffer with realloc to the
// call's frame count, so its size changes with the calls.
#include <cstdlib>
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class AllocatingRealloc : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  ~AllocatingRealloc() override { std::free(scratch_); }
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    void* resized = std::realloc(scratch_, sizeof(float) * static_cast<std::size_t>(frameCount + 1));
    if (resized != nullptr) scratch_ = static_cast<float*>(resized);
    if (scratch_ != nullptr) scratch_[0] = 0.0f;
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch_ != nullptr && frameCount > 0) outputs[0][0] += scratch_[0];
  }

private:
  float* scratch_ = nullptr;
};
} // namespace

CHECK_TEST_MODULE(AllocatingRealloc)
