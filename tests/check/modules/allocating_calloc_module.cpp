// Defect: every processing call takes a zeroed scratch buffer from calloc and
// gives the previous one back.
#include <cstdlib>

#include "check_test_effect.hpp"

namespace {
void* takeFromCalloc(void* previous, std::size_t bytes) {
  std::free(previous);
  return std::calloc(bytes, 1);
}
} // namespace

CHECK_TEST_MODULE(check_test::Planted<check_test::ScratchEveryCall<takeFromCalloc>>)
