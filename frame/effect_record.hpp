// The record that a host holds for every effect instance, the host's callback
// type, and the plain-function entries stored in the record.
//
// This header is shared by the module and by the project's own hosts, so it
// contains declarations only and depends on the standard library's integer
// types and the interface's vocabulary (protocol.hpp) alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol.hpp"

namespace tandrel {

struct EffectRecord;

// The host's function. Arguments, in order: the record address (null only in
// the version query of the entry point), host opcode, index, value, pointer,
// float. Returns a pointer-sized answer.
// Thread: called by the frame on whichever thread the frame itself was called.
using HostCallback = std::intptr_t (*)(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                                       std::intptr_t value, void* pointer, float option);

// Entry functions. Each receives the record address first and finds its
// object through the record's owning-object field.
using DispatcherEntry = std::intptr_t (*)(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                                          std::intptr_t value, void* pointer, float option);
using ProcessEntry = void (*)(EffectRecord* record, float** inputs, float** outputs, std::int32_t frameCount);
using Process64Entry = void (*)(EffectRecord* record, double** inputs, double** outputs,
                                std::int32_t frameCount);
using SetParameterEntry = void (*)(EffectRecord* record, std::int32_t index, float value);
using GetParameterEntry = float (*)(EffectRecord* record, std::int32_t index);

// The fixed-layout record exchanged with the host. Every field keeps its
// place; entries, the two reserved words, the owning object and the host's
// own field are pointer-sized, so the record is 144 bytes where pointers are
// 4 bytes and 192 bytes where they are 8. The layout is asserted below.
struct EffectRecord {
  std::int32_t magic;
  DispatcherEntry dispatcherEntry;
  ProcessEntry oldProcessEntry;
  SetParameterEntry setParameterEntry;
  GetParameterEntry getParameterEntry;
  std::int32_t programCount;
  std::int32_t parameterCount;
  std::int32_t inputCount;
  std::int32_t outputCount;
  std::int32_t flags;
  std::intptr_t reserved1;
  std::intptr_t reserved2;
  std::int32_t initialDelay;
  std::int32_t realtimeQualities;
  std::int32_t offlineQualities;
  float inputOutputRatio;
  void* owningObject;
  void* hostField; // belongs to the host; the plug-in never reads or writes it
  std::int32_t uniqueIdentifier;
  std::int32_t recordVersion;
  ProcessEntry replacingProcessEntry;
  Process64Entry replacing64ProcessEntry;
  char reservedTail[56];
};

#if INTPTR_MAX == INT64_MAX || INTPTR_MAX == INT32_MAX
// The record's layout on both pointer widths: each field's offset with 8-byte
// pointers, then with 4-byte ones.
namespace recordLayout {
constexpr std::size_t offset(std::size_t withWidePointers, std::size_t withNarrowPointers) {
  return INTPTR_MAX == INT64_MAX ? withWidePointers : withNarrowPointers;
}
} // namespace recordLayout
static_assert(sizeof(EffectRecord) == recordLayout::offset(192, 144));
static_assert(offsetof(EffectRecord, dispatcherEntry) == recordLayout::offset(8, 4));
static_assert(offsetof(EffectRecord, oldProcessEntry) == recordLayout::offset(16, 8));
static_assert(offsetof(EffectRecord, setParameterEntry) == recordLayout::offset(24, 12));
static_assert(offsetof(EffectRecord, getParameterEntry) == recordLayout::offset(32, 16));
static_assert(offsetof(EffectRecord, programCount) == recordLayout::offset(40, 20));
static_assert(offsetof(EffectRecord, parameterCount) == recordLayout::offset(44, 24));
static_assert(offsetof(EffectRecord, inputCount) == recordLayout::offset(48, 28));
static_assert(offsetof(EffectRecord, outputCount) == recordLayout::offset(52, 32));
static_assert(offsetof(EffectRecord, flags) == recordLayout::offset(56, 36));
static_assert(offsetof(EffectRecord, reserved1) == recordLayout::offset(64, 40));
static_assert(offsetof(EffectRecord, reserved2) == recordLayout::offset(72, 44));
static_assert(offsetof(EffectRecord, initialDelay) == recordLayout::offset(80, 48));
static_assert(offsetof(EffectRecord, realtimeQualities) == recordLayout::offset(84, 52));
static_assert(offsetof(EffectRecord, offlineQualities) == recordLayout::offset(88, 56));
static_assert(offsetof(EffectRecord, inputOutputRatio) == recordLayout::offset(92, 60));
static_assert(offsetof(EffectRecord, owningObject) == recordLayout::offset(96, 64));
static_assert(offsetof(EffectRecord, hostField) == recordLayout::offset(104, 68));
static_assert(offsetof(EffectRecord, uniqueIdentifier) == recordLayout::offset(112, 72));
static_assert(offsetof(EffectRecord, recordVersion) == recordLayout::offset(116, 76));
static_assert(offsetof(EffectRecord, replacingProcessEntry) == recordLayout::offset(120, 80));
static_assert(offsetof(EffectRecord, replacing64ProcessEntry) == recordLayout::offset(128, 84));
static_assert(offsetof(EffectRecord, reservedTail) == recordLayout::offset(136, 88));
#endif

} // namespace tandrel
