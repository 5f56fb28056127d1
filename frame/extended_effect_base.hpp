// ExtendedEffectBase: the base class of every concrete effect. It serves the
// later opcodes, 25 to 79, hands all others to EffectBase, replaces resume,
// and appends its own virtual operations after those of EffectBase. It adds
// no fields. Their order is the interface's list again, kept for the reason
// effect_base.hpp gives: nothing outside the module depends on it, and the
// banners mark runs of it by subject. Each operation is noexcept.
//
// Thread tags as in effect_base.hpp: [main], [audio], [any].
#pragma once

#include <cstdint>

#include "capabilities.hpp"
#include "effect_base.hpp"
#include "speaker_arrangement.hpp"

namespace tandrel {

class ExtendedEffectBase : public EffectBase {
public:
  ExtendedEffectBase(HostCallback callback, std::int32_t programCount, std::int32_t parameterCount)
      : EffectBase(callback, programCount, parameterCount) {}

  // Opcodes 25 to 79; every opcode without a case, and every other opcode,
  // goes unchanged to EffectBase::dispatch. [any]
  std::intptr_t dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer,
                         float option) noexcept override;

  // Asks the host for event input when the effect is an instrument or says
  // it can receive MIDI events. [main]
  void resume() noexcept override;

  // Appended operations, in their fixed order (see above).
  // Defaults neither read nor write through their pointers unless stated.

  // --- Parameters ---
  virtual bool isParameterAutomatable(std::int32_t /*index*/) noexcept { return true; }             // [main]
  virtual bool parameterFromText(std::int32_t /*index*/, char* /*text*/) noexcept { return false; } // [main]
  // [main]
  virtual bool getParameterProperties(std::int32_t /*index*/, void* /*properties*/) noexcept { return false; }

  // --- Host services ---
  virtual bool tellHostEditStarted(std::int32_t parameter) noexcept; // [main]
  virtual bool tellHostEditEnded(std::int32_t parameter) noexcept;   // [main]

  // --- Programs ---
  // [main]
  virtual bool getProgramNameByCategory(std::int32_t /*category*/, std::int32_t /*program*/,
                                        char* /*text*/) noexcept {
    return false;
  }
  virtual bool programChangeBegins() noexcept { return false; }                        // [main]
  virtual bool programChangeEnds() noexcept { return false; }                          // [main]
  virtual std::int32_t bankLoadBegins(void* /*description*/) noexcept { return 0; }    // [main]
  virtual std::int32_t programLoadBegins(void* /*description*/) noexcept { return 0; } // [main]

  // --- Host services ---
  virtual bool announceIoChange() noexcept; // [main]
  // Ask the host and keep a positive answer; return the stored value. [main]
  virtual float refreshSampleRate() noexcept;           // [main]
  virtual std::int32_t refreshBlockSize() noexcept;     // [main]
  virtual std::int32_t askHostInputLatency() noexcept;  // [main]
  virtual std::int32_t askHostOutputLatency() noexcept; // [main]

  // --- Speaker arrangements ---
  // [main]
  virtual bool getInputProperties(std::int32_t /*input*/, void* /*properties*/) noexcept { return false; }
  // [main]
  virtual bool getOutputProperties(std::int32_t /*output*/, void* /*properties*/) noexcept { return false; }
  // [main]
  virtual bool setSpeakerArrangements(SpeakerArrangement* /*input*/,
                                      SpeakerArrangement* /*output*/) noexcept {
    return false;
  }
  // Stores null into each of the host's variables that is given (the
  // dispatcher passes null for one the host did not give, never for both)
  // and answers false.
  // [main]
  virtual bool getSpeakerArrangements(SpeakerArrangement** input, SpeakerArrangement** output) noexcept;

  // --- Processing ---
  virtual bool setBypass(bool /*on*/) noexcept { return false; }                              // [main]
  virtual bool setPanLaw(std::int32_t /*lawType*/, float /*gain*/) noexcept { return false; } // [main]
  virtual bool setProcessingPrecision(std::int32_t /*precision*/) noexcept { return false; }  // [main]

  // --- MIDI ---
  virtual std::int32_t getMidiInputChannelCount() noexcept { return 0; }  // [main]
  virtual std::int32_t getMidiOutputChannelCount() noexcept { return 0; } // [main]

  // --- Host services ---
  virtual void* askHostTransport(std::int32_t mask) noexcept; // [audio] or [main]
  virtual std::int32_t askHostProcessLevel() noexcept;        // [any]
  virtual std::int32_t askHostAutomationState() noexcept;     // [any]

  // --- Processing ---
  virtual std::int32_t processEvents(void* /*events*/) noexcept { return 0; }                  // [audio]
  virtual std::int32_t processingStarts() noexcept { return 0; }                               // [main]
  virtual std::int32_t processingStops() noexcept { return 0; }                                // [main]
  virtual bool processVariableIo(void* /*processing*/) noexcept { return false; }              // [audio]
  virtual std::int32_t setTotalSamplesToProcess(std::int32_t count) noexcept { return count; } // [main]

  // --- Host services ---
  virtual bool askHostVendorText(char* text) noexcept;  // [main]
  virtual bool askHostProductText(char* text) noexcept; // [main]
  virtual std::int32_t askHostVendorVersion() noexcept; // [main]
  // [main]
  virtual std::intptr_t passHostVendorRequest(std::int32_t index, std::intptr_t value, void* pointer,
                                              float option) noexcept;
  // [main]
  virtual std::int32_t askHostCapability(const char* name) noexcept; // 1 or 0
  virtual std::int32_t askHostLanguage() noexcept;                   // [main]

  // --- Processing ---
  virtual void setInstrument(bool on) noexcept { setFlag(flag::instrument, on); }               // [main]
  virtual void setSilentWhenStopped(bool on) noexcept { setFlag(flag::silentWhenStopped, on); } // [main]
  virtual std::int32_t getTailSize() noexcept { return 0; }                                     // [main]

  // --- Host services ---
  virtual void* askHostDirectory() noexcept; // [main]

  // --- Identity ---
  // Texts: effect name N = 32, vendor and product N = 64. [main]
  virtual bool getEffectName(char* /*text*/) noexcept { return false; }    // [main]
  virtual bool getVendorString(char* /*text*/) noexcept { return false; }  // [main]
  virtual bool getProductString(char* /*text*/) noexcept { return false; } // [main]
  virtual std::int32_t getVendorVersion() noexcept { return 0; }           // [main]
  // [main]
  virtual std::intptr_t vendorSpecificRequest(std::int32_t /*index*/, std::intptr_t /*value*/,
                                              void* /*pointer*/, float /*option*/) noexcept {
    return 0;
  }
  virtual std::int32_t canDo(const char* /*capability*/) noexcept { return 0; }    // [main]
  virtual std::int32_t getInterfaceVersion() noexcept { return interfaceVersion; } // [main]
  // [main]
  virtual std::int32_t getCategory() noexcept; // 2 for an instrument, else 0

  // --- MIDI ---
  // [main]
  virtual std::int32_t getMidiProgramName(std::int32_t /*channel*/, void* /*program*/) noexcept { return 0; }
  // [main]
  virtual std::int32_t getCurrentMidiProgram(std::int32_t /*channel*/, void* /*program*/) noexcept {
    return -1;
  }
  // [main]
  virtual std::int32_t getMidiProgramCategory(std::int32_t /*channel*/, void* /*category*/) noexcept {
    return 0;
  }
  virtual bool haveMidiProgramsChanged(std::int32_t /*channel*/) noexcept { return false; } // [main]
  // [main]
  virtual bool getMidiKeyName(std::int32_t /*channel*/, void* /*keyName*/) noexcept { return false; }

  // --- Host services ---
  virtual bool tellHostDisplayChanged() noexcept;                                   // [main]
  virtual bool requestEditorSize(std::int32_t width, std::int32_t height) noexcept; // [main]
  // [main]
  virtual bool openHostFileDialog(void* request) noexcept; // false, no call, for a null request
  // [main]
  virtual bool closeHostFileDialog(void* request) noexcept; // false, no call, for a null request

  // --- Identity ---
  virtual std::int32_t getNextShellEffect(char* /*name*/) noexcept { return 0; } // [main]

  // --- Speaker arrangements ---
  // A block made here belongs to whoever holds the
  // slot; it is given back only through releaseSpeakerArrangement or the
  // next making on the same slot. [main]
  virtual bool newSpeakerArrangement(SpeakerArrangement** slot, std::int32_t channelCount) noexcept; // [main]
  virtual bool releaseSpeakerArrangement(SpeakerArrangement** slot) noexcept;                        // [main]
  // [main]
  virtual bool copySpeakerProperties(SpeakerProperties* destination,
                                     const SpeakerProperties* source) noexcept;
  // [main]
  virtual bool copySpeakerArrangement(SpeakerArrangement** slot, const SpeakerArrangement* source) noexcept;

  // --- Offline ---
  virtual bool readOfflineData(void* task, std::int32_t option, bool readSource) noexcept; // [main]
  virtual bool writeOfflineData(void* task, std::int32_t option) noexcept;                 // [main]
  // [main]
  virtual bool startOfflineJob(void* files, std::int32_t fileCount, std::int32_t newFileCount) noexcept;
  // [main]
  virtual std::int32_t askOfflinePass() noexcept; // 1 or 0
  // [main]
  virtual std::int32_t askOfflineMetaPass() noexcept; // 1 or 0
  // [main]
  virtual bool offlineNotification(void* /*files*/, std::int32_t /*count*/, bool /*start*/) noexcept {
    return false;
  }
  // [main]
  virtual bool offlinePreparation(void* /*tasks*/, std::int32_t /*count*/) noexcept { return false; }
  virtual bool offlineRun(void* /*tasks*/, std::int32_t /*count*/) noexcept { return false; } // [main]

  // --- Host services ---
  virtual std::int32_t requestEventInput(std::int32_t filter) noexcept; // [main]
  virtual std::int32_t askHostTempo(std::int32_t position) noexcept;    // [any]
  virtual std::int32_t askHostAutomatableCount() noexcept;              // [main]
  virtual std::int32_t askHostQuantization() noexcept;                  // [any]
  virtual bool requestIdleCalls() noexcept;                             // [main]
  // [main]
  virtual EffectRecord* askHostPreviousEffect(std::int32_t pin) noexcept; // pin is not sent
  // [main]
  virtual EffectRecord* askHostNextEffect(std::int32_t pin) noexcept; // pin is not sent
  virtual std::int32_t askHostReplaceOrAccumulate() noexcept;         // [audio]

  // --- Processing ---
  // [main]
  virtual void setAsynchronousProcessing(bool on) noexcept { setFlag(flag::asynchronousProcessing, on); }
  virtual void setExternalBuffer(bool on) noexcept { setFlag(flag::externalBuffer, on); } // [main]

  // --- Host services ---
  virtual std::int32_t tellHostOutputSampleRate(float rate) noexcept; // [main]
  virtual SpeakerArrangement* askHostInputArrangement() noexcept;     // [main]
  virtual SpeakerArrangement* askHostOutputArrangement() noexcept;    // [main]
  virtual void* openHostWindow(void* description) noexcept;           // [main]
  virtual bool closeHostWindow(void* description) noexcept;           // [main]
  // [main]
  virtual bool askHostChunkFile(char* path) noexcept; // false, no call, for a null path
};

} // namespace tandrel
