// Defect: the parameter name is written as 99 characters into a buffer
// documented to hold 8 and a terminator.
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class TextOverflow : public check_test::CheckTestEffect {
public:
  using CheckTestEffect::CheckTestEffect;
  void getParameterName(std::int32_t index, char* text) noexcept override {
    if (index != 0) return;
    std::memset(text, ' ', 99);
    std::memcpy(text, "Gain", 4);
    text[99] = '\0';
  }
};
} // namespace

CHECK_TEST_MODULE(TextOverflow)
