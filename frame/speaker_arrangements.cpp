// ExtendedEffectBase's speaker-arrangement operations.
// Making, copying and releasing speaker arrangements. A block made here
// belongs to whoever holds the slot that was filled; every block is obtained
// and given back through the one pair of allocation functions below, so a
// block made by one of these operations can be released by any other.
// None of the operations reads or changes the object's fields. [main]

#include <cstddef>
#include <cstring>
#include <new>

#include "extended_effect_base.hpp"

namespace tandrel {

namespace {

// The heap allocator of every arrangement block: the non-throwing global
// operator new and the matching operator delete.
SpeakerArrangement* obtainBlock(std::size_t bytes) {
  return static_cast<SpeakerArrangement*>(::operator new(bytes, std::nothrow));
}
void giveBack(SpeakerArrangement* block) { ::operator delete(block); }

constexpr std::size_t textBytes = sizeof(SpeakerProperties::text);
constexpr std::size_t longestText = textBytes - 1; // 63 characters and a terminating zero

} // namespace

// Releases what the slot held, then makes a zero-filled block of n channels.
// Every false answer leaves the slot null: a count below 0 or above
// maxSpeakerChannels is refused (after the release, so the outcome of a
// refusal is the same as that of a failed allocation), and a block that
// can't be obtained leaves nothing behind. A null slot answers false.
bool ExtendedEffectBase::newSpeakerArrangement(SpeakerArrangement** slot,
                                               std::int32_t channelCount) noexcept {
  if (slot == nullptr) return false;
  if (*slot != nullptr) {
    giveBack(*slot);
    *slot = nullptr;
  }
  if (channelCount < 0 || channelCount > maxSpeakerChannels) return false;
  const std::size_t bytes = speakerArrangementBytes(channelCount);
  SpeakerArrangement* block = obtainBlock(bytes);
  if (block == nullptr) return false;
  std::memset(block, 0, bytes);
  block->channelCount = channelCount;
  *slot = block;
  return true;
}

bool ExtendedEffectBase::releaseSpeakerArrangement(SpeakerArrangement** slot) noexcept {
  if (slot != nullptr && *slot != nullptr) {
    giveBack(*slot);
    *slot = nullptr;
  }
  return true;
}

// The text is copied up to its first zero and at most 63 characters; the
// source is never read beyond those 63 bytes, and every destination text
// byte after the copied characters, byte 79 of the record included, becomes
// zero. Everything else is copied bit for bit. Destination and source may be
// the same record.
bool ExtendedEffectBase::copySpeakerProperties(SpeakerProperties* destination,
                                               const SpeakerProperties* source) noexcept {
  if (destination == nullptr || source == nullptr) return false;
  std::size_t length = 0;
  while (length < longestText && source->text[length] != '\0')
    ++length;
  std::memmove(destination->text, source->text, length);
  std::memset(destination->text + length, 0, textBytes - length);
  destination->value80 = source->value80;
  std::memmove(destination->leadingValues, source->leadingValues, sizeof destination->leadingValues);
  std::memmove(destination->tail, source->tail, sizeof destination->tail);
  return true;
}

// Release, make and per-speaker copy go through the object's own (virtual)
// operations, in that order, and the first failure ends the copy. A source
// that is the very block the slot holds is already its own copy: the slot is
// left as it is and the answer is true, since releasing first would leave
// nothing to read.
bool ExtendedEffectBase::copySpeakerArrangement(SpeakerArrangement** slot,
                                                const SpeakerArrangement* source) noexcept {
  if (source == nullptr) return false;
  if (slot != nullptr && *slot == source) return true;
  if (!releaseSpeakerArrangement(slot)) return false;
  if (!newSpeakerArrangement(slot, source->channelCount)) return false;
  SpeakerArrangement* copy = *slot;
  if (copy == nullptr) return false; // a replaced newSpeakerArrangement that filled nothing
  copy->arrangementType = source->arrangementType;
  for (std::int32_t channel = 0; channel < copy->channelCount; ++channel) {
    if (!copySpeakerProperties(speakerAt(copy, channel), speakerAt(source, channel))) return false;
  }
  return true;
}

} // namespace tandrel
