// Counts the memory allocations and releases made on the thread that switched
// counting on, while it is on, by any code (the module's, the C++ runtime's,
// the C library's): the tool's own
// replacements of the C allocation functions and of operator new and delete
// (sanitizer builds, whose runtime owns those functions, use the runtime's
// allocation hooks instead). A module that links its C++ runtime statically
// still allocates through the C functions, so it is seen too.
//
// Threads the module runs itself are not counted: what they do is not the
// processing call's business.
//
// Thread: [any]; one thread counts at a time. The counters are atomic and the
// counting path neither allocates nor locks.
#pragma once

#include <cstddef>

namespace tandrel::check {

struct AllocationCounts {
  std::size_t allocations = 0;
  std::size_t releases = 0;
};

// Switches counting on or off for the calling thread; switching on also
// clears the counts.
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
