// The dispatchers as a host drives them: every opcode on the three kinds of
// effect (plain EffectBase, plain ExtendedEffectBase, TandrelEffect), then
// the edge cases of opcodes 0 to 24.
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_control.hpp"
#include "effect/tandrel_effect.hpp"
#include "recording_editor.hpp"

namespace tandrel::dispatch_test {
namespace {

// --- Every opcode on every kind of effect ---

enum class Kind { plain, extended, tandrel };

// What an opcode may leave in the text buffer (the pointer argument) and in
// the host variable passed as the value of opcode 69.
enum class Writes {
  nothing,      // every byte as it was
  emptyText,    // a zero at position 0, nothing else
  text8,        // a text ending within [0, 8], nothing past index 8
  text24,       // the same within [0, 24]
  text32,       // the same within [0, 32]
  text64,       // the same within [0, 64]
  nullPointers, // a null pointer in both host variables, nothing else
};

struct Expectation {
  std::intptr_t answer = 0;
  Writes writes = Writes::nothing;
};

struct Row {
  std::int32_t opcode;
  Expectation plain, extended, tandrel;
};

// Every opcode not listed answers 0 and writes nothing on all three kinds.
const Row exceptions[] = {
    {5, {0, Writes::emptyText}, {0, Writes::emptyText}, {0, Writes::text24}},
    {6, {0, Writes::emptyText}, {0, Writes::emptyText}, {0, Writes::text8}},
    {7, {0, Writes::emptyText}, {0, Writes::emptyText}, {0, Writes::text8}},
    {8, {0, Writes::emptyText}, {0, Writes::emptyText}, {0, Writes::text8}},
    {22, {0x4E764566}, {0x4E764566}, {0x4E764566}},
    {26, {}, {1}, {1}},
    {45, {}, {}, {1, Writes::text32}},
    {47, {}, {}, {1, Writes::text64}},
    {48, {}, {}, {1, Writes::text64}},
    {49, {}, {}, {1000}},
    {58, {}, {2400}, {2400}},
    {63, {}, {-1}, {-1}},
    {69, {}, {0, Writes::nullPointers}, {0, Writes::nullPointers}},
    {73, {}, {44100}, {44100}},
};

Expectation expectationFor(Kind kind, std::int32_t opcode) {
  for (const Row& row : exceptions) {
    if (row.opcode != opcode) continue;
    return kind == Kind::plain ? row.plain : kind == Kind::extended ? row.extended : row.tandrel;
  }
  return {};
}

std::vector<std::int32_t> everyOpcode() {
  std::vector<std::int32_t> opcodes;
  for (std::int32_t opcode = -2; opcode <= 81; ++opcode)
    opcodes.push_back(opcode);
  for (std::int32_t far : {INT32_MIN, INT32_MIN + 1, INT32_MIN + 25, -1000, 100, 1000, INT32_MAX}) {
    opcodes.push_back(far);
  }
  return opcodes;
}

std::unique_ptr<EffectBase> make(Kind kind) {
  switch (kind) {
  case Kind::plain:
    return std::make_unique<PlainEffect>();
  case Kind::extended:
    return std::make_unique<PlainExtended>();
  case Kind::tandrel:
    return std::make_unique<TandrelEffect>(nullptr);
  }
  return nullptr;
}

void expectWrites(const GuardedBuffer& buffer, Writes writes) {
  EXPECT_TRUE(buffer.guardsIntact());
  switch (writes) {
  case Writes::nothing:
    EXPECT_TRUE(buffer.untouchedFrom(0));
    break;
  case Writes::emptyText:
    EXPECT_EQ(buffer.at(0), 0);
    EXPECT_TRUE(buffer.untouchedFrom(1));
    break;
  case Writes::text8:
  case Writes::text24:
  case Writes::text32:
  case Writes::text64: {
    const std::size_t last = writes == Writes::text8    ? 8
                             : writes == Writes::text24 ? 24
                             : writes == Writes::text32 ? 32
                                                        : 64;
    EXPECT_TRUE(buffer.terminatedBy(last));
    EXPECT_TRUE(buffer.untouchedFrom(last + 1));
    break;
  }
  case Writes::nullPointers:
    EXPECT_TRUE(buffer.holdsNullPointer());
    EXPECT_TRUE(buffer.untouchedFrom(sizeof(void*)));
    break;
  }
}

class EveryOpcode : public ::testing::TestWithParam<Kind> {};

TEST_P(EveryOpcode, AnswersExactlyAndWritesOnlyWhatItMay) {
  for (const std::int32_t opcode : everyOpcode()) {
    SCOPED_TRACE(::testing::Message() << "opcode " << opcode);
    const Expectation expected = expectationFor(GetParam(), opcode);
    std::unique_ptr<EffectBase> effect = make(GetParam());
    GuardedBuffer text;    // the pointer argument
    GuardedBuffer hostVar; // the value argument of opcode 69
    const std::intptr_t value = opcode == 69   ? reinterpret_cast<std::intptr_t>(hostVar.data())
                                : opcode == 73 ? 44100
                                               : 0;
    EffectRecord recordBefore;
    std::memcpy(&recordBefore, effect->getRecordAddress(), sizeof recordBefore);
    const float rate = effect->getSampleRate();
    const std::int32_t block = effect->getBlockSize();
    const std::int32_t program = effect->getCurrentProgram();

    const std::size_t allocations = test::allocationCount();
    const std::intptr_t answer = effect->dispatch(opcode, 0, value, text.data(), 3.7f);
    EXPECT_EQ(test::allocationCount(), allocations);

    EXPECT_EQ(answer, expected.answer);
    expectWrites(text, expected.writes);
    expectWrites(hostVar, opcode == 69 ? expected.writes : Writes::nothing);
    // The dispatchers' defaults change no record field, and only opcodes
    // 10 and 11 change the sample rate or block size.
    EXPECT_EQ(std::memcmp(&recordBefore, effect->getRecordAddress(), sizeof recordBefore), 0);
    if (opcode != 10) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(effect->getSampleRate()), std::bit_cast<std::uint32_t>(rate));
    }
    if (opcode != 11) {
      EXPECT_EQ(effect->getBlockSize(), block);
    }
    EXPECT_EQ(effect->getCurrentProgram(), program);
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, EveryOpcode, ::testing::Values(Kind::plain, Kind::extended, Kind::tandrel),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::plain      ? "EffectBase"
                                  : info.param == Kind::extended ? "ExtendedEffectBase"
                                                                 : "TandrelEffect";
                         });

// --- Opcodes 0 to 24 in detail ---

// Records which operations the base dispatcher reached, with their
// arguments, and answers as configured.
class RecordingEffect : public PlainEffect {
public:
  using PlainEffect::PlainEffect;
  void open() noexcept override { ++opens; }
  void close() noexcept override { ++closes; }
  void suspend() noexcept override { ++suspends; }
  void resume() noexcept override { ++resumes; }
  void setProgramName(char* name) noexcept override { note(4, 0, name); }
  void getProgramName(char* text) noexcept override { note(5, 0, text); }
  void getParameterLabel(std::int32_t index, char* text) noexcept override { note(6, index, text); }
  void getParameterDisplay(std::int32_t index, char* text) noexcept override { note(7, index, text); }
  void getParameterName(std::int32_t index, char* text) noexcept override { note(8, index, text); }
  std::int32_t getChunk(void** data, bool currentProgramOnly) noexcept override {
    note(23, 0, data);
    lastFlag = currentProgramOnly;
    return chunkAnswer;
  }
  std::int32_t setChunk(void* data, std::int32_t byteCount, bool currentProgramOnly) noexcept override {
    note(24, byteCount, data);
    lastFlag = currentProgramOnly;
    return chunkAnswer;
  }

  int opens = 0, closes = 0, suspends = 0, resumes = 0;
  std::vector<std::int32_t> reached; // which text or chunk operation, by opcode
  std::int32_t lastInteger = 0;
  const void* lastPointer = nullptr;
  bool lastFlag = false;
  std::int32_t chunkAnswer = 0;

private:
  void note(std::int32_t operation, std::int32_t integer, const void* pointer) {
    reached.push_back(operation);
    lastInteger = integer;
    lastPointer = pointer;
  }
};

TEST(BaseDispatch, ProgramSelectionTestsOnlyTheUpperBound) {
  PlainEffect effect(nullptr, 3, 2);
  EXPECT_EQ(effect.dispatch(2, 0, 3, nullptr, 0.0f), 0); // equal to the count: ignored
  EXPECT_EQ(effect.getCurrentProgram(), 0);
  EXPECT_EQ(effect.dispatch(2, 0, 2, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), 2);
  EXPECT_EQ(effect.dispatch(2, 0, 1000, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.getCurrentProgram(), 2);
  EXPECT_EQ(effect.dispatch(2, 0, -1, nullptr, 0.0f), 0); // no lower bound
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), -1);
  EXPECT_EQ(effect.dispatch(2, 0, INT32_MIN, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), INT32_MIN);
  if constexpr (sizeof(std::intptr_t) > 4) {
    // Pointer-sized values that are no 32-bit number name no program.
    const std::intptr_t wide = std::intptr_t{1} << 32;
    effect.dispatch(2, 0, 1, nullptr, 0.0f);
    EXPECT_EQ(effect.dispatch(2, 0, wide, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatch(2, 0, -wide + 2, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.getCurrentProgram(), 1);
  }
}

TEST(BaseDispatch, TandrelAcceptsOnlyProgramZeroAndNegativeNumbers) {
  TandrelEffect effect(nullptr);
  effect.dispatch(2, 0, 1, nullptr, 0.0f);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), 0);
  effect.dispatch(2, 0, -5, nullptr, 0.0f);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), -5);
  effect.dispatch(2, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(effect.dispatch(3, 0, 0, nullptr, 0.0f), 0);
}

TEST(BaseDispatch, CurrentProgramIsTheAnswerNotWrittenThroughThePointer) {
  PlainEffect effect(nullptr, 8, 2);
  effect.dispatch(2, 0, 7, nullptr, 0.0f);
  GuardedBuffer buffer;
  EXPECT_EQ(effect.dispatch(3, 0, 0, buffer.data(), 0.0f), 7);
  EXPECT_TRUE(buffer.untouchedFrom(0));
}

TEST(BaseDispatch, OpenAndCloseReachTheirOperationsAndAnswerZero) {
  RecordingEffect effect;
  EXPECT_EQ(effect.dispatch(0, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.dispatch(1, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.opens, 1);
  EXPECT_EQ(effect.closes, 1);
}

struct SwitchCase {
  std::intptr_t value;
  int suspends, resumes;
};

class ProcessingSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ProcessingSwitch, ZeroSuspendsAnyOtherValueResumes) {
  RecordingEffect effect;
  EXPECT_EQ(effect.dispatch(12, 0, GetParam().value, nullptr, 0.0f), 0);
  EXPECT_EQ(effect.suspends, GetParam().suspends);
  EXPECT_EQ(effect.resumes, GetParam().resumes);
}

INSTANTIATE_TEST_SUITE_P(Values, ProcessingSwitch,
                         ::testing::Values(SwitchCase{0, 1, 0}, SwitchCase{1, 0, 1}, SwitchCase{-1, 0, 1},
                                           SwitchCase{2, 0, 1},
                                           SwitchCase{std::numeric_limits<std::intptr_t>::min(), 0, 1}));

class SampleRateBits : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SampleRateBits, StoredBitForBitWhateverIndexAndValueSay) {
  PlainEffect effect;
  EXPECT_EQ(effect.dispatch(10, 77, -12345, nullptr, std::bit_cast<float>(GetParam())), 0);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(effect.getSampleRate()), GetParam());
  EXPECT_EQ(effect.getBlockSize(), 1024);
  EXPECT_EQ(effect.getCurrentProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Patterns, SampleRateBits,
                         ::testing::Values(0x47AC4400u,   // 88200.0
                                           0x7FC12345u,   // quiet NaN with a payload
                                           0xFFC00001u,   // negative quiet NaN with a payload
                                           0x00000001u,   // smallest subnormal
                                           0x807FFFFFu,   // largest negative subnormal
                                           0x80000000u,   // negative zero
                                           0x7F800000u)); // infinity

TEST(BaseDispatch, BlockSizeIsTheValueTruncatedTo32Bits) {
  PlainEffect effect;
  effect.dispatch(11, 0, -1, nullptr, 0.0f);
  EXPECT_EQ(effect.getBlockSize(), -1);
  effect.dispatch(11, 0, 0x7FFFFFFF, nullptr, 0.0f);
  EXPECT_EQ(effect.getBlockSize(), INT32_MAX);
  if constexpr (sizeof(std::intptr_t) > 4) {
    effect.dispatch(11, 0, static_cast<std::intptr_t>(0x100000400LL), nullptr, 0.0f);
    EXPECT_EQ(effect.getBlockSize(), 0x400);
    effect.dispatch(11, 0, static_cast<std::intptr_t>(0x80000000LL), nullptr, 0.0f);
    EXPECT_EQ(effect.getBlockSize(), INT32_MIN);
  }
}

TEST(BaseDispatch, IdentificationIsTheConstantWhateverTheArguments) {
  RecordingEffect effect;
  GuardedBuffer buffer;
  const std::intptr_t answer = effect.dispatch(22, -1, 99, buffer.data(), 1.5f);
  EXPECT_EQ(answer, 0x4E764566);
  EXPECT_EQ(effect.dispatch(22, 0, 0, nullptr, 0.0f), 0x4E764566);
  const auto packed = static_cast<std::uint32_t>(answer);
  const unsigned char expectedBytes[4] = {0x66, 0x45, 0x76, 0x4E}; // little-endian memory order
  unsigned char bytes[4];
  std::memcpy(bytes, &packed, sizeof bytes);
  if constexpr (std::endian::native == std::endian::little) {
    EXPECT_EQ(std::memcmp(bytes, expectedBytes, 4), 0);
  }
  EXPECT_TRUE(buffer.untouchedFrom(0));
  EXPECT_TRUE(effect.reached.empty());
}

TEST(BaseDispatch, DefaultChunkAnswersZeroAndLeavesThePointerVariable) {
  PlainEffect effect;
  int sentinel = 0;
  void* variable = &sentinel;
  EXPECT_EQ(effect.dispatch(23, 0, 0, &variable, 0.0f), 0);
  EXPECT_EQ(effect.dispatch(23, 1, 0, &variable, 0.0f), 0);
  EXPECT_EQ(variable, &sentinel);
  EXPECT_EQ(effect.dispatch(24, 0, 16, &sentinel, 0.0f), 0);
}

struct ChunkCase {
  std::int32_t opcode;
  std::int32_t index;
  std::intptr_t value;
  std::int32_t answer;
  bool currentProgramOnly;
  std::int32_t byteCount; // what set chunk receives
};

class ChunkRequests : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkRequests, IndexBecomesATruthValueAndTheResultIsTheAnswer) {
  const ChunkCase& c = GetParam();
  RecordingEffect effect;
  effect.chunkAnswer = c.answer;
  void* variable = nullptr;
  void* pointer = c.opcode == 23 ? static_cast<void*>(&variable) : static_cast<void*>(&effect);
  EXPECT_EQ(effect.dispatch(c.opcode, c.index, c.value, pointer, 0.0f), c.answer);
  ASSERT_EQ(effect.reached, std::vector<std::int32_t>{c.opcode});
  EXPECT_EQ(effect.lastPointer, pointer);
  EXPECT_EQ(effect.lastFlag, c.currentProgramOnly);
  if (c.opcode == 24) {
    EXPECT_EQ(effect.lastInteger, c.byteCount);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkRequests,
    ::testing::Values(ChunkCase{23, 0, 0, 4096, false, 0}, ChunkCase{23, 1, 0, -7, true, 0},
                      ChunkCase{23, -1, 0, INT32_MAX, true, 0}, ChunkCase{24, 0, 512, 512, false, 512},
                      ChunkCase{24, 5, 33, INT32_MIN, true, 33}, ChunkCase{24, 1, -1, 1, true, -1}));

TEST(BaseDispatch, TextRequestsReachTheirOperationWithIndexAndBuffer) {
  for (std::int32_t opcode = 4; opcode <= 8; ++opcode) {
    SCOPED_TRACE(opcode);
    RecordingEffect effect;
    char text[32] = {};
    EXPECT_EQ(effect.dispatch(opcode, 1, 0, text, 0.0f), 0);
    ASSERT_EQ(effect.reached, std::vector<std::int32_t>{opcode});
    EXPECT_EQ(effect.lastPointer, text);
    EXPECT_EQ(effect.lastInteger, opcode == 4 || opcode == 5 ? 0 : 1);
  }
}

// A null text pointer or a null address for an answer never reaches an
// operation: the request answers 0 and nothing is written.
TEST(BaseDispatch, NullTextPointersAnswerZeroWithoutCallingTheOperation) {
  for (std::int32_t opcode : {4, 5, 6, 7, 8, 23}) {
    SCOPED_TRACE(opcode);
    RecordingEffect effect;
    effect.chunkAnswer = 99;
    EXPECT_EQ(effect.dispatch(opcode, 0, 0, nullptr, 0.0f), 0);
    EXPECT_TRUE(effect.reached.empty());
  }
  for (std::int32_t opcode : {4, 5, 6, 7, 8, 23}) {
    SCOPED_TRACE(opcode);
    TandrelEffect tandrel(nullptr);
    for (std::int32_t index : {0, 1, 2})
      EXPECT_EQ(tandrel.dispatch(opcode, index, 0, nullptr, 0.0f), 0);
  }
}

TEST(BaseDispatch, EditorRequestsReachTheAttachedEditor) {
  bool destroyed = false;
  {
    WithEditor<PlainEffect> effect;
    RecordingEditor& editor = effect.attach(new RecordingEditor(&destroyed));
    void* where = nullptr;
    EXPECT_EQ(effect.dispatch(13, 0, 0, &where, 0.0f), 1);
    EXPECT_EQ(editor.lastPointer, &where);
    int window = 0;
    EXPECT_EQ(effect.dispatch(14, 0, 0, &window, 0.0f), 1);
    EXPECT_EQ(editor.lastPointer, &window);
    editor.answer = false;
    EXPECT_EQ(effect.dispatch(13, 0, 0, &where, 0.0f), 0);
    EXPECT_EQ(effect.dispatch(14, 0, 0, &window, 0.0f), 0);
    editor.answer = true;
    EXPECT_EQ(effect.dispatch(15, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatch(19, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(editor.rectangleCalls, 2);
    EXPECT_EQ(editor.openCalls, 2);
    EXPECT_EQ(editor.closeCalls, 1);
    EXPECT_EQ(editor.idleCalls, 1);
    EXPECT_EQ(editor.totalCalls(), 6);
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed); // the effect owns its editor
}

} // namespace
} // namespace tandrel::dispatch_test
