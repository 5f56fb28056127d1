// The services through which an effect calls its host: the six arguments
// each one sends, how each turns the host's answer into its result, what each
// answers without a callback, and the cached sample rate and block size.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "frame/extended_effect_base.hpp"
#include "host/module_host.hpp"
#include "host_call_check.hpp"

namespace {

using tandrel::EffectRecord;
using tandrel::ExtendedEffectBase;
using tandrel::HostCallback;

using tandrel::host::HostCall;

struct ParameterCall {
  std::int32_t index;
  float value;
  std::size_t hostCallsBefore; // host calls already made when the parameter was set
};

// What the recording host saw, and what it answers.
std::vector<HostCall> hostCalls;
std::intptr_t hostAnswer = 0;

std::intptr_t recordingHost(EffectRecord* record, std::int32_t opcode, std::int32_t index,
                            std::intptr_t value, void* pointer, float option) {
  hostCalls.push_back({record, opcode, index, value, pointer, option});
  return hostAnswer;
}

class ServiceEffect : public ExtendedEffectBase {
public:
  explicit ServiceEffect(HostCallback callback) : ExtendedEffectBase(callback, 1, 2) {}
  void processAudio(float**, float**, std::int32_t) noexcept override {}
  void setParameter(std::int32_t index, float value) noexcept override {
    parameterCalls.push_back({index, value, hostCalls.size()});
  }
  std::vector<ParameterCall> parameterCalls;
};

// As a pointer-sized integer, the width of the service results it is compared
// with (32-bit targets included).
std::intptr_t bits(float value) { return static_cast<std::intptr_t>(std::bit_cast<std::int32_t>(value)); }

// Addresses handed to the services; the host must receive them unchanged.
char textBuffer[65];
char pathBuffer[1025];
int offlineTask, audioFiles, windowDescription, fileRequest, vendorData;

// The host answers each row is tried with. The last one is wider than 32 bits
// with its low 32 bits zero: results that keep "the answer" as an int32 give
// 0, truth values still see a non-zero answer.
constexpr bool wideAnswers = sizeof(std::intptr_t) == 8;
constexpr std::intptr_t wide = wideAnswers ? static_cast<std::intptr_t>(INT64_C(0x100000000)) : 0;
constexpr std::array<std::intptr_t, 6> answers = {0, 1, 7, -1, 2400, wide};
using Results = std::array<std::intptr_t, 6>;

constexpr Results answerAsInt32 = {0, 1, 7, -1, 2400, 0};
constexpr Results answerAsIs = {0, 1, 7, -1, 2400, wide};
constexpr Results nonZero = {0, 1, 1, 1, 1, 1};
constexpr Results zeroMeansConnected = {1, 0, 0, 0, 0, 0};
constexpr Results versionRule = {1, 1, 7, -1, 2400, 0};
constexpr Results noResult = {0, 0, 0, 0, 0, 0};
// Cache rule on a fresh object: positive 32-bit answers are kept.
const Results sampleRates = {bits(44100.0f), bits(1.0f),    bits(7.0f),
                             bits(44100.0f), bits(2400.0f), bits(44100.0f)};
constexpr Results blockSizes = {1024, 1, 7, 1024, 2400, 1024};

struct ServiceRow {
  const char* name;
  std::intptr_t (*invoke)(ServiceEffect&); // the service's result as an integer (floats by their bits)
  std::int32_t opcode;
  std::int32_t index;
  std::intptr_t value;
  void* pointer;
  float option;
  Results results; // for each of `answers`
  std::intptr_t fallback;
};

template <typename T> std::intptr_t address(T* pointer) { return reinterpret_cast<std::intptr_t>(pointer); }

const ServiceRow serviceRows[] = {
    {"setParameterAndNotify",
     [](ServiceEffect& e) -> std::intptr_t {
       e.setParameterAndNotify(3, 0.75f);
       return 0;
     },
     0, 3, 0, nullptr, 0.75f, noResult, 0},
    {"askHostVersion", [](ServiceEffect& e) -> std::intptr_t { return e.askHostVersion(); }, 1, 0, 0, nullptr,
     0.0f, versionRule, 1},
    {"askHostLoadingId", [](ServiceEffect& e) -> std::intptr_t { return e.askHostLoadingId(); }, 2, 0, 0,
     nullptr, 0.0f, answerAsInt32, 0},
    {"giveHostIdleTime", [](ServiceEffect& e) -> std::intptr_t { return e.giveHostIdleTime(); }, 3, 0, 0,
     nullptr, 0.0f, answerAsInt32, 0},
    {"inputPinConnected", [](ServiceEffect& e) -> std::intptr_t { return e.inputPinConnected(2); }, 4, 2, 0,
     nullptr, 0.0f, zeroMeansConnected, 1},
    {"outputPinConnected", [](ServiceEffect& e) -> std::intptr_t { return e.outputPinConnected(3); }, 4, 3, 1,
     nullptr, 0.0f, zeroMeansConnected, 1},
    {"requestEventInput", [](ServiceEffect& e) -> std::intptr_t { return e.requestEventInput(1); }, 6, 0, 1,
     nullptr, 0.0f, answerAsInt32, 0},
    {"askHostTransport", [](ServiceEffect& e) { return address(e.askHostTransport(0x3F02)); }, 7, 0, 0x3F02,
     nullptr, 0.0f, answerAsIs, 0},
    {"askHostTempo", [](ServiceEffect& e) -> std::intptr_t { return e.askHostTempo(44100); }, 10, 0, 44100,
     nullptr, 0.0f, answerAsInt32, 0},
    {"askHostAutomatableCount", [](ServiceEffect& e) -> std::intptr_t { return e.askHostAutomatableCount(); },
     11, 0, 0, nullptr, 0.0f, answerAsInt32, 0},
    {"askHostQuantization", [](ServiceEffect& e) -> std::intptr_t { return e.askHostQuantization(); }, 12, 0,
     0, nullptr, 0.0f, answerAsInt32, 0},
    {"announceIoChange", [](ServiceEffect& e) -> std::intptr_t { return e.announceIoChange(); }, 13, 0, 0,
     nullptr, 0.0f, nonZero, 0},
    {"requestIdleCalls", [](ServiceEffect& e) -> std::intptr_t { return e.requestIdleCalls(); }, 14, 0, 0,
     nullptr, 0.0f, nonZero, 0},
    {"requestEditorSize", [](ServiceEffect& e) -> std::intptr_t { return e.requestEditorSize(640, 480); }, 15,
     640, 480, nullptr, 0.0f, nonZero, 0},
    {"refreshSampleRate", [](ServiceEffect& e) -> std::intptr_t { return bits(e.refreshSampleRate()); }, 16,
     0, 0, nullptr, 0.0f, sampleRates, bits(44100.0f)},
    {"refreshBlockSize", [](ServiceEffect& e) -> std::intptr_t { return e.refreshBlockSize(); }, 17, 0, 0,
     nullptr, 0.0f, blockSizes, 1024},
    {"askHostInputLatency", [](ServiceEffect& e) -> std::intptr_t { return e.askHostInputLatency(); }, 18, 0,
     0, nullptr, 0.0f, answerAsInt32, 0},
    {"askHostOutputLatency", [](ServiceEffect& e) -> std::intptr_t { return e.askHostOutputLatency(); }, 19,
     0, 0, nullptr, 0.0f, answerAsInt32, 0},
    {"askHostPreviousEffect", [](ServiceEffect& e) { return address(e.askHostPreviousEffect(3)); }, 20, 0, 0,
     nullptr, 0.0f, answerAsIs, 0},
    {"askHostNextEffect", [](ServiceEffect& e) { return address(e.askHostNextEffect(3)); }, 21, 0, 0, nullptr,
     0.0f, answerAsIs, 0},
    {"askHostReplaceOrAccumulate",
     [](ServiceEffect& e) -> std::intptr_t { return e.askHostReplaceOrAccumulate(); }, 22, 0, 0, nullptr,
     0.0f, answerAsInt32, 0},
    {"askHostProcessLevel", [](ServiceEffect& e) -> std::intptr_t { return e.askHostProcessLevel(); }, 23, 0,
     0, nullptr, 0.0f, answerAsInt32, 0},
    {"askHostAutomationState", [](ServiceEffect& e) -> std::intptr_t { return e.askHostAutomationState(); },
     24, 0, 0, nullptr, 0.0f, answerAsInt32, 0},
    {"startOfflineJob",
     [](ServiceEffect& e) -> std::intptr_t { return e.startOfflineJob(&audioFiles, 4, 2); }, 25, 2, 4,
     &audioFiles, 0.0f, nonZero, 0},
    {"readOfflineDataFromSource",
     [](ServiceEffect& e) -> std::intptr_t { return e.readOfflineData(&offlineTask, 5, true); }, 26, 1, 5,
     &offlineTask, 0.0f, nonZero, 0},
    {"readOfflineDataNotFromSource",
     [](ServiceEffect& e) -> std::intptr_t { return e.readOfflineData(&offlineTask, 5, false); }, 26, 0, 5,
     &offlineTask, 0.0f, nonZero, 0},
    {"writeOfflineData",
     [](ServiceEffect& e) -> std::intptr_t { return e.writeOfflineData(&offlineTask, 6); }, 27, 0, 6,
     &offlineTask, 0.0f, nonZero, 0},
    {"askOfflinePass", [](ServiceEffect& e) -> std::intptr_t { return e.askOfflinePass(); }, 28, 0, 0,
     nullptr, 0.0f, nonZero, 0},
    {"askOfflineMetaPass", [](ServiceEffect& e) -> std::intptr_t { return e.askOfflineMetaPass(); }, 29, 0, 0,
     nullptr, 0.0f, nonZero, 0},
    {"tellHostOutputSampleRate",
     [](ServiceEffect& e) -> std::intptr_t { return e.tellHostOutputSampleRate(96000.0f); }, 30, 0, 0,
     nullptr, 96000.0f, answerAsInt32, 0},
    {"askHostOutputArrangement", [](ServiceEffect& e) { return address(e.askHostOutputArrangement()); }, 31,
     0, 0, nullptr, 0.0f, answerAsIs, 0},
    {"askHostVendorText", [](ServiceEffect& e) -> std::intptr_t { return e.askHostVendorText(textBuffer); },
     32, 0, 0, textBuffer, 0.0f, nonZero, 0},
    {"askHostProductText", [](ServiceEffect& e) -> std::intptr_t { return e.askHostProductText(textBuffer); },
     33, 0, 0, textBuffer, 0.0f, nonZero, 0},
    {"askHostVendorVersion", [](ServiceEffect& e) -> std::intptr_t { return e.askHostVendorVersion(); }, 34,
     0, 0, nullptr, 0.0f, answerAsInt32, 0},
    {"passHostVendorRequest",
     [](ServiceEffect& e) { return e.passHostVendorRequest(1, 2, &vendorData, 0.5f); }, 35, 1, 2, &vendorData,
     0.5f, answerAsIs, 0},
    {"askHostCapability",
     [](ServiceEffect& e) -> std::intptr_t { return e.askHostCapability(tandrel::HostCapabilities[8]); }, 37,
     0, 0, const_cast<char*>(tandrel::HostCapabilities[8]), 0.0f, nonZero, 0},
    {"askHostLanguage", [](ServiceEffect& e) -> std::intptr_t { return e.askHostLanguage(); }, 38, 0, 0,
     nullptr, 0.0f, answerAsInt32, 0},
    {"openHostWindow", [](ServiceEffect& e) { return address(e.openHostWindow(&windowDescription)); }, 39, 0,
     0, &windowDescription, 0.0f, answerAsIs, 0},
    {"closeHostWindow",
     [](ServiceEffect& e) -> std::intptr_t { return e.closeHostWindow(&windowDescription); }, 40, 0, 0,
     &windowDescription, 0.0f, nonZero, 0},
    {"askHostDirectory", [](ServiceEffect& e) { return address(e.askHostDirectory()); }, 41, 0, 0, nullptr,
     0.0f, answerAsIs, 0},
    {"tellHostDisplayChanged", [](ServiceEffect& e) -> std::intptr_t { return e.tellHostDisplayChanged(); },
     42, 0, 0, nullptr, 0.0f, nonZero, 0},
    {"tellHostEditStarted", [](ServiceEffect& e) -> std::intptr_t { return e.tellHostEditStarted(1); }, 43, 1,
     0, nullptr, 0.0f, nonZero, 0},
    {"tellHostEditEnded", [](ServiceEffect& e) -> std::intptr_t { return e.tellHostEditEnded(1); }, 44, 1, 0,
     nullptr, 0.0f, nonZero, 0},
    {"openHostFileDialog",
     [](ServiceEffect& e) -> std::intptr_t { return e.openHostFileDialog(&fileRequest); }, 45, 0, 0,
     &fileRequest, 0.0f, nonZero, 0},
    {"closeHostFileDialog",
     [](ServiceEffect& e) -> std::intptr_t { return e.closeHostFileDialog(&fileRequest); }, 46, 0, 0,
     &fileRequest, 0.0f, nonZero, 0},
    {"askHostChunkFile", [](ServiceEffect& e) -> std::intptr_t { return e.askHostChunkFile(pathBuffer); }, 48,
     0, 0, pathBuffer, 0.0f, nonZero, 0},
    {"askHostInputArrangement", [](ServiceEffect& e) { return address(e.askHostInputArrangement()); }, 49, 0,
     0, nullptr, 0.0f, answerAsIs, 0},
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const ServiceRow& row, std::ostream* out) { *out << row.name; }

class HostServiceTest : public ::testing::TestWithParam<ServiceRow> {
protected:
  void SetUp() override {
    hostCalls.clear();
    hostAnswer = 0;
  }
};

TEST_P(HostServiceTest, SendsItsRowAndTurnsEachAnswerIntoItsResult) {
  const ServiceRow& row = GetParam();
  for (std::size_t i = 0; i < answers.size(); ++i) {
    if (i == answers.size() - 1 && !wideAnswers) break;
    SCOPED_TRACE("host answers " + std::to_string(answers[i]));
    ServiceEffect effect(recordingHost); // fresh, so that cached values start from their defaults
    hostCalls.clear();
    hostAnswer = answers[i];
    const std::intptr_t result = row.invoke(effect);
    ASSERT_EQ(hostCalls.size(), 1u);
    const HostCall& call = hostCalls[0];
    EXPECT_TRUE(tandrel::test::isHostCall(
        call, {effect.getRecordAddress(), row.opcode, row.index, row.value, row.pointer, row.option}));
    EXPECT_NE(static_cast<void*>(call.record), static_cast<void*>(&effect));
    EXPECT_EQ(result, row.results[i]);
  }
}

TEST_P(HostServiceTest, AnswersItsFallbackWithoutCallback) {
  const ServiceRow& row = GetParam();
  ServiceEffect effect(nullptr);
  EXPECT_EQ(row.invoke(effect), row.fallback);
  EXPECT_TRUE(hostCalls.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryHostOpcode, HostServiceTest, ::testing::ValuesIn(serviceRows),
                         [](const ::testing::TestParamInfo<ServiceRow>& info) {
                           return "op" + std::to_string(info.param.opcode) + "_" + info.param.name;
                         });

class HostServiceEdgeTest : public ::testing::Test {
protected:
  void SetUp() override {
    hostCalls.clear();
    hostAnswer = 0;
  }
  ServiceEffect effect{recordingHost};
};

TEST_F(HostServiceEdgeTest, SampleRateKeepsOnlyPositiveAnswers) {
  hostAnswer = 48000;
  EXPECT_EQ(bits(effect.refreshSampleRate()), bits(48000.0f));
  for (std::intptr_t answer : {0, -1}) {
    hostAnswer = answer;
    EXPECT_EQ(bits(effect.refreshSampleRate()), bits(48000.0f)) << answer;
  }
  EXPECT_EQ(bits(effect.getSampleRate()), bits(48000.0f));
  // The answer is converted to the nearest float: 2^24 + 1 has none of its own.
  hostAnswer = 16777217;
  EXPECT_EQ(bits(effect.refreshSampleRate()), bits(16777216.0f));
  EXPECT_EQ(hostCalls.size(), 4u);
}

TEST_F(HostServiceEdgeTest, SampleRateAnswerIsReadAsSigned32Bits) {
  if (!wideAnswers) GTEST_SKIP() << "answers are 32 bits wide";
  hostAnswer = static_cast<std::intptr_t>(INT64_C(0x100000000) + 96000);
  EXPECT_EQ(bits(effect.refreshSampleRate()), bits(96000.0f));
  hostAnswer = static_cast<std::intptr_t>(INT64_C(0xFFFFFFFF)); // -1 in its low 32 bits
  EXPECT_EQ(bits(effect.refreshSampleRate()), bits(96000.0f));
  hostAnswer = static_cast<std::intptr_t>(INT64_C(0xFFFFFFFF00000000) + 22050); // negative as a whole
  EXPECT_EQ(bits(effect.refreshSampleRate()), bits(22050.0f));
}

TEST_F(HostServiceEdgeTest, BlockSizeKeepsOnlyPositiveAnswers) {
  hostAnswer = 512;
  EXPECT_EQ(effect.refreshBlockSize(), 512);
  hostAnswer = -5;
  EXPECT_EQ(effect.refreshBlockSize(), 512);
  EXPECT_EQ(effect.getBlockSize(), 512);
  if (wideAnswers) {
    hostAnswer = static_cast<std::intptr_t>(INT64_C(0x100000000) + 256);
    EXPECT_EQ(effect.refreshBlockSize(), 256);
  }
}

TEST_F(HostServiceEdgeTest, SetParameterAndNotifySetsBeforeTellingTheHost) {
  hostAnswer = 7; // ignored
  effect.setParameterAndNotify(1, 0.25f);
  ASSERT_EQ(effect.parameterCalls.size(), 1u);
  EXPECT_EQ(effect.parameterCalls[0].index, 1);
  EXPECT_EQ(bits(effect.parameterCalls[0].value), bits(0.25f));
  EXPECT_EQ(effect.parameterCalls[0].hostCallsBefore, 0u);
  ASSERT_EQ(hostCalls.size(), 1u);
  EXPECT_EQ(hostCalls[0].opcode, 0);
  EXPECT_EQ(hostCalls[0].index, 1);
  EXPECT_EQ(bits(hostCalls[0].option), bits(0.25f));

  // Neither index nor value is limited to a range.
  effect.setParameterAndNotify(-9, 3.5f);
  ASSERT_EQ(effect.parameterCalls.size(), 2u);
  EXPECT_EQ(effect.parameterCalls[1].index, -9);
  EXPECT_EQ(bits(effect.parameterCalls[1].value), bits(3.5f));
  ASSERT_EQ(hostCalls.size(), 2u);
  EXPECT_EQ(hostCalls[1].index, -9);
  EXPECT_EQ(bits(hostCalls[1].option), bits(3.5f));
}

TEST_F(HostServiceEdgeTest, SetParameterAndNotifyWithoutCallbackStillSets) {
  ServiceEffect alone(nullptr);
  alone.setParameterAndNotify(1, 0.25f);
  ASSERT_EQ(alone.parameterCalls.size(), 1u);
  EXPECT_EQ(alone.parameterCalls[0].index, 1);
  EXPECT_EQ(bits(alone.parameterCalls[0].value), bits(0.25f));
}

TEST_F(HostServiceEdgeTest, FileRequestsWithNullAddressSendNothing) {
  hostAnswer = 1;
  EXPECT_FALSE(effect.openHostFileDialog(nullptr));
  EXPECT_FALSE(effect.closeHostFileDialog(nullptr));
  EXPECT_FALSE(effect.askHostChunkFile(nullptr));
  EXPECT_TRUE(hostCalls.empty());
}

TEST_F(HostServiceEdgeTest, OtherServicesPassNullAddressesOn) {
  struct NullCase {
    const char* name;
    std::int32_t opcode;
    std::intptr_t (*invoke)(ServiceEffect&);
  };
  const NullCase cases[] = {
      {"askHostVendorText", 32,
       [](ServiceEffect& e) -> std::intptr_t { return e.askHostVendorText(nullptr); }},
      {"askHostProductText", 33,
       [](ServiceEffect& e) -> std::intptr_t { return e.askHostProductText(nullptr); }},
      {"askHostCapability", 37,
       [](ServiceEffect& e) -> std::intptr_t { return e.askHostCapability(nullptr); }},
      {"openHostWindow", 39, [](ServiceEffect& e) { return address(e.openHostWindow(nullptr)); }},
      {"closeHostWindow", 40, [](ServiceEffect& e) -> std::intptr_t { return e.closeHostWindow(nullptr); }},
      {"startOfflineJob", 25,
       [](ServiceEffect& e) -> std::intptr_t { return e.startOfflineJob(nullptr, 0, 0); }},
      {"readOfflineData", 26,
       [](ServiceEffect& e) -> std::intptr_t { return e.readOfflineData(nullptr, 0, false); }},
      {"writeOfflineData", 27,
       [](ServiceEffect& e) -> std::intptr_t { return e.writeOfflineData(nullptr, 0); }},
      {"passHostVendorRequest", 35,
       [](ServiceEffect& e) { return e.passHostVendorRequest(0, 0, nullptr, 0.0f); }},
  };
  hostAnswer = 1;
  for (const NullCase& c : cases) {
    hostCalls.clear();
    EXPECT_EQ(c.invoke(effect), 1) << c.name;
    ASSERT_EQ(hostCalls.size(), 1u) << c.name;
    EXPECT_EQ(hostCalls[0].opcode, c.opcode) << c.name;
    EXPECT_EQ(hostCalls[0].pointer, nullptr) << c.name;
  }
}

TEST_F(HostServiceEdgeTest, VendorRequestPassesWideValuesBothWays) {
  if (!wideAnswers) GTEST_SKIP() << "values are 32 bits wide";
  const auto value = static_cast<std::intptr_t>(INT64_C(0x123456789A));
  hostAnswer = static_cast<std::intptr_t>(INT64_C(-0x76543210FE));
  EXPECT_EQ(effect.passHostVendorRequest(-4, value, &vendorData, -2.5f), hostAnswer);
  ASSERT_EQ(hostCalls.size(), 1u);
  EXPECT_EQ(hostCalls[0].index, -4);
  EXPECT_EQ(hostCalls[0].value, value);
  EXPECT_EQ(hostCalls[0].pointer, &vendorData);
  EXPECT_EQ(bits(hostCalls[0].option), bits(-2.5f));
}

} // namespace
