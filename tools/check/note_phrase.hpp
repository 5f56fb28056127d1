// The notes `check` plays to a module that takes them (an instrument, or a
// module that says it receives MIDI events), so that it gives sound the
// checks can judge: a phrase of two voices, chosen by the check's seed, of
// notePhraseFrames frames, repeated for as long as an instance processes.
// Each event goes to the module before the processing call whose frames
// hold it, with its offset within that call, as a host sends a track's
// notes; calls of other sizes give the module the same notes at the same
// frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/event_list.hpp"
#include "host/module_host.hpp"

namespace tandrel::check {

// One MIDI message at a frame of the phrase.
struct TimedMidi {
  std::size_t frame;
  std::array<unsigned char, 3> bytes;
  bool operator==(const TimedMidi&) const = default;
};

// A quarter of a second at the checks' 48 kHz: a quick check's render holds
// a whole phrase.
constexpr std::size_t notePhraseFrames = 12000;

// The phrase for a seed, in the order of its frames: every note ends (a
// note-off) before the phrase does, and the first starts at frame 0.
std::vector<TimedMidi> notePhrase(std::uint32_t seed);

// The phrase, repeated, as the events of one instance's processing calls.
class NoteFeed : public host::EventFeed {
public:
  explicit NoteFeed(std::uint32_t seed);
  // [audio] Allocation-free: the list's storage is made in the constructor.
  const EventList* eventsFor(std::int32_t frameCount) override;

private:
  std::vector<TimedMidi> phrase_;
  host::MidiEventList list_;
  std::size_t next_ = 0;      // the phrase's next event to send
  std::int64_t position_ = 0; // the next call's first frame (see eventsFor)
};

} // namespace tandrel::check
