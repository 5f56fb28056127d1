// Parameter texts, program name and identity of TandrelEffect.
//
// Every text is handed over by a bounded copy: at most N characters, the
// rest of the first N positions zero-filled, then a zero at index N (N = 8
// for parameter texts, 24 for the program name, 32 for the effect name, 64
// for vendor and product). A parameter index other than 0 and 1 leaves the
// caller's text untouched. A null text is never written through. [main]
#include <cstring>

#include "frame/text_copy.hpp"
#include "tandrel_effect.hpp"

namespace tandrel {

namespace {

constexpr std::int32_t parameterTextLength = textCapacity::parameterText;
constexpr std::int32_t effectNameLength = textCapacity::effectName;
constexpr std::int32_t identityTextLength = textCapacity::identityText;

bool isParameter(std::int32_t index) { return index >= 0 && index < product::parameter::count; }

} // namespace

void TandrelEffect::setProgramName(char* name) noexcept {
  // Null, or the stored name itself (a copy onto itself changes nothing).
  if (name == nullptr || name == programName_) return;
  copyText(programName_, name, programNameLength);
}

void TandrelEffect::getProgramName(char* text) noexcept {
  if (text == nullptr) return;
  copyText(text, programName_, programNameLength);
}

void TandrelEffect::getParameterLabel(std::int32_t index, char* text) noexcept {
  if (text == nullptr || !isParameter(index)) return;
  copyText(text, product::parameterLabels[index], parameterTextLength);
}

void TandrelEffect::getParameterDisplay(std::int32_t index, char* text) noexcept {
  if (text == nullptr) return;
  if (index == product::parameter::source) {
    // The same test that processAudio uses to pick the control input, so the
    // text always names the routing in use (a Source that is not a number
    // shows "L-R", as it routes).
    copyText(text, routesControlFromInputZero(source()) ? "R-L" : "L-R", parameterTextLength);
  } else if (index == product::parameter::ratio) {
    const float shown = static_cast<float>(product::ratioScale) * ratio();
    formatFloat(shown, text, parameterTextLength);
  }
}

void TandrelEffect::getParameterName(std::int32_t index, char* text) noexcept {
  if (text == nullptr || !isParameter(index)) return;
  copyText(text, product::parameterNames[index], parameterTextLength);
}

bool TandrelEffect::getEffectName(char* text) noexcept {
  if (text == nullptr) return false;
  copyText(text, product::effectName, effectNameLength);
  return true;
}

bool TandrelEffect::getVendorString(char* text) noexcept {
  if (text == nullptr) return false;
  copyText(text, product::vendor, identityTextLength);
  return true;
}

bool TandrelEffect::getProductString(char* text) noexcept {
  if (text == nullptr) return false;
  copyText(text, product::productName, identityTextLength);
  return true;
}

std::int32_t TandrelEffect::getVendorVersion() noexcept { return product::vendorVersion; }

} // namespace tandrel
