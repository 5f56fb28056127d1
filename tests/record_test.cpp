// The record and the entry point as a host sees them: the module is loaded
// from its file, exactly as an audio host loads it.

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "allocation_control.hpp"
#include "effect/tandrel_effect.hpp"
#include "frame/entry.hpp"
#include "host/module_host.hpp"
#include "host_call_check.hpp"
#include "loaded_module_fixture.hpp"

namespace {

using tandrel::EffectRecord;
using tandrel::host::EffectInstance;
using tandrel::host::HostCall;
using tandrel::host::ModuleLibrary;

template <typename T> T fieldAt(const EffectRecord& record, std::size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&record) + offset, sizeof value);
  return value;
}

// Offsets that hosts read, for the pointer width of this build.
struct Layout {
  std::size_t dispatcher, oldProcess, setParameter, getParameter, programs, parameters, inputs, outputs,
      flags, reserved1, reserved2, initialDelay, realtime, offline, ratio, object, hostField, uniqueId,
      version, replacing, replacing64, tail, size;
};
constexpr Layout layout = sizeof(void*) == 8 ? Layout{8,  16, 24, 32, 40,  44,  48,  52,  56,  64,  72, 80,
                                                      84, 88, 92, 96, 104, 112, 116, 120, 128, 136, 192}
                                             : Layout{4,  8,  12, 16, 20, 24, 28, 32, 36, 40, 44, 48,
                                                      52, 56, 60, 64, 68, 72, 76, 80, 84, 88, 144};

using LoadedModuleTest = tandrel::test::LoadedModuleFixture;

TEST_F(LoadedModuleTest, RecordReadsAsTheProductAtEveryOffset) {
  auto instance = create();
  ASSERT_NE(instance, nullptr);
  const EffectRecord& record = instance->record();
  EXPECT_EQ(sizeof(EffectRecord), layout.size);
  EXPECT_EQ(fieldAt<std::int32_t>(record, 0), 0x56737450); // "VstP"
  for (std::size_t entry : {layout.dispatcher, layout.oldProcess, layout.setParameter, layout.getParameter,
                            layout.replacing, layout.replacing64})
    EXPECT_NE(fieldAt<void*>(record, entry), nullptr) << "entry at " << entry;
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.programs), 1);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.parameters), 2);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.inputs), 2);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.outputs), 2);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.flags), 0x10);
  EXPECT_EQ(fieldAt<std::intptr_t>(record, layout.reserved1), 0);
  EXPECT_EQ(fieldAt<std::intptr_t>(record, layout.reserved2), 0);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.initialDelay), 256);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.realtime), 0);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.offline), 0);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fieldAt<float>(record, layout.ratio)),
            std::bit_cast<std::uint32_t>(1.0f));
  EXPECT_NE(fieldAt<void*>(record, layout.object), nullptr);
  EXPECT_EQ(fieldAt<void*>(record, layout.hostField),
            instance.get()); // the host's own, untouched by the module
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.uniqueId), 0x5A64346B); // "Zd4k"
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.uniqueId), 1516516459);
  EXPECT_EQ(fieldAt<std::int32_t>(record, layout.version), 1);
  const unsigned char* tail = reinterpret_cast<const unsigned char*>(&record) + layout.tail;
  EXPECT_EQ(std::vector<unsigned char>(tail, tail + 56), std::vector<unsigned char>(56, 0));
}

TEST_F(LoadedModuleTest, EntryPointAsksTheHostVersionOnceWithANullRecord) {
  auto instance = create();
  ASSERT_NE(instance, nullptr);
  ASSERT_EQ(instance->calls().size(), 1u);
  EXPECT_TRUE(tandrel::test::isHostCall(instance->calls().front(), {nullptr, 1, 0, 0, nullptr, 0.0f}));
}

TEST_F(LoadedModuleTest, HostAnsweringVersionZeroGetsNoEffect) {
  std::string error;
  auto instance = EffectInstance::create(*module_, error, [](const HostCall&) -> std::intptr_t { return 0; });
  EXPECT_EQ(instance, nullptr);
  EXPECT_FALSE(error.empty());
}

TEST_F(LoadedModuleTest, CloseAnswersOne) {
  auto instance = create();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->close(), 1);
  EXPECT_FALSE(instance->isOpen());
}

TEST_F(LoadedModuleTest, ParametersThroughTheRecordEntries) {
  auto instance = create();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->getParameter(0), 1.0f);
  EXPECT_EQ(instance->getParameter(1), 0.25f);
  instance->setParameter(1, 0.5f);
  instance->setParameter(0, 0.2f);
  EXPECT_EQ(instance->getParameter(1), 0.5f);
  EXPECT_EQ(instance->getParameter(0), 0.2f);
  EXPECT_EQ(instance->getParameter(5), 0.2f);
}

TEST_F(LoadedModuleTest, OldAndSixtyFourBitEntriesLeaveOutputsUntouched) {
  auto instance = create();
  ASSERT_NE(instance, nullptr);
  std::vector<float> in(64, 0.5f), out(64, 3.0f);
  float* inputs[2] = {in.data(), in.data()};
  float* outputs[2] = {out.data(), out.data()};
  instance->processOldAccumulating(inputs, outputs, 64);
  EXPECT_EQ(out, std::vector<float>(64, 3.0f));
  std::vector<double> in64(64, 0.5), out64(64, 3.0);
  double* inputs64[2] = {in64.data(), in64.data()};
  double* outputs64[2] = {out64.data(), out64.data()};
  instance->processReplacing64(inputs64, outputs64, 64);
  EXPECT_EQ(out64, std::vector<double>(64, 3.0));
}

// Processes `audio` with a loud control through one instance, in calls of `callSize`.
std::vector<float> duck(EffectInstance& instance, const std::vector<float>& audio, std::size_t first,
                        std::size_t count) {
  std::vector<float> in0(audio.begin() + static_cast<std::ptrdiff_t>(first),
                         audio.begin() + static_cast<std::ptrdiff_t>(first + count));
  std::vector<float> in1(count, 0.1f), out0(count), out1(count);
  float* inputs[2] = {in0.data(), in1.data()};
  float* outputs[2] = {out0.data(), out1.data()};
  instance.processReplacing(inputs, outputs, static_cast<std::int32_t>(count));
  return out0;
}

TEST_F(LoadedModuleTest, TwoInstancesShareNothing) {
  std::mt19937 generator(5);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  std::vector<float> a(5000), b(5000);
  for (auto& s : a)
    s = sample(generator);
  for (auto& s : b)
    s = sample(generator);

  auto aloneA = create(), aloneB = create();
  ASSERT_TRUE(aloneA && aloneB);
  aloneB->setParameter(1, 0.9f);
  const std::vector<float> expectedA = duck(*aloneA, a, 0, 5000), expectedB = duck(*aloneB, b, 0, 5000);

  auto first = create(), second = create();
  ASSERT_TRUE(first && second);
  second->setParameter(1, 0.9f);
  EXPECT_NE(&first->record(), &second->record());
  std::vector<float> gotA, gotB;
  for (std::size_t done = 0; done < 5000; done += 500) {
    auto partA = duck(*first, a, done, 500);
    auto partB = duck(*second, b, done, 500);
    gotA.insert(gotA.end(), partA.begin(), partA.end());
    gotB.insert(gotB.end(), partB.begin(), partB.end());
  }
  EXPECT_EQ(gotA, expectedA);
  EXPECT_EQ(gotB, expectedB);
  EXPECT_EQ(first->getParameter(1), 0.25f);
}

// --- The record entries and creation, on the classes themselves ---

int destroyedCount = 0;

class CountingEffect : public tandrel::ExtendedEffectBase {
public:
  CountingEffect() : ExtendedEffectBase(nullptr, 1, 0) {}
  ~CountingEffect() override { ++destroyedCount; }
  void processAudio(float**, float**, std::int32_t) noexcept override {}
  std::intptr_t dispatch(std::int32_t opcode, std::int32_t, std::intptr_t, void*, float) noexcept override {
    lastOpcode = opcode;
    return 42;
  }
  static inline std::int32_t lastOpcode = -1;
};

TEST(RecordEntries, CloseDispatchesThenDestroysAndAnswersOne) {
  destroyedCount = 0;
  auto* effect = new CountingEffect;
  EffectRecord* record = effect->getRecordAddress();
  EXPECT_EQ(record->dispatcherEntry(record, 3, 0, 0, nullptr, 0.0f), 42); // other opcodes: dispatch's answer
  EXPECT_EQ(destroyedCount, 0);
  EXPECT_EQ(record->dispatcherEntry(record, 1, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(CountingEffect::lastOpcode, 1);
  EXPECT_EQ(destroyedCount, 1);
}

TEST(RecordEntries, BaseRecordBeforeAnEffectChangesIt) {
  CountingEffect effect;
  const EffectRecord& record = *effect.getRecordAddress();
  EXPECT_EQ(record.magic, 0x56737450);
  EXPECT_EQ(record.inputCount, 1);
  EXPECT_EQ(record.outputCount, 2);
  EXPECT_EQ(record.flags, 0x10);
  EXPECT_EQ(record.uniqueIdentifier, 0x4E6F4566); // "NoEf"
  EXPECT_EQ(record.recordVersion, 1);
  EXPECT_EQ(record.inputOutputRatio, 1.0f);
  EXPECT_EQ(record.owningObject, &effect);
  EXPECT_EQ(record.programCount, 1);
  EXPECT_EQ(record.parameterCount, 0);
}

TEST(RecordEntries, EntriesWithANullRecordDoNothing) {
  CountingEffect effect;
  const EffectRecord& record = *effect.getRecordAddress();
  EXPECT_EQ(record.dispatcherEntry(nullptr, 1, 0, 0, nullptr, 0.0f), 0);
  record.setParameterEntry(nullptr, 0, 1.0f);
  EXPECT_EQ(record.getParameterEntry(nullptr, 0), 0.0f);
  record.replacingProcessEntry(nullptr, nullptr, nullptr, 16);
}

} // namespace

TEST(CreateEffect, AnswersNullWhenTheDelayLineCannotBeObtained) {
  // The object itself is the first allocation; its delay line the second.
  tandrel::EffectBase* effect = nullptr;
  {
    tandrel::test::FailingAllocations failing(1);
    effect = tandrel::createEffect(nullptr);
  }
  EXPECT_EQ(effect, nullptr); // and the leak checker sees the object released
}

TEST(CreateEffect, AnswersNullWhenTheObjectCannotBeObtained) {
  tandrel::test::FailingAllocations failing(0);
  EXPECT_EQ(tandrel::createEffect(nullptr), nullptr);
}

TEST(CreateEffect, EntryPointAnswersNullWithoutACallback) { EXPECT_EQ(VSTPluginMain(nullptr), nullptr); }

// The version query comes before anything else: a host that answers 0 gets
// null, and no effect is made (nothing is allocated).
TEST(CreateEffect, HostAnsweringVersionZeroGetsNoEffectMade) {
  const tandrel::HostCallback refuse = [](tandrel::EffectRecord*, std::int32_t, std::int32_t, std::intptr_t,
                                          void*, float) -> std::intptr_t { return 0; };
  const std::size_t before = tandrel::test::allocationCount();
  EXPECT_EQ(VSTPluginMain(refuse), nullptr);
  EXPECT_EQ(tandrel::test::allocationCount(), before);
}
