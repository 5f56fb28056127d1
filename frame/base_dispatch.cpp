// The dispatcher of EffectBase: opcodes 0 to 24. One unsigned range test
// sends every other opcode (negative ones included) to the answer 0; inside
// the range the opcode indexes a table of 25 small handlers, each of which
// converts the request's arguments, makes at most one virtual call and turns
// its result into the answer. Constant time, no allocation, no state.
//
// Pointers the host passes are handed on as they come, with one rule: an
// operation that writes or reads a text, or writes through an address the
// host gives for its answer (opcodes 4 to 8 and 23), is not called when that
// pointer is null, and the request answers what it answers when nothing is
// done (0); frame/opcode_arguments.hpp lists these opcodes, and each of their
// handlers names its opcode to pointerMissing, which checks it against the
// list at compile time. Operations therefore never see a null text pointer from the
// dispatcher; the empty-text defaults still check as a second line.

#include <array>
#include <cstdint>

#include "dispatch_support.hpp"
#include "effect_base.hpp"

namespace tandrel {

namespace {

using dispatch::fits32;
using dispatch::low32;
using dispatch::pointerMissing;
using dispatch::Request;
using dispatch::text;
using dispatch::truth;

using Handler = std::intptr_t (*)(EffectBase& effect, const Request& request);

std::intptr_t noCase(EffectBase&, const Request&) { return 0; }

std::intptr_t opened(EffectBase& effect, const Request&) {
  effect.open();
  return 0;
}

std::intptr_t closing(EffectBase& effect, const Request&) {
  effect.close();
  return 0;
}

// Accepted when the value is below the number of programs; there is no lower
// bound. A pointer-sized value that does not fit 32 bits names no program
// and is ignored like one at or above the count.
std::intptr_t selectProgram(EffectBase& effect, const Request& request) {
  if (request.value < request.programCount && fits32(request.value)) {
    effect.setCurrentProgram(low32(request.value));
  }
  return 0;
}

std::intptr_t currentProgram(EffectBase& effect, const Request&) { return effect.getCurrentProgram(); }

std::intptr_t renameProgram(EffectBase& effect, const Request& request) {
  if (!pointerMissing<opcode::renameProgram>(request)) effect.setProgramName(text(request));
  return 0;
}

std::intptr_t programName(EffectBase& effect, const Request& request) {
  if (!pointerMissing<opcode::programName>(request)) effect.getProgramName(text(request));
  return 0;
}

std::intptr_t parameterLabel(EffectBase& effect, const Request& request) {
  if (!pointerMissing<opcode::parameterLabel>(request))
    effect.getParameterLabel(request.index, text(request));
  return 0;
}

std::intptr_t parameterDisplay(EffectBase& effect, const Request& request) {
  if (!pointerMissing<opcode::parameterDisplay>(request))
    effect.getParameterDisplay(request.index, text(request));
  return 0;
}

std::intptr_t parameterName(EffectBase& effect, const Request& request) {
  if (!pointerMissing<opcode::parameterName>(request)) effect.getParameterName(request.index, text(request));
  return 0;
}

// The float goes on as it came, NaN payloads and subnormals included.
std::intptr_t sampleRate(EffectBase& effect, const Request& request) {
  effect.setSampleRate(request.option);
  return 0;
}

std::intptr_t blockSize(EffectBase& effect, const Request& request) {
  effect.setBlockSize(low32(request.value));
  return 0;
}

std::intptr_t processingSwitch(EffectBase& effect, const Request& request) {
  if (request.value == 0) {
    effect.suspend();
  } else {
    effect.resume();
  }
  return 0;
}

std::intptr_t editorRectangle(EffectBase&, const Request& request) {
  if (request.editor == nullptr) return 0;
  return truth(request.editor->getRectangle(static_cast<void**>(request.pointer)));
}

std::intptr_t editorOpen(EffectBase&, const Request& request) {
  if (request.editor == nullptr) return 0;
  return truth(request.editor->open(request.pointer));
}

std::intptr_t editorClose(EffectBase&, const Request& request) {
  if (request.editor != nullptr) request.editor->close();
  return 0;
}

std::intptr_t editorIdle(EffectBase&, const Request& request) {
  if (request.editor != nullptr) request.editor->idle();
  return 0;
}

std::intptr_t identify(EffectBase&, const Request&) { return identificationAnswer; }

std::intptr_t getChunk(EffectBase& effect, const Request& request) {
  if (pointerMissing<opcode::getChunk>(request)) return 0;
  return effect.getChunk(static_cast<void**>(request.pointer), request.index != 0);
}

std::intptr_t setChunk(EffectBase& effect, const Request& request) {
  return effect.setChunk(request.pointer, low32(request.value), request.index != 0);
}

constexpr std::array<Handler, opcode::lastBase + 1> handlers = {
    opened,           // 0  effect opened
    closing,          // 1  effect about to be closed
    selectProgram,    // 2  select a program
    currentProgram,   // 3  current program
    renameProgram,    // 4  rename the current program
    programName,      // 5  current program's name
    parameterLabel,   // 6  parameter's unit label
    parameterDisplay, // 7  parameter's value as text
    parameterName,    // 8  parameter's name
    noCase,           // 9
    sampleRate,       // 10 set the sample rate
    blockSize,        // 11 set the maximum block size
    processingSwitch, // 12 processing off (0) or on
    editorRectangle,  // 13 editor's rectangle
    editorOpen,       // 14 open the editor
    editorClose,      // 15 close the editor
    noCase,           // 16
    noCase,           // 17
    noCase,           // 18
    editorIdle,       // 19 editor idle time
    noCase,           // 20
    noCase,           // 21
    identify,         // 22 identification
    getChunk,         // 23 state as one block of data
    setChunk,         // 24 restore the state from one block
};

static_assert(dispatch::inSlot(handlers, 0, opcode::open, opened) &&
              dispatch::inSlot(handlers, 0, opcode::close, closing) &&
              dispatch::inSlot(handlers, 0, opcode::selectProgram, selectProgram) &&
              dispatch::inSlot(handlers, 0, opcode::currentProgram, currentProgram) &&
              dispatch::inSlot(handlers, 0, opcode::renameProgram, renameProgram) &&
              dispatch::inSlot(handlers, 0, opcode::programName, programName) &&
              dispatch::inSlot(handlers, 0, opcode::parameterLabel, parameterLabel) &&
              dispatch::inSlot(handlers, 0, opcode::parameterDisplay, parameterDisplay) &&
              dispatch::inSlot(handlers, 0, opcode::parameterName, parameterName) &&
              dispatch::inSlot(handlers, 0, opcode::setSampleRate, sampleRate) &&
              dispatch::inSlot(handlers, 0, opcode::setBlockSize, blockSize) &&
              dispatch::inSlot(handlers, 0, opcode::processingSwitch, processingSwitch) &&
              dispatch::inSlot(handlers, 0, opcode::editorRectangle, editorRectangle) &&
              dispatch::inSlot(handlers, 0, opcode::editorOpen, editorOpen) &&
              dispatch::inSlot(handlers, 0, opcode::editorClose, editorClose) &&
              dispatch::inSlot(handlers, 0, opcode::editorIdle, editorIdle) &&
              dispatch::inSlot(handlers, 0, opcode::identify, identify) &&
              dispatch::inSlot(handlers, 0, opcode::getChunk, getChunk) &&
              dispatch::inSlot(handlers, 0, opcode::setChunk, setChunk));

} // namespace

std::intptr_t EffectBase::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                   void* pointer, float option) noexcept {
  const auto selector = static_cast<std::uint32_t>(opcode);
  if (selector > static_cast<std::uint32_t>(opcode::lastBase)) return 0;
  const Request request{opcode, index, value, pointer, option, editor_, programCount_};
  return handlers[selector](*this, request);
}

} // namespace tandrel
