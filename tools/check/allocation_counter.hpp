// Counts the memory allocations and releases that happen while counting is
// switched on, from any thread and any code in the process: the tool's own
// replacements of the C allocation functions and of operator new and delete
// (sanitizer builds, whose runtime owns those functions, use the runtime's
// allocation hooks instead). A module that links its C++ runtime statically
// still allocates through the C functions, so it is seen too.
//
// Thread: counting may be switched and read from any thread; the counters are
// atomic and the counting path neither allocates nor locks.
#pragma once

#include <cstddef>

namespace tandrel::check {

struct AllocationCounts {
  std::size_t allocations = 0;
  std::size_t releases = 0;
};

// Switches counting on or off; switching on also clears the counts.
void countAllocations(bool on);
AllocationCounts allocationCounts();

// Counts for its lifetime, e.g. around one processing call.
class AllocationCounting {
public:
  AllocationCounting() { countAllocations(true); }
  ~AllocationCounting() { countAllocations(false); }
  AllocationCounting(const AllocationCounting&) = delete;
  AllocationCounting& operator=(const AllocationCounting&) = delete;
};

} // namespace tandrel::check
