// Host services: every operation through which an effect asks its host
// something or tells it something. Each makes exactly one callback call with
// the record's address and its row's arguments, and turns the answer into its
// result by one of five rules: unchanged, non-zero as true (or 1), inverted
// for the pin questions, 1 for a zero version answer, and the positive-only
// cache of sample rate and block size. Without a callback a service sends
// nothing and returns its fallback. The services keep no state beyond the
// two cached fields and run on their caller's thread.

#include <cstdint>

#include "extended_effect_base.hpp"

namespace tandrel {

namespace {

// Host opcodes, named after what the effect asks or tells.
namespace host {
constexpr std::int32_t parameterChanged = 0;
constexpr std::int32_t version = 1;
constexpr std::int32_t loadingId = 2;
constexpr std::int32_t idle = 3;
constexpr std::int32_t pinConnected = 4;
constexpr std::int32_t wantEvents = 6;
constexpr std::int32_t transport = 7;
constexpr std::int32_t tempo = 10;
constexpr std::int32_t automatableCount = 11;
constexpr std::int32_t quantization = 12;
constexpr std::int32_t ioChanged = 13;
constexpr std::int32_t wantIdle = 14;
constexpr std::int32_t editorSize = 15;
constexpr std::int32_t sampleRate = 16;
constexpr std::int32_t blockSize = 17;
constexpr std::int32_t inputLatency = 18;
constexpr std::int32_t outputLatency = 19;
constexpr std::int32_t previousEffect = 20;
constexpr std::int32_t nextEffect = 21;
constexpr std::int32_t replaceOrAccumulate = 22;
constexpr std::int32_t processLevel = 23;
constexpr std::int32_t automationState = 24;
constexpr std::int32_t offlineStart = 25;
constexpr std::int32_t offlineRead = 26;
constexpr std::int32_t offlineWrite = 27;
constexpr std::int32_t offlinePass = 28;
constexpr std::int32_t offlineMetaPass = 29;
constexpr std::int32_t outputSampleRate = 30;
constexpr std::int32_t outputArrangement = 31;
constexpr std::int32_t vendorText = 32;
constexpr std::int32_t productText = 33;
constexpr std::int32_t vendorVersion = 34;
constexpr std::int32_t vendorRequest = 35;
constexpr std::int32_t capability = 37;
constexpr std::int32_t language = 38;
constexpr std::int32_t openWindow = 39;
constexpr std::int32_t closeWindow = 40;
constexpr std::int32_t directory = 41;
constexpr std::int32_t displayChanged = 42;
constexpr std::int32_t editStarted = 43;
constexpr std::int32_t editEnded = 44;
constexpr std::int32_t openFileDialog = 45;
constexpr std::int32_t closeFileDialog = 46;
constexpr std::int32_t chunkFile = 48;
constexpr std::int32_t inputArrangement = 49;
} // namespace host

std::int32_t low32(std::intptr_t answer) { return static_cast<std::int32_t>(answer); }

} // namespace

// --- Services of EffectBase ---

void EffectBase::setParameterAndNotify(std::int32_t index, float value) {
  setParameter(index, value); // the effect's state changes before the host hears of it
  if (hostCallback_ != nullptr) callHost(host::parameterChanged, index, 0, nullptr, value);
}

std::int32_t EffectBase::askHostVersion() {
  if (hostCallback_ == nullptr) return 1;
  // Zero is tested on the whole answer, as in every other service; a
  // non-zero answer gives its low 32 bits.
  const std::intptr_t answer = callHost(host::version, 0, 0, nullptr, 0.0f);
  return answer == 0 ? 1 : low32(answer);
}

std::int32_t EffectBase::askHostLoadingId() {
  return hostCallback_ == nullptr ? 0 : low32(callHost(host::loadingId, 0, 0, nullptr, 0.0f));
}

std::int32_t EffectBase::giveHostIdleTime() {
  return hostCallback_ == nullptr ? 0 : low32(callHost(host::idle, 0, 0, nullptr, 0.0f));
}

bool EffectBase::inputPinConnected(std::int32_t pin) {
  return hostCallback_ == nullptr || callHost(host::pinConnected, pin, 0, nullptr, 0.0f) == 0;
}

bool EffectBase::outputPinConnected(std::int32_t pin) {
  return hostCallback_ == nullptr || callHost(host::pinConnected, pin, 1, nullptr, 0.0f) == 0;
}

// --- Services of ExtendedEffectBase ---

bool ExtendedEffectBase::tellHostEditStarted(std::int32_t parameter) {
  return tellHost(host::editStarted, parameter, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::tellHostEditEnded(std::int32_t parameter) {
  return tellHost(host::editEnded, parameter, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::announceIoChange() { return tellHost(host::ioChanged, 0, 0, nullptr, 0.0f); }

float ExtendedEffectBase::refreshSampleRate() {
  if (hostCallback_ != nullptr) {
    const std::int32_t answer = low32(callHost(host::sampleRate, 0, 0, nullptr, 0.0f));
    if (answer > 0) sampleRate_ = static_cast<float>(answer);
  }
  return sampleRate_;
}

std::int32_t ExtendedEffectBase::refreshBlockSize() {
  if (hostCallback_ != nullptr) {
    const std::int32_t answer = low32(callHost(host::blockSize, 0, 0, nullptr, 0.0f));
    if (answer > 0) blockSize_ = answer;
  }
  return blockSize_;
}

std::int32_t ExtendedEffectBase::askHostInputLatency() {
  return askHost<std::int32_t>(0, host::inputLatency, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostOutputLatency() {
  return askHost<std::int32_t>(0, host::outputLatency, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::askHostTransport(std::int32_t mask) {
  return askHost<void*>(nullptr, host::transport, 0, mask, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostProcessLevel() {
  return askHost<std::int32_t>(0, host::processLevel, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostAutomationState() {
  return askHost<std::int32_t>(0, host::automationState, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::askHostVendorText(char* text) {
  return tellHost(host::vendorText, 0, 0, text, 0.0f);
}
bool ExtendedEffectBase::askHostProductText(char* text) {
  return tellHost(host::productText, 0, 0, text, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostVendorVersion() {
  return askHost<std::int32_t>(0, host::vendorVersion, 0, 0, nullptr, 0.0f);
}
std::intptr_t ExtendedEffectBase::passHostVendorRequest(std::int32_t index, std::intptr_t value,
                                                        void* pointer, float option) {
  return askHost<std::intptr_t>(0, host::vendorRequest, index, value, pointer, option);
}
std::int32_t ExtendedEffectBase::askHostCapability(const char* name) {
  return tellHost(host::capability, 0, 0, const_cast<char*>(name), 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::askHostLanguage() {
  return askHost<std::int32_t>(0, host::language, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::askHostDirectory() {
  return askHost<void*>(nullptr, host::directory, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::tellHostDisplayChanged() {
  return tellHost(host::displayChanged, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::requestEditorSize(std::int32_t width, std::int32_t height) {
  return tellHost(host::editorSize, width, height, nullptr, 0.0f);
}
bool ExtendedEffectBase::openHostFileDialog(void* request) {
  if (request == nullptr) return false;
  return tellHost(host::openFileDialog, 0, 0, request, 0.0f);
}
bool ExtendedEffectBase::closeHostFileDialog(void* request) {
  if (request == nullptr) return false;
  return tellHost(host::closeFileDialog, 0, 0, request, 0.0f);
}
bool ExtendedEffectBase::readOfflineData(void* task, std::int32_t option, bool readSource) {
  return tellHost(host::offlineRead, readSource ? 1 : 0, option, task, 0.0f);
}
bool ExtendedEffectBase::writeOfflineData(void* task, std::int32_t option) {
  return tellHost(host::offlineWrite, 0, option, task, 0.0f);
}
bool ExtendedEffectBase::startOfflineJob(void* files, std::int32_t fileCount, std::int32_t newFileCount) {
  return tellHost(host::offlineStart, newFileCount, fileCount, files, 0.0f);
}
std::int32_t ExtendedEffectBase::askOfflinePass() {
  return tellHost(host::offlinePass, 0, 0, nullptr, 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::askOfflineMetaPass() {
  return tellHost(host::offlineMetaPass, 0, 0, nullptr, 0.0f) ? 1 : 0;
}
std::int32_t ExtendedEffectBase::requestEventInput(std::int32_t filter) {
  return askHost<std::int32_t>(0, host::wantEvents, 0, filter, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostTempo(std::int32_t position) {
  return askHost<std::int32_t>(0, host::tempo, 0, position, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostAutomatableCount() {
  return askHost<std::int32_t>(0, host::automatableCount, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostQuantization() {
  return askHost<std::int32_t>(0, host::quantization, 0, 0, nullptr, 0.0f);
}
bool ExtendedEffectBase::requestIdleCalls() { return tellHost(host::wantIdle, 0, 0, nullptr, 0.0f); }
EffectRecord* ExtendedEffectBase::askHostPreviousEffect(std::int32_t /*pin*/) {
  return askHost<EffectRecord*>(nullptr, host::previousEffect, 0, 0, nullptr, 0.0f);
}
EffectRecord* ExtendedEffectBase::askHostNextEffect(std::int32_t /*pin*/) {
  return askHost<EffectRecord*>(nullptr, host::nextEffect, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::askHostReplaceOrAccumulate() {
  return askHost<std::int32_t>(0, host::replaceOrAccumulate, 0, 0, nullptr, 0.0f);
}
std::int32_t ExtendedEffectBase::tellHostOutputSampleRate(float rate) {
  return askHost<std::int32_t>(0, host::outputSampleRate, 0, 0, nullptr, rate);
}
SpeakerArrangement* ExtendedEffectBase::askHostInputArrangement() {
  return askHost<SpeakerArrangement*>(nullptr, host::inputArrangement, 0, 0, nullptr, 0.0f);
}
SpeakerArrangement* ExtendedEffectBase::askHostOutputArrangement() {
  return askHost<SpeakerArrangement*>(nullptr, host::outputArrangement, 0, 0, nullptr, 0.0f);
}
void* ExtendedEffectBase::openHostWindow(void* description) {
  return askHost<void*>(nullptr, host::openWindow, 0, 0, description, 0.0f);
}
bool ExtendedEffectBase::closeHostWindow(void* description) {
  return tellHost(host::closeWindow, 0, 0, description, 0.0f);
}
bool ExtendedEffectBase::askHostChunkFile(char* path) {
  if (path == nullptr) return false;
  return tellHost(host::chunkFile, 0, 0, path, 0.0f);
}

} // namespace tandrel
