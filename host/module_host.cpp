#include "module_host.hpp"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tandrel::host {

namespace {
// The instance whose entry point is running: the module's first callback
// calls carry no record (or one the host has not yet seen), so they are
// routed here.
thread_local EffectInstance* instanceBeingCreated = nullptr;

// The system's module loader: open a file, find a symbol, close, and the
// loader's words for the last failure. A name without a directory would make
// the loader search its library path, so such names get the current
// directory in front.
#if defined(_WIN32)
void* openModule(const std::string& path) {
  std::string native = path.find_first_of("/\\") == std::string::npos ? ".\\" + path : path;
  for (char& c : native)
    if (c == '/') c = '\\';
  return reinterpret_cast<void*>(LoadLibraryA(native.c_str()));
}
void* findSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeModule(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
std::string loaderError() {
  const DWORD code = GetLastError();
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string why(text);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
    why.pop_back();
  return why + " (error " + std::to_string(code) + ")";
}
#else
void* openModule(const std::string& path) {
  const std::string loadPath = path.find('/') == std::string::npos ? "./" + path : path;
  return dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeModule(void* handle) { dlclose(handle); }
std::string loaderError() {
  const char* why = dlerror();
  return why != nullptr ? why : "unknown loader error";
}
#endif
} // namespace

std::intptr_t plainHostAnswer(const HostCall& call) {
  return call.opcode == hostOpcode::version ? interfaceVersion : 0;
}

std::unique_ptr<ModuleLibrary> ModuleLibrary::load(const std::string& path, std::string& error) {
  void* handle = openModule(path);
  if (handle == nullptr) {
    error = "cannot load module '" + path + "': " + loaderError();
    return nullptr;
  }
  void* symbol = findSymbol(handle, "VSTPluginMain");
  if (symbol == nullptr) symbol = findSymbol(handle, "main");
  if (symbol == nullptr) {
    closeModule(handle);
    error = "module '" + path + "' has no VSTPluginMain entry point: it is not a VST 2 effect module";
    return nullptr;
  }
  return std::unique_ptr<ModuleLibrary>(
      new ModuleLibrary(handle, reinterpret_cast<EntryPoint>(symbol), path));
}

ModuleLibrary::~ModuleLibrary() { closeModule(handle_); }

std::unique_ptr<EffectInstance> EffectInstance::create(EntryPoint entry, std::string& error,
                                                       Answerer answer) {
  std::unique_ptr<EffectInstance> instance(new EffectInstance(std::move(answer)));
  EffectInstance* previous = instanceBeingCreated;
  instanceBeingCreated = instance.get();
  EffectRecord* record = entry(&EffectInstance::callback);
  instanceBeingCreated = previous;
  if (record == nullptr) {
    error = "the module's entry point answered null: it refused to create an effect";
    return nullptr;
  }
  record->hostField = instance.get();
  instance->record_ = record;
  return instance;
}

EffectInstance::~EffectInstance() {
  if (record_ != nullptr) close();
}

std::intptr_t EffectInstance::callback(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                                       std::intptr_t value, void* pointer, float option) {
  EffectInstance* instance = record != nullptr ? static_cast<EffectInstance*>(record->hostField) : nullptr;
  if (instance == nullptr) instance = instanceBeingCreated;
  const HostCall call{record, opcode, index, value, pointer, option};
  return instance != nullptr ? instance->answer(call) : plainHostAnswer(call);
}

std::intptr_t EffectInstance::answer(const HostCall& call) {
  if (recording_) calls_.push_back(call);
  return answer_ ? answer_(call) : 0;
}

std::intptr_t EffectInstance::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                       void* pointer, float option) {
  if (opcode == opcode::close) return close();
  return record_->dispatcherEntry(record_, opcode, index, value, pointer, option);
}

void EffectInstance::setParameter(std::int32_t index, float value) {
  record_->setParameterEntry(record_, index, value);
}

float EffectInstance::getParameter(std::int32_t index) { return record_->getParameterEntry(record_, index); }

void EffectInstance::sendEvents(std::int32_t frameCount) {
  if (feed_ == nullptr) return;
  const EventList* events = feed_->eventsFor(frameCount);
  // The module takes the list as the host's, to read; the interface's
  // pointer is not const.
  if (events != nullptr && events->count > 0)
    dispatch(opcode::processEvents, 0, 0, const_cast<EventList*>(events));
}

void EffectInstance::processReplacing(float** inputs, float** outputs, std::int32_t frameCount) {
  sendEvents(frameCount);
  record_->replacingProcessEntry(record_, inputs, outputs, frameCount);
}

void EffectInstance::processReplacing64(double** inputs, double** outputs, std::int32_t frameCount) {
  if (record_->replacing64ProcessEntry == nullptr) return;
  sendEvents(frameCount);
  record_->replacing64ProcessEntry(record_, inputs, outputs, frameCount);
}

void EffectInstance::processOldAccumulating(float** inputs, float** outputs, std::int32_t frameCount) {
  if (record_->oldProcessEntry == nullptr) return;
  sendEvents(frameCount);
  record_->oldProcessEntry(record_, inputs, outputs, frameCount);
}

std::intptr_t EffectInstance::close() {
  EffectRecord* record = record_;
  record_ = nullptr;
  return record->dispatcherEntry(record, opcode::close, 0, 0, nullptr, 0.0f);
}

void EffectInstance::prepare(double sampleRate, std::int32_t blockSize) {
  dispatch(opcode::setSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
  dispatch(opcode::setBlockSize, 0, blockSize);
  dispatch(opcode::open);
}

void EffectInstance::start() {
  dispatch(opcode::processingSwitch, 0, 1);
  dispatch(opcode::processingStarts);
  processing_ = true;
}

void EffectInstance::stop() {
  dispatch(opcode::processingStops);
  dispatch(opcode::processingSwitch, 0, 0);
  processing_ = false;
}

std::string EffectInstance::text(std::int32_t opcode, std::int32_t index, std::size_t capacity) {
  std::string buffer(capacity, '\0');
  dispatch(opcode, index, 0, buffer.data(), 0.0f);
  buffer.resize(buffer.find('\0') == std::string::npos ? capacity : buffer.find('\0'));
  return buffer;
}

} // namespace tandrel::host
