// Defect: every instance takes a 64 kB table and never gives it back.
#include "check_test_effect.hpp"

namespace {
class Leaking : public check_test::CheckTestEffect {
public:
  explicit Leaking(tandrel::HostCallback callback)
      : CheckTestEffect(callback), table_(new float[tableLength]()) {}

private:
  static constexpr int tableLength = 16384;
  float* table_;
};
} // namespace

CHECK_TEST_MODULE(Leaking)
