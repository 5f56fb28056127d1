// The notes `tandrel check` plays to instruments, as a module receives them
// through its event call: every event of the phrase once per repetition,
// before the call that holds its frame, at its offset within that call,
// whatever the call sizes; and a phrase that starts sounding at once and
// ends each note it starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "check/note_phrase.hpp"
#include "frame/events.hpp"

namespace {

using tandrel::check::notePhrase;
using tandrel::check::notePhraseFrames;
using tandrel::check::TimedMidi;

// What a module receives over `repetitions` phrases in calls of the sizes
// `nextSize` gives (0-frame calls included), each event at its absolute
// frame.
template <typename NextSize>
std::vector<TimedMidi> received(std::uint32_t seed, std::size_t repetitions, NextSize nextSize) {
  tandrel::check::NoteFeed feed(seed);
  std::vector<TimedMidi> got;
  for (std::size_t done = 0; done < repetitions * notePhraseFrames;) {
    const auto count = static_cast<std::int32_t>(std::min(nextSize(), repetitions * notePhraseFrames - done));
    const tandrel::EventList* list = feed.eventsFor(count);
    tandrel::forEachMidiEvent(list, [&](const tandrel::MidiEvent& event) {
      EXPECT_EQ(event.kind, tandrel::eventKind::midi);
      EXPECT_EQ(event.byteSize, tandrel::midiEventByteSize);
      EXPECT_GE(event.frameOffset, 0);
      EXPECT_LT(event.frameOffset, count);
      got.push_back(
          {done + static_cast<std::size_t>(event.frameOffset),
           {static_cast<unsigned char>(event.midiBytes[0]), static_cast<unsigned char>(event.midiBytes[1]),
            static_cast<unsigned char>(event.midiBytes[2])}});
    });
    if (count == 0) {
      EXPECT_EQ(list, nullptr);
    }
    done += static_cast<std::size_t>(count);
  }
  return got;
}

TEST(NoteFeed, CallsOfAnySizeGiveEveryEventOnceAtItsFrame) {
  for (const std::uint32_t seed : {1u, 2u, 4711u}) {
    const std::vector<TimedMidi> phrase = notePhrase(seed);
    std::vector<TimedMidi> expected;
    for (std::size_t repetition = 0; repetition < 3; ++repetition)
      for (TimedMidi event : phrase) {
        event.frame += repetition * notePhraseFrames;
        expected.push_back(event);
      }
    std::mt19937 generator(seed);
    std::uniform_int_distribution<std::size_t> size(0, 4096);
    EXPECT_TRUE(received(seed, 3, [&] { return size(generator); }) == expected) << "seed " << seed;
    // One frame at a time: each event alone at offset 0.
    EXPECT_TRUE(received(seed, 1, [] { return std::size_t{1}; }) == phrase) << "seed " << seed;
  }
}

TEST(NotePhrase, SoundsFromTheFirstFrameAndEndsEveryNoteItStarts) {
  for (const std::uint32_t seed : {1u, 2u, 4711u}) {
    const std::vector<TimedMidi> phrase = notePhrase(seed);
    ASSERT_GE(phrase.size(), 4u);
    EXPECT_EQ(phrase.front().frame, 0u);
    EXPECT_EQ(phrase.front().bytes[0], 0x90);
    EXPECT_LT(phrase.back().frame, notePhraseFrames);
    std::map<int, int> held; // key: notes on minus notes off, never below 0
    for (const TimedMidi& event : phrase) {
      EXPECT_GT(event.bytes[2], 0) << "velocity";
      held[event.bytes[1]] += event.bytes[0] == 0x90 ? 1 : -1;
      EXPECT_GE(held[event.bytes[1]], 0);
      EXPECT_LE(held[event.bytes[1]], 1);
    }
    for (const auto& [key, count] : held)
      EXPECT_EQ(count, 0) << "key " << key << ", seed " << seed;
  }
  EXPECT_TRUE(notePhrase(7) == notePhrase(7));
  EXPECT_FALSE(notePhrase(1) == notePhrase(2));
}

} // namespace
