#include "note_phrase.hpp"

#include <algorithm>
#include <random>

namespace tandrel::check {

namespace {

constexpr unsigned char noteOn = 0x90;  // on MIDI channel 1
constexpr unsigned char noteOff = 0x80; // on MIDI channel 1
constexpr unsigned char releaseVelocity = 64;

// A voice plays notes of its own pitch range one after another, so that the
// two voices never hold the same pitch.
struct Voice {
  int lowestPitch, highestPitch;
  std::size_t firstFrame;
};

void playVoice(const Voice& voice, std::mt19937& generator, std::vector<TimedMidi>& events) {
  std::uniform_int_distribution<std::size_t> length(900, 3600);
  std::uniform_int_distribution<std::size_t> gap(0, 1200);
  std::uniform_int_distribution<int> pitch(voice.lowestPitch, voice.highestPitch);
  std::uniform_int_distribution<int> velocity(40, 127);
  for (std::size_t at = voice.firstFrame;;) {
    const std::size_t held = length(generator);
    if (at + held >= notePhraseFrames) break;
    const auto key = static_cast<unsigned char>(pitch(generator));
    events.push_back({at, {noteOn, key, static_cast<unsigned char>(velocity(generator))}});
    events.push_back({at + held, {noteOff, key, releaseVelocity}});
    at += held + gap(generator);
  }
}

} // namespace

std::vector<TimedMidi> notePhrase(std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<TimedMidi> events;
  playVoice({48, 64, 0}, generator, events);
  const std::size_t secondStart = std::uniform_int_distribution<std::size_t>(300, 2400)(generator);
  playVoice({67, 84, secondStart}, generator, events);
  // By frame; at one frame a note-off before a note-on.
  std::sort(events.begin(), events.end(), [](const TimedMidi& a, const TimedMidi& b) {
    return a.frame != b.frame ? a.frame < b.frame : a.bytes[0] < b.bytes[0];
  });
  return events;
}

NoteFeed::NoteFeed(std::uint32_t seed)
    : phrase_(notePhrase(seed)), list_(std::max<std::size_t>(phrase_.size(), 1)) {}

// position_ counts from the first frame of the repetition that next_ points
// into; it turns negative when a call began in the repetition before. Every
// event before position_ has been sent.
const EventList* NoteFeed::eventsFor(std::int32_t frameCount) {
  list_.clear();
  if (frameCount <= 0 || phrase_.empty()) return nullptr;
  const auto repetition = static_cast<std::int64_t>(notePhraseFrames);
  std::int64_t end = position_ + frameCount;
  for (;;) {
    if (next_ == phrase_.size()) {
      next_ = 0;
      position_ -= repetition;
      end -= repetition;
    }
    const TimedMidi& event = phrase_[next_];
    const auto at = static_cast<std::int64_t>(event.frame);
    if (at >= end) break;
    // A list left full sends the rest at the start of the next call.
    const auto offset = static_cast<std::int32_t>(std::max<std::int64_t>(at - position_, 0));
    if (!list_.addMidi(offset, event.bytes[0], event.bytes[1], event.bytes[2])) break;
    ++next_;
  }
  position_ = end;
  return list_.size() > 0 ? &list_.list() : nullptr;
}

} // namespace tandrel::check
