// Defect, on a module without inputs (an instrument's shape): its outputs are
// NaN from the start, which only a host that renders its outputs sees.
#include <limits>

#include "check_test_effect.hpp"

namespace {
class InstrumentNan : public check_test::CheckTestEffect {
public:
  explicit InstrumentNan(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    setInputCount(0);
    setInstrument(true);
  }
  void processAudio(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept override {
    for (int c = 0; c < 2; ++c)
      for (std::int32_t i = 0; i < frameCount; ++i)
        outputs[c][i] = std::numeric_limits<float>::quiet_NaN();
  }
};
} // namespace

CHECK_TEST_MODULE(InstrumentNan)
