// Test helpers for the dispatcher tests: minimal concrete effects on both
// base classes, an editor that records what the frame forwards to it, a
// text buffer with guard bytes, and a host callback that records its calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/effect_base.hpp"
#include "frame/extended_effect_base.hpp"
#include "host/module_host.hpp"

namespace tandrel::dispatch_test {

// The smallest concrete effect on either base class.
template <typename Base> class MinimalEffect : public Base {
public:
  explicit MinimalEffect(HostCallback callback = nullptr, std::int32_t programs = 1,
                         std::int32_t parameters = 2)
      : Base(callback, programs, parameters) {}
  void processAudio(float**, float**, std::int32_t) noexcept override {}
};
using PlainEffect = MinimalEffect<EffectBase>;
using PlainExtended = MinimalEffect<ExtendedEffectBase>;

// Records every call the frame forwards and answers as configured. The
// effect that holds it destroys it; `destroyed` tells the test.
class RecordingEditor : public EffectEditor {
public:
  explicit RecordingEditor(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~RecordingEditor() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  bool getRectangle(void** where) noexcept override {
    ++rectangleCalls;
    lastPointer = where;
    return answer;
  }
  bool open(void* parentWindow) noexcept override {
    ++openCalls;
    lastPointer = parentWindow;
    return answer;
  }
  void close() noexcept override { ++closeCalls; }
  void idle() noexcept override { ++idleCalls; }
  bool keyPressed(KeyRecord& key) noexcept override {
    ++keyPressedCalls;
    lastKey = key;
    return answer;
  }
  bool keyReleased(KeyRecord& key) noexcept override {
    ++keyReleasedCalls;
    lastKey = key;
    return answer;
  }
  bool setKnobMode(std::int32_t mode) noexcept override {
    ++knobModeCalls;
    lastKnobMode = mode;
    return answer;
  }

  int totalCalls() const {
    return rectangleCalls + openCalls + closeCalls + idleCalls + keyPressedCalls + keyReleasedCalls +
           knobModeCalls;
  }

  bool answer = true;
  int rectangleCalls = 0, openCalls = 0, closeCalls = 0, idleCalls = 0;
  int keyPressedCalls = 0, keyReleasedCalls = 0, knobModeCalls = 0;
  void* lastPointer = nullptr;
  KeyRecord lastKey{-1, 0, 0};
  std::int32_t lastKnobMode = -1;

private:
  bool* destroyed_;
};

// Lets a test attach an editor to any effect class (the field is protected;
// the base destructor deletes what is attached).
template <typename Effect> class WithEditor : public Effect {
public:
  using Effect::Effect;
  RecordingEditor& attach(RecordingEditor* editor) {
    this->editor_ = editor;
    return *editor;
  }
};

// A buffer of `capacity` bytes between two guards of 16 bytes, every byte
// filled with `fill`; data() points at the first byte after the front guard
// and is aligned for a pointer, so the buffer may also stand for a host's
// pointer variable.
class GuardedBuffer {
public:
  static constexpr std::size_t guard = 16;
  static constexpr std::size_t capacity = 96;
  static constexpr unsigned char fill = 0xA5;

  GuardedBuffer() { bytes_.fill(fill); }
  char* data() { return reinterpret_cast<char*>(bytes_.data() + guard); }
  unsigned char at(std::size_t position) const { return bytes_[guard + position]; }

  bool guardsIntact() const {
    for (std::size_t i = 0; i < guard; ++i) {
      if (bytes_[i] != fill || bytes_[guard + capacity + i] != fill) return false;
    }
    return true;
  }
  // Payload bytes from `first` to the end still hold the fill.
  bool untouchedFrom(std::size_t first) const {
    for (std::size_t i = first; i < capacity; ++i) {
      if (at(i) != fill) return false;
    }
    return true;
  }
  // Some byte in [0, last] of the payload is zero: the text there ends.
  bool terminatedBy(std::size_t last) const {
    for (std::size_t i = 0; i <= last; ++i) {
      if (at(i) == 0) return true;
    }
    return false;
  }
  // The first sizeof(void*) bytes, as a pointer variable.
  bool holdsNullPointer() const {
    void* held = reinterpret_cast<void*>(1);
    std::memcpy(&held, bytes_.data() + guard, sizeof held);
    return held == nullptr;
  }

private:
  alignas(16) std::array<unsigned char, 2 * guard + capacity> bytes_;
};

// One call of the host callback as the frame made it.
using SeenHostCall = host::HostCall;

// A host callback that records every call and answers 0 (2400 for the
// version query). Clear `calls` before each test.
struct RecordingHost {
  static inline std::vector<SeenHostCall> calls;
  static std::intptr_t callback(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                                std::intptr_t value, void* pointer, float option) {
    calls.push_back({record, opcode, index, value, pointer, option});
    return opcode == 1 ? 2400 : 0;
  }
};

} // namespace tandrel::dispatch_test
