#include "effect_base.hpp"

namespace tandrel {

// Placeholders until the number formats land.
void EffectBase::formatDecibels(float, char* text, std::int32_t) { writeEmptyText(text); }
void EffectBase::formatHertz(float, char* text, std::int32_t) { writeEmptyText(text); }
void EffectBase::formatMilliseconds(float, char* text, std::int32_t) { writeEmptyText(text); }
void EffectBase::formatFloat(float, char* text, std::int32_t) { writeEmptyText(text); }
void EffectBase::formatInteger(std::int32_t, char* text, std::int32_t) { writeEmptyText(text); }

} // namespace tandrel
