// The C boundary of the module: the exported entry point and the six entry
// functions stored in every EffectRecord. Everything behind these functions
// is ordinary C++. Each entry checks its pointers first, recovers the object
// from the record's owning-object field and makes one virtual call.

#include "entry.hpp"

namespace tandrel {

namespace {

EffectBase* owner(EffectRecord* record) {
  return record == nullptr ? nullptr : static_cast<EffectBase*>(record->owningObject);
}

// Opcode 1 closes: dispatch sees it like any other opcode, then the object is
// destroyed and the answer is 1. The record is invalid afterwards. [main]
std::intptr_t dispatcherEntry(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                              std::intptr_t value, void* pointer, float option) {
  EffectBase* effect = owner(record);
  if (effect == nullptr) return 0;
  if (opcode == opcode::close) {
    effect->dispatch(opcode, index, value, pointer, option);
    delete effect;
    return 1;
  }
  return effect->dispatch(opcode, index, value, pointer, option);
}

// [audio]
void oldProcessEntry(EffectRecord* record, float** inputs, float** outputs, std::int32_t frameCount) {
  if (EffectBase* effect = owner(record)) effect->oldAccumulatingProcess(inputs, outputs, frameCount);
}

// [any]
void setParameterEntry(EffectRecord* record, std::int32_t index, float value) {
  if (EffectBase* effect = owner(record)) effect->setParameter(index, value);
}

// [any]
float getParameterEntry(EffectRecord* record, std::int32_t index) {
  EffectBase* effect = owner(record);
  return effect == nullptr ? 0.0f : effect->getParameter(index);
}

// [audio]
void replacingProcessEntry(EffectRecord* record, float** inputs, float** outputs, std::int32_t frameCount) {
  if (EffectBase* effect = owner(record)) effect->processAudio(inputs, outputs, frameCount);
}

// [audio]
void replacing64ProcessEntry(EffectRecord* record, double** inputs, double** outputs,
                             std::int32_t frameCount) {
  if (EffectBase* effect = owner(record)) effect->processAudio64(inputs, outputs, frameCount);
}

} // namespace

void installRecordEntries(EffectRecord& record) {
  record.dispatcherEntry = dispatcherEntry;
  record.oldProcessEntry = oldProcessEntry;
  record.setParameterEntry = setParameterEntry;
  record.getParameterEntry = getParameterEntry;
  record.replacingProcessEntry = replacingProcessEntry;
  record.replacing64ProcessEntry = replacing64ProcessEntry;
}

} // namespace tandrel

// The exported entry point (entry.hpp). [main]
extern "C" TANDREL_EXPORTED tandrel::EffectRecord* VSTPluginMain(tandrel::HostCallback callback) {
  if (callback == nullptr) return nullptr;
  if (callback(nullptr, tandrel::hostOpcode::version, 0, 0, nullptr, 0.0f) == 0) return nullptr;
  tandrel::EffectBase* effect = tandrel::createEffect(callback);
  if (effect == nullptr) return nullptr;
  return effect->getRecordAddress();
}

#if TANDREL_EXPORT_MAIN_ALIAS && !defined(_WIN32)
// Older hosts look for the same function under the name "main", which C++
// does not allow to declare with this signature; export it as an alias.
// Only the module carries it: a test program has a main of its own.
extern "C" __attribute__((visibility("default"), alias("VSTPluginMain"))) tandrel::EffectRecord*
vstEntryAlias(tandrel::HostCallback callback) __asm__("main");
#endif

#if defined(_WIN32)
// The loader's load and unload notifications report success and do nothing
// else. (The signature of the Windows loader's callback, without its header.)
extern "C" int __stdcall DllMain(void* /*module*/, unsigned long /*reason*/, void* /*reserved*/) { return 1; }
#endif
