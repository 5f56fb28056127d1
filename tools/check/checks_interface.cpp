// The checks of the module's interface: loading, the record, every opcode,
// null buffers, text sizes and parameters.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check_protocol.hpp"
#include "checks.hpp"
#include "child_process.hpp"
#include "host/guarded_buffer.hpp"

namespace tandrel::check {

namespace {

using std::chrono::seconds;

constexpr std::int32_t largestSaneCount = 100000;
constexpr std::int32_t largestSaneChannelCount = 1024;
constexpr int largestTextsChecked = 512; // parameters, and programs below
constexpr int largestProgramsChecked = 128;

std::string hexText(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

// The unique identifier as the four characters it packs, or in hexadecimal
// when they are not all printable.
std::string identifierText(std::int32_t identifier) {
  std::string text = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>(static_cast<std::uint32_t>(identifier) >> shift);
    if (byte < 0x20 || byte >= 0x7f) return hexText(identifier);
    text.push_back(static_cast<char>(byte));
  }
  return text + "'";
}

// The record fields that a host reads.
struct RecordFields {
  std::int32_t programs, parameters, inputs, outputs, flags, initialDelay, uniqueIdentifier;
  bool operator==(const RecordFields&) const = default;
};

RecordFields readFields(Instance& instance) {
  const EffectRecord& r = instance.record();
  return {r.programCount, r.parameterCount, r.inputCount,      r.outputCount,
          r.flags,        r.initialDelay,   r.uniqueIdentifier};
}

std::string count(std::int32_t number, const std::string& noun) {
  return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

std::string describeFields(const RecordFields& f) {
  return count(f.inputs, "input") + ", " + count(f.outputs, "output") + ", " +
         count(f.parameters, "parameter") + ", " + count(f.programs, "program") + ", flags " +
         hexText(f.flags) + ", initial delay " + std::to_string(f.initialDelay) + ", identifier " +
         identifierText(f.uniqueIdentifier);
}

bool contains(const auto& codes, std::int32_t code) {
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

bool insane(std::int32_t count, std::int32_t largest) { return count < 0 || count > largest; }

Outcome checkLoad(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.create(true);
  const EffectRecord& record = instance->record();
  if (record.magic != recordMagic)
    return failed("the record's magic is " + hexText(record.magic) + " instead of 'VstP'");
  if (insane(record.programCount, largestSaneCount) || insane(record.parameterCount, largestSaneCount) ||
      insane(record.inputCount, largestSaneChannelCount) ||
      insane(record.outputCount, largestSaneChannelCount))
    return failed("the record's counts are not sane: " + describeFields(readFields(*instance)));
  const std::vector<host::HostCall> calls = instance->calls();
  host.stopAndClose(instance);
  if (calls.empty())
    return warned("the entry point answered a record without asking the host for its version");
  if (calls.front().opcode != hostOpcode::version)
    return warned("the entry point asked host opcode " + std::to_string(calls.front().opcode) +
                  " before the host's version");
  return passed("the entry point asked the host's version first and answered a record with magic 'VstP'");
}

Outcome checkRecord(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto first = host.create();
  auto second = host.create();
  const RecordFields fields = readFields(*first);
  const RecordFields other = readFields(*second);
  host.stopAndClose(second);
  host.stopAndClose(first);
  if (!(fields == other))
    return failed("a second instance reports other fields: " + describeFields(other) + " against " +
                  describeFields(fields));
  if (fields.initialDelay < 0) return failed("negative initial delay: " + describeFields(fields));
  if ((fields.flags & flag::replacingProcess) == 0)
    return warned("the flags do not offer replacing processing: " + describeFields(fields));
  if (fields.uniqueIdentifier == 0)
    return warned("no unique identifier, by which hosts tell effects apart: " + describeFields(fields));
  return passed(describeFields(fields) + "; a second instance agrees");
}

// Zero-filled, host-sized memory for every pointer argument a request may
// read or write.
struct RequestMemory {
  alignas(16) unsigned char block[4096] = {};
  char text[256] = {};
  void* chunk = nullptr;
  void* inputArrangement = nullptr;
  void* outputArrangement = nullptr;
  std::vector<unsigned char> inputLayout, outputLayout;

  // An arrangement record of 8 + 112 bytes per channel: type 0, the count.
  static std::vector<unsigned char> arrangement(std::int32_t channels) {
    std::vector<unsigned char> layout(8 + 112 * static_cast<std::size_t>(std::max(channels, 0)));
    std::memcpy(layout.data() + 4, &channels, sizeof channels);
    return layout;
  }
};

struct Request {
  std::int32_t index = 0;
  std::intptr_t value = 0;
  void* pointer = nullptr;
  float option = 0.0f;
};

// Valid arguments for one opcode, as a host sends them. An opcode that takes
// no buffer gets a null pointer: what a pointer would mean there is not
// defined, so no memory is a valid one.
Request validRequest(std::int32_t code, RequestMemory& memory) {
  const bool takesBuffer = contains(opcodesTakingBuffer, code);
  Request request{0, 0, takesBuffer ? memory.block : nullptr, 0.0f};
  std::memset(memory.block, 0, sizeof memory.block);
  const auto text = [&memory](const char* contents) {
    std::snprintf(memory.text, sizeof memory.text, "%s", contents);
    return memory.text;
  };
  switch (code) {
  case opcode::renameProgram:
    request.pointer = text("Checked");
    break;
  case opcode::setSampleRate:
    request.option = static_cast<float>(checkSampleRate);
    break;
  case opcode::setBlockSize:
    request.value = typicalCallSize;
    break;
  case opcode::processingSwitch:
    request.value = 1;
    break;
  case opcode::getChunk:
    request.pointer = &memory.chunk;
    break;
  case opcode::parameterFromText:
    request.pointer = text("0.5");
    break;
  case opcode::programNameByCategory:
    request.value = -1;
    break;
  case opcode::setSpeakerArrangements:
    request.value = reinterpret_cast<std::intptr_t>(memory.inputLayout.data());
    request.pointer = memory.outputLayout.data();
    break;
  case opcode::canDo:
    request.pointer = text("receiveVstMidiEvent");
    break;
  case opcode::getSpeakerArrangements:
    request.value = reinterpret_cast<std::intptr_t>(&memory.inputArrangement);
    request.pointer = &memory.outputArrangement;
    break;
  case opcode::totalSamplesToProcess:
    request.value = static_cast<std::intptr_t>(checkSampleRate);
    break;
  case opcodeBlockSizeAndRate:
    request.value = typicalCallSize;
    request.option = static_cast<float>(checkSampleRate);
    break;
  case opcode::panLaw:
    request.option = 1.0f;
    break;
  default:
    break;
  }
  return request;
}

// Opcodes whose index names a parameter: not sent to a module without any.
bool takesParameterIndex(std::int32_t code) {
  return code == opcode::parameterLabel || code == opcode::parameterDisplay ||
         code == opcode::parameterName || code == opcode::parameterAutomatable ||
         code == opcode::parameterFromText || code == opcode::parameterProperties;
}

// Requests a real host never makes that way: closing comes last, opening the
// editor needs a window, restoring a chunk needs one the module gave. Without
// a display, the editor's rectangle (13) is left out as well: a host asks for
// it only to open the editor, and modules may reach for the display there.
std::vector<std::int32_t> sentSeparately() {
  std::vector<std::int32_t> codes{opcode::close, opcode::editorOpen, opcode::setChunk};
  if (!displayPresent()) codes.insert(codes.begin() + 1, opcode::editorRectangle);
  return codes;
}
// Numbers beyond the interface, which a module must answer without harm.
constexpr std::int32_t beyondInterface[] = {80, 81, 90, 100, 1000, -1};

std::vector<long> asNumbers(const auto& codes) {
  return std::vector<long>(std::begin(codes), std::end(codes));
}

// The chunk the module gave, handed back from the host's own copy.
void restoreChunk(Instance& instance, std::intptr_t size, void* chunk) {
  if (size <= 0 || chunk == nullptr) return;
  std::vector<unsigned char> copy(static_cast<const unsigned char*>(chunk),
                                  static_cast<const unsigned char*>(chunk) + size);
  markStep("opcode %ld", opcode::setChunk);
  instance.dispatch(opcode::setChunk, 0, size, copy.data());
}

// Every opcode of the interface, then a few beyond it.
std::vector<std::int32_t> opcodesToSend() {
  std::vector<std::int32_t> codes;
  const std::vector<std::int32_t> separately = sentSeparately();
  for (std::int32_t code = 0; code <= opcode::lastExtended; ++code)
    if (!contains(separately, code)) codes.push_back(code);
  codes.insert(codes.end(), std::begin(beyondInterface), std::end(beyondInterface));
  return codes;
}

// Each request goes to the instance the earlier ones went to, as in a host;
// after a crash the rest go to a fresh instance.
Outcome checkOpcodes(const CheckContext& context) {
  const std::vector<std::int32_t> codes = opcodesToSend();
  RequestMemory memory;
  std::intptr_t chunkSize = 0;
  // After the opcodes: the chunk handed back, then one processing call.
  const SeriesResult result = sendSeries(
      context, codes.size() + 2, Preparation::configured, [&](Instance& instance, std::size_t position) {
        if (position == codes.size()) return restoreChunk(instance, chunkSize, memory.chunk);
        if (position > codes.size()) {
          markStep("processing after every opcode");
          render(instance, silence(instance.record().inputCount, typicalCallSize),
                 fixedCalls(typicalCallSize), false, typicalCallSize);
          return;
        }
        const std::int32_t code = codes[position];
        if (takesParameterIndex(code) && instance.record().parameterCount <= 0) return;
        memory.inputLayout = RequestMemory::arrangement(instance.record().inputCount);
        memory.outputLayout = RequestMemory::arrangement(instance.record().outputCount);
        const Request request = validRequest(code, memory);
        markStep("opcode %ld", code);
        const std::intptr_t answer =
            instance.dispatch(code, request.index, request.value, request.pointer, request.option);
        if (code == opcode::getChunk) chunkSize = answer;
      });
  if (!result.crashes.empty()) return summarise(result);
  return passed(std::to_string(codes.size()) + " opcodes answered without a crash (0 to " +
                std::to_string(opcode::lastExtended) + " but " + listText(asNumbers(sentSeparately())) +
                (displayPresent() ? "" : " (13: no display)") + ", then " +
                listText(asNumbers(beyondInterface)) + "), a chunk handed back, then processing");
}

// The first request processes 0 frames with null channel arrays; the others
// send the buffer opcodes with a null pointer (without a display, not 13:
// see sentSeparately()).
Outcome checkNullPointers(const CheckContext& context) {
  std::vector<std::int32_t> codes;
  for (const std::int32_t code : opcodesTakingBuffer)
    if (code != opcode::editorRectangle || displayPresent()) codes.push_back(code);
  const SeriesResult result = sendSeries(
      context, codes.size() + 1, Preparation::running, [&codes](Instance& instance, std::size_t position) {
        if (position == 0) {
          markStep("processing 0 frames with null channel arrays", Verdict::warn);
          instance.processReplacing(nullptr, nullptr, 0);
          return;
        }
        const std::int32_t code = codes[position - 1];
        markStep("opcode %ld with a null pointer", code, Verdict::warn);
        instance.dispatch(code, 0, 0, nullptr, 0.0f);
      });
  if (!result.crashes.empty()) return summarise(result);
  return passed(
      std::to_string(codes.size()) +
      " buffer opcodes with null pointers and processing of 0 frames with null channel arrays: no crash");
}

// The texts a host reads, each into a host-sized buffer of known bytes with
// guards behind it, so that every byte the module writes is seen.
class TextBoundsProbe {
public:
  static constexpr std::size_t hostBufferBytes = 256;
  static constexpr unsigned char untouched = 0xA7;
  // Past the largest documented text, 64 characters and the terminator, a
  // write is an overrun in any host.
  static constexpr std::size_t largestDocumentedBytes = textCapacity::identityText + 1;

  void read(Instance& instance, const std::string& what, std::int32_t code, std::int32_t index,
            std::intptr_t value, int capacity) {
    host::GuardedBuffer buffer(hostBufferBytes, untouched);
    markStep(what.c_str());
    instance.dispatch(code, index, value, buffer.data(), 0.0f);
    ++texts_;
    std::size_t written = hostBufferBytes;
    while (written > 0 && buffer.data()[written - 1] == untouched)
      --written;
    const auto allowed = static_cast<std::size_t>(capacity) + 1;
    const bool terminated =
        written == 0 || std::memchr(buffer.data(), 0, std::min(written, allowed)) != nullptr;
    if (!buffer.intact() || written > largestDocumentedBytes) {
      note(overruns_, what + " wrote " + (buffer.intact() ? std::to_string(written) : "more than 256") +
                          " bytes into a text of " + std::to_string(allowed));
    } else if (written > allowed) {
      note(longTexts_, what + " wrote " + std::to_string(written) + " bytes into a text of " +
                           std::to_string(allowed) + " (" + std::to_string(capacity) +
                           " characters and the terminator)");
    } else if (!terminated) {
      note(longTexts_, what + " left no terminator within " + std::to_string(allowed) + " bytes");
    }
  }

  Outcome verdict() const {
    if (overruns_.count > 0)
      return failed(std::to_string(overruns_.count) + " of " + std::to_string(texts_) +
                    " texts overran 65 bytes, e.g. " + overruns_.example);
    if (longTexts_.count > 0)
      return warned(std::to_string(longTexts_.count) + " of " + std::to_string(texts_) +
                    " texts longer than documented, e.g. " + longTexts_.example);
    return passed(std::to_string(texts_) + " texts (parameter names, labels and displays, program names, " +
                  "identity) within their documented sizes");
  }

private:
  struct Finding {
    int count = 0;
    std::string example;
  };
  static void note(Finding& finding, const std::string& what) {
    if (finding.count++ == 0) finding.example = what;
  }
  int texts_ = 0;
  Finding overruns_, longTexts_;
};

Outcome checkTextBounds(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  TextBoundsProbe probe;
  const int parameters = std::min(instance->record().parameterCount, largestTextsChecked);
  for (int p = 0; p < parameters; ++p) {
    const std::string which = "parameter " + std::to_string(p);
    probe.read(*instance, which + " name", opcode::parameterName, p, 0, textCapacity::parameterText);
    probe.read(*instance, which + " label", opcode::parameterLabel, p, 0, textCapacity::parameterText);
    probe.read(*instance, which + " display", opcode::parameterDisplay, p, 0, textCapacity::parameterText);
  }
  const std::intptr_t current = instance->dispatch(opcode::currentProgram);
  const int programs = std::min(instance->record().programCount, largestProgramsChecked);
  for (int p = 0; p < programs; ++p) {
    const std::string which = "program " + std::to_string(p);
    markStep("selecting program %ld", p);
    instance->dispatch(opcode::selectProgram, 0, p);
    probe.read(*instance, which + " name", opcode::programName, 0, 0, textCapacity::programName);
    probe.read(*instance, which + " name by category", opcode::programNameByCategory, p, -1,
               textCapacity::programName);
  }
  instance->dispatch(opcode::selectProgram, 0, current);
  probe.read(*instance, "effect name", opcode::effectName, 0, 0, textCapacity::effectName);
  probe.read(*instance, "vendor string", opcode::vendorString, 0, 0, textCapacity::identityText);
  probe.read(*instance, "product string", opcode::productString, 0, 0, textCapacity::identityText);
  host.stopAndClose(instance);
  return probe.verdict();
}

// A display text read into a large buffer: terminated, and free of control
// characters.
enum class DisplayState { fine, unterminated, controlCharacters };

DisplayState readDisplay(Instance& instance, std::int32_t parameter) {
  char text[256];
  std::memset(text, 'x', sizeof text);
  instance.dispatch(opcode::parameterDisplay, parameter, 0, text, 0.0f);
  const void* end = std::memchr(text, 0, sizeof text);
  if (end == nullptr) return DisplayState::unterminated;
  for (const char* c = text; c != end; ++c)
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) return DisplayState::controlCharacters;
  return DisplayState::fine;
}

struct ParameterFindings {
  std::string failure, warning;
  void fail(const std::string& what) {
    if (failure.empty()) failure = what;
  }
  void warn(const std::string& what) {
    if (warning.empty()) warning = what;
  }
};

std::string valueText(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

// Set and get at 0, 0.5 and 1: the value read is a number in [0, 1], and 0
// and 1 come back as set (a stepped parameter may round 0.5).
void roundTrip(Instance& instance, std::int32_t p, ParameterFindings& findings) {
  for (const float value : {0.0f, 0.5f, 1.0f}) {
    markStep("setting and getting parameter %ld", p);
    instance.setParameter(p, value);
    const float back = instance.getParameter(p);
    const std::string which = "parameter " + std::to_string(p) + " set to " + valueText(value);
    if (!std::isfinite(back) || back < 0.0f || back > 1.0f) {
      findings.fail(which + " reads " + valueText(back) + ", outside 0 to 1");
    } else if (value != 0.5f && std::fabs(back - value) > 1e-6f) {
      findings.warn(which + " reads " + valueText(back));
    }
  }
}

void displaySweep(Instance& instance, std::int32_t p, int steps, ParameterFindings& findings) {
  for (int step = 0; step <= steps; ++step) {
    const float value = static_cast<float>(step) / static_cast<float>(steps);
    instance.setParameter(p, value);
    markStep("reading the display of parameter %ld", p);
    const DisplayState state = readDisplay(instance, p);
    const std::string which = "parameter " + std::to_string(p) + " at " + valueText(value);
    if (state == DisplayState::unterminated) findings.fail(which + " displays a text without terminator");
    if (state == DisplayState::controlCharacters) findings.warn(which + " displays control characters");
  }
}

Outcome checkParameters(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  const int parameters = std::min(instance->record().parameterCount, largestTextsChecked);
  const int steps = context.quick ? 4 : 20;
  ParameterFindings findings;
  for (int p = 0; p < parameters; ++p) {
    const float original = instance->getParameter(p);
    roundTrip(*instance, p, findings);
    displaySweep(*instance, p, steps, findings);
    instance->setParameter(p, original);
  }
  host.stopAndClose(instance);
  if (!findings.failure.empty()) return failed(findings.failure);
  if (!findings.warning.empty()) return warned(findings.warning);
  return passed(count(parameters, "parameter") + " keep 0, 0.5 and 1 within 0 to 1 and display " +
                std::to_string(steps + 1) + " values each as terminated texts");
}

// The rows of this file's checks, in the order they run.
constexpr CheckDefinition rows[] = {
    {"load",
     "loads the file and calls the entry point: a record with the right magic, its entries and sane counts",
     checkLoad, seconds(30), Loading::decides},
    {"record", "reads the record's fields from two instances: they agree and the delay is not negative",
     checkRecord, seconds(30)},
    {"opcodes", "sends every opcode with the arguments a host sends, hands a chunk back, then processes",
     checkOpcodes, seconds(30)},
    {"null-pointers",
     "sends the opcodes that take a buffer with a null pointer; processes 0 frames with null arrays",
     checkNullPointers, seconds(30)},
    {"text-bounds", "reads every text a host reads into a guarded buffer: no write past its documented size",
     checkTextBounds},
    {"parameters", "sets and gets every parameter at 0, 0.5 and 1 and reads its display across its range",
     checkParameters},
};

} // namespace

constinit const CheckRows interfaceChecks = rows;

} // namespace tandrel::check
