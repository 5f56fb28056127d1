// Defect: a call of one frame crashes. The signal is raised directly, as a
// stray pointer would raise it, so that sanitizer builds see the same crash.
#include <csignal>

#include "check_test_effect.hpp"

namespace {
class CrashOnOneFrame : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    if (frameCount == 1) std::raise(SIGSEGV);
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
  }
};
} // namespace

CHECK_TEST_MODULE(CrashOnOneFrame)
