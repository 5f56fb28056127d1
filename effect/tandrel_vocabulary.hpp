// Tandrel's own vocabulary: what makes the module this product rather than
// any effect on the frame. The effect uses it, and so do the commands that
// are about Tandrel itself (the demo); a generic host learns all of it from
// the module instead. Depends on <cstdint> alone.
#pragma once

#include <cstdint>

namespace tandrel::product {

// The parameters, by index.
namespace parameter {
constexpr std::int32_t source = 0; // which input carries the control
constexpr std::int32_t ratio = 1;  // how strongly the control's peak lowers the gain
constexpr std::int32_t count = 2;
} // namespace parameter
constexpr const char* parameterNames[parameter::count] = {"Source", "Ratio x "};
constexpr const char* parameterLabels[parameter::count] = {"Control", " "};

// Identity, as the module answers the identity requests.
constexpr const char* effectName = "Tandrel";
constexpr const char* vendor = "Mirvex";
constexpr const char* productName = "Tandrel";
constexpr std::int32_t vendorVersion = 1000;
// "Zd4k", packed with the first character in the most significant byte.
constexpr std::int32_t uniqueIdentifier = ('Z' << 24) | ('d' << 16) | ('4' << 8) | 'k';

// The Source rule: below 0.5 ("R-L") the control is input 0 and the audio
// input 1; at 0.5 and above ("L-R"), and for a Source that is not a number,
// the other way round. Processing and the Source display both use it, so
// they always agree.
constexpr bool routesControlFromInputZero(float source) { return source < 0.5f; }
constexpr int controlInput(float source) { return routesControlFromInputZero(source) ? 0 : 1; }
constexpr int audioInput(float source) { return routesControlFromInputZero(source) ? 1 : 0; }

// The gain law: each block of blockFrames frames of the control sets, from
// its peak (largest magnitude), the target gain 1 - Ratio x ratioScale x
// peak, never below 0, which the gain reaches by a straight ramp over the
// next block. The Ratio display shows ratioScale times the stored value.
constexpr std::int32_t blockFrames = 128;
constexpr double ratioScale = 4.0;

} // namespace tandrel::product
