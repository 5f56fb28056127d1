// Defect: the parameter name has 12 characters, 4 more than its documented
// buffer holds, though within what hosts usually provide.
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class LongName : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void getParameterName(std::int32_t index, char* text) noexcept override {
    if (index == 0) std::strcpy(text, "Output gain");
  }
};
} // namespace

CHECK_TEST_MODULE(LongName)
