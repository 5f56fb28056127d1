// Defect: each instance starts a helper process that leaves the host's
// process group (a session of its own) and sleeps for ten minutes, holding
// the host's standard output open.
#include <unistd.h>

#include "check_test_effect.hpp"

namespace {
class EscapingFork : public check_test::CheckTestEffect {
public:
  explicit EscapingFork(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    if (fork() == 0) {
      setsid();
      sleep(600);
      _exit(0);
    }
  }
};
} // namespace

CHECK_TEST_MODULE(EscapingFork)
