// The depth law: how deep a ducking is asked for in dB becomes Ratio. The
// commands that duck by a depth and the LV2 sidechain plug-ins share it, so
// a depth means the same gain everywhere. Depends on <cmath> and Tandrel's
// vocabulary alone.
//
// A caller in a loadable module must bind pow to its first symbol version
// (see frame/formatting.cpp), since this inline function is compiled into
// the caller's translation unit.
#pragma once

#include <cmath>

#include "tandrel_vocabulary.hpp"

namespace tandrel::product {

// The Ratio with which a control peak of 1, full presence, gives exactly the
// gain of `depthDb` down: the gain law 1 - Ratio x ratioScale x peak solved
// for that gain. A presence p in [0, 1] then gives 1 - p x (1 - that gain).
// The effect stores Ratio as a float: static_cast<float> of this value.
inline double ratioForDepth(double depthDb) { return (1.0 - std::pow(10.0, -depthDb / 20.0)) / ratioScale; }

// The range of depths the commands and the plug-ins accept, in dB.
constexpr double smallestDepthDb = 0.0;
constexpr double largestDepthDb = 100.0;
constexpr double defaultDepthDb = 12.0;

} // namespace tandrel::product
