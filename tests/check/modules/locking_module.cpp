// Defect: every processing call takes a mutex that the parameter setter
// shares, so the audio thread may wait for the thread that sets parameters.
#include <mutex>

#include "check_test_effect.hpp"

namespace {
class Locking : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    const std::lock_guard<std::mutex> hold(lock_);
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
  }

private:
  std::mutex lock_;
};
} // namespace

CHECK_TEST_MODULE(Locking)
