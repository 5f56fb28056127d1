// Defect: every processing call resizes a scratch buffer with realloc to the
// call's frame count, so its size changes with the calls.
#include <cstdlib>

#include "check_test_effect.hpp"

namespace {
void* resizeWithRealloc(void* previous, std::size_t bytes) {
  void* resized = std::realloc(previous, bytes);
  if (resized == nullptr) std::free(previous);
  return resized;
}
} // namespace

CHECK_TEST_MODULE(check_test::Planted<check_test::ScratchEveryCall<resizeWithRealloc>>)
