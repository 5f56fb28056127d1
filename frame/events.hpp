// The events a host hands an effect through opcode::processEvents: a list
// of pointers to events, each a MIDI message with the frame of the next
// processing call at which it takes effect. The layout is the one a real
// host was seen to send (docs/event-list.md: what was sent, the bytes that
// came, and which fields stayed zero, which a host of ours sends as zero).
//
// Numbers and plain structures only, on <cstddef> and <cstdint>: a module
// reads a host's list with forEachEvent or forEachMidiEvent in its
// processEvents [audio], which neither allocate nor block; a host builds
// one in storage of its own (host/event_list.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tandrel {

// The kinds of event seen. Events of other kinds may come (a list's
// pointers all lead to an event's first three fields); a reader skips
// what it does not know.
namespace eventKind {
constexpr std::int32_t midi = 1;
} // namespace eventKind

// What every event begins with.
struct Event {
  std::int32_t kind;        // eventKind
  std::int32_t byteSize;    // the whole event's bytes: 32 for a MIDI event
  std::int32_t frameOffset; // frames from the first frame of the next processing call
};

// One MIDI message of up to three bytes: 32 bytes, the same on 32-bit and
// 64-bit systems (its fields are 4-byte numbers and bytes).
struct MidiEvent {
  std::int32_t kind;        // eventKind::midi
  std::int32_t byteSize;    // midiEventByteSize
  std::int32_t frameOffset; // as in Event
  std::int32_t unusedMiddle[3];
  unsigned char midiBytes[4]; // status, first and second data byte, 0
  std::int32_t unusedEnd;
};
constexpr std::int32_t midiEventByteSize = 32;

static_assert(sizeof(MidiEvent) == midiEventByteSize && alignof(MidiEvent) == 4);
static_assert(offsetof(MidiEvent, kind) == offsetof(Event, kind) &&
              offsetof(MidiEvent, byteSize) == offsetof(Event, byteSize) &&
              offsetof(MidiEvent, frameOffset) == offsetof(Event, frameOffset));
static_assert(offsetof(MidiEvent, byteSize) == 4 && offsetof(MidiEvent, frameOffset) == 8 &&
              offsetof(MidiEvent, midiBytes) == 24);

// The list's two fields; `count` pointers to events follow right after
// them (eventPointers), in the order of their frames.
struct EventList {
  std::int32_t count;
  std::intptr_t reserved; // zero in every list seen
};
// Pointers at byte 16 on 64-bit systems, as seen; at byte 8 on 32-bit
// ones, where the reserved word is taken to be a pointer's size too (not
// seen: see docs/event-list.md).
static_assert(offsetof(EventList, reserved) == sizeof(void*) && sizeof(EventList) == 2 * sizeof(void*));
static_assert(sizeof(void*) != 8 || sizeof(EventList) == 16);
static_assert(sizeof(void*) != 4 || sizeof(EventList) == 8);

// The list's event pointers. [any]
inline Event* const* eventPointers(const EventList& list) {
  return reinterpret_cast<Event* const*>(reinterpret_cast<const unsigned char*>(&list) + sizeof(EventList));
}
inline Event** eventPointers(EventList& list) {
  return reinterpret_cast<Event**>(reinterpret_cast<unsigned char*>(&list) + sizeof(EventList));
}

// Calls handle(const Event&) for each event of the list a processEvents
// call carries (`events` may be null; a negative count is none; null
// pointers in the list are skipped). [any]
template <typename Handler> void forEachEvent(const void* events, Handler&& handle) {
  if (events == nullptr) return;
  const auto& list = *static_cast<const EventList*>(events);
  Event* const* pointers = eventPointers(list);
  for (std::int32_t i = 0; i < list.count; ++i)
    if (pointers[i] != nullptr) handle(*pointers[i]);
}

// Calls handle(const MidiEvent&) for each MIDI event of the list. [any]
template <typename Handler> void forEachMidiEvent(const void* events, Handler&& handle) {
  forEachEvent(events, [&handle](const Event& event) {
    if (event.kind == eventKind::midi) handle(reinterpret_cast<const MidiEvent&>(event));
  });
}

} // namespace tandrel
