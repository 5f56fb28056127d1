// A shape, not a defect: no inputs and no outputs (a module that only
// analyses or sends events). Nothing to render; no check may crash on it.
#include "check_test_effect.hpp"

namespace {
class NoChannels : public check_test::CheckTestEffect {
public:
  explicit NoChannels(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    setInputCount(0);
    setOutputCount(0);
  }
  void processAudio(float**, float**, std::int32_t) noexcept override {}
};
} // namespace

CHECK_TEST_MODULE(NoChannels)
