// How a module is put together from the frame: the exported entry point and
// the two functions that join a concrete effect to the C boundary
// (frame/entry.cpp). Every module on the frame links frame/entry.cpp once
// and defines createEffect once.
#pragma once

#include "effect_base.hpp"
#include "effect_record.hpp"

namespace tandrel {

// Supplied by the concrete effect, once per module: one new object made
// with `new`, or null when its memory (or a resource it needs) cannot be
// obtained. `callback` is the host's, or null for an object made without a
// host (a test, a benchmark). The exported entry point answers the object's
// record; closing the record through its dispatcher entry destroys the
// object with `delete`. [main]
EffectBase* createEffect(HostCallback callback);

// Stores the six entry functions of frame/entry.cpp in `record`; the
// EffectBase constructor calls it for every object's record. Each entry
// checks the record pointer it is given first, recovers the object from the
// record's owning-object field and makes one virtual call. [main]
void installRecordEntries(EffectRecord& record);

} // namespace tandrel

// What the module exports. ELF: default visibility, everything else hidden
// (and frame/exports.map). Windows: the list in frame/exports.def, which also
// gives the entry point its second name, main.
#if defined(_WIN32)
#define TANDREL_EXPORTED
#else
#define TANDREL_EXPORTED __attribute__((visibility("default")))
#endif

// The exported entry point. Asks the host for its version with a null
// record; a host that answers 0 (or no callback) gets null. Otherwise
// creates one instance through createEffect and answers its record's
// address, or null when the instance cannot be made. [main]
extern "C" TANDREL_EXPORTED tandrel::EffectRecord* VSTPluginMain(tandrel::HostCallback callback);
