// Opcodes 25 to 79: argument and answer conversions, the hand-over to the
// base dispatcher, the editor's key requests, the replaced resume and the
// category; then the product as a host sees it through the loaded module.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "effect/tandrel_effect.hpp"
#include "host/module_host.hpp"
#include "host_call_check.hpp"
#include "loaded_module_fixture.hpp"
#include "recording_editor.hpp"

namespace tandrel::dispatch_test {
namespace {

// One operation call as the effect saw it. `operation` names the operation
// by the opcode that is meant to reach it.
struct Seen {
  std::int32_t operation = -1;
  std::int64_t first = 0, second = 0; // integer arguments in their order
  const void* pointer = nullptr;
  const void* secondPointer = nullptr;
  float option = 0.0f;
};

// Records the arguments of every operation that the extended dispatcher
// reaches and answers `truth` or `number`.
class RecordingExtended : public PlainExtended {
public:
  using PlainExtended::PlainExtended;

  bool truth = true;
  std::int32_t number = -123456;
  std::intptr_t wideNumber = -123456;
  std::vector<Seen> seen;
  int canDoCalls = 0;
  std::string lastCapability;

  std::int32_t processEvents(void* events) noexcept override { return n({25, 0, 0, events}); }
  bool isParameterAutomatable(std::int32_t index) noexcept override { return t({26, index}); }
  bool parameterFromText(std::int32_t index, char* text) noexcept override { return t({27, index, 0, text}); }
  bool getProgramNameByCategory(std::int32_t category, std::int32_t program, char* text) noexcept override {
    return t({29, category, program, text});
  }
  bool getInputProperties(std::int32_t input, void* properties) noexcept override {
    return t({33, input, 0, properties});
  }
  bool getOutputProperties(std::int32_t output, void* properties) noexcept override {
    return t({34, output, 0, properties});
  }
  std::int32_t getCategory() noexcept override { return n({35}); }
  bool offlineNotification(void* files, std::int32_t count, bool start) noexcept override {
    return t({38, count, start, files});
  }
  bool offlinePreparation(void* tasks, std::int32_t count) noexcept override {
    return t({39, count, 0, tasks});
  }
  bool offlineRun(void* tasks, std::int32_t count) noexcept override { return t({40, count, 0, tasks}); }
  bool processVariableIo(void* processing) noexcept override { return t({41, 0, 0, processing}); }
  bool setSpeakerArrangements(SpeakerArrangement* input, SpeakerArrangement* output) noexcept override {
    return t({42, 0, 0, input, output});
  }
  bool setBypass(bool on) noexcept override { return t({44, on}); }
  bool getEffectName(char* text) noexcept override { return t({45, 0, 0, text}); }
  bool getVendorString(char* text) noexcept override { return t({47, 0, 0, text}); }
  bool getProductString(char* text) noexcept override { return t({48, 0, 0, text}); }
  std::int32_t getVendorVersion() noexcept override { return n({49}); }
  std::intptr_t vendorSpecificRequest(std::int32_t index, std::intptr_t value, void* pointer,
                                      float option) noexcept override {
    seen.push_back({50, index, value, pointer, nullptr, option});
    return wideNumber;
  }
  std::int32_t canDo(const char* capability) noexcept override {
    ++canDoCalls;
    lastCapability = capability;
    return n({51, 0, 0, capability});
  }
  std::int32_t getTailSize() noexcept override { return n({52}); }
  bool getParameterProperties(std::int32_t index, void* properties) noexcept override {
    return t({56, index, 0, properties});
  }
  std::int32_t getInterfaceVersion() noexcept override { return n({58}); }
  std::int32_t getMidiProgramName(std::int32_t channel, void* program) noexcept override {
    return n({62, channel, 0, program});
  }
  std::int32_t getCurrentMidiProgram(std::int32_t channel, void* program) noexcept override {
    return n({63, channel, 0, program});
  }
  std::int32_t getMidiProgramCategory(std::int32_t channel, void* category) noexcept override {
    return n({64, channel, 0, category});
  }
  bool haveMidiProgramsChanged(std::int32_t channel) noexcept override { return t({65, channel}); }
  bool getMidiKeyName(std::int32_t channel, void* keyName) noexcept override {
    return t({66, channel, 0, keyName});
  }
  bool programChangeBegins() noexcept override { return t({67}); }
  bool programChangeEnds() noexcept override { return t({68}); }
  bool getSpeakerArrangements(SpeakerArrangement** input, SpeakerArrangement** output) noexcept override {
    return t({69, 0, 0, input, output});
  }
  std::int32_t getNextShellEffect(char* name) noexcept override { return n({70, 0, 0, name}); }
  std::int32_t processingStarts() noexcept override { return n({71}); }
  std::int32_t processingStops() noexcept override { return n({72}); }
  std::int32_t setTotalSamplesToProcess(std::int32_t count) noexcept override { return n({73, count}); }
  bool setPanLaw(std::int32_t lawType, float gain) noexcept override {
    return t({74, lawType, 0, nullptr, nullptr, gain});
  }
  std::int32_t bankLoadBegins(void* description) noexcept override { return n({75, 0, 0, description}); }
  std::int32_t programLoadBegins(void* description) noexcept override { return n({76, 0, 0, description}); }
  bool setProcessingPrecision(std::int32_t precision) noexcept override { return t({77, precision}); }
  std::int32_t getMidiInputChannelCount() noexcept override { return n({78}); }
  std::int32_t getMidiOutputChannelCount() noexcept override { return n({79}); }

private:
  bool t(const Seen& call) {
    seen.push_back(call);
    return truth;
  }
  std::int32_t n(const Seen& call) {
    seen.push_back(call);
    return number;
  }
};

enum class Answer { truth, number, wide };

struct Forwarding {
  std::int32_t opcode;
  std::int32_t index;
  std::intptr_t value;
  float option;
  Answer answer;
  Seen expected; // operation, then the arguments as the operation receives them
};

// The request's pointer is always `token`; `value` stands for an address
// where the opcode takes the value as one (42 and 69: `valueToken`).
int tokenStorage, valueTokenStorage;
void* const token = &tokenStorage;
void* const valueToken = &valueTokenStorage;
const std::intptr_t valueAddress = reinterpret_cast<std::intptr_t>(valueToken);

const Forwarding forwardings[] = {
    {25, 3, 4, 0.5f, Answer::number, {25, 0, 0, token}},
    {26, 7, 4, 0.5f, Answer::truth, {26, 7}},
    {27, 1, 4, 0.5f, Answer::truth, {27, 1, 0, token}},
    {29, 2, 5, 0.5f, Answer::truth, {29, 5, 2, token}}, // category from the value, program from the index
    {33, 1, 4, 0.5f, Answer::truth, {33, 1, 0, token}},
    {34, 1, 4, 0.5f, Answer::truth, {34, 1, 0, token}},
    {35, 1, 4, 0.5f, Answer::number, {35}},
    {38, 9, 4, 0.5f, Answer::truth, {38, 4, 1, token}}, // non-zero index: start
    {38, 0, 4, 0.5f, Answer::truth, {38, 4, 0, token}},
    {38, -1, 4, 0.5f, Answer::truth, {38, 4, 1, token}},
    {39, 1, 6, 0.5f, Answer::truth, {39, 6, 0, token}},
    {40, 1, 6, 0.5f, Answer::truth, {40, 6, 0, token}},
    {41, 1, 6, 0.5f, Answer::truth, {41, 0, 0, token}},
    {42, 1, valueAddress, 0.5f, Answer::truth, {42, 0, 0, valueToken, token}},
    {44, 1, 2, 0.5f, Answer::truth, {44, 1}},
    {44, 1, -1, 0.5f, Answer::truth, {44, 1}},
    {44, 1, 0, 0.5f, Answer::truth, {44, 0}},
    {45, 1, 2, 0.5f, Answer::truth, {45, 0, 0, token}},
    {47, 1, 2, 0.5f, Answer::truth, {47, 0, 0, token}},
    {48, 1, 2, 0.5f, Answer::truth, {48, 0, 0, token}},
    {49, 1, 2, 0.5f, Answer::number, {49}},
    {50, -3, -4, -0.25f, Answer::wide, {50, -3, -4, token, nullptr, -0.25f}},
    {51, 1, 2, 0.5f, Answer::number, {51, 0, 0, token}},
    {52, 1, 2, 0.5f, Answer::number, {52}},
    {56, 1, 2, 0.5f, Answer::truth, {56, 1, 0, token}},
    {58, 1, 2, 0.5f, Answer::number, {58}},
    {62, 15, 2, 0.5f, Answer::number, {62, 15, 0, token}},
    {63, 15, 2, 0.5f, Answer::number, {63, 15, 0, token}},
    {64, 15, 2, 0.5f, Answer::number, {64, 15, 0, token}},
    {65, 15, 2, 0.5f, Answer::truth, {65, 15}},
    {66, 15, 2, 0.5f, Answer::truth, {66, 15, 0, token}},
    {67, 1, 2, 0.5f, Answer::truth, {67}},
    {68, 1, 2, 0.5f, Answer::truth, {68}},
    {69, 1, valueAddress, 0.5f, Answer::truth, {69, 0, 0, valueToken, token}},
    {70, 1, 2, 0.5f, Answer::number, {70, 0, 0, token}},
    {71, 1, 2, 0.5f, Answer::number, {71}},
    {72, 1, 2, 0.5f, Answer::number, {72}},
    {73, 1, 44100, 0.5f, Answer::number, {73, 44100}},
    {73, 1, -1, 0.5f, Answer::number, {73, -1}},
    {74, 1, 2, -3.5f, Answer::truth, {74, 2, 0, nullptr, nullptr, -3.5f}},
    {75, 1, 2, 0.5f, Answer::number, {75, 0, 0, token}},
    {76, 1, 2, 0.5f, Answer::number, {76, 0, 0, token}},
    {77, 1, 1, 0.5f, Answer::truth, {77, 1}},
    {78, 1, 2, 0.5f, Answer::number, {78}},
    {79, 1, 2, 0.5f, Answer::number, {79}},
};

class ExtendedForwarding : public ::testing::TestWithParam<Forwarding> {};

TEST_P(ExtendedForwarding, ReachesItsOperationWithConvertedArgumentsAndConvertsTheAnswer) {
  const Forwarding& f = GetParam();
  RecordingExtended effect;
  effect.number = 0x7654321;
  effect.wideNumber = sizeof(std::intptr_t) > 4 ? static_cast<std::intptr_t>(0x123456789LL) : -5;
  const std::intptr_t answer = effect.dispatch(f.opcode, f.index, f.value, token, f.option);
  ASSERT_EQ(effect.seen.size(), 1u);
  const Seen& seen = effect.seen.front();
  EXPECT_EQ(seen.operation, f.expected.operation);
  EXPECT_EQ(seen.first, f.expected.first);
  EXPECT_EQ(seen.second, f.expected.second);
  EXPECT_EQ(seen.pointer, f.expected.pointer);
  EXPECT_EQ(seen.secondPointer, f.expected.secondPointer);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(seen.option), std::bit_cast<std::uint32_t>(f.expected.option));
  switch (f.answer) {
  case Answer::truth:
    EXPECT_EQ(answer, 1);
    effect.truth = false;
    EXPECT_EQ(effect.dispatch(f.opcode, f.index, f.value, token, f.option), 0);
    break;
  case Answer::number:
    EXPECT_EQ(answer, 0x7654321);
    effect.number = -9;
    EXPECT_EQ(effect.dispatch(f.opcode, f.index, f.value, token, f.option), -9);
    break;
  case Answer::wide:
    EXPECT_EQ(answer, effect.wideNumber);
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(Opcodes, ExtendedForwarding, ::testing::ValuesIn(forwardings),
                         [](const ::testing::TestParamInfo<Forwarding>& info) {
                           return "opcode" + std::to_string(info.param.opcode) + "_" +
                                  std::to_string(info.index);
                         });

// Counts how often the object's own dispatch runs, to show that requests
// without a case reach EffectBase::dispatch directly, not through it again.
class CountingDispatch : public PlainExtended {
public:
  using PlainExtended::PlainExtended;
  std::intptr_t dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* pointer,
                         float option) noexcept override {
    ++dispatches;
    return ExtendedEffectBase::dispatch(opcode, index, value, pointer, option);
  }
  int dispatches = 0;
};

TEST(ExtendedDispatch, OpcodesWithoutACaseGoToTheBaseDispatchOnce) {
  for (std::int32_t opcode :
       {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 80, 81, -1, 24, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(opcode);
    CountingDispatch effect(nullptr, 4, 2);
    GuardedBuffer buffer;
    EXPECT_EQ(effect.dispatch(opcode, 1, 2, buffer.data(), 0.5f), 0);
    EXPECT_EQ(effect.dispatches, 1);
    EXPECT_TRUE(buffer.untouchedFrom(0));
  }
}

TEST(ExtendedDispatch, BaseOpcodesKeepTheirArguments) {
  CountingDispatch effect(nullptr, 4, 2);
  effect.dispatch(2, 9, 3, nullptr, 1.0f);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), 3);
  effect.dispatch(10, 5, 6, nullptr, std::bit_cast<float>(0x7FC0BEEFu));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(effect.getSampleRate()), 0x7FC0BEEFu);
  effect.dispatch(11, 0, 512, nullptr, 0.0f);
  EXPECT_EQ(effect.getBlockSize(), 512);
  EXPECT_EQ(effect.dispatch(22, 0, 0, nullptr, 0.0f), 0x4E764566);
  char text[9];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(effect.dispatch(8, 0, 0, text, 0.0f), 0);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
  EXPECT_EQ(effect.dispatches, 6);
}

TEST(ExtendedDispatch, DefaultsAnswerAsTheHostExpects) {
  PlainExtended effect(nullptr, 1, 2);
  EXPECT_EQ(effect.dispatch(58, 0, 0, nullptr, 0.0f), 2400);
  EXPECT_EQ(effect.dispatch(26, 1000, 0, nullptr, 0.0f), 1); // beyond the parameters
  EXPECT_EQ(effect.dispatch(26, -1, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(effect.dispatch(73, 0, 44100, nullptr, 0.0f), 44100);
  EXPECT_EQ(effect.dispatch(63, 0, 0, nullptr, 0.0f), -1);
  char capability[] = "receiveVstMidiEvent";
  EXPECT_EQ(effect.dispatch(51, 0, 0, capability, 0.0f), 0);
  GuardedBuffer buffer;
  for (std::int32_t opcode : {29, 45, 47, 48, 70})
    EXPECT_EQ(effect.dispatch(opcode, 0, 0, buffer.data(), 0.0f), 0);
  EXPECT_EQ(effect.dispatch(49, 0, 0, buffer.data(), 0.0f), 0);
  EXPECT_TRUE(buffer.untouchedFrom(0));
  EXPECT_TRUE(buffer.guardsIntact());
}

TEST(ExtendedDispatch, GetSpeakerArrangementsClearsBothHostVariables) {
  PlainExtended effect;
  int sentinel = 0;
  auto* marker = reinterpret_cast<SpeakerArrangement*>(&sentinel);
  SpeakerArrangement* input = marker;
  SpeakerArrangement* output = marker;
  EXPECT_EQ(effect.dispatch(69, 0, reinterpret_cast<std::intptr_t>(&input), &output, 0.0f), 0);
  EXPECT_EQ(input, nullptr);
  EXPECT_EQ(output, nullptr);

  // One variable given: null goes into that one, answer 0.
  input = marker;
  output = marker;
  EXPECT_EQ(effect.dispatch(69, 0, 0, &output, 0.0f), 0);
  EXPECT_EQ(output, nullptr);
  EXPECT_EQ(input, marker);
  output = marker;
  EXPECT_EQ(effect.dispatch(69, 0, reinterpret_cast<std::intptr_t>(&input), nullptr, 0.0f), 0);
  EXPECT_EQ(input, nullptr);
  EXPECT_EQ(output, marker);

  // Neither given: nothing to write.
  EXPECT_EQ(effect.dispatch(69, 0, 0, nullptr, 0.0f), 0);
}

// An effect that replaces the operation is asked with the one address the
// host gave and null for the other.
TEST(ExtendedDispatch, GetSpeakerArrangementsWithOneVariablePassesNullForTheOther) {
  RecordingExtended effect;
  SpeakerArrangement* input = nullptr;
  SpeakerArrangement* output = nullptr;
  effect.dispatch(69, 0, 0, &output, 0.0f);
  effect.dispatch(69, 0, reinterpret_cast<std::intptr_t>(&input), nullptr, 0.0f);
  ASSERT_EQ(effect.seen.size(), 2u);
  EXPECT_EQ(effect.seen[0].operation, 69);
  EXPECT_EQ(effect.seen[0].pointer, nullptr);
  EXPECT_EQ(effect.seen[0].secondPointer, &output);
  EXPECT_EQ(effect.seen[1].pointer, &input);
  EXPECT_EQ(effect.seen[1].secondPointer, nullptr);
}

TEST(ExtendedDispatch, NullTextPointersAnswerZeroWithoutCallingTheOperation) {
  RecordingExtended effect;
  for (std::int32_t opcode : {27, 29, 45, 47, 48, 51, 69, 70}) {
    SCOPED_TRACE(opcode);
    EXPECT_EQ(effect.dispatch(opcode, 0, 0, nullptr, 0.0f), 0);
  }
  EXPECT_TRUE(effect.seen.empty());
  EXPECT_EQ(effect.canDoCalls, 0);

  TandrelEffect tandrel(nullptr);
  for (std::int32_t opcode : {4, 5, 6, 7, 8, 23, 27, 29, 45, 47, 48, 51, 69, 70}) {
    SCOPED_TRACE(opcode);
    for (std::int32_t index : {0, 1, 2})
      EXPECT_EQ(tandrel.dispatch(opcode, index, 0, nullptr, 0.0f), 0);
  }
}

// --- Editor requests ---

struct KeyCase {
  std::int32_t index;
  std::intptr_t value;
  float option;
  std::uint8_t virtualKey;
  std::uint8_t modifiers;
};

class KeyRequests : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyRequests, BuildTheKeyRecordForTheEditor) {
  const KeyCase& k = GetParam();
  for (std::int32_t opcode : {59, 60}) {
    SCOPED_TRACE(opcode);
    WithEditor<PlainExtended> effect;
    RecordingEditor& editor = effect.attach(new RecordingEditor);
    EXPECT_EQ(effect.dispatch(opcode, k.index, k.value, nullptr, k.option), 1);
    EXPECT_EQ(opcode == 59 ? editor.keyPressedCalls : editor.keyReleasedCalls, 1);
    EXPECT_EQ(editor.totalCalls(), 1);
    EXPECT_EQ(editor.lastKey.character, k.index);
    EXPECT_EQ(editor.lastKey.virtualKey, k.virtualKey);
    EXPECT_EQ(editor.lastKey.modifiers, k.modifiers);
    editor.answer = false;
    EXPECT_EQ(effect.dispatch(opcode, k.index, k.value, nullptr, k.option), 0);
  }
}

const float infinity = std::numeric_limits<float>::infinity();
const float quietNan = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(Records, KeyRequests,
                         ::testing::Values(KeyCase{65, 0x10D, 3.7f, 0x0D, 3},
                                           KeyCase{-2, -1, -3.7f, 0xFF, 0xFD}, KeyCase{0, 0, 0.0f, 0, 0},
                                           KeyCase{1, 0x1FF, 255.9f, 0xFF, 255},
                                           KeyCase{1, 0x100, 256.5f, 0, 0}, KeyCase{1, 2, 300.9f, 2, 44},
                                           KeyCase{1, 2, 0.999f, 2, 0}, KeyCase{1, 2, -0.999f, 2, 0},
                                           KeyCase{1, 2, 2147483520.0f, 2, 0x80}, // largest float below 2^31
                                           KeyCase{1, 2, -2147483648.0f, 2, 0},   // -2^31
                                           KeyCase{1, 2, 2147483648.0f, 2, 0},    // 2^31: a multiple of 256
                                           KeyCase{1, 2, 1.0e30f, 2, 0}, KeyCase{1, 2, -1.0e30f, 2, 0},
                                           KeyCase{1, 2, infinity, 2, 0}, KeyCase{1, 2, -infinity, 2, 0},
                                           KeyCase{1, 2, quietNan, 2, 0}));

TEST(ExtendedDispatch, KnobModeReachesTheEditor) {
  WithEditor<PlainExtended> effect;
  RecordingEditor& editor = effect.attach(new RecordingEditor);
  EXPECT_EQ(effect.dispatch(61, 9, 2, nullptr, 0.0f), 1);
  EXPECT_EQ(editor.lastKnobMode, 2);
  editor.answer = false;
  EXPECT_EQ(effect.dispatch(61, 9, 1, nullptr, 0.0f), 0);
  EXPECT_EQ(editor.lastKnobMode, 1);
  EXPECT_EQ(editor.knobModeCalls, 2);
  EXPECT_EQ(editor.totalCalls(), 2);
}

TEST(ExtendedDispatch, EditorRequestsWithoutAnEditorAnswerZeroAndTouchNothing) {
  for (float option : {3.7f, quietNan, infinity, 1.0e30f}) {
    for (std::int32_t opcode : {13, 14, 15, 19, 59, 60, 61}) {
      SCOPED_TRACE(::testing::Message() << "opcode " << opcode << " float " << option);
      PlainExtended effect;
      GuardedBuffer buffer;
      EXPECT_EQ(effect.dispatch(opcode, 65, 0x10D, buffer.data(), option), 0);
      EXPECT_TRUE(buffer.untouchedFrom(0));
      EXPECT_TRUE(buffer.guardsIntact());
    }
  }
}

// --- Resume, category, flags ---

// Answers can-do as configured and counts the questions.
class CapableEffect : public PlainExtended {
public:
  using PlainExtended::PlainExtended;
  std::int32_t canDo(const char* capability) noexcept override {
    questions.emplace_back(capability);
    return answer;
  }
  std::int32_t answer = 0;
  std::vector<std::string> questions;
};

class Resume : public ::testing::Test {
protected:
  void SetUp() override { RecordingHost::calls.clear(); }
  void TearDown() override { RecordingHost::calls.clear(); }

  static void expectOneEventRequest(EffectBase& effect) {
    ASSERT_EQ(RecordingHost::calls.size(), 1u);
    EXPECT_TRUE(tandrel::test::isHostCall(RecordingHost::calls.front(),
                                          {effect.getRecordAddress(), 6, 0, 1, nullptr, 0.0f}));
  }
};

TEST_F(Resume, AnInstrumentAsksForEventsWithoutAskingCanDo) {
  CapableEffect effect(&RecordingHost::callback);
  effect.setInstrument(true);
  effect.resume();
  expectOneEventRequest(effect);
  EXPECT_TRUE(effect.questions.empty());
}

TEST_F(Resume, AnEffectAsksForEventsOnlyWhenCanDoAnswersExactlyOne) {
  for (std::int32_t answer : {1, 0, -1, 2, INT32_MIN}) {
    SCOPED_TRACE(answer);
    RecordingHost::calls.clear();
    CapableEffect effect(&RecordingHost::callback);
    effect.answer = answer;
    effect.resume();
    EXPECT_EQ(effect.questions, std::vector<std::string>{"receiveVstMidiEvent"});
    if (answer == 1) {
      expectOneEventRequest(effect);
    } else {
      EXPECT_TRUE(RecordingHost::calls.empty());
    }
  }
}

TEST_F(Resume, ProcessingSwitchedOnReachesTheExtendedResume) {
  CapableEffect effect(&RecordingHost::callback);
  effect.answer = 1;
  EXPECT_EQ(effect.dispatch(12, 0, 1, nullptr, 0.0f), 0);
  expectOneEventRequest(effect);
  RecordingHost::calls.clear();
  EXPECT_EQ(effect.dispatch(12, 0, 0, nullptr, 0.0f), 0); // switched off: suspend only
  EXPECT_TRUE(RecordingHost::calls.empty());
  EXPECT_EQ(effect.questions.size(), 1u);
}

TEST_F(Resume, WithoutACallbackNothingIsSent) {
  CapableEffect effect(nullptr);
  effect.answer = 1;
  effect.resume();
  effect.setInstrument(true);
  effect.resume();
  EXPECT_TRUE(RecordingHost::calls.empty());
}

TEST_F(Resume, TandrelSendsNothing) {
  TandrelEffect effect(&RecordingHost::callback);
  EXPECT_EQ(effect.dispatch(12, 0, 1, nullptr, 0.0f), 0);
  EXPECT_TRUE(RecordingHost::calls.empty());
}

TEST(ExtendedDispatch, CategoryFollowsTheInstrumentFlag) {
  TandrelEffect effect(nullptr);
  const std::int32_t flags = effect.getRecordAddress()->flags;
  EXPECT_EQ(effect.dispatch(35, 0, 0, nullptr, 0.0f), 0);
  effect.setInstrument(true);
  EXPECT_EQ(effect.dispatch(35, 0, 0, nullptr, 0.0f), 2);
  effect.setInstrument(false);
  EXPECT_EQ(effect.dispatch(35, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.getRecordAddress()->flags, flags);
}

struct FlagCase {
  void (ExtendedEffectBase::*operation)(bool);
  std::int32_t bit;
};

class ExtendedFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ExtendedFlags, EachOperationSetsAndClearsOnlyItsBit) {
  PlainExtended effect;
  std::int32_t& flags = effect.getRecordAddress()->flags;
  for (const std::int32_t others : {0x10, ~GetParam().bit}) {
    flags = others;
    (effect.*GetParam().operation)(true);
    EXPECT_EQ(flags, others | GetParam().bit);
    (effect.*GetParam().operation)(true);
    EXPECT_EQ(flags, others | GetParam().bit);
    (effect.*GetParam().operation)(false);
    EXPECT_EQ(flags, others);
  }
}

INSTANTIATE_TEST_SUITE_P(Bits, ExtendedFlags,
                         ::testing::Values(FlagCase{&ExtendedEffectBase::setInstrument, 0x100},
                                           FlagCase{&ExtendedEffectBase::setSilentWhenStopped, 0x200},
                                           FlagCase{&ExtendedEffectBase::setAsynchronousProcessing, 0x400},
                                           FlagCase{&ExtendedEffectBase::setExternalBuffer, 0x800}));

// --- The product through the loaded module ---

class LoadedModule : public test::LoadedModuleFixture {
protected:
  void SetUp() override {
    instance_ = create();
    ASSERT_NE(instance_, nullptr);
  }
  void TearDown() override { instance_.reset(); }

  std::unique_ptr<host::EffectInstance> instance_;
};

TEST_F(LoadedModule, AnswersAsAHostExpects) {
  EXPECT_EQ(instance_->dispatch(58), 2400);
  EXPECT_EQ(instance_->dispatch(35), 0);
  EXPECT_EQ(instance_->dispatch(22), 0x4E764566);
  char capability[] = "receiveVstMidiEvent";
  EXPECT_EQ(instance_->dispatch(51, 0, 0, capability), 0);
  EXPECT_EQ(instance_->dispatch(63), -1);
  EXPECT_EQ(instance_->dispatch(26, 99), 1);
  EXPECT_EQ(instance_->dispatch(73, 0, 44100), 44100);
  EXPECT_EQ(instance_->dispatch(49), 1000);
  for (std::int32_t opcode : {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 80, 9, 16, 21, -1}) {
    EXPECT_EQ(instance_->dispatch(opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
  }
  for (std::int32_t opcode : {13, 14, 15, 19, 59, 60, 61}) {
    EXPECT_EQ(instance_->dispatch(opcode, 65, 0x10D, nullptr, 3.7f), 0) << opcode;
  }
}

TEST_F(LoadedModule, SwitchingProcessingOnSendsNoHostCall) {
  ASSERT_EQ(instance_->calls().size(), 1u); // the version query of the entry point
  EXPECT_EQ(instance_->calls().front().opcode, 1);
  EXPECT_EQ(instance_->calls().front().record, nullptr);
  EXPECT_EQ(instance_->dispatch(12, 0, 1), 0);
  EXPECT_EQ(instance_->dispatch(12, 0, 0), 0);
  EXPECT_EQ(instance_->dispatch(12, 0, 1), 0);
  EXPECT_EQ(instance_->calls().size(), 1u);
}

TEST_F(LoadedModule, ProgramSelectionAndIdentityTexts) {
  EXPECT_EQ(instance_->dispatch(2, 0, 1), 0);
  EXPECT_EQ(instance_->dispatch(3), 0);
  EXPECT_EQ(instance_->dispatch(2, 0, -1), 0);
  EXPECT_EQ(instance_->dispatch(3), -1);
  for (std::int32_t opcode : {45, 47, 48}) {
    GuardedBuffer buffer;
    EXPECT_EQ(instance_->dispatch(opcode, 0, 0, buffer.data()), 1) << opcode;
    const std::size_t last = opcode == 45 ? 32 : 64;
    EXPECT_TRUE(buffer.terminatedBy(last)) << opcode;
    EXPECT_TRUE(buffer.untouchedFrom(last + 1)) << opcode;
    EXPECT_TRUE(buffer.guardsIntact()) << opcode;
  }
}

TEST_F(LoadedModule, NullPointersDoNotCrash) {
  for (std::int32_t opcode : {4, 5, 6, 7, 8, 23, 24, 27, 29, 45, 47, 48, 51, 69, 70}) {
    for (std::int32_t index : {0, 1, 2}) {
      EXPECT_EQ(instance_->dispatch(opcode, index, 0, nullptr), 0) << opcode;
    }
  }
  EXPECT_EQ(instance_->calls().size(), 1u);
}

// Opcode 69 through the loaded module with each single variable: null goes
// into the one given, the answer is 0.
TEST_F(LoadedModule, GetSpeakerArrangementsNullsTheOneVariableGiven) {
  int sentinel = 0;
  auto* marker = reinterpret_cast<SpeakerArrangement*>(&sentinel);
  SpeakerArrangement* input = marker;
  SpeakerArrangement* output = marker;
  EXPECT_EQ(instance_->dispatch(69, 0, reinterpret_cast<std::intptr_t>(&input), nullptr), 0);
  EXPECT_EQ(input, nullptr);
  EXPECT_EQ(instance_->dispatch(69, 0, 0, &output), 0);
  EXPECT_EQ(output, nullptr);
}

} // namespace
} // namespace tandrel::dispatch_test
