#include "event_list.hpp"

#include <new>

namespace tandrel::host {

MidiEventList::MidiEventList(std::size_t capacity)
    : events_(capacity), storage_(sizeof(EventList) / sizeof(Event*) + capacity) {
  static_assert(sizeof(EventList) % sizeof(Event*) == 0 && alignof(EventList) <= alignof(Event*));
  list_ = new (storage_.data()) EventList{0, 0};
}

void MidiEventList::clear() {
  used_ = 0;
  list_->count = 0;
}

bool MidiEventList::addMidi(std::int32_t frameOffset, unsigned char status, unsigned char first,
                            unsigned char second) {
  if (used_ == events_.size()) return false;
  MidiEvent& event = events_[used_];
  event =
      MidiEvent{eventKind::midi, midiEventByteSize, frameOffset, {0, 0, 0}, {status, first, second, 0}, 0};
  eventPointers(*list_)[used_] = reinterpret_cast<Event*>(&event);
  list_->count = static_cast<std::int32_t>(++used_);
  return true;
}

} // namespace tandrel::host
