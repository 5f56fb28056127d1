// What the two dispatchers and the host services share: one request as the
// host sent it, and the conversions of its arguments and of the answers.
// Internal to the frame; stateless, [any].
#pragma once

#include <cstddef>
#include <cstdint>

#include "effect_editor.hpp"
#include "opcode_arguments.hpp"

namespace tandrel::dispatch {

// One request as the host sent it, plus the fields of the object that the
// handlers need (read once by dispatch itself).
struct Request {
  std::int32_t opcode;
  std::int32_t index;
  std::intptr_t value;
  void* pointer;
  float option;
  EffectEditor* editor;
  std::int32_t programCount;
};

// A truth value as the interface answers it: exactly 1 or 0.
inline std::intptr_t truth(bool answer) { return answer ? 1 : 0; }

// The request's pointer as the text buffer it designates.
inline char* text(const Request& request) { return static_cast<char*>(request.pointer); }

// Whether the request's pointer is null for opcode `code`, whose operation
// the dispatcher does not call without one (the request then answers 0).
// The handler names its opcode, and frame/opcode_arguments.hpp must list it
// as refusing null: the rule and the table cannot drift apart.
template <std::int32_t code> inline bool pointerMissing(const Request& request) {
  static_assert(refusesNullPointer(code), "opcode_arguments.hpp lets this opcode run without a pointer");
  return request.pointer == nullptr;
}

// A pointer-sized value or answer taken as a 32-bit integer: its low 32 bits.
inline std::int32_t low32(std::intptr_t value) { return static_cast<std::int32_t>(value); }

// Whether a pointer-sized value is a 32-bit signed integer (always, where
// pointers are 4 bytes).
inline bool fits32(std::intptr_t value) {
  if constexpr (sizeof(std::intptr_t) > sizeof(std::int32_t)) {
    return value >= INT32_MIN && value <= INT32_MAX;
  } else {
    return true;
  }
}

// Whether `table`, which serves opcodes from `first` on, holds `handler` in
// the slot of `opcode`: the tables are written in opcode order like the
// interface's own table, and each named case is checked against its slot.
template <typename Table, typename Handler>
constexpr bool inSlot(const Table& table, std::int32_t first, std::int32_t opcode, Handler handler) {
  return table[static_cast<std::size_t>(opcode - first)] == handler;
}

} // namespace tandrel::dispatch
