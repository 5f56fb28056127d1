// Speaker arrangements: the records that describe the channels of an
// effect's inputs or outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tandrel {

// One speaker's properties: 112 bytes. The frame copies the numeric fields
// bit for bit and never interprets them.
struct SpeakerProperties {
  std::uint32_t leadingValues[4];
  char text[64];         // at most 63 characters and a terminating zero
  std::uint32_t value80; // copied bit for bit
  std::uint8_t tail[28]; // copied as a block
};
static_assert(sizeof(SpeakerProperties) == 112);
static_assert(alignof(SpeakerProperties) == 4);
static_assert(std::is_standard_layout_v<SpeakerProperties> &&
              std::is_trivially_copyable_v<SpeakerProperties>);
static_assert(offsetof(SpeakerProperties, leadingValues) == 0);
static_assert(offsetof(SpeakerProperties, text) == 16);
static_assert(offsetof(SpeakerProperties, value80) == 80);
static_assert(offsetof(SpeakerProperties, tail) == 84);

// A variable-length record: one contiguous block of 8 + 112 x n bytes for n
// channels. `speakers` is declared with one element; a block of n channels
// extends past it. Made and released only through the arrangement operations
// of ExtendedEffectBase, which use one heap allocator.
struct SpeakerArrangement {
  std::int32_t arrangementType; // copied, never interpreted
  std::int32_t channelCount;    // number of SpeakerProperties that follow
  SpeakerProperties speakers[1];
};
static_assert(std::is_standard_layout_v<SpeakerArrangement> &&
              std::is_trivially_copyable_v<SpeakerArrangement>);
static_assert(offsetof(SpeakerArrangement, arrangementType) == 0);
static_assert(offsetof(SpeakerArrangement, channelCount) == 4);
static_assert(offsetof(SpeakerArrangement, speakers) == 8);
static_assert(sizeof(SpeakerArrangement) == 8 + 112);
constexpr std::size_t speakerArrangementHeaderBytes = offsetof(SpeakerArrangement, speakers);

// The largest channel count for which the frame makes an arrangement. The
// record's count is a 32-bit integer, but no speaker layout comes near this
// many channels, and the bound keeps every block small (about 7 MB at most)
// and its size far inside the address range of any target. Larger and
// negative counts are refused without allocating.
constexpr std::int32_t maxSpeakerChannels = 65536;

// Bytes of the block of an arrangement of `channelCount` channels, for
// counts from 0 to maxSpeakerChannels: 8 + 112 x n.
constexpr std::size_t speakerArrangementBytes(std::int32_t channelCount) {
  return speakerArrangementHeaderBytes + sizeof(SpeakerProperties) * static_cast<std::size_t>(channelCount);
}
static_assert(speakerArrangementBytes(0) == 8 && speakerArrangementBytes(2) == 232);
static_assert(speakerArrangementBytes(maxSpeakerChannels) / sizeof(SpeakerProperties) ==
                  static_cast<std::size_t>(maxSpeakerChannels) &&
              speakerArrangementBytes(maxSpeakerChannels) <= static_cast<std::size_t>(PTRDIFF_MAX));

// Speaker `channel` of an arrangement, addressed by byte offset so that
// channels past the declared first one are reached without indexing beyond
// the declared array.
inline SpeakerProperties* speakerAt(SpeakerArrangement* arrangement, std::int32_t channel) {
  return reinterpret_cast<SpeakerProperties*>(reinterpret_cast<unsigned char*>(arrangement) +
                                              speakerArrangementHeaderBytes +
                                              sizeof(SpeakerProperties) * static_cast<std::size_t>(channel));
}
inline const SpeakerProperties* speakerAt(const SpeakerArrangement* arrangement, std::int32_t channel) {
  return speakerAt(const_cast<SpeakerArrangement*>(arrangement), channel);
}

} // namespace tandrel
