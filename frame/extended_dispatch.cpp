#include "extended_effect_base.hpp"

namespace tandrel {

// Placeholder until the full opcode table lands.
std::intptr_t ExtendedEffectBase::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                           void* pointer, float option) {
  return EffectBase::dispatch(opcode, index, value, pointer, option);
}

void ExtendedEffectBase::resume() {}

std::int32_t ExtendedEffectBase::getCategory() { return (record_.flags & flag::instrument) != 0 ? 2 : 0; }

bool ExtendedEffectBase::getSpeakerArrangements(SpeakerArrangement** input, SpeakerArrangement** output) {
  if (input != nullptr) *input = nullptr;
  if (output != nullptr) *output = nullptr;
  return false;
}

} // namespace tandrel
