#include "effect_base.hpp"

namespace tandrel {

// Placeholder until the full opcode table lands.
std::intptr_t EffectBase::dispatch(std::int32_t opcode, std::int32_t /*index*/, std::intptr_t /*value*/,
                                   void* /*pointer*/, float /*option*/) {
  if (opcode == 1) close();
  return 0;
}

} // namespace tandrel
