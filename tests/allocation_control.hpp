// Test-wide control over the global allocation functions: the test program
// replaces every form of operator new and operator delete (see
// allocation_control.cpp) so that tests can count allocations and make them
// fail on demand. Replacing them again elsewhere in the test program would
// not link: use this instead.
#pragma once

#include <cstddef>

namespace tandrel::test {

// Number of successful operator new calls (all forms) since program start.
std::size_t allocationCount();

// While armed, the next `successes` allocations succeed and every later one
// fails: nothrow forms answer null, the others throw std::bad_alloc.
void failAllocationsAfter(std::size_t successes);
void stopFailingAllocations();

// Arms failAllocationsAfter for its lifetime.
class FailingAllocations {
public:
  explicit FailingAllocations(std::size_t successes) { failAllocationsAfter(successes); }
  ~FailingAllocations() { stopFailingAllocations(); }
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
};

} // namespace tandrel::test
