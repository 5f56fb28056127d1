// What each opcode of the dispatcher carries through its pointer (and, for
// two of them, through its value): one table for the dispatchers' null-pointer
// rules, the host library, `tandrel check` and the fuzzers, so that the
// capacity of a text buffer or the kind of a record is written once.
//
// Numbers only, like protocol.hpp; constexpr throughout, usable on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "protocol.hpp"

namespace tandrel {

// What an opcode's pointer designates.
enum class PointerArgument : std::uint8_t {
  none,               // the pointer is not used
  textOut,            // a buffer of capacity + 1 bytes the effect writes a text into
  textIn,             // a zero-terminated text the effect reads
  addressSlot,        // a variable the effect stores an address into (its answer)
  chunk,              // a block of bytes, its size in the value
  record,             // a record of the interface whose layout the effect knows
  speakerArrangement, // speaker arrangements: the output's in the pointer, the input's in the value
  arrangementSlots,   // two variables for arrangement addresses, the input's in the value
  window,             // a window of the host's platform, handed to the editor
  opaque,             // passed on unread (a vendor's own request)
};

struct OpcodeArgument {
  std::int32_t opcode;
  PointerArgument pointer;
  // For textOut and textIn: the characters the buffer holds before its
  // terminating zero; 0 otherwise.
  std::int32_t capacity;
  // The dispatcher does not call the operation when the pointer is null
  // (the request answers 0): texts, and the slots the effect writes through.
  bool nullRefused;
};

// Every opcode that carries a pointer, in opcode order. Opcodes not listed
// carry none.
inline constexpr OpcodeArgument opcodeArguments[] = {
    {opcode::renameProgram, PointerArgument::textIn, textCapacity::programName, true},
    {opcode::programName, PointerArgument::textOut, textCapacity::programName, true},
    {opcode::parameterLabel, PointerArgument::textOut, textCapacity::parameterText, true},
    {opcode::parameterDisplay, PointerArgument::textOut, textCapacity::parameterText, true},
    {opcode::parameterName, PointerArgument::textOut, textCapacity::parameterText, true},
    {opcode::editorRectangle, PointerArgument::addressSlot, 0, false},
    {opcode::editorOpen, PointerArgument::window, 0, false},
    {opcode::getChunk, PointerArgument::addressSlot, 0, true},
    {opcode::setChunk, PointerArgument::chunk, 0, false},
    {opcode::processEvents, PointerArgument::record, 0, false},
    {opcode::parameterFromText, PointerArgument::textIn, 0, true},
    {opcode::programNameByCategory, PointerArgument::textOut, textCapacity::programName, true},
    {opcode::inputProperties, PointerArgument::record, 0, false},
    {opcode::outputProperties, PointerArgument::record, 0, false},
    {opcode::offlineNotification, PointerArgument::record, 0, false},
    {opcode::offlinePreparation, PointerArgument::record, 0, false},
    {opcode::offlineRun, PointerArgument::record, 0, false},
    {opcode::variableIo, PointerArgument::record, 0, false},
    {opcode::setSpeakerArrangements, PointerArgument::speakerArrangement, 0, false},
    {opcode::effectName, PointerArgument::textOut, textCapacity::effectName, true},
    {opcode::vendorString, PointerArgument::textOut, textCapacity::identityText, true},
    {opcode::productString, PointerArgument::textOut, textCapacity::identityText, true},
    {opcode::vendorRequest, PointerArgument::opaque, 0, false},
    {opcode::canDo, PointerArgument::textIn, 0, true},
    {opcode::parameterProperties, PointerArgument::record, 0, false},
    {opcode::midiProgramName, PointerArgument::record, 0, false},
    {opcode::currentMidiProgram, PointerArgument::record, 0, false},
    {opcode::midiProgramCategory, PointerArgument::record, 0, false},
    {opcode::midiKeyName, PointerArgument::record, 0, false},
    {opcode::getSpeakerArrangements, PointerArgument::arrangementSlots, 0, false},
    {opcode::nextShellEffect, PointerArgument::textOut, textCapacity::identityText, true},
    {opcode::bankLoadBegins, PointerArgument::record, 0, false},
    {opcode::programLoadBegins, PointerArgument::record, 0, false},
};

// The table is in opcode order without repeats, and every text, in or out,
// is refused when null.
constexpr bool wellFormed() {
  for (std::size_t i = 0; i < std::size(opcodeArguments); ++i) {
    const OpcodeArgument& argument = opcodeArguments[i];
    if (i > 0 && opcodeArguments[i - 1].opcode >= argument.opcode) return false;
    const bool text =
        argument.pointer == PointerArgument::textOut || argument.pointer == PointerArgument::textIn;
    if (text && !argument.nullRefused) return false;
  }
  return true;
}
static_assert(wellFormed());

// The entry of `code`, or one with PointerArgument::none.
constexpr OpcodeArgument opcodeArgument(std::int32_t code) {
  for (const OpcodeArgument& argument : opcodeArguments)
    if (argument.opcode == code) return argument;
  return OpcodeArgument{code, PointerArgument::none, 0, false};
}

// The characters a text answer of `code` may hold before its terminating
// zero (its buffer has one byte more); -1 for an opcode that writes no text.
constexpr std::int32_t textOutCapacity(std::int32_t code) {
  const OpcodeArgument argument = opcodeArgument(code);
  return argument.pointer == PointerArgument::textOut ? argument.capacity : -1;
}

// Whether the dispatcher skips the operation of `code` for a null pointer.
constexpr bool refusesNullPointer(std::int32_t code) { return opcodeArgument(code).nullRefused; }

} // namespace tandrel
