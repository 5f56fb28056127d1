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

#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(EffectRecord) == 192);
static_assert(offsetof(EffectRecord, dispatcherEntry) == 8);
static_assert(offsetof(EffectRecord, oldProcessEntry) == 16);
static_assert(offsetof(EffectRecord, setParameterEntry) == 24);
static_assert(offsetof(EffectRecord, getParameterEntry) == 32);
static_assert(offsetof(EffectRecord, programCount) == 40);
static_assert(offsetof(EffectRecord, parameterCount) == 44);
static_assert(offsetof(EffectRecord, inputCount) == 48);
static_assert(offsetof(EffectRecord, outputCount) == 52);
static_assert(offsetof(EffectRecord, flags) == 56);
static_assert(offsetof(EffectRecord, reserved1) == 64);
static_assert(offsetof(EffectRecord, reserved2) == 72);
static_assert(offsetof(EffectRecord, initialDelay) == 80);
static_assert(offsetof(EffectRecord, realtimeQualities) == 84);
static_assert(offsetof(EffectRecord, offlineQualities) == 88);
static_assert(offsetof(EffectRecord, inputOutputRatio) == 92);
static_assert(offsetof(EffectRecord, owningObject) == 96);
static_assert(offsetof(EffectRecord, hostField) == 104);
static_assert(offsetof(EffectRecord, uniqueIdentifier) == 112);
static_assert(offsetof(EffectRecord, recordVersion) == 116);
static_assert(offsetof(EffectRecord, replacingProcessEntry) == 120);
static_assert(offsetof(EffectRecord, replacing64ProcessEntry) == 128);
static_assert(offsetof(EffectRecord, reservedTail) == 136);
#elif INTPTR_MAX == INT32_MAX
static_assert(sizeof(EffectRecord) == 144);
static_assert(offsetof(EffectRecord, dispatcherEntry) == 4);
static_assert(offsetof(EffectRecord, oldProcessEntry) == 8);
static_assert(offsetof(EffectRecord, setParameterEntry) == 12);
static_assert(offsetof(EffectRecord, getParameterEntry) == 16);
static_assert(offsetof(EffectRecord, programCount) == 20);
static_assert(offsetof(EffectRecord, parameterCount) == 24);
static_assert(offsetof(EffectRecord, inputCount) == 28);
static_assert(offsetof(EffectRecord, outputCount) == 32);
static_assert(offsetof(EffectRecord, flags) == 36);
static_assert(offsetof(EffectRecord, reserved1) == 40);
static_assert(offsetof(EffectRecord, reserved2) == 44);
static_assert(offsetof(EffectRecord, initialDelay) == 48);
static_assert(offsetof(EffectRecord, realtimeQualities) == 52);
static_assert(offsetof(EffectRecord, offlineQualities) == 56);
static_assert(offsetof(EffectRecord, inputOutputRatio) == 60);
static_assert(offsetof(EffectRecord, owningObject) == 64);
static_assert(offsetof(EffectRecord, hostField) == 68);
static_assert(offsetof(EffectRecord, uniqueIdentifier) == 72);
static_assert(offsetof(EffectRecord, recordVersion) == 76);
static_assert(offsetof(EffectRecord, replacingProcessEntry) == 80);
static_assert(offsetof(EffectRecord, replacing64ProcessEntry) == 84);
static_assert(offsetof(EffectRecord, reservedTail) == 88);
#endif

} // namespace tandrel
