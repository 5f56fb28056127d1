// ExtendedEffectBase: the base class of every concrete effect. It serves the
// later opcodes, 25 to 79, hands all others to EffectBase, replaces resume,
// and appends its own virtual operations after those of EffectBase, in a
// fixed order. It adds no fields.
//
// Thread tags as in effect_base.hpp: [main], [audio], [any].
#pragma once

#include <cstdint>

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
                         float option) override;

  // Asks the host for event input when the effect is an instrument or says
  // it can receive MIDI events. [main]
  void resume() override;

  // --- Appended operations, in their fixed order. ---
  // Defaults neither read nor write through their pointers unless stated.

  virtual bool isParameterAutomatable(std::int32_t /*index*/) { return true; }             // [main]
  virtual bool parameterFromText(std::int32_t /*index*/, char* /*text*/) { return false; } // [main]
  virtual bool getParameterProperties(std::int32_t /*index*/, void* /*properties*/) { return false; }
  virtual bool tellHostEditStarted(std::int32_t parameter); // [main]
  virtual bool tellHostEditEnded(std::int32_t parameter);   // [main]
  virtual bool getProgramNameByCategory(std::int32_t /*category*/, std::int32_t /*program*/, char* /*text*/) {
    return false;
  }
  virtual bool programChangeBegins() { return false; }
  virtual bool programChangeEnds() { return false; }
  virtual std::int32_t bankLoadBegins(void* /*description*/) { return 0; }
  virtual std::int32_t programLoadBegins(void* /*description*/) { return 0; }
  virtual bool announceIoChange(); // [main]
  // Ask the host and keep a positive answer; return the stored value. [main]
  virtual float refreshSampleRate();
  virtual std::int32_t refreshBlockSize();
  virtual std::int32_t askHostInputLatency();
  virtual std::int32_t askHostOutputLatency();
  virtual bool getInputProperties(std::int32_t /*input*/, void* /*properties*/) { return false; }
  virtual bool getOutputProperties(std::int32_t /*output*/, void* /*properties*/) { return false; }
  virtual bool setSpeakerArrangements(SpeakerArrangement* /*input*/, SpeakerArrangement* /*output*/) {
    return false;
  }
  // Stores null into each of the host's variables that is given (the
  // dispatcher passes null for one the host did not give, never for both)
  // and answers false.
  virtual bool getSpeakerArrangements(SpeakerArrangement** input, SpeakerArrangement** output);
  virtual bool setBypass(bool /*on*/) { return false; }
  virtual bool setPanLaw(std::int32_t /*lawType*/, float /*gain*/) { return false; }
  virtual bool setProcessingPrecision(std::int32_t /*precision*/) { return false; }
  virtual std::int32_t getMidiInputChannelCount() { return 0; }
  virtual std::int32_t getMidiOutputChannelCount() { return 0; }
  virtual void* askHostTransport(std::int32_t mask); // [audio] or [main]
  virtual std::int32_t askHostProcessLevel();
  virtual std::int32_t askHostAutomationState();
  virtual std::int32_t processEvents(void* /*events*/) { return 0; } // [audio]
  virtual std::int32_t processingStarts() { return 0; }
  virtual std::int32_t processingStops() { return 0; }
  virtual bool processVariableIo(void* /*processing*/) { return false; }
  virtual std::int32_t setTotalSamplesToProcess(std::int32_t count) { return count; }
  virtual bool askHostVendorText(char* text);
  virtual bool askHostProductText(char* text);
  virtual std::int32_t askHostVendorVersion();
  virtual std::intptr_t passHostVendorRequest(std::int32_t index, std::intptr_t value, void* pointer,
                                              float option);
  virtual std::int32_t askHostCapability(const char* name); // 1 or 0
  virtual std::int32_t askHostLanguage();
  virtual void setInstrument(bool on) { setFlag(flag::instrument, on); }
  virtual void setSilentWhenStopped(bool on) { setFlag(flag::silentWhenStopped, on); }
  virtual std::int32_t getTailSize() { return 0; }
  virtual void* askHostDirectory();
  // Identity texts: effect name N = 32, vendor and product N = 64. [main]
  virtual bool getEffectName(char* /*text*/) { return false; }
  virtual bool getVendorString(char* /*text*/) { return false; }
  virtual bool getProductString(char* /*text*/) { return false; }
  virtual std::int32_t getVendorVersion() { return 0; }
  virtual std::intptr_t vendorSpecificRequest(std::int32_t /*index*/, std::intptr_t /*value*/,
                                              void* /*pointer*/, float /*option*/) {
    return 0;
  }
  virtual std::int32_t canDo(const char* /*capability*/) { return 0; }
  virtual std::int32_t getInterfaceVersion() { return 2400; }
  virtual std::int32_t getCategory(); // 2 for an instrument, else 0
  virtual std::int32_t getMidiProgramName(std::int32_t /*channel*/, void* /*program*/) { return 0; }
  virtual std::int32_t getCurrentMidiProgram(std::int32_t /*channel*/, void* /*program*/) { return -1; }
  virtual std::int32_t getMidiProgramCategory(std::int32_t /*channel*/, void* /*category*/) { return 0; }
  virtual bool haveMidiProgramsChanged(std::int32_t /*channel*/) { return false; }
  virtual bool getMidiKeyName(std::int32_t /*channel*/, void* /*keyName*/) { return false; }
  virtual bool tellHostDisplayChanged();
  virtual bool requestEditorSize(std::int32_t width, std::int32_t height);
  virtual bool openHostFileDialog(void* request);  // false, no call, for a null request
  virtual bool closeHostFileDialog(void* request); // false, no call, for a null request
  virtual std::int32_t getNextShellEffect(char* /*name*/) { return 0; }

  // Speaker arrangements. A block made here belongs to whoever holds the
  // slot; it is given back only through releaseSpeakerArrangement or the
  // next making on the same slot. [main]
  virtual bool newSpeakerArrangement(SpeakerArrangement** slot, std::int32_t channelCount);
  virtual bool releaseSpeakerArrangement(SpeakerArrangement** slot);
  virtual bool copySpeakerProperties(SpeakerProperties* destination, const SpeakerProperties* source);
  virtual bool copySpeakerArrangement(SpeakerArrangement** slot, const SpeakerArrangement* source);

  virtual bool readOfflineData(void* task, std::int32_t option, bool readSource);
  virtual bool writeOfflineData(void* task, std::int32_t option);
  virtual bool startOfflineJob(void* files, std::int32_t fileCount, std::int32_t newFileCount);
  virtual std::int32_t askOfflinePass();     // 1 or 0
  virtual std::int32_t askOfflineMetaPass(); // 1 or 0
  virtual bool offlineNotification(void* /*files*/, std::int32_t /*count*/, bool /*start*/) { return false; }
  virtual bool offlinePreparation(void* /*tasks*/, std::int32_t /*count*/) { return false; }
  virtual bool offlineRun(void* /*tasks*/, std::int32_t /*count*/) { return false; }
  virtual std::int32_t requestEventInput(std::int32_t filter);
  virtual std::int32_t askHostTempo(std::int32_t position);
  virtual std::int32_t askHostAutomatableCount();
  virtual std::int32_t askHostQuantization();
  virtual bool requestIdleCalls();
  virtual EffectRecord* askHostPreviousEffect(std::int32_t pin); // pin is not sent
  virtual EffectRecord* askHostNextEffect(std::int32_t pin);     // pin is not sent
  virtual std::int32_t askHostReplaceOrAccumulate();
  virtual void setAsynchronousProcessing(bool on) { setFlag(flag::asynchronousProcessing, on); }
  virtual void setExternalBuffer(bool on) { setFlag(flag::externalBuffer, on); }
  virtual std::int32_t tellHostOutputSampleRate(float rate);
  virtual SpeakerArrangement* askHostInputArrangement();
  virtual SpeakerArrangement* askHostOutputArrangement();
  virtual void* openHostWindow(void* description);
  virtual bool closeHostWindow(void* description);
  virtual bool askHostChunkFile(char* path); // false, no call, for a null path
};

} // namespace tandrel
