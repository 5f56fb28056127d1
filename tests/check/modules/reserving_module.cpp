// Defect: switching processing on reserves 20 GB for a buffer (a size
// computed wrongly), with operator new, and uses a little of it. An
// address-space limit refuses the reservation; the exception then ends the
// process.
#include <cstdint>
#include <memory>

#include "check_test_effect.hpp"

namespace {
struct TwentyGigabytes {
  void whenSwitchedOn() noexcept {
    buffer.reset(new float[std::size_t{5} << 30]);
    buffer[0] = 0.0f;
  }
  void afterProcessing(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept {
    if (buffer != nullptr && frameCount > 0) outputs[0][0] += buffer[0];
  }
  std::unique_ptr<float[]> buffer;
};
} // namespace

CHECK_TEST_MODULE(check_test::Planted<TwentyGigabytes>)
