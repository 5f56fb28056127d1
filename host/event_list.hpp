// A list of MIDI events as a host hands it to a module through
// opcode::processEvents (frame/events.hpp), in storage made once: clearing
// it and adding events never allocate, so a host may refill it on the
// processing thread before every call.
//
// Thread: one thread at a time; the list it gives stays valid until the
// next change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/events.hpp"

namespace tandrel::host {

class MidiEventList {
public:
  // Room for `capacity` events. [main]
  explicit MidiEventList(std::size_t capacity);
  MidiEventList(const MidiEventList&) = delete;
  MidiEventList& operator=(const MidiEventList&) = delete;

  // Empties the list. [any]
  void clear();
  // Appends one MIDI message at `frameOffset` of the next call, its unused
  // fields zero; false (and nothing added) when the list is full. Events
  // are added in the order of their frames. [any]
  bool addMidi(std::int32_t frameOffset, unsigned char status, unsigned char first, unsigned char second);

  std::size_t size() const { return used_; }
  const EventList& list() const { return *list_; }

private:
  std::vector<MidiEvent> events_;
  // The list's fields (over its first words) and then its pointers.
  std::vector<Event*> storage_;
  EventList* list_;
  std::size_t used_ = 0;
};

} // namespace tandrel::host
