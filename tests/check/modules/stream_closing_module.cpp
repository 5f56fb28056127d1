// Defect: opening an instance closes the process's standard input, output
// and error, as a module that "detaches" itself might; the host can no
// longer print.
#include <unistd.h>

#include "check_test_effect.hpp"

namespace {
class StreamClosing : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void open() noexcept override {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
      ::close(stream);
  }
};
} // namespace

CHECK_TEST_MODULE(StreamClosing)
