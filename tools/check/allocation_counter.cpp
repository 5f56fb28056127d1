#include "allocation_counter.hpp"

#include <execinfo.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TANDREL_CHECK_SANITIZER_HOOKS 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TANDREL_CHECK_SANITIZER_HOOKS 1
#endif
#endif

namespace {

// Whether this thread counts. Initial-exec TLS: reading it never allocates,
// which the allocation functions below rely on.
thread_local __attribute__((tls_model("initial-exec"))) bool countingHere = false;
std::atomic<std::size_t> allocationTotal{0};
std::atomic<std::size_t> releaseTotal{0};

// The stack of the first allocation counted, taken outside sanitizer builds
// (whose hooks run inside the runtime's allocator). The unwinder is loaded
// before counting starts, so taking a stack does not allocate.
constexpr int stackDepth = 24;
void* firstStack[stackDepth];
std::atomic<int> firstStackDepth{0};

void noteFirstStack() {
#if !TANDREL_CHECK_SANITIZER_HOOKS
  // Set while the stack is taken, which may allocate itself.
  static thread_local __attribute__((tls_model("initial-exec"))) bool takingStack = false;
  if (firstStackDepth.load(std::memory_order_relaxed) != 0 || takingStack) return;
  takingStack = true;
  firstStackDepth.store(std::max(1, backtrace(firstStack, stackDepth)), std::memory_order_relaxed);
  takingStack = false;
#endif
}

void noteAllocation() {
  if (!countingHere) return;
  allocationTotal.fetch_add(1, std::memory_order_relaxed);
  noteFirstStack();
}
void noteRelease() {
  if (countingHere) releaseTotal.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

namespace tandrel::check {

void countAllocations(bool on) {
  static const bool unwinderLoaded = [] {
    void* frame[1];
    return backtrace(frame, 1) > 0;
  }();
  (void)unwinderLoaded;
  if (on) {
    firstStackDepth.store(0, std::memory_order_relaxed);
    allocationTotal.store(0, std::memory_order_relaxed);
    releaseTotal.store(0, std::memory_order_relaxed);
  }
  countingHere = on;
}

std::vector<const void*> firstAllocationStack() {
  const int depth = std::min(firstStackDepth.load(std::memory_order_relaxed), stackDepth);
  return std::vector<const void*>(firstStack, firstStack + depth);
}

AllocationCounts allocationCounts() {
  return {allocationTotal.load(std::memory_order_relaxed), releaseTotal.load(std::memory_order_relaxed)};
}

} // namespace tandrel::check

#if TANDREL_CHECK_SANITIZER_HOOKS

// The sanitizer runtime replaces the allocation functions itself and calls
// these hooks for every allocation and release, operator new included.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*allocated)(const volatile void*, std::size_t),
                                                         void (*released)(const volatile void*));

namespace {
void allocatedHook(const volatile void*, std::size_t) { noteAllocation(); }
void releasedHook(const volatile void*) { noteRelease(); }
[[maybe_unused]] const bool hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(allocatedHook, releasedHook) != 0;
} // namespace

#else

// The C library's own allocator under its internal names; the replacements
// below count and hand every request to it, so memory obtained through any
// path may be released through any other.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

void* countedAllocate(std::size_t size) {
  void* block = __libc_malloc(size);
  if (block != nullptr) noteAllocation();
  return block;
}

void* countedAlignedAllocate(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  if (block != nullptr) noteAllocation();
  return block;
}

void countedRelease(void* block) {
  if (block == nullptr) return;
  noteRelease();
  __libc_free(block);
}

void* allocateOrThrow(std::size_t size) {
  void* block = countedAllocate(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void* block = countedAlignedAllocate(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

} // namespace

extern "C" {

void* malloc(std::size_t size) { return countedAllocate(size); }

void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  if (block != nullptr) noteAllocation();
  return block;
}

// A resize counts as one allocation; a resize to zero of a block releases it.
void* realloc(void* block, std::size_t size) {
  void* resized = __libc_realloc(block, size);
  if (resized != nullptr) {
    noteAllocation();
  } else if (block != nullptr && size == 0) {
    noteRelease();
  }
  return resized;
}

void free(void* block) { countedRelease(block); }

void* memalign(std::size_t alignment, std::size_t size) { return countedAlignedAllocate(alignment, size); }

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return countedAlignedAllocate(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = countedAlignedAllocate(alignment, size);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}

} // extern "C"

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return countedAllocate(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return countedAllocate(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return countedAlignedAllocate(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return countedAlignedAllocate(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { countedRelease(block); }
void operator delete[](void* block) noexcept { countedRelease(block); }
void operator delete(void* block, std::size_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { countedRelease(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { countedRelease(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { countedRelease(block); }
void operator delete(void* block, std::align_val_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::align_val_t) noexcept { countedRelease(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { countedRelease(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { countedRelease(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  countedRelease(block);
}

#endif
