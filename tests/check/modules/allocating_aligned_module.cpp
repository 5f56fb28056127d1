// Defect: every processing call takes an aligned scratch buffer from
// aligned_alloc and gives the previous one back.
#include <cstdlib>

#include "check_test_effect.hpp"

namespace {
void* takeAligned(void* previous, std::size_t bytes) {
  std::free(previous);
  return std::aligned_alloc(64, 64 * (1 + bytes / 64));
}
} // namespace

CHECK_TEST_MODULE(check_test::Planted<check_test::ScratchEveryCall<takeAligned>>)
