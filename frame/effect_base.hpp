// EffectBase: the base object of every effect. It owns the record that the
// host holds, remembers the host's callback and keeps the sample rate, block
// size, program and parameter counts and the current program.
//
// Its 49 virtual operations stand in a fixed order, the order of the
// interface's own list of operations (less a VU-value query that no opcode
// or entry reaches), and every one but processAudio has a
// default that does nothing or answers 0, false or an empty text. Nothing
// outside the module depends on that order (a host sees only the record's
// plain entry functions, never this class); it is kept so that the classes
// read side by side with that list, and the banners below therefore mark
// runs of it rather than regroup it. No operation throws: each is noexcept.
//
// Thread tags: [main] the host's main or user-interface thread (opcodes, texts);
// [audio] the host's processing thread; [any] either. The frame takes no locks.
#pragma once

#include <cstdint>
#include <type_traits>

#include "effect_editor.hpp"
#include "effect_record.hpp"

namespace tandrel {

class EffectBase {
public:
  // Stores the fields, fills the record with zeros, writes the record's
  // construction values and sets the replacing-process flag.
  EffectBase(HostCallback callback, std::int32_t programCount, std::int32_t parameterCount);
  EffectBase(const EffectBase&) = delete;
  EffectBase& operator=(const EffectBase&) = delete;

  // Destroys the attached editor, if any. [main]
  virtual ~EffectBase();

  // Turns an opcode of 0 to 24 and its arguments into one operation call and
  // its result into the answer; every other opcode answers 0. [any]
  virtual std::intptr_t dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer,
                                 float option) noexcept;

  // --- Processing ---
  virtual void open() noexcept {}    // [main]
  virtual void close() noexcept {}   // [main]; the object is destroyed right after
  virtual void suspend() noexcept {} // [main] processing switched off
  virtual void resume() noexcept {}  // [main] processing switched on
  // The host sets the sample rate and the block size on its main thread
  // while processing is switched off; the processing thread may read them
  // afterwards without synchronisation (the switch orders the two). [main]
  virtual void setSampleRate(float rate) noexcept { sampleRate_ = rate; }      // [main]
  virtual void setBlockSize(std::int32_t size) noexcept { blockSize_ = size; } // [main]

  // Processes frameCount frames; every concrete effect supplies it. [audio]
  virtual void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept = 0; // [audio]
  // 64-bit processing; does nothing by default. [audio]
  virtual void processAudio64(double** /*inputs*/, double** /*outputs*/,
                              std::int32_t /*frameCount*/) noexcept {}

  // --- Parameters ---
  virtual void setParameter(std::int32_t /*index*/, float /*value*/) noexcept {} // [any] real-time safe
  virtual float getParameter(std::int32_t /*index*/) noexcept { return 0.0f; }   // [any] real-time safe
  // Sets the parameter through the object's own operation, then tells the
  // host (host opcode 0). [main]
  virtual void setParameterAndNotify(std::int32_t index, float value) noexcept; // [main]

  // --- Programs ---
  virtual std::int32_t getCurrentProgram() noexcept { return currentProgram_; } // [main]
  // Stores the number unchecked; the dispatcher checks the range. [main]
  virtual void setCurrentProgram(std::int32_t program) noexcept { currentProgram_ = program; } // [main]
  virtual void setProgramName(char* /*name*/) noexcept {}                                      // [main]
  // Text operations write into the caller's buffer of N + 1 bytes (N is 24
  // for program names, 8 for parameter texts). The defaults leave an empty
  // text: one zero byte at position 0 and nothing else. [main]
  virtual void getProgramName(char* text) noexcept { writeEmptyText(text); } // [main]
  // [main]
  virtual void getParameterLabel(std::int32_t /*index*/, char* text) noexcept { writeEmptyText(text); }
  // [main]
  virtual void getParameterDisplay(std::int32_t /*index*/, char* text) noexcept { writeEmptyText(text); }
  // [main]
  virtual void getParameterName(std::int32_t /*index*/, char* text) noexcept { writeEmptyText(text); }

  // State as one block of data. The default offers none: answers 0 and
  // leaves *data untouched. [main]
  virtual std::int32_t getChunk(void** /*data*/, bool /*currentProgramOnly*/) noexcept { return 0; } // [main]
  // [main]
  virtual std::int32_t setChunk(void* /*data*/, std::int32_t /*byteCount*/,
                                bool /*currentProgramOnly*/) noexcept {
    return 0;
  }

  // --- Identity and the record's fields ---
  // Record fields of the same name. [main]
  virtual void assignUniqueIdentifier(std::int32_t identifier) noexcept {
    record_.uniqueIdentifier = identifier;
  }
  virtual void setInputCount(std::int32_t count) noexcept { record_.inputCount = count; }       // [main]
  virtual void setOutputCount(std::int32_t count) noexcept { record_.outputCount = count; }     // [main]
  virtual void setReplacingProcess(bool on) noexcept { setFlag(flag::replacingProcess, on); }   // [main]
  virtual void setReplacing64(bool on) noexcept { setFlag(flag::replacing64, on); }             // [main]
  virtual void setProgramsAsChunks(bool on) noexcept { setFlag(flag::programsAsChunks, on); }   // [main]
  virtual void setInitialDelay(std::int32_t frames) noexcept { record_.initialDelay = frames; } // [main]

  // --- Editor, record and cached host values ---
  virtual EffectEditor* getEditor() noexcept { return editor_; }         // [main]
  virtual EffectRecord* getRecordAddress() noexcept { return &record_; } // [any]
  virtual float getSampleRate() noexcept { return sampleRate_; }         // [any]
  virtual std::int32_t getBlockSize() noexcept { return blockSize_; }    // [any]

  // --- Host services ---
  // One callback call each; fallbacks without a callback.
  virtual std::int32_t askHostVersion() noexcept;   // 1 when the host answers 0 or is absent [any]
  virtual std::int32_t askHostLoadingId() noexcept; // [main]
  virtual std::int32_t giveHostIdleTime() noexcept; // [main]

  // --- Number texts ---
  // Write into text[0..maxLength], at most maxLength characters
  // and zeros up to and including index maxLength. Stateless. [any]
  virtual void formatDecibels(float amplitude, char* text, std::int32_t maxLength) noexcept;  // [any]
  virtual void formatHertz(float periodSamples, char* text, std::int32_t maxLength) noexcept; // [any]
  // [any]
  virtual void formatMilliseconds(float durationSamples, char* text, std::int32_t maxLength) noexcept;
  virtual void formatFloat(float value, char* text, std::int32_t maxLength) noexcept;          // [any]
  virtual void formatInteger(std::int32_t value, char* text, std::int32_t maxLength) noexcept; // [any]

  // --- Processing ---
  // The old accumulating process; does nothing and is never replaced. [audio]
  virtual void oldAccumulatingProcess(float** /*inputs*/, float** /*outputs*/,
                                      std::int32_t /*frameCount*/) noexcept {}
  virtual void setVuIndicator(bool on) noexcept { setFlag(flag::vuIndicator, on); }     // [main]
  virtual void setClipIndicator(bool on) noexcept { setFlag(flag::clipIndicator, on); } // [main]
  virtual void setMonoCapable(bool on) noexcept { setFlag(flag::monoCapable, on); }     // [main]
  // [main]
  virtual void setRealtimeQualities(std::int32_t qualities) noexcept {
    record_.realtimeQualities = qualities;
  }
  // [main]
  virtual void setOfflineQualities(std::int32_t qualities) noexcept { record_.offlineQualities = qualities; }

  // --- Host services ---
  // True when the host answers 0 (its answer for a connected pin) or is absent. [main]
  virtual bool inputPinConnected(std::int32_t pin) noexcept;  // [main]
  virtual bool outputPinConnected(std::int32_t pin) noexcept; // [main]

protected:
  // One call of the host callback with the record's address (never the
  // object's). Callers test hostCallback_ for null first and apply their
  // fallback. [any]
  std::intptr_t callHost(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer,
                         float option) {
    return hostCallback_(&record_, opcode, index, value, pointer, option);
  }

  // The two answer rules that most services share: the answer as it comes
  // (its low 32 bits for an integer, an address for a pointer), or true when
  // it is non-zero. Without a callback: the fallback, or false. [any]
  template <typename Result>
  Result askHost(Result fallback, std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer,
                 float option) {
    if (hostCallback_ == nullptr) return fallback;
    const std::intptr_t answer = callHost(opcode, index, value, pointer, option);
    if constexpr (std::is_pointer_v<Result>) {
      return reinterpret_cast<Result>(answer);
    } else {
      return static_cast<Result>(answer);
    }
  }
  bool tellHost(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer, float option) {
    return hostCallback_ != nullptr && callHost(opcode, index, value, pointer, option) != 0;
  }

  void setFlag(std::int32_t bit, bool on) {
    record_.flags = on ? (record_.flags | bit) : (record_.flags & ~bit);
  }

  // The empty text of the default text operations; a null buffer from a
  // broken host is skipped rather than written through.
  static void writeEmptyText(char* text) {
    if (text != nullptr) text[0] = '\0';
  }

  // Fields, in declaration order.
  HostCallback hostCallback_;      // may be null
  EffectEditor* editor_ = nullptr; // owned; never attached in this product
  float sampleRate_ = 44100.0f;
  std::int32_t blockSize_ = 1024;
  std::int32_t programCount_;
  std::int32_t parameterCount_;
  std::int32_t currentProgram_ = 0;
  EffectRecord record_;
};

} // namespace tandrel
