// Defect: the first processing call never returns.
#include <chrono>
#include <thread>

#include "check_test_effect.hpp"

namespace {
class HangEverywhere : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float**, float**, std::int32_t) noexcept override {
    for (;;)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  }
};
} // namespace

CHECK_TEST_MODULE(HangEverywhere)
