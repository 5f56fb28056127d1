// A byte buffer of exactly the size an interface promises, with guard
// regions on both sides. The guards hold a known pattern that intact() checks
// after a call; under the address sanitizer they are also poisoned, so a read
// or write that strays into them stops the run at the faulting instruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TANDREL_HOST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TANDREL_HOST_ASAN 1
#endif

#if TANDREL_HOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace tandrel::host {

class GuardedBuffer {
public:
  static constexpr std::size_t guardBytes = 64;
  static constexpr unsigned char guardPattern = 0xA5;

  // `size` usable bytes, each set to `fill`.
  explicit GuardedBuffer(std::size_t size, unsigned char fill = 0)
      : size_(size), storage_(size + 2 * guardBytes + alignment) {
    // The payload starts on an 8-byte boundary so it may hold pointers and
    // 32-bit fields; the leading guard is at least guardBytes long.
    const auto base = reinterpret_cast<std::uintptr_t>(storage_.data()) + guardBytes;
    offset_ = guardBytes + (alignment - base % alignment) % alignment;
    std::memset(storage_.data(), guardPattern, storage_.size());
    std::memset(data(), fill, size_);
    poison(true);
  }
  ~GuardedBuffer() { poison(false); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  unsigned char* data() { return storage_.data() + offset_; }
  const unsigned char* data() const { return storage_.data() + offset_; }
  std::size_t size() const { return size_; }

  // True when no byte outside the payload has changed.
  bool intact() {
    poison(false);
    bool same = true;
    for (std::size_t i = 0; i < storage_.size(); ++i) {
      if (i >= offset_ && i < offset_ + size_) continue;
      if (storage_[i] != guardPattern) same = false;
    }
    poison(true);
    return same;
  }

  // True when every payload byte still holds `fill`.
  bool holdsOnly(unsigned char fill) const {
    for (std::size_t i = 0; i < size_; ++i)
      if (data()[i] != fill) return false;
    return true;
  }

private:
  static constexpr std::size_t alignment = 8;

  void poison([[maybe_unused]] bool on) {
#if TANDREL_HOST_ASAN
    unsigned char* begin = storage_.data();
    unsigned char* payloadEnd = data() + size_;
    if (on) {
      ASAN_POISON_MEMORY_REGION(begin, offset_);
      ASAN_POISON_MEMORY_REGION(payloadEnd, storage_.size() - offset_ - size_);
    } else {
      ASAN_UNPOISON_MEMORY_REGION(begin, storage_.size());
    }
#endif
  }

  std::size_t size_;
  std::size_t offset_ = 0;
  std::vector<unsigned char> storage_;
};

} // namespace tandrel::host
