// Defect: every processing call prints 64 KiB of log to standard output.
#include <unistd.h>

#include <cstring>

#include "check_test_effect.hpp"

namespace {
class Spew : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override {
    static char line[65536];
    std::memset(line, 'x', sizeof line);
    line[sizeof line - 1] = '\n';
    [[maybe_unused]] const ssize_t written = write(STDOUT_FILENO, line, sizeof line);
    CheckTestEffect::processAudio(inputs, outputs, frameCount);
  }
};
} // namespace

CHECK_TEST_MODULE(Spew)
