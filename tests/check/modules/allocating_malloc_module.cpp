// Defect: every processing call takes a scratch buffer from the C library's
// malloc and gives the previous one back, as code with a statically linked
// C++ runtime would.
#include <cstdlib>

#include "check_test_effect.hpp"

namespace {
void* takeFromMalloc(void* previous, std::size_t bytes) {
  std::free(previous);
  return std::malloc(bytes);
}
} // namespace

CHECK_TEST_MODULE(check_test::Planted<check_test::ScratchEveryCall<takeFromMalloc>>)
