// The interface numbers that `tandrel check` sends and answers, in one
// place: dispatcher opcodes of the effect, host opcodes of the callback, the
// documented text capacities and the flag bits the checks read.
#pragma once

#include <cstdint>

namespace tandrel::check {

// Dispatcher opcodes sent to the effect.
namespace opcode {
constexpr std::int32_t open = 0;
constexpr std::int32_t close = 1;
constexpr std::int32_t selectProgram = 2;
constexpr std::int32_t currentProgram = 3;
constexpr std::int32_t renameProgram = 4;
constexpr std::int32_t programName = 5;
constexpr std::int32_t parameterLabel = 6;
constexpr std::int32_t parameterDisplay = 7;
constexpr std::int32_t parameterName = 8;
constexpr std::int32_t setSampleRate = 10;
constexpr std::int32_t setBlockSize = 11;
constexpr std::int32_t processingSwitch = 12;
constexpr std::int32_t editorRectangle = 13;
constexpr std::int32_t openEditor = 14;
constexpr std::int32_t getChunk = 23;
constexpr std::int32_t setChunk = 24;
constexpr std::int32_t processEvents = 25;
constexpr std::int32_t parameterAutomatable = 26;
constexpr std::int32_t parameterFromText = 27;
constexpr std::int32_t programNameByCategory = 29;
constexpr std::int32_t inputProperties = 33;
constexpr std::int32_t outputProperties = 34;
constexpr std::int32_t offlineNotification = 38;
constexpr std::int32_t offlinePreparation = 39;
constexpr std::int32_t offlineRun = 40;
constexpr std::int32_t variableInputOutput = 41;
constexpr std::int32_t setSpeakerArrangements = 42;
constexpr std::int32_t bypass = 44;
constexpr std::int32_t effectName = 45;
constexpr std::int32_t vendorString = 47;
constexpr std::int32_t productString = 48;
constexpr std::int32_t vendorVersion = 49;
constexpr std::int32_t vendorSpecific = 50;
constexpr std::int32_t canDo = 51;
constexpr std::int32_t parameterProperties = 56;
constexpr std::int32_t interfaceVersion = 58;
constexpr std::int32_t midiProgramName = 62;
constexpr std::int32_t currentMidiProgram = 63;
constexpr std::int32_t midiProgramCategory = 64;
constexpr std::int32_t midiKeyName = 66;
constexpr std::int32_t getSpeakerArrangements = 69;
constexpr std::int32_t nextShellEffect = 70;
constexpr std::int32_t processingStarts = 71;
constexpr std::int32_t processingStops = 72;
constexpr std::int32_t totalSamplesToProcess = 73;
constexpr std::int32_t panLaw = 74;
constexpr std::int32_t bankLoadBegins = 75;
constexpr std::int32_t programLoadBegins = 76;
constexpr std::int32_t processingPrecision = 77;
constexpr std::int32_t lastKnown = 79;

// Opcodes that take a buffer or a record through their pointer (42 and 69
// through their value too).
constexpr std::int32_t takingBuffer[] = {renameProgram,
                                         programName,
                                         parameterLabel,
                                         parameterDisplay,
                                         parameterName,
                                         editorRectangle,
                                         getChunk,
                                         setChunk,
                                         processEvents,
                                         parameterFromText,
                                         programNameByCategory,
                                         inputProperties,
                                         outputProperties,
                                         offlineNotification,
                                         offlinePreparation,
                                         offlineRun,
                                         variableInputOutput,
                                         setSpeakerArrangements,
                                         effectName,
                                         vendorString,
                                         productString,
                                         canDo,
                                         parameterProperties,
                                         midiProgramName,
                                         currentMidiProgram,
                                         midiProgramCategory,
                                         midiKeyName,
                                         getSpeakerArrangements,
                                         nextShellEffect,
                                         bankLoadBegins,
                                         programLoadBegins};
} // namespace opcode

// Host opcodes of the callback that the checking host answers.
namespace hostOpcode {
constexpr std::int32_t version = 1;
constexpr std::int32_t sampleRate = 16;
constexpr std::int32_t blockSize = 17;
} // namespace hostOpcode

constexpr std::intptr_t interfaceVersion = 2400;

// Characters a text answer may hold; its buffer holds one more byte, the
// terminator.
namespace textCapacity {
constexpr int parameterText = 8; // names, labels, displays
constexpr int programName = 24;
constexpr int effectName = 32;
constexpr int identityText = 64; // vendor and product
} // namespace textCapacity

// The flags word's bit for replacing processing.
constexpr std::int32_t replacingProcessFlag = 0x10;

} // namespace tandrel::check
