// The interface's vocabulary, shared by the module, the host library, the
// tools, the fuzzers and the tests: the requests a host sends through the
// dispatcher entry, the requests an effect sends through the host's
// callback, the capacities of the text buffers, the interface version, the
// bits of the record's flags word and the four-character constants.
//
// Numbers only: every name here is a constant of the interface, fixed for
// good, and this header depends on <cstdint> alone.
#pragma once

#include <cstdint>

namespace tandrel {

// Requests through the dispatcher entry. Numbers without a name here have no
// case in the frame: they answer 0 (or go on to the base dispatcher).
namespace opcode {
enum : std::int32_t {
  open = 0,
  close = 1,
  selectProgram = 2,
  currentProgram = 3,
  renameProgram = 4,
  programName = 5,
  parameterLabel = 6,
  parameterDisplay = 7,
  parameterName = 8,
  setSampleRate = 10,
  setBlockSize = 11,
  processingSwitch = 12,
  editorRectangle = 13,
  editorOpen = 14,
  editorClose = 15,
  editorIdle = 19,
  identify = 22,
  getChunk = 23,
  setChunk = 24,
  processEvents = 25,
  parameterAutomatable = 26,
  parameterFromText = 27,
  programNameByCategory = 29,
  inputProperties = 33,
  outputProperties = 34,
  category = 35,
  offlineNotification = 38,
  offlinePreparation = 39,
  offlineRun = 40,
  variableIo = 41,
  setSpeakerArrangements = 42,
  bypass = 44,
  effectName = 45,
  vendorString = 47,
  productString = 48,
  vendorVersion = 49,
  vendorRequest = 50,
  canDo = 51,
  tailSize = 52,
  parameterProperties = 56,
  interfaceVersion = 58,
  keyPressed = 59,
  keyReleased = 60,
  knobMode = 61,
  midiProgramName = 62,
  currentMidiProgram = 63,
  midiProgramCategory = 64,
  midiProgramsChanged = 65,
  midiKeyName = 66,
  programChangeBegins = 67,
  programChangeEnds = 68,
  getSpeakerArrangements = 69,
  nextShellEffect = 70,
  processingStarts = 71,
  processingStops = 72,
  totalSamplesToProcess = 73,
  panLaw = 74,
  bankLoadBegins = 75,
  programLoadBegins = 76,
  processingPrecision = 77,
  midiInputChannels = 78,
  midiOutputChannels = 79,
};
// The range of each dispatcher: EffectBase serves 0 to 24,
// ExtendedEffectBase 25 to 79.
constexpr std::int32_t lastBase = setChunk;
constexpr std::int32_t firstExtended = processEvents;
constexpr std::int32_t lastExtended = midiOutputChannels;
} // namespace opcode

// Requests through the host's callback, named after what the effect asks or
// tells. Opcode 4 serves both pin questions (value 0 input, 1 output).
namespace hostOpcode {
enum : std::int32_t {
  parameterChanged = 0,
  version = 1,
  loadingId = 2,
  idle = 3,
  pinConnected = 4,
  wantEvents = 6,
  transport = 7,
  tempo = 10,
  automatableCount = 11,
  quantization = 12,
  ioChanged = 13,
  wantIdle = 14,
  editorSize = 15,
  sampleRate = 16,
  blockSize = 17,
  inputLatency = 18,
  outputLatency = 19,
  previousEffect = 20,
  nextEffect = 21,
  replaceOrAccumulate = 22,
  processLevel = 23,
  automationState = 24,
  offlineStart = 25,
  offlineRead = 26,
  offlineWrite = 27,
  offlinePass = 28,
  offlineMetaPass = 29,
  outputSampleRate = 30,
  outputArrangement = 31,
  vendorText = 32,
  productText = 33,
  vendorVersion = 34,
  vendorRequest = 35,
  capability = 37,
  language = 38,
  openWindow = 39,
  closeWindow = 40,
  directory = 41,
  displayChanged = 42,
  editStarted = 43,
  editEnded = 44,
  openFileDialog = 45,
  closeFileDialog = 46,
  chunkFile = 48,
  inputArrangement = 49,
};
} // namespace hostOpcode

// The version of the interface: what an effect answers to
// opcode::interfaceVersion and what a host of this version answers to
// hostOpcode::version.
constexpr std::int32_t interfaceVersion = 2400;

// Text capacities: a text request's buffer holds this many characters and a
// terminating zero.
namespace textCapacity {
constexpr std::int32_t parameterText = 8; // parameter names, labels and displays
constexpr std::int32_t programName = 24;
constexpr std::int32_t effectName = 32;
constexpr std::int32_t identityText = 64; // vendor and product, the host's texts too
} // namespace textCapacity

// Four characters packed with the first in the most significant byte.
constexpr std::int32_t fourCharacters(char a, char b, char c, char d) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                   (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                   (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                   static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

constexpr std::int32_t recordMagic = fourCharacters('V', 's', 't', 'P');             // 0x56737450
constexpr std::int32_t defaultUniqueIdentifier = fourCharacters('N', 'o', 'E', 'f'); // 0x4E6F4566
constexpr std::int32_t identificationAnswer = fourCharacters('N', 'v', 'E', 'f');    // 0x4E764566

// Bits of the record's flags word. Each is set or cleared only by its own
// flag operation of the base classes; a host reads 0x1 as "has an editor".
namespace flag {
constexpr std::int32_t editor = 0x1;
constexpr std::int32_t clipIndicator = 0x2;
constexpr std::int32_t vuIndicator = 0x4;
constexpr std::int32_t monoCapable = 0x8;
constexpr std::int32_t replacingProcess = 0x10;
constexpr std::int32_t programsAsChunks = 0x20;
constexpr std::int32_t instrument = 0x100;
constexpr std::int32_t silentWhenStopped = 0x200;
constexpr std::int32_t asynchronousProcessing = 0x400;
constexpr std::int32_t externalBuffer = 0x800;
constexpr std::int32_t replacing64 = 0x1000;
} // namespace flag

// The category answers the frame gives (opcode::category).
namespace effectCategory {
constexpr std::int32_t unspecified = 0;
constexpr std::int32_t instrument = 2;
} // namespace effectCategory

} // namespace tandrel
