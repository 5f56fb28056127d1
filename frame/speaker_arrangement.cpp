#include "extended_effect_base.hpp"

namespace tandrel {

// Placeholders until the arrangement operations land.
bool ExtendedEffectBase::newSpeakerArrangement(SpeakerArrangement** /*slot*/, std::int32_t /*channelCount*/) {
  return false;
}
bool ExtendedEffectBase::releaseSpeakerArrangement(SpeakerArrangement** /*slot*/) { return true; }
bool ExtendedEffectBase::copySpeakerProperties(SpeakerProperties* /*destination*/,
                                               const SpeakerProperties* /*source*/) {
  return false;
}
bool ExtendedEffectBase::copySpeakerArrangement(SpeakerArrangement** /*slot*/,
                                                const SpeakerArrangement* /*source*/) {
  return false;
}

} // namespace tandrel
