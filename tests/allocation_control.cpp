#include "allocation_control.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> allocations{0};
std::atomic<bool> failing{false};
std::atomic<std::size_t> remainingSuccesses{0};

// Answers null when the armed budget is spent.
void* allocate(std::size_t size) noexcept {
  if (failing.load(std::memory_order_relaxed)) {
    std::size_t left = remainingSuccesses.load(std::memory_order_relaxed);
    do {
      if (left == 0) return nullptr;
    } while (!remainingSuccesses.compare_exchange_weak(left, left - 1, std::memory_order_relaxed));
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) allocations.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* allocateOrThrow(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
} // namespace

namespace tandrel::test {
std::size_t allocationCount() { return allocations.load(std::memory_order_relaxed); }
void failAllocationsAfter(std::size_t successes) {
  remainingSuccesses.store(successes, std::memory_order_relaxed);
  failing.store(true, std::memory_order_relaxed);
}
void stopFailingAllocations() { failing.store(false, std::memory_order_relaxed); }
} // namespace tandrel::test

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
