// Defect: asked for its tail size (opcode 52), it never answers.
#include <chrono>
#include <thread>

#include "check_test_effect.hpp"

namespace {
class Hang : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  std::int32_t getTailSize() noexcept override {
    for (;;)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  }
};
} // namespace

CHECK_TEST_MODULE(Hang)
