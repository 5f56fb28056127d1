// Making, copying and releasing speaker arrangements, and the two capability
// vocabularies. Under the address sanitizer the tests also check the exact
// size of each block and that a block given back is really released.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "allocation_control.hpp"
#include "frame/extended_effect_base.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define TANDREL_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TANDREL_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef TANDREL_TEST_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace {

using tandrel::ExtendedEffectBase;
using tandrel::SpeakerArrangement;
using tandrel::speakerAt;
using tandrel::SpeakerProperties;
using tandrel::test::allocationCount;
using tandrel::test::FailingAllocations;

class ArrangementEffect : public ExtendedEffectBase {
public:
  ArrangementEffect() : ExtendedEffectBase(nullptr, 1, 0) {}
  void processAudio(float**, float**, std::int32_t) noexcept override {}
};

// The block is exactly `bytes` long: every byte is addressable and the one
// after it is not. Checked only under the address sanitizer.
void expectBlockOfExactly(const void* block, std::size_t bytes) {
#ifdef TANDREL_TEST_ADDRESS_SANITIZER
  EXPECT_EQ(__asan_region_is_poisoned(const_cast<void*>(block), bytes), nullptr);
  EXPECT_TRUE(__asan_address_is_poisoned(static_cast<const char*>(block) + bytes));
#else
  (void)block;
  (void)bytes;
#endif
}

// The block was given back to the allocator. Checked only under the address
// sanitizer, whose quarantine keeps freed blocks poisoned.
void expectReleased(const void* block) {
#ifdef TANDREL_TEST_ADDRESS_SANITIZER
  EXPECT_TRUE(__asan_address_is_poisoned(block));
#else
  (void)block;
#endif
}

bool allZero(const void* bytes, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < count; ++i)
    if (p[i] != 0) return false;
  return true;
}

// A speaker whose every byte is non-zero and depends on seed, with `text`
// written at the start of its text field. When text is shorter than 64
// bytes, a zero follows it and non-zero bytes follow that.
SpeakerProperties makeSpeaker(unsigned char seed, std::string_view text) {
  SpeakerProperties speaker;
  auto* bytes = reinterpret_cast<unsigned char*>(&speaker);
  for (std::size_t i = 0; i < sizeof speaker; ++i)
    bytes[i] = static_cast<unsigned char>((i * 7 + seed) | 1);
  std::memcpy(speaker.text, text.data(), text.size());
  if (text.size() < sizeof speaker.text) speaker.text[text.size()] = '\0';
  return speaker;
}

// What a copy of `source` must hold: every byte the same, except that the
// text keeps at most 63 characters up to its first zero and zeros after.
SpeakerProperties expectedCopy(const SpeakerProperties& source) {
  SpeakerProperties copy = source;
  std::size_t length = 0;
  while (length < 63 && source.text[length] != '\0')
    ++length;
  std::memset(copy.text + length, 0, sizeof copy.text - length);
  return copy;
}

bool sameBytes(const SpeakerProperties& a, const SpeakerProperties& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A two-channel arrangement in one block of 232 bytes, laid out as the frame
// lays out its own.
struct TwoChannelArrangement {
  SpeakerArrangement head;
  SpeakerProperties second;
};
static_assert(sizeof(TwoChannelArrangement) == 232);

TwoChannelArrangement makeTypeFiveSource() {
  TwoChannelArrangement source;
  source.head.arrangementType = 5;
  source.head.channelCount = 2;
  source.head.speakers[0] = makeSpeaker(3, "L");
  source.second = makeSpeaker(11, std::string(64, 'R')); // no terminator within the text bytes
  return source;
}

class SpeakerArrangementTest : public ::testing::Test {
protected:
  void TearDown() override { effect.releaseSpeakerArrangement(&slot); }
  ArrangementEffect effect;
  SpeakerArrangement* slot = nullptr;
};

TEST_F(SpeakerArrangementTest, NoChannelsOnNullSlotMakesAnEightByteZeroBlock) {
  const std::size_t before = allocationCount();
  const bool made = effect.newSpeakerArrangement(&slot, 0);
  const std::size_t after = allocationCount();
  ASSERT_TRUE(made);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(after, before + 1);
  EXPECT_EQ(slot->arrangementType, 0);
  EXPECT_EQ(slot->channelCount, 0);
  expectBlockOfExactly(slot, 8);
}

TEST_F(SpeakerArrangementTest, TwoChannelsReplaceAHeldArrangementWithAZeroBlock) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 2));
  std::memset(slot, 0xA5, 232); // the next block of this size may be this one again
  SpeakerArrangement* old = slot;
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 2));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->arrangementType, 0);
  EXPECT_EQ(slot->channelCount, 2);
  EXPECT_TRUE(allZero(speakerAt(slot, 0), 2 * sizeof(SpeakerProperties)));
  expectBlockOfExactly(slot, 232);
  if (slot != old) expectReleased(old);
}

TEST_F(SpeakerArrangementTest, ReleaseAnswersTrueAndEmptiesTheSlot) {
  const std::size_t before = allocationCount();
  EXPECT_TRUE(effect.releaseSpeakerArrangement(&slot));
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(effect.releaseSpeakerArrangement(nullptr));
  EXPECT_EQ(allocationCount(), before);

  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
  SpeakerArrangement* held = slot;
  EXPECT_TRUE(effect.releaseSpeakerArrangement(&slot));
  EXPECT_EQ(slot, nullptr);
  expectReleased(held);
}

TEST_F(SpeakerArrangementTest, FailedAllocationLeavesTheSlotNull) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
  SpeakerArrangement* held = slot;
  bool made = true;
  { // nothing inside may allocate but the operation under test
    FailingAllocations failing(0);
    made = effect.newSpeakerArrangement(&slot, 2);
  }
  EXPECT_FALSE(made);
  EXPECT_EQ(slot, nullptr);
  expectReleased(held);

  {
    FailingAllocations failing(0);
    made = effect.newSpeakerArrangement(&slot, 0);
  }
  EXPECT_FALSE(made);
  EXPECT_EQ(slot, nullptr);
}

TEST_F(SpeakerArrangementTest, FailedAllocationInsideACopyLeavesTheSlotNull) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
  SpeakerArrangement* held = slot;
  const TwoChannelArrangement source = makeTypeFiveSource();
  bool copied = true;
  {
    FailingAllocations failing(0);
    copied = effect.copySpeakerArrangement(&slot, &source.head);
  }
  EXPECT_FALSE(copied);
  EXPECT_EQ(slot, nullptr);
  expectReleased(held);
}

TEST_F(SpeakerArrangementTest, NegativeAndHugeCountsAreRefusedWithoutAllocating) {
  for (std::int32_t count : {-1, INT_MIN, tandrel::maxSpeakerChannels + 1, INT_MAX}) {
    SCOPED_TRACE(count);
    ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
    SpeakerArrangement* held = slot;
    const std::size_t before = allocationCount();
    const bool made = effect.newSpeakerArrangement(&slot, count);
    const std::size_t after = allocationCount();
    EXPECT_FALSE(made);
    EXPECT_EQ(after, before);
    EXPECT_EQ(slot, nullptr); // what it held was released first, as for any making
    expectReleased(held);
  }
  EXPECT_FALSE(effect.newSpeakerArrangement(nullptr, 1));
}

TEST_F(SpeakerArrangementTest, LargestCountIsMade) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, tandrel::maxSpeakerChannels));
  EXPECT_EQ(slot->channelCount, tandrel::maxSpeakerChannels);
  const SpeakerProperties* last = speakerAt(slot, tandrel::maxSpeakerChannels - 1);
  EXPECT_TRUE(allZero(last, sizeof *last));
  expectBlockOfExactly(slot, 8 + 112 * static_cast<std::size_t>(tandrel::maxSpeakerChannels));
}

TEST_F(SpeakerArrangementTest, PropertiesCopyKeepsAtMost63TextCharacters) {
  const SpeakerProperties source = makeSpeaker(5, std::string(64, 'x'));
  SpeakerProperties destination = makeSpeaker(200, "old text");
  ASSERT_TRUE(effect.copySpeakerProperties(&destination, &source));
  EXPECT_EQ(std::string(destination.text, 63), std::string(63, 'x'));
  EXPECT_EQ(destination.text[63], '\0');
  EXPECT_TRUE(sameBytes(destination, expectedCopy(source)));
  // Everything but the text is copied bit for bit.
  EXPECT_EQ(std::memcmp(destination.leadingValues, source.leadingValues, 16), 0);
  EXPECT_EQ(destination.value80, source.value80);
  EXPECT_EQ(std::memcmp(destination.tail, source.tail, 28), 0);
}

TEST_F(SpeakerArrangementTest, PropertiesCopyZeroesTextBehindTheTerminator) {
  const SpeakerProperties source = makeSpeaker(9, "C"); // non-zero bytes behind its zero
  ASSERT_NE(source.text[2], '\0');
  SpeakerProperties destination = makeSpeaker(77, std::string(64, 'q'));
  ASSERT_TRUE(effect.copySpeakerProperties(&destination, &source));
  EXPECT_EQ(destination.text[0], 'C');
  EXPECT_TRUE(allZero(destination.text + 1, 63));
  EXPECT_TRUE(sameBytes(destination, expectedCopy(source)));

  // A record copied onto itself gets the same treatment.
  SpeakerProperties self = makeSpeaker(13, "Ls");
  const SpeakerProperties expected = expectedCopy(self);
  ASSERT_TRUE(effect.copySpeakerProperties(&self, &self));
  EXPECT_TRUE(sameBytes(self, expected));
}

TEST_F(SpeakerArrangementTest, PropertiesCopyWithNullAddressWritesNothing) {
  const SpeakerProperties source = makeSpeaker(1, "S");
  SpeakerProperties destination = makeSpeaker(2, "D");
  const SpeakerProperties untouched = destination;
  EXPECT_FALSE(effect.copySpeakerProperties(&destination, nullptr));
  EXPECT_FALSE(effect.copySpeakerProperties(nullptr, &source));
  EXPECT_FALSE(effect.copySpeakerProperties(nullptr, nullptr));
  EXPECT_TRUE(sameBytes(destination, untouched));
}

TEST_F(SpeakerArrangementTest, CopyFromNullSourceLeavesTheSlot) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
  slot->arrangementType = 9;
  SpeakerArrangement* held = slot;
  EXPECT_FALSE(effect.copySpeakerArrangement(&slot, nullptr));
  EXPECT_EQ(slot, held);
  EXPECT_EQ(slot->arrangementType, 9);
  EXPECT_EQ(slot->channelCount, 1);
}

TEST_F(SpeakerArrangementTest, CopyOfTwoChannelsOfTypeFive) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 3));
  SpeakerArrangement* held = slot;
  const TwoChannelArrangement source = makeTypeFiveSource();
  ASSERT_TRUE(effect.copySpeakerArrangement(&slot, &source.head));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->arrangementType, 5);
  EXPECT_EQ(slot->channelCount, 2);
  EXPECT_TRUE(sameBytes(*speakerAt(slot, 0), expectedCopy(source.head.speakers[0])));
  EXPECT_TRUE(sameBytes(*speakerAt(slot, 1), expectedCopy(source.second)));
  expectBlockOfExactly(slot, 232);
  if (slot != held) expectReleased(held);
}

TEST_F(SpeakerArrangementTest, CopyOfTheHeldBlockItselfLeavesIt) {
  const TwoChannelArrangement source = makeTypeFiveSource();
  ASSERT_TRUE(effect.copySpeakerArrangement(&slot, &source.head));
  SpeakerArrangement* held = slot;
  TwoChannelArrangement before;
  std::memcpy(&before, held, sizeof before);
  const std::size_t allocationsBefore = allocationCount();
  const bool copied = effect.copySpeakerArrangement(&slot, held);
  const std::size_t allocationsAfter = allocationCount();
  EXPECT_TRUE(copied);
  EXPECT_EQ(allocationsAfter, allocationsBefore);
  ASSERT_EQ(slot, held);
  EXPECT_EQ(std::memcmp(slot, &before, sizeof before), 0);
}

TEST_F(SpeakerArrangementTest, CopyOfNegativeCountFailsWithSlotNull) {
  ASSERT_TRUE(effect.newSpeakerArrangement(&slot, 1));
  TwoChannelArrangement source = makeTypeFiveSource();
  source.head.channelCount = -2;
  EXPECT_FALSE(effect.copySpeakerArrangement(&slot, &source.head));
  EXPECT_EQ(slot, nullptr);
}

// Logs the three operations that a copy calls, forwards them to the frame,
// and can make one of them fail.
class LoggingEffect : public ArrangementEffect {
public:
  bool releaseSpeakerArrangement(SpeakerArrangement** slot) noexcept override {
    log.push_back("release");
    return failRelease ? false : ArrangementEffect::releaseSpeakerArrangement(slot);
  }
  bool newSpeakerArrangement(SpeakerArrangement** slot, std::int32_t count) noexcept override {
    log.push_back("new " + std::to_string(count));
    return failNew ? false : ArrangementEffect::newSpeakerArrangement(slot, count);
  }
  bool copySpeakerProperties(SpeakerProperties* destination,
                             const SpeakerProperties* source) noexcept override {
    log.push_back("speaker " + std::to_string(destination - speakerAt(*watched, 0)));
    if (destination == speakerAt(*watched, failingSpeaker)) return false;
    return ArrangementEffect::copySpeakerProperties(destination, source);
  }
  std::vector<std::string> log;
  SpeakerArrangement** watched = nullptr;
  std::int32_t failingSpeaker = -1;
  bool failRelease = false;
  bool failNew = false;
};

class CopyThroughOperationsTest : public ::testing::Test {
protected:
  void SetUp() override { effect.watched = &slot; }
  void TearDown() override { effect.ArrangementEffect::releaseSpeakerArrangement(&slot); }
  LoggingEffect effect;
  SpeakerArrangement* slot = nullptr;
  const TwoChannelArrangement source = makeTypeFiveSource();
};

TEST_F(CopyThroughOperationsTest, CallsReleaseNewAndEachSpeakerInOrder) {
  ASSERT_TRUE(effect.copySpeakerArrangement(&slot, &source.head));
  EXPECT_EQ(effect.log, (std::vector<std::string>{"release", "new 2", "speaker 0", "speaker 1"}));
}

TEST_F(CopyThroughOperationsTest, FailingSpeakerStopsTheCopy) {
  effect.failingSpeaker = 1;
  EXPECT_FALSE(effect.copySpeakerArrangement(&slot, &source.head));
  EXPECT_EQ(effect.log, (std::vector<std::string>{"release", "new 2", "speaker 0", "speaker 1"}));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->arrangementType, 5);
  EXPECT_TRUE(sameBytes(*speakerAt(slot, 0), expectedCopy(source.head.speakers[0])));
  EXPECT_TRUE(allZero(speakerAt(slot, 1), sizeof(SpeakerProperties)));
}

TEST_F(CopyThroughOperationsTest, FailingReleaseOrNewStopsTheCopy) {
  effect.failRelease = true;
  EXPECT_FALSE(effect.copySpeakerArrangement(&slot, &source.head));
  EXPECT_EQ(effect.log, (std::vector<std::string>{"release"}));
  effect.failRelease = false;
  effect.failNew = true;
  effect.log.clear();
  EXPECT_FALSE(effect.copySpeakerArrangement(&slot, &source.head));
  EXPECT_EQ(effect.log, (std::vector<std::string>{"release", "new 2"}));
  EXPECT_EQ(slot, nullptr);
}

TEST(CapabilityVocabularies, HoldTheirNamesInOrder) {
  const std::vector<std::string_view> host(std::begin(tandrel::HostCapabilities),
                                           std::end(tandrel::HostCapabilities));
  EXPECT_EQ(host, (std::vector<std::string_view>{
                      "sendVstEvents", "sendVstMidiEvent", "sendVstTimeInfo", "receiveVstEvents",
                      "receiveVstMidiEvent", "reportConnectionChanges", "acceptIOChanges", "sizeWindow",
                      "offline", "openFileSelector", "closeFileSelector", "startStopProcess", "shellCategory",
                      "sendVstMidiEventFlagIsRealtime"}));
  const std::vector<std::string_view> plugin(std::begin(tandrel::PluginCapabilities),
                                             std::end(tandrel::PluginCapabilities));
  EXPECT_EQ(plugin, (std::vector<std::string_view>{"sendVstEvents", "sendVstMidiEvent", "receiveVstEvents",
                                                   "receiveVstMidiEvent", "receiveVstTimeInfo", "offline",
                                                   "midiProgramNames", "bypass"}));
}

} // namespace
