// ExtendedEffectBase's host services.
// Every operation through which an effect asks its host something or tells
// it something. Each makes exactly one callback call with the record's
// address and its own arguments, and turns the answer into its result by one
// of five rules: unchanged, non-zero as true (or 1), inverted for the pin
// questions (EffectBase), 1 for a zero version answer (EffectBase), and the
// positive-only cache of sample rate and block size. Without a callback a
// service sends nothing and returns its fallback. The services keep no state
// beyond the two cached fields and run on their caller's thread.

#include <cstdint>

#include "dispatch_support.hpp"
#include "extended_effect_base.hpp"

namespace tandrel {

using dispatch::low32;

bool ExtendedEffectBase::tellHostEditStarted(std::int32_t parameter) noexcept {
  return tellHost(hostOpcode::editStarted, parameter, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::tellHostEditEnded(std::int32_t parameter) noexcept {
  return tellHost(hostOpcode::editEnded, parameter, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::announceIoChange() noexcept {
  return tellHost(hostOpcode::ioChanged, 0, 0, nullptr, 0.0f);
}

float ExtendedEffectBase::refreshSampleRate() noexcept {
  if (hostCallback_ != nullptr) {
    const std::int32_t answer = low32(callHost(hostOpcode::sampleRate, 0, 0, nullptr, 0.0f));
    if (answer > 0) sampleRate_ = static_cast<float>(answer);
  }
  return sampleRate_;
}

std::int32_t ExtendedEffectBase::refreshBlockSize() noexcept {
  if (hostCallback_ != nullptr) {
    const std::int32_t answer = low32(callHost(hostOpcode::blockSize, 0, 0, nullptr, 0.0f));
    if (answer > 0) blockSize_ = answer;
  }
  return blockSize_;
}

std::int32_t ExtendedEffectBase::askHostInputLatency() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::inputLatency, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostOutputLatency() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::outputLatency, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::askHostTransport(std::int32_t mask) noexcept {
  return askHost<void*>(nullptr, hostOpcode::transport, 0, mask, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostProcessLevel() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::processLevel, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostAutomationState() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::automationState, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::askHostVendorText(char* text) noexcept {
  return tellHost(hostOpcode::vendorText, 0, 0, text, 0.0f);
}
bool ExtendedEffectBase::askHostProductText(char* text) noexcept {
  return tellHost(hostOpcode::productText, 0, 0, text, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostVendorVersion() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::vendorVersion, 0, 0, nullptr, 0.0f);
}
std::intptr_t ExtendedEffectBase::passHostVendorRequest(std::int32_t index, std::intptr_t value,
                                                        void* pointer, float option) noexcept {
  return askHost<std::intptr_t>(0, hostOpcode::vendorRequest, index, value, pointer, option);
}
std::int32_t ExtendedEffectBase::askHostCapability(const char* name) noexcept {
  return tellHost(hostOpcode::capability, 0, 0, const_cast<char*>(name), 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::askHostLanguage() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::language, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::askHostDirectory() noexcept {
  return askHost<void*>(nullptr, hostOpcode::directory, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::tellHostDisplayChanged() noexcept {
  return tellHost(hostOpcode::displayChanged, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::requestEditorSize(std::int32_t width, std::int32_t height) noexcept {
  return tellHost(hostOpcode::editorSize, width, height, nullptr, 0.0f);
}
bool ExtendedEffectBase::openHostFileDialog(void* request) noexcept {
  if (request == nullptr) return false;
  return tellHost(hostOpcode::openFileDialog, 0, 0, request, 0.0f);
}
bool ExtendedEffectBase::closeHostFileDialog(void* request) noexcept {
  if (request == nullptr) return false;
  return tellHost(hostOpcode::closeFileDialog, 0, 0, request, 0.0f);
}
bool ExtendedEffectBase::readOfflineData(void* task, std::int32_t option, bool readSource) noexcept {
  return tellHost(hostOpcode::offlineRead, readSource ? 1 : 0, option, task, 0.0f);
}
bool ExtendedEffectBase::writeOfflineData(void* task, std::int32_t option) noexcept {
  return tellHost(hostOpcode::offlineWrite, 0, option, task, 0.0f);
}
bool ExtendedEffectBase::startOfflineJob(void* files, std::int32_t fileCount,
                                         std::int32_t newFileCount) noexcept {
  return tellHost(hostOpcode::offlineStart, newFileCount, fileCount, files, 0.0f);
}
std::int32_t ExtendedEffectBase::askOfflinePass() noexcept {
  return tellHost(hostOpcode::offlinePass, 0, 0, nullptr, 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::askOfflineMetaPass() noexcept {
  return tellHost(hostOpcode::offlineMetaPass, 0, 0, nullptr, 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::requestEventInput(std::int32_t filter) noexcept {
  return askHost<std::int32_t>(0, hostOpcode::wantEvents, 0, filter, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostTempo(std::int32_t position) noexcept {
  return askHost<std::int32_t>(0, hostOpcode::tempo, 0, position, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostAutomatableCount() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::automatableCount, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostQuantization() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::quantization, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::requestIdleCalls() noexcept {
  return tellHost(hostOpcode::wantIdle, 0, 0, nullptr, 0.0f);
}
EffectRecord* ExtendedEffectBase::askHostPreviousEffect(std::int32_t /*pin*/) noexcept {
  return askHost<EffectRecord*>(nullptr, hostOpcode::previousEffect, 0, 0, nullptr, 0.0f);
}
EffectRecord* ExtendedEffectBase::askHostNextEffect(std::int32_t /*pin*/) noexcept {
  return askHost<EffectRecord*>(nullptr, hostOpcode::nextEffect, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostReplaceOrAccumulate() noexcept {
  return askHost<std::int32_t>(0, hostOpcode::replaceOrAccumulate, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::tellHostOutputSampleRate(float rate) noexcept {
  return askHost<std::int32_t>(0, hostOpcode::outputSampleRate, 0, 0, nullptr, rate);
}
SpeakerArrangement* ExtendedEffectBase::askHostInputArrangement() noexcept {
  return askHost<SpeakerArrangement*>(nullptr, hostOpcode::inputArrangement, 0, 0, nullptr, 0.0f);
}
SpeakerArrangement* ExtendedEffectBase::askHostOutputArrangement() noexcept {
  return askHost<SpeakerArrangement*>(nullptr, hostOpcode::outputArrangement, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::openHostWindow(void* description) noexcept {
  return askHost<void*>(nullptr, hostOpcode::openWindow, 0, 0, description, 0.0f);
}
bool ExtendedEffectBase::closeHostWindow(void* description) noexcept {
  return tellHost(hostOpcode::closeWindow, 0, 0, description, 0.0f);
}
bool ExtendedEffectBase::askHostChunkFile(char* path) noexcept {
  if (path == nullptr) return false;
  return tellHost(hostOpcode::chunkFile, 0, 0, path, 0.0f);
}

} // namespace tandrel
