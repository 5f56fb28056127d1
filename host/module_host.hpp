// A host for effect modules: loads a module file the way an audio host does
// (ModuleLibrary: dlopen and the exported entry point) and drives effect
// instances made from it (EffectInstance: the record's entries, the
// lifecycle, the answers to the module's callback calls). Tests use it to
// see the module as a host sees it; the command-line host builds on it
// (tools/common/loaded_effect.hpp), and so do the checks
// (tools/check/check_session.hpp).
//
// Thread: an EffectInstance is used from one thread at a time, except that
// its answerer may be called from any thread that calls into the module.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/effect_record.hpp"
#include "frame/events.hpp"

namespace tandrel::host {

// One call that the module made to the host's callback.
struct HostCall {
  EffectRecord* record;
  std::int32_t opcode;
  std::int32_t index;
  std::intptr_t value;
  void* pointer;
  float option;
};

// Decides the host's answer to one callback call.
using Answerer = std::function<std::intptr_t(const HostCall&)>;

// The answers of a plain host: its interface version to the version query,
// 0 to everything else.
std::intptr_t plainHostAnswer(const HostCall& call);

using EntryPoint = EffectRecord* (*)(HostCallback);

// What a host hands an instance through opcode::processEvents before each
// processing call: an instrument's notes, for instance. [audio]: asked on
// the thread that processes, right before the call, so it must neither
// allocate nor block.
class EventFeed {
public:
  virtual ~EventFeed() = default;
  // The events that fall within the next `frameCount` frames of the
  // instance's time line, their offsets counted from the call's first frame,
  // or null when there are none. The feed moves on by `frameCount` frames;
  // the list stays valid until the next question.
  virtual const EventList* eventsFor(std::int32_t frameCount) = 0;
};

// A module file loaded as a shared library; unloaded when destroyed.
// EffectInstances made from it must be destroyed first.
class ModuleLibrary {
public:
  // Loads the file and finds its entry point ("VSTPluginMain", or "main" for
  // older modules). On failure returns null and sets `error` to a message
  // that includes the loader's own words.
  static std::unique_ptr<ModuleLibrary> load(const std::string& path, std::string& error);
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  EntryPoint entryPoint() const { return entry_; }
  const std::string& path() const { return path_; }

private:
  ModuleLibrary(void* handle, EntryPoint entry, std::string path)
      : handle_(handle), entry_(entry), path_(std::move(path)) {}
  void* handle_;
  EntryPoint entry_;
  std::string path_;
};

// One effect instance and the host side of it.
class EffectInstance {
public:
  // Calls the entry point with this host's callback. On failure (the module
  // answers null) returns null and sets `error`.
  static std::unique_ptr<EffectInstance> create(EntryPoint entry, std::string& error,
                                                Answerer answer = plainHostAnswer);
  static std::unique_ptr<EffectInstance> create(const ModuleLibrary& module, std::string& error,
                                                Answerer answer = plainHostAnswer) {
    return create(module.entryPoint(), error, std::move(answer));
  }
  // Closes the instance if it is still open.
  ~EffectInstance();
  EffectInstance(const EffectInstance&) = delete;
  EffectInstance& operator=(const EffectInstance&) = delete;

  // The record as the module filled it; valid until close().
  EffectRecord& record() { return *record_; }
  bool isOpen() const { return record_ != nullptr; }

  // The record's entries.
  std::intptr_t dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                         void* pointer = nullptr, float option = 0.0f);
  void setParameter(std::int32_t index, float value);
  float getParameter(std::int32_t index);
  void processReplacing(float** inputs, float** outputs, std::int32_t frameCount);
  void processReplacing64(double** inputs, double** outputs, std::int32_t frameCount);
  void processOldAccumulating(float** inputs, float** outputs, std::int32_t frameCount);
  // Sends close through the dispatcher entry and answers what it
  // answered. The record is invalid afterwards.
  std::intptr_t close();

  // The lifecycle every host follows around processing, each step one
  // opcode of frame/protocol.hpp:
  //   prepare: the sample rate, the largest block size, open;
  //   start:   processing switched on, then "processing starts";
  //   stop:    "processing stops", then processing switched off;
  // and close() at the end. A host that needs a step alone (a check that
  // sends the steps out of order) dispatches the opcodes itself.
  void prepare(double sampleRate, std::int32_t blockSize);
  void start();
  void stop();
  // Between start() and stop().
  bool processing() const { return processing_; }

  // A text opcode's answer, read from a zeroed buffer of `capacity` bytes.
  std::string text(std::int32_t opcode, std::int32_t index = 0, std::size_t capacity = 256);

  // Every callback call made for this instance (the version query of the
  // entry point included) while recording is on; on by default. Recording
  // allocates, so a host that processes in real time turns it off.
  const std::vector<HostCall>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }
  void setRecording(bool on) { recording_ = on; }
  void setAnswerer(Answerer answer) { answer_ = std::move(answer); }

  // The events sent before every processing call (of each of the three
  // processing entries), through opcode::processEvents; none by default.
  // The instance owns the feed.
  void setEventFeed(std::unique_ptr<EventFeed> feed) { feed_ = std::move(feed); }

private:
  explicit EffectInstance(Answerer answer) : answer_(std::move(answer)) {}
  static std::intptr_t callback(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                                std::intptr_t value, void* pointer, float option);
  std::intptr_t answer(const HostCall& call);
  // Sends the feed's events for the next call of `frameCount` frames.
  void sendEvents(std::int32_t frameCount);

  EffectRecord* record_ = nullptr;
  Answerer answer_;
  std::unique_ptr<EventFeed> feed_;
  std::vector<HostCall> calls_;
  bool recording_ = true;
  bool processing_ = false;
};

} // namespace tandrel::host
