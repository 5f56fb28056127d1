// Test helper: compares a call an effect made through the host's callback
// with the six values it should have carried.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "host/module_host.hpp"

namespace tandrel::test {

// Whether `call` carried exactly `expected`'s record, opcode, index, value,
// pointer and float (the float compared bit for bit); names every field that
// differs.
inline ::testing::AssertionResult isHostCall(const host::HostCall& call, const host::HostCall& expected) {
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  bool same = true;
  auto compare = [&](bool equal, const char* field, auto actual, auto wanted) {
    if (equal) return;
    if (same) result = ::testing::AssertionFailure();
    same = false;
    result << field << " " << actual << " instead of " << wanted << "; ";
  };
  compare(call.record == expected.record, "record", static_cast<const void*>(call.record),
          static_cast<const void*>(expected.record));
  compare(call.opcode == expected.opcode, "opcode", call.opcode, expected.opcode);
  compare(call.index == expected.index, "index", call.index, expected.index);
  compare(call.value == expected.value, "value", call.value, expected.value);
  compare(call.pointer == expected.pointer, "pointer", call.pointer, expected.pointer);
  compare(std::bit_cast<std::uint32_t>(call.option) == std::bit_cast<std::uint32_t>(expected.option), "float",
          call.option, expected.option);
  return result;
}

} // namespace tandrel::test
