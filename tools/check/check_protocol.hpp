// What `tandrel check` adds to the interface's vocabulary
// (frame/protocol.hpp): the requests whose pointer (or, for 42 and 69, value)
// carries a buffer or a record, which the null-pointer check sends with null.
#pragma once

#include <cstdint>

#include "frame/protocol.hpp"

namespace tandrel::check {

// An opcode without a case in the frame that hosts send with the block size
// in its value and the sample rate in its option; some modules size their
// buffers from it and fail on zeros.
constexpr std::int32_t opcodeBlockSizeAndRate = 43;

// Opcodes that take a buffer or a record through their pointer (42 and 69
// through their value too).
constexpr std::int32_t opcodesTakingBuffer[] = {opcode::renameProgram,
                                                opcode::programName,
                                                opcode::parameterLabel,
                                                opcode::parameterDisplay,
                                                opcode::parameterName,
                                                opcode::editorRectangle,
                                                opcode::getChunk,
                                                opcode::setChunk,
                                                opcode::processEvents,
                                                opcode::parameterFromText,
                                                opcode::programNameByCategory,
                                                opcode::inputProperties,
                                                opcode::outputProperties,
                                                opcode::offlineNotification,
                                                opcode::offlinePreparation,
                                                opcode::offlineRun,
                                                opcode::variableIo,
                                                opcode::setSpeakerArrangements,
                                                opcode::effectName,
                                                opcode::vendorString,
                                                opcode::productString,
                                                opcode::canDo,
                                                opcode::parameterProperties,
                                                opcode::midiProgramName,
                                                opcode::currentMidiProgram,
                                                opcode::midiProgramCategory,
                                                opcode::midiKeyName,
                                                opcode::getSpeakerArrangements,
                                                opcode::nextShellEffect,
                                                opcode::bankLoadBegins,
                                                opcode::programLoadBegins};

} // namespace tandrel::check
