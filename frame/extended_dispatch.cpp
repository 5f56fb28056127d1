// The dispatcher of ExtendedEffectBase: opcodes 25 to 79. The opcode minus
// 25, taken as unsigned, is tested once against 54; inside the range it
// indexes a table of 55 small handlers. Every opcode outside the range and
// every table entry without a case goes, with its arguments unchanged, to
// EffectBase's own dispatch (a qualified call, never the object's replaced
// one). Constant time, no allocation, no state: the key record of opcodes
// 59 and 60 lives on the stack for the duration of the call.
//
// Pointers the host passes are handed on as they come, with one rule shared
// with the base dispatcher: an operation that writes or reads a text, or
// writes through addresses the host gives for its answer, is not called when
// such a pointer is null. That covers opcodes 27, 29, 45, 47, 48, 51 and 70
// (texts, listed in frame/opcode_arguments.hpp and checked against it at
// compile time by pointerMissing) and 69 when neither of the host's two variables is given; the
// request then answers 0, as the opcode answers when nothing is done. Opcode
// 69 with one variable given goes on, with the other address null. The records
// behind the other pointers are never touched by the defaults; an effect
// that replaces those operations checks its own pointers.
//
// Also here: the replaced resume and the defaults that need more than one
// line. The host services are in host_services.cpp, the speaker-arrangement
// operations in speaker_arrangements.cpp.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "capabilities.hpp"
#include "dispatch_support.hpp"
#include "extended_effect_base.hpp"

namespace tandrel {

namespace {

using dispatch::low32;
using dispatch::pointerMissing;
using dispatch::Request;
using dispatch::text;
using dispatch::truth;

using Handler = std::intptr_t (*)(ExtendedEffectBase& effect, const Request& request);

constexpr std::int32_t first = opcode::firstExtended;
constexpr std::uint32_t lastCase = opcode::lastExtended - first; // 54

// Opcodes without a case and opcodes outside 25..79.
std::intptr_t base(ExtendedEffectBase& effect, const Request& request) {
  return effect.EffectBase::dispatch(request.opcode, request.index, request.value, request.pointer,
                                     request.option);
}

// The modifiers of the key record: the float truncated toward zero, reduced
// to its low 8 bits. Every float of magnitude 2^31 or more is a multiple of
// 256, so its low 8 bits are 0; those, the infinities and NaN give 0 without
// converting out of range. Below 2^31 the 32-bit conversion is exact.
std::uint8_t keyModifiers(float option) {
  constexpr float limit = 2147483648.0f; // 2^31
  if (!(std::fabs(option) < limit)) return 0;
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(option)) & 0xFFu);
}

KeyRecord keyRecord(const Request& request) {
  return KeyRecord{request.index,
                   static_cast<std::uint8_t>(static_cast<std::uintptr_t>(request.value) & 0xFFu),
                   keyModifiers(request.option)};
}

std::intptr_t processEvents(ExtendedEffectBase& effect, const Request& request) {
  return effect.processEvents(request.pointer);
}

std::intptr_t parameterAutomatable(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.isParameterAutomatable(request.index));
}

std::intptr_t parameterFromText(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::parameterFromText>(request)) return 0;
  return truth(effect.parameterFromText(request.index, text(request)));
}

std::intptr_t programNameByCategory(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::programNameByCategory>(request)) return 0;
  return truth(effect.getProgramNameByCategory(low32(request.value), request.index, text(request)));
}

std::intptr_t inputProperties(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.getInputProperties(request.index, request.pointer));
}

std::intptr_t outputProperties(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.getOutputProperties(request.index, request.pointer));
}

std::intptr_t category(ExtendedEffectBase& effect, const Request&) { return effect.getCategory(); }

std::intptr_t offlineNotification(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.offlineNotification(request.pointer, low32(request.value), request.index != 0));
}

std::intptr_t offlinePreparation(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.offlinePreparation(request.pointer, low32(request.value)));
}

std::intptr_t offlineRun(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.offlineRun(request.pointer, low32(request.value)));
}

std::intptr_t variableIo(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.processVariableIo(request.pointer));
}

std::intptr_t setArrangements(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.setSpeakerArrangements(reinterpret_cast<SpeakerArrangement*>(request.value),
                                             static_cast<SpeakerArrangement*>(request.pointer)));
}

std::intptr_t bypass(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.setBypass(request.value != 0));
}

std::intptr_t effectName(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::effectName>(request)) return 0;
  return truth(effect.getEffectName(text(request)));
}

std::intptr_t vendorString(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::vendorString>(request)) return 0;
  return truth(effect.getVendorString(text(request)));
}

std::intptr_t productString(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::productString>(request)) return 0;
  return truth(effect.getProductString(text(request)));
}

std::intptr_t vendorVersion(ExtendedEffectBase& effect, const Request&) { return effect.getVendorVersion(); }

std::intptr_t vendorRequest(ExtendedEffectBase& effect, const Request& request) {
  return effect.vendorSpecificRequest(request.index, request.value, request.pointer, request.option);
}

std::intptr_t canDo(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::canDo>(request)) return 0;
  return effect.canDo(static_cast<const char*>(request.pointer));
}

std::intptr_t tailSize(ExtendedEffectBase& effect, const Request&) { return effect.getTailSize(); }

std::intptr_t parameterProperties(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.getParameterProperties(request.index, request.pointer));
}

std::intptr_t interfaceVersion(ExtendedEffectBase& effect, const Request&) {
  return effect.getInterfaceVersion();
}

// Without an editor nothing is called and the float is not converted.
std::intptr_t keyPressed(ExtendedEffectBase&, const Request& request) {
  if (request.editor == nullptr) return 0;
  KeyRecord key = keyRecord(request);
  return truth(request.editor->keyPressed(key));
}

std::intptr_t keyReleased(ExtendedEffectBase&, const Request& request) {
  if (request.editor == nullptr) return 0;
  KeyRecord key = keyRecord(request);
  return truth(request.editor->keyReleased(key));
}

std::intptr_t knobMode(ExtendedEffectBase&, const Request& request) {
  if (request.editor == nullptr) return 0;
  return truth(request.editor->setKnobMode(low32(request.value)));
}

std::intptr_t midiProgramName(ExtendedEffectBase& effect, const Request& request) {
  return effect.getMidiProgramName(request.index, request.pointer);
}

std::intptr_t currentMidiProgram(ExtendedEffectBase& effect, const Request& request) {
  return effect.getCurrentMidiProgram(request.index, request.pointer);
}

std::intptr_t midiProgramCategory(ExtendedEffectBase& effect, const Request& request) {
  return effect.getMidiProgramCategory(request.index, request.pointer);
}

std::intptr_t midiProgramsChanged(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.haveMidiProgramsChanged(request.index));
}

std::intptr_t midiKeyName(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.getMidiKeyName(request.index, request.pointer));
}

std::intptr_t programChangeBegins(ExtendedEffectBase& effect, const Request&) {
  return truth(effect.programChangeBegins());
}

std::intptr_t programChangeEnds(ExtendedEffectBase& effect, const Request&) {
  return truth(effect.programChangeEnds());
}

std::intptr_t getArrangements(ExtendedEffectBase& effect, const Request& request) {
  if (request.value == 0 && request.pointer == nullptr) return 0;
  return truth(effect.getSpeakerArrangements(reinterpret_cast<SpeakerArrangement**>(request.value),
                                             static_cast<SpeakerArrangement**>(request.pointer)));
}

std::intptr_t nextShellEffect(ExtendedEffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::nextShellEffect>(request)) return 0;
  return effect.getNextShellEffect(text(request));
}

std::intptr_t processingStarts(ExtendedEffectBase& effect, const Request&) {
  return effect.processingStarts();
}

std::intptr_t processingStops(ExtendedEffectBase& effect, const Request&) { return effect.processingStops(); }

std::intptr_t totalSamples(ExtendedEffectBase& effect, const Request& request) {
  return effect.setTotalSamplesToProcess(low32(request.value));
}

std::intptr_t panLaw(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.setPanLaw(low32(request.value), request.option));
}

std::intptr_t bankLoadBegins(ExtendedEffectBase& effect, const Request& request) {
  return effect.bankLoadBegins(request.pointer);
}

std::intptr_t programLoadBegins(ExtendedEffectBase& effect, const Request& request) {
  return effect.programLoadBegins(request.pointer);
}

std::intptr_t processingPrecision(ExtendedEffectBase& effect, const Request& request) {
  return truth(effect.setProcessingPrecision(low32(request.value)));
}

std::intptr_t midiInputChannels(ExtendedEffectBase& effect, const Request&) {
  return effect.getMidiInputChannelCount();
}

std::intptr_t midiOutputChannels(ExtendedEffectBase& effect, const Request&) {
  return effect.getMidiOutputChannelCount();
}

constexpr std::array<Handler, lastCase + 1> handlers = {
    processEvents,         // 25 events for the effect
    parameterAutomatable,  // 26 may this parameter be automated
    parameterFromText,     // 27 set a parameter from text
    base,                  // 28
    programNameByCategory, // 29 program name by category and index
    base,                  // 30
    base,                  // 31
    base,                  // 32
    inputProperties,       // 33 properties of an input
    outputProperties,      // 34 properties of an output
    category,              // 35 category of the effect
    base,                  // 36
    base,                  // 37
    offlineNotification,   // 38 offline notification
    offlinePreparation,    // 39 offline preparation
    offlineRun,            // 40 offline run
    variableIo,            // 41 variable input/output processing
    setArrangements,       // 42 set speaker arrangements
    base,                  // 43
    bypass,                // 44 bypass on or off
    effectName,            // 45 effect name
    base,                  // 46
    vendorString,          // 47 vendor string
    productString,         // 48 product string
    vendorVersion,         // 49 vendor version
    vendorRequest,         // 50 vendor-specific request
    canDo,                 // 51 capability question
    tailSize,              // 52 length of the tail
    base,                  // 53
    base,                  // 54
    base,                  // 55
    parameterProperties,   // 56 parameter properties
    base,                  // 57
    interfaceVersion,      // 58 interface version
    keyPressed,            // 59 key pressed in the editor
    keyReleased,           // 60 key released in the editor
    knobMode,              // 61 editor knob mode
    midiProgramName,       // 62 name of a MIDI program
    currentMidiProgram,    // 63 current MIDI program
    midiProgramCategory,   // 64 MIDI program category
    midiProgramsChanged,   // 65 have the MIDI programs changed
    midiKeyName,           // 66 name of a MIDI key
    programChangeBegins,   // 67 a program change begins
    programChangeEnds,     // 68 a program change has ended
    getArrangements,       // 69 current speaker arrangements
    nextShellEffect,       // 70 next effect of a shell
    processingStarts,      // 71 processing starts
    processingStops,       // 72 processing stops
    totalSamples,          // 73 total number of samples to process
    panLaw,                // 74 pan law
    bankLoadBegins,        // 75 a bank is about to be loaded
    programLoadBegins,     // 76 a program is about to be loaded
    processingPrecision,   // 77 processing precision
    midiInputChannels,     // 78 number of MIDI input channels
    midiOutputChannels,    // 79 number of MIDI output channels
};

static_assert(dispatch::inSlot(handlers, first, opcode::processEvents, processEvents) &&
              dispatch::inSlot(handlers, first, opcode::parameterAutomatable, parameterAutomatable) &&
              dispatch::inSlot(handlers, first, opcode::parameterFromText, parameterFromText) &&
              dispatch::inSlot(handlers, first, opcode::programNameByCategory, programNameByCategory) &&
              dispatch::inSlot(handlers, first, opcode::inputProperties, inputProperties) &&
              dispatch::inSlot(handlers, first, opcode::outputProperties, outputProperties) &&
              dispatch::inSlot(handlers, first, opcode::category, category) &&
              dispatch::inSlot(handlers, first, opcode::offlineNotification, offlineNotification) &&
              dispatch::inSlot(handlers, first, opcode::offlinePreparation, offlinePreparation) &&
              dispatch::inSlot(handlers, first, opcode::offlineRun, offlineRun) &&
              dispatch::inSlot(handlers, first, opcode::variableIo, variableIo) &&
              dispatch::inSlot(handlers, first, opcode::setSpeakerArrangements, setArrangements) &&
              dispatch::inSlot(handlers, first, opcode::bypass, bypass) &&
              dispatch::inSlot(handlers, first, opcode::effectName, effectName) &&
              dispatch::inSlot(handlers, first, opcode::vendorString, vendorString) &&
              dispatch::inSlot(handlers, first, opcode::productString, productString) &&
              dispatch::inSlot(handlers, first, opcode::vendorVersion, vendorVersion) &&
              dispatch::inSlot(handlers, first, opcode::vendorRequest, vendorRequest) &&
              dispatch::inSlot(handlers, first, opcode::canDo, canDo) &&
              dispatch::inSlot(handlers, first, opcode::tailSize, tailSize) &&
              dispatch::inSlot(handlers, first, opcode::parameterProperties, parameterProperties) &&
              dispatch::inSlot(handlers, first, opcode::interfaceVersion, interfaceVersion) &&
              dispatch::inSlot(handlers, first, opcode::keyPressed, keyPressed) &&
              dispatch::inSlot(handlers, first, opcode::keyReleased, keyReleased) &&
              dispatch::inSlot(handlers, first, opcode::knobMode, knobMode) &&
              dispatch::inSlot(handlers, first, opcode::midiProgramName, midiProgramName) &&
              dispatch::inSlot(handlers, first, opcode::currentMidiProgram, currentMidiProgram) &&
              dispatch::inSlot(handlers, first, opcode::midiProgramCategory, midiProgramCategory) &&
              dispatch::inSlot(handlers, first, opcode::midiProgramsChanged, midiProgramsChanged) &&
              dispatch::inSlot(handlers, first, opcode::midiKeyName, midiKeyName) &&
              dispatch::inSlot(handlers, first, opcode::programChangeBegins, programChangeBegins) &&
              dispatch::inSlot(handlers, first, opcode::programChangeEnds, programChangeEnds) &&
              dispatch::inSlot(handlers, first, opcode::getSpeakerArrangements, getArrangements) &&
              dispatch::inSlot(handlers, first, opcode::nextShellEffect, nextShellEffect) &&
              dispatch::inSlot(handlers, first, opcode::processingStarts, processingStarts) &&
              dispatch::inSlot(handlers, first, opcode::processingStops, processingStops) &&
              dispatch::inSlot(handlers, first, opcode::totalSamplesToProcess, totalSamples) &&
              dispatch::inSlot(handlers, first, opcode::panLaw, panLaw) &&
              dispatch::inSlot(handlers, first, opcode::bankLoadBegins, bankLoadBegins) &&
              dispatch::inSlot(handlers, first, opcode::programLoadBegins, programLoadBegins) &&
              dispatch::inSlot(handlers, first, opcode::processingPrecision, processingPrecision) &&
              dispatch::inSlot(handlers, first, opcode::midiInputChannels, midiInputChannels) &&
              dispatch::inSlot(handlers, first, opcode::midiOutputChannels, midiOutputChannels));

} // namespace

std::intptr_t ExtendedEffectBase::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                           void* pointer, float option) noexcept {
  // Computed unsigned, so the subtraction cannot overflow for any opcode.
  const std::uint32_t selector = static_cast<std::uint32_t>(opcode) - static_cast<std::uint32_t>(first);
  if (selector > lastCase) return EffectBase::dispatch(opcode, index, value, pointer, option);
  const Request request{opcode, index, value, pointer, option, editor_, programCount_};
  return handlers[selector](*this, request);
}

// Event input is wanted by an instrument, and by an effect whose own can-do
// answers exactly 1 for receiving MIDI events. The host's answer is not used.
void ExtendedEffectBase::resume() noexcept {
  if ((record_.flags & flag::instrument) == 0 && canDo(receiveMidiEventCapability) != 1) return;
  requestEventInput(1);
}

std::int32_t ExtendedEffectBase::getCategory() noexcept {
  return (record_.flags & flag::instrument) != 0 ? effectCategory::instrument : effectCategory::unspecified;
}

// Either address may be null (a host that gives only one variable); nothing
// is written through it.
bool ExtendedEffectBase::getSpeakerArrangements(SpeakerArrangement** input,
                                                SpeakerArrangement** output) noexcept {
  if (input != nullptr) *input = nullptr;
  if (output != nullptr) *output = nullptr;
  return false;
}

} // namespace tandrel
