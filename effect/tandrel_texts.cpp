// Parameter texts, program name and identity of TandrelEffect.
#include <cstring>

#include "tandrel_effect.hpp"

namespace tandrel {

void TandrelEffect::setProgramName(char* /*name*/) {}
void TandrelEffect::getProgramName(char* text) { writeEmptyText(text); }
void TandrelEffect::getParameterLabel(std::int32_t /*index*/, char* text) { writeEmptyText(text); }
void TandrelEffect::getParameterDisplay(std::int32_t /*index*/, char* text) { writeEmptyText(text); }
void TandrelEffect::getParameterName(std::int32_t /*index*/, char* text) { writeEmptyText(text); }
bool TandrelEffect::getEffectName(char* /*text*/) { return false; }
bool TandrelEffect::getVendorString(char* /*text*/) { return false; }
bool TandrelEffect::getProductString(char* /*text*/) { return false; }
std::int32_t TandrelEffect::getVendorVersion() { return 1000; }

} // namespace tandrel
