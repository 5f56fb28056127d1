// Defect: every processing call takes a scratch buffer from the C library's
// malloc, as code with a statically linked C++ runtime would.
#include <cstdlib>
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class AllocatingMalloc : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    auto* scratch =
        static_cast<float*>(std::malloc(sizeof(float) * static_cast<std::size_t>(frameCount + 1)));
    if (scratch != nullptr && frameCount > 0) std::memcpy(scratch, inputs[0], sizeof(float));
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
    if (scratch != nullptr && frameCount > 0) outputs[0][0] = scratch[0];
    std::free(scratch);
  }
};
} // namespace

CHECK_TEST_MODULE(AllocatingMalloc)
