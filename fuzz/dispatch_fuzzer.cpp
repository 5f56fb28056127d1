// Fuzzes the opcode interface as a hostile host would use it: any opcode,
// index, value and float, with every pointer argument pointing into a
// guarded buffer of exactly the size that the interface promises for that
// opcode, and host callback answers taken from the input. Two effects are
// driven through their record entries: the product, created through the
// exported entry point, and a bare ExtendedEffectBase whose flags, counts and
// capability answer come from the input, so that the frame's defaults and the
// extended resume's host request are reached too. Parameter writes of any
// float and direct calls of the number-text operations are mixed in.
//
// After every call it checks: the answer (each opcode's answer is fixed for
// these two effects), the guard regions, the bytes each text answer may
// write (the text, then zeros up to and including index N, nothing else),
// that buffers the operation must not touch are untouched, that the record
// does not change, and that the host is called only when and as it must be.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "effect/tandrel_effect.hpp"
#include "frame/effect_record.hpp"
#include "frame/entry.hpp"
#include "frame/extended_effect_base.hpp"
#include "frame/opcode_arguments.hpp"
#include "frame/speaker_arrangement.hpp"
#include "fuzz_values.hpp"
#include "host/guarded_buffer.hpp"
#include "host/module_host.hpp"

namespace {

using tandrel::EffectRecord;
using tandrel::fuzz::anyFloat;
using tandrel::fuzz::anyInteger;
using tandrel::fuzz::bitsOf;
using tandrel::host::GuardedBuffer;

// An editor that records what the frame asks of it and answers as the input
// says.
class FuzzEditor : public tandrel::EffectEditor {
public:
  bool answer = false;
  int calls = 0;
  tandrel::KeyRecord key{};
  std::int32_t knobMode = 0;
  bool getRectangle(void**) noexcept override { return ++calls, answer; }
  bool open(void*) noexcept override { return ++calls, answer; }
  void close() noexcept override { ++calls; }
  void idle() noexcept override { ++calls; }
  bool keyPressed(tandrel::KeyRecord& pressed) noexcept override { return ++calls, key = pressed, answer; }
  bool keyReleased(tandrel::KeyRecord& released) noexcept override { return ++calls, key = released, answer; }
  bool setKnobMode(std::int32_t mode) noexcept override { return ++calls, knobMode = mode, answer; }
};

// The frame's defaults, with the choices that the product fixes left to the
// input: counts, flags, the answer of its capability question and an editor.
class BareEffect : public tandrel::ExtendedEffectBase {
public:
  BareEffect(tandrel::HostCallback callback, std::int32_t programs, std::int32_t parameters,
             std::int32_t canDoAnswer)
      : ExtendedEffectBase(callback, programs, parameters), canDoAnswer_(canDoAnswer) {}
  void processAudio(float**, float**, std::int32_t) noexcept override {}
  std::int32_t canDo(const char*) noexcept override { return canDoAnswer_; }
  void setFlags(std::int32_t bits) { setFlag(bits, true); }
  // The effect owns the editor from here on and destroys it with itself.
  void attach(FuzzEditor* editor) { editor_ = editor; }

private:
  std::int32_t canDoAnswer_;
};

using tandrel::host::HostCall;

// The host side of one run. The callback has no context argument, so the
// state is global; libFuzzer runs one input at a time.
struct Host {
  FuzzedDataProvider* input = nullptr;
  std::vector<HostCall> calls;
  std::intptr_t lastAnswer = 0;

  std::intptr_t answer() {
    switch (input->ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      return lastAnswer = 0;
    case 1:
      return lastAnswer = 1;
    case 2:
      return lastAnswer = tandrel::interfaceVersion;
    case 3:
      return lastAnswer = -1;
    default:
      return lastAnswer = input->ConsumeIntegral<std::intptr_t>();
    }
  }
};
Host host;

std::intptr_t hostCallback(EffectRecord* record, std::int32_t opcode, std::int32_t index, std::intptr_t value,
                           void* pointer, float option) {
  host.calls.push_back({record, opcode, index, value, pointer, option});
  return host.answer();
}

// What the fuzzer knows about the effect it drives.
struct Model {
  bool product = false;
  std::int32_t programCount = 1;
  std::int32_t flags = tandrel::flag::replacingProcess;
  std::int32_t canDoAnswer = 0;
  FuzzEditor* editor = nullptr; // owned by the effect
  std::optional<std::int32_t> currentProgram = 0;
  std::string programName = "Default";
  float source = 1.0f;
  float ratio = 0.25f;
};

// The text operations' buffers hold N + 1 bytes (frame/opcode_arguments.hpp);
// -1 for opcodes that write no text.
int textLength(std::int32_t opcode) { return tandrel::textOutCapacity(opcode); }

bool takesTextIn(std::int32_t opcode) {
  using namespace tandrel::opcode;
  return opcode == renameProgram || opcode == parameterFromText || opcode == canDo;
}
bool takesPointerSlot(std::int32_t opcode) {
  return opcode == tandrel::opcode::editorRectangle || opcode == tandrel::opcode::getChunk;
}

// A text of at most n characters followed by zeros up to and including index n.
bool isPaddedText(const GuardedBuffer& buffer, std::size_t n) {
  const unsigned char* text = buffer.data();
  std::size_t end = 0;
  while (end <= n && text[end] != 0)
    ++end;
  if (end > n) return false;
  for (std::size_t i = end; i <= n; ++i)
    if (text[i] != 0) return false;
  return true;
}

bool isPrintable(const GuardedBuffer& buffer) {
  for (const unsigned char* c = buffer.data(); *c != 0; ++c)
    if (*c < 0x20 || *c > 0x7E) return false;
  return true;
}

std::string_view textOf(const GuardedBuffer& buffer) { return reinterpret_cast<const char*>(buffer.data()); }

bool sameFloat(float a, float b) { return bitsOf(a) == bitsOf(b) || (a != a && b != b); }

bool isEditorOpcode(std::int32_t opcode) {
  using namespace tandrel::opcode;
  return opcode == editorRectangle || opcode == editorOpen || opcode == editorClose || opcode == editorIdle ||
         (opcode >= keyPressed && opcode <= knobMode);
}

std::intptr_t expectedAnswer(const Model& model, std::int32_t opcode, std::intptr_t value) {
  switch (opcode) {
  case tandrel::opcode::editorRectangle:
  case tandrel::opcode::editorOpen:
  case tandrel::opcode::keyPressed:
  case tandrel::opcode::keyReleased:
  case tandrel::opcode::knobMode:
    return model.editor != nullptr && model.editor->answer ? 1 : 0;
  case tandrel::opcode::currentProgram:
    return model.currentProgram.value_or(0);
  case tandrel::opcode::identify:
    return tandrel::identificationAnswer;
  case tandrel::opcode::parameterAutomatable:
    return 1;
  case tandrel::opcode::category:
    return !model.product && (model.flags & tandrel::flag::instrument) != 0 ? 2 : 0;
  case tandrel::opcode::effectName:
  case tandrel::opcode::vendorString:
  case tandrel::opcode::productString:
    return model.product ? 1 : 0;
  case tandrel::opcode::vendorVersion:
    return model.product ? 1000 : 0;
  case tandrel::opcode::canDo:
    return model.product ? 0 : model.canDoAnswer;
  case tandrel::opcode::interfaceVersion:
    return tandrel::interfaceVersion;
  case tandrel::opcode::currentMidiProgram:
    return -1;
  case tandrel::opcode::totalSamplesToProcess:
    return static_cast<std::int32_t>(value);
  default:
    return 0;
  }
}

// What a text opcode must have left in its buffer.
void checkTextAnswer(const Model& model, std::int32_t opcode, std::int32_t index, GuardedBuffer& buffer,
                     unsigned char fill) {
  const auto n = static_cast<std::size_t>(textLength(opcode));
  const bool parameterText = opcode >= 6 && opcode <= 8;
  if (!model.product) {
    if (opcode == 5 || parameterText) { // base defaults: an empty text, no other byte touched
      FUZZ_CHECK(buffer.data()[0] == 0, "opcode %d left no empty text", opcode);
      for (std::size_t i = 1; i <= n; ++i)
        FUZZ_CHECK(buffer.data()[i] == fill, "opcode %d wrote byte %zu", opcode, i);
    } else {
      FUZZ_CHECK(buffer.holdsOnly(fill), "default of opcode %d wrote into its buffer", opcode);
    }
    return;
  }
  if (opcode == 29 || opcode == 70 || (parameterText && index != 0 && index != 1)) {
    FUZZ_CHECK(buffer.holdsOnly(fill), "opcode %d index %d wrote into its buffer", opcode, index);
    return;
  }
  FUZZ_CHECK(isPaddedText(buffer, n), "opcode %d index %d: text not followed by zeros up to index %zu",
             opcode, index, n);
  const std::string_view text = textOf(buffer);
  switch (opcode) {
  case tandrel::opcode::programName:
    FUZZ_CHECK(text == model.programName, "program name '%.*s', expected '%s'", static_cast<int>(text.size()),
               text.data(), model.programName.c_str());
    break;
  case tandrel::opcode::parameterLabel:
    FUZZ_CHECK(text == (index == 0 ? "Control" : " "), "label %d", index);
    break;
  case tandrel::opcode::parameterDisplay:
    FUZZ_CHECK(isPrintable(buffer), "display %d not printable", index);
    if (index == 0 && model.source == model.source)
      FUZZ_CHECK(text == (model.source < 0.5f ? "R-L" : "L-R"), "source display '%.*s'",
                 static_cast<int>(text.size()), text.data());
    break;
  case tandrel::opcode::parameterName:
    FUZZ_CHECK(text == (index == 0 ? "Source" : "Ratio x "), "name %d", index);
    break;
  case tandrel::opcode::effectName:
  case tandrel::opcode::productString:
    FUZZ_CHECK(text == "Tandrel", "opcode %d text", opcode);
    break;
  case tandrel::opcode::vendorString:
    FUZZ_CHECK(text == "Mirvex", "vendor text");
    break;
  default:
    break;
  }
}

// One request through the dispatcher entry, with the arguments the input
// chooses. Returns false when it closed the effect.
bool dispatchOnce(FuzzedDataProvider& input, EffectRecord* record, Model& model) {
  const std::int32_t opcode = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-2, 82)
                                                  : input.ConsumeIntegral<std::int32_t>();
  const std::int32_t index = anyInteger<std::int32_t>(input, -2, 4);
  std::intptr_t value = anyInteger<std::intptr_t>(input, -2, 4);
  const float option = anyFloat(input);
  const unsigned char fill = input.ConsumeIntegral<unsigned char>();

  // Every buffer of this request. After the call each must have intact
  // guards, and every one but the text answer and the host's two pointer
  // variables of opcode 69 must hold exactly what it held before.
  struct Argument {
    std::unique_ptr<GuardedBuffer> buffer;
    std::vector<unsigned char> before;
    bool written;
  };
  std::vector<Argument> arguments;
  auto make = [&](std::size_t size, unsigned char with, bool written = false) {
    arguments.push_back({std::make_unique<GuardedBuffer>(size, with), {}, written});
    return arguments.back().buffer.get();
  };
  void* pointer = nullptr;
  GuardedBuffer* text = nullptr;
  GuardedBuffer* slots[2] = {nullptr, nullptr};
  std::string textIn;

  if (textLength(opcode) >= 0) {
    text = make(static_cast<std::size_t>(textLength(opcode)) + 1, fill, true);
    pointer = text->data();
  } else if (takesTextIn(opcode)) { // a zero-terminated text of any length and content
    textIn = input.ConsumeRandomLengthString(80);
    GuardedBuffer* in = make(textIn.size() + 1, 0);
    std::memcpy(in->data(), textIn.c_str(), textIn.size() + 1);
    pointer = in->data();
  } else if (takesPointerSlot(opcode)) { // the address of one of the host's pointer variables
    pointer = make(sizeof(void*), 0xCC)->data();
  } else if (opcode == 69) { // both arguments address one of the host's pointer variables
    slots[0] = make(sizeof(void*), 0xCC, true);
    slots[1] = make(sizeof(void*), 0xCC, true);
    value = reinterpret_cast<std::intptr_t>(slots[0]->data());
    pointer = slots[1]->data();
  } else if (opcode == 42) { // two speaker arrangements: value and pointer
    for (GuardedBuffer*& slot : slots) {
      const auto channels = input.ConsumeIntegralInRange<std::int32_t>(0, 3);
      slot = make(tandrel::speakerArrangementBytes(channels), fill);
      std::memcpy(slot->data() + 4, &channels, sizeof channels);
    }
    value = reinterpret_cast<std::intptr_t>(slots[0]->data());
    pointer = slots[1]->data();
  } else if (opcode == 24) { // a block of data of `value` bytes
    GuardedBuffer* block = make(input.ConsumeIntegralInRange<std::size_t>(0, 64), fill);
    value = static_cast<std::intptr_t>(block->size());
    pointer = block->data();
  } else if (input.ConsumeBool()) { // a record that no default reads or writes
    pointer = make(256, fill)->data();
  }
  for (Argument& argument : arguments)
    argument.before.assign(argument.buffer->data(), argument.buffer->data() + argument.buffer->size());

  const EffectRecord before = *record;
  host.calls.clear();
  int editorCallsBefore = 0;
  if (model.editor != nullptr) {
    model.editor->answer = input.ConsumeBool();
    editorCallsBefore = model.editor->calls;
  }
  const std::intptr_t answer = record->dispatcherEntry(record, opcode, index, value, pointer, option);

  for (Argument& argument : arguments) {
    GuardedBuffer& buffer = *argument.buffer;
    FUZZ_CHECK(buffer.intact(), "opcode %d wrote outside its %zu-byte buffer", opcode, buffer.size());
    FUZZ_CHECK(argument.written || buffer.size() == 0 ||
                   std::memcmp(buffer.data(), argument.before.data(), buffer.size()) == 0,
               "opcode %d changed a %zu-byte buffer that it must not write", opcode, buffer.size());
  }
  if (opcode == 1) {
    model.editor = nullptr; // destroyed with the effect
    FUZZ_CHECK(answer == 1, "close answered %ld", static_cast<long>(answer));
    FUZZ_CHECK(host.calls.empty(), "close called the host");
    return false;
  }

  if (opcode == 3 && !model.currentProgram) model.currentProgram = static_cast<std::int32_t>(answer);
  FUZZ_CHECK(answer == expectedAnswer(model, opcode, value), "opcode %d index %d value %ld answered %ld",
             opcode, index, static_cast<long>(value), static_cast<long>(answer));
  FUZZ_CHECK(std::memcmp(&before, record, sizeof before) == 0, "opcode %d changed the record", opcode);

  if (text != nullptr) checkTextAnswer(model, opcode, index, *text, fill);
  if (model.editor != nullptr) {
    const int editorCalls = model.editor->calls - editorCallsBefore;
    FUZZ_CHECK(editorCalls == (isEditorOpcode(opcode) ? 1 : 0), "opcode %d made %d editor calls", opcode,
               editorCalls);
    if (opcode == 59 || opcode == 60) {
      const tandrel::KeyRecord& key = model.editor->key;
      FUZZ_CHECK(key.character == index && key.virtualKey == static_cast<std::uint8_t>(value & 0xFF),
                 "key record %d/%u for index %d value %ld", key.character, key.virtualKey, index,
                 static_cast<long>(value));
      if (std::fabs(option) < 2147483648.0f)
        FUZZ_CHECK(key.modifiers == static_cast<std::uint8_t>(static_cast<std::int32_t>(option) & 0xFF),
                   "modifiers %u for float 0x%08x", key.modifiers, bitsOf(option));
    }
    if (opcode == 61) FUZZ_CHECK(model.editor->knobMode == static_cast<std::int32_t>(value), "knob mode");
  }
  if (opcode == 69)
    for (GuardedBuffer* slot : slots)
      FUZZ_CHECK(slot->holdsOnly(0), "opcode 69 left a host variable non-null");

  // Host calls: only switching processing on may send one (event input),
  // and only for an instrument or an effect that can receive MIDI events.
  const bool asksEvents = opcode == 12 && value != 0 && !model.product &&
                          ((model.flags & tandrel::flag::instrument) != 0 || model.canDoAnswer == 1);
  FUZZ_CHECK(host.calls.size() == (asksEvents ? 1u : 0u), "opcode %d value %ld made %zu host calls", opcode,
             static_cast<long>(value), host.calls.size());
  if (asksEvents) {
    const HostCall& call = host.calls[0];
    FUZZ_CHECK(call.record == record && call.opcode == 6 && call.index == 0 && call.value == 1 &&
                   call.pointer == nullptr && bitsOf(call.option) == 0,
               "event input request sent as opcode %d index %d value %ld", call.opcode, call.index,
               static_cast<long>(call.value));
  }

  // What later requests must see.
  if (opcode == 2) {
    if (value >= INT32_MIN && value <= INT32_MAX) {
      if (static_cast<std::int32_t>(value) < model.programCount)
        model.currentProgram = static_cast<std::int32_t>(value);
    } else {
      model.currentProgram.reset(); // the width of the comparison is not fixed for such values
    }
  }
  if (opcode == 4 && model.product) model.programName = std::string(textIn.c_str()).substr(0, 24);
  return true;
}

void setParameterOnce(FuzzedDataProvider& input, EffectRecord* record, Model& model) {
  const std::int32_t index = anyInteger<std::int32_t>(input, -1, 2);
  const float value = anyFloat(input);
  record->setParameterEntry(record, index, value);
  if (model.product) {
    if (index == 0) model.source = value;
    if (index == 1) model.ratio = value;
  }
  const std::int32_t readIndex = input.ConsumeBool() ? index : anyInteger<std::int32_t>(input, -1, 2);
  const float read = record->getParameterEntry(record, readIndex);
  const float expected = !model.product ? 0.0f : readIndex == 1 ? model.ratio : model.source;
  FUZZ_CHECK(sameFloat(read, expected), "parameter %d reads 0x%08x, expected 0x%08x", readIndex, bitsOf(read),
             bitsOf(expected));
}

// The number formatters that take a float; an operation past them is
// formatInteger.
using FloatFormatter = void (tandrel::EffectBase::*)(float, char*, std::int32_t) noexcept;
constexpr FloatFormatter floatFormatters[] = {
    &tandrel::EffectBase::formatDecibels, &tandrel::EffectBase::formatHertz,
    &tandrel::EffectBase::formatMilliseconds, &tandrel::EffectBase::formatFloat};
constexpr int floatFormatterCount = static_cast<int>(std::size(floatFormatters));

// The number texts, with any value and any maximum length.
void formatOnce(FuzzedDataProvider& input, EffectRecord* record) {
  auto* effect = static_cast<tandrel::EffectBase*>(record->owningObject);
  const int operation = input.ConsumeIntegralInRange<int>(0, floatFormatterCount);
  const float value = anyFloat(input);
  const std::int32_t integer = anyInteger<std::int32_t>(input, -1000, 1000);
  const auto n = input.ConsumeIntegralInRange<std::int32_t>(0, 40);
  const unsigned char fill = input.ConsumeIntegral<unsigned char>();
  GuardedBuffer buffer(static_cast<std::size_t>(n) + 1, fill);
  char* text = reinterpret_cast<char*>(buffer.data());
  if (operation < floatFormatterCount)
    (effect->*floatFormatters[operation])(value, text, n);
  else
    effect->formatInteger(integer, text, n);
  FUZZ_CHECK(buffer.intact(), "number text %d of 0x%08x / %d wrote past index %d", operation, bitsOf(value),
             integer, n);
  FUZZ_CHECK(isPaddedText(buffer, static_cast<std::size_t>(n)),
             "number text %d of 0x%08x / %d, N %d: no zeros", operation, bitsOf(value), integer, n);
  FUZZ_CHECK(isPrintable(buffer), "number text %d of 0x%08x / %d is not printable: '%s'", operation,
             bitsOf(value), integer, text);
}

// The speaker-arrangement operations on one slot that the run keeps (and
// releases at its end): making with any channel count, releasing, copying
// from a guarded record of exactly the size its channel count gives, and
// copying one speaker's properties. They run on an effect of their own, which
// outlives a close of the effect under test.
void arrangementOnce(FuzzedDataProvider& input, tandrel::ExtendedEffectBase* effect,
                     tandrel::SpeakerArrangement*& slot) {
  using tandrel::SpeakerArrangement;
  using tandrel::SpeakerProperties;
  // The copy rule for one speaker: everything but the text bytes as in the
  // source; the text up to its first zero (at most 63 characters), zeros after.
  auto copiedAsItShould = [](const unsigned char* copy, const unsigned char* source) {
    if (std::memcmp(copy, source, 16) != 0 || std::memcmp(copy + 80, source + 80, 32) != 0) return false;
    bool ended = false;
    for (int i = 0; i < 64; ++i) {
      ended = ended || i == 63 || source[16 + i] == 0;
      if (copy[16 + i] != (ended ? 0 : source[16 + i])) return false;
    }
    return true;
  };
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
  case 0: {
    const std::int32_t channels = anyInteger<std::int32_t>(input, -2, 6);
    const bool made = effect->newSpeakerArrangement(&slot, channels);
    const bool fits = channels >= 0 && channels <= tandrel::maxSpeakerChannels;
    FUZZ_CHECK(made == fits, "making %d channels answered %d", channels, made);
    FUZZ_CHECK(made == (slot != nullptr), "the slot after making %d channels", channels);
    if (made) {
      FUZZ_CHECK(slot->channelCount == channels && slot->arrangementType == 0, "made %d channels", channels);
      const auto* bytes = reinterpret_cast<const unsigned char*>(slot);
      const std::size_t size = tandrel::speakerArrangementBytes(std::min(channels, 8));
      for (std::size_t i = 8; i < size; ++i)
        FUZZ_CHECK(bytes[i] == 0, "new arrangement byte %zu is not zero", i);
    }
    break;
  }
  case 1:
    FUZZ_CHECK(effect->releaseSpeakerArrangement(&slot), "release answered false");
    FUZZ_CHECK(slot == nullptr, "release left the slot set");
    break;
  case 2: {
    const auto channels = input.ConsumeIntegralInRange<std::int32_t>(0, 4);
    GuardedBuffer source(tandrel::speakerArrangementBytes(channels));
    const std::vector<std::uint8_t> content = input.ConsumeBytes<std::uint8_t>(source.size());
    if (!content.empty()) std::memcpy(source.data(), content.data(), content.size());
    std::memcpy(source.data() + 4, &channels, sizeof channels);
    const bool copied =
        effect->copySpeakerArrangement(&slot, reinterpret_cast<const SpeakerArrangement*>(source.data()));
    FUZZ_CHECK(source.intact(), "copying an arrangement read or wrote outside its %zu bytes", source.size());
    FUZZ_CHECK(copied && slot != nullptr, "copying %d channels failed", channels);
    FUZZ_CHECK(std::memcmp(slot, source.data(), 8) == 0, "copy of the arrangement's type and count");
    for (std::int32_t i = 0; i < channels; ++i)
      FUZZ_CHECK(copiedAsItShould(reinterpret_cast<const unsigned char*>(&slot->speakers[i]),
                                  source.data() + 8 + 112 * static_cast<std::size_t>(i)),
                 "speaker %d of %d copied wrongly", i, channels);
    break;
  }
  default: {
    GuardedBuffer source(sizeof(SpeakerProperties)), destination(sizeof(SpeakerProperties), 0xEE);
    const std::vector<std::uint8_t> content = input.ConsumeBytes<std::uint8_t>(source.size());
    if (!content.empty()) std::memcpy(source.data(), content.data(), content.size());
    FUZZ_CHECK(effect->copySpeakerProperties(reinterpret_cast<SpeakerProperties*>(destination.data()),
                                             reinterpret_cast<const SpeakerProperties*>(source.data())),
               "copying speaker properties answered false");
    FUZZ_CHECK(source.intact() && destination.intact(), "copying speaker properties went outside 112 bytes");
    FUZZ_CHECK(copiedAsItShould(destination.data(), source.data()), "speaker properties copied wrongly");
    break;
  }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  host.input = &input;
  host.calls.clear();

  Model model;
  model.product = input.ConsumeBool();
  EffectRecord* record = nullptr;
  if (model.product) {
    record = VSTPluginMain(hostCallback);
    FUZZ_CHECK(host.calls.size() == 1, "the entry point made %zu host calls", host.calls.size());
    const HostCall& query = host.calls[0];
    FUZZ_CHECK(query.record == nullptr && query.opcode == 1 && query.index == 0 && query.value == 0 &&
                   query.pointer == nullptr && bitsOf(query.option) == 0,
               "version query sent as opcode %d", query.opcode);
    if (host.lastAnswer == 0) {
      FUZZ_CHECK(record == nullptr, "an effect was made for a host that answered version 0");
      return 0;
    }
    FUZZ_CHECK(record != nullptr, "no effect for a host that answered version %ld",
               static_cast<long>(host.lastAnswer));
  } else {
    model.programCount = input.ConsumeIntegralInRange<std::int32_t>(-2, 4);
    model.canDoAnswer = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-1, 2)
                                            : input.ConsumeIntegral<std::int32_t>();
    auto* effect = new BareEffect(hostCallback, model.programCount, input.ConsumeIntegralInRange(-2, 4),
                                  model.canDoAnswer);
    const std::int32_t flags = input.ConsumeIntegral<std::uint16_t>() & 0x1F3E;
    effect->setFlags(flags);
    model.flags |= flags;
    if (input.ConsumeBool()) {
      model.editor = new FuzzEditor;
      effect->attach(model.editor);
    }
    record = effect->getRecordAddress();
  }

  bool open = true;
  BareEffect arranger(nullptr, 1, 0, 0);
  tandrel::SpeakerArrangement* arrangement = nullptr;
  for (int step = 0; open && step < 64 && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange<int>(0, 10)) {
    case 7:
      setParameterOnce(input, record, model);
      break;
    case 8:
      formatOnce(input, record);
      break;
    case 9:
      arrangementOnce(input, &arranger, arrangement);
      break;
    default:
      open = dispatchOnce(input, record, model);
      break;
    }
  }
  arranger.releaseSpeakerArrangement(&arrangement);
  if (open) {
    host.calls.clear();
    FUZZ_CHECK(record->dispatcherEntry(record, 1, 0, 0, nullptr, 0.0f) == 1, "close did not answer 1");
    FUZZ_CHECK(host.calls.empty(), "close called the host");
  }
  return 0;
}
