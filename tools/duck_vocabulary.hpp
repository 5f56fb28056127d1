// What `tandrel duck` needs to know about Tandrel itself: its identifier,
// which parameter routes the inputs, which one sets the strength, and the
// gain law that turns a control level into a gain. Kept in this one place so
// that it can follow the effect's own vocabulary when that is shared.
#pragma once

#include <cmath>
#include <cstdint>

#include "effect_host.hpp"

namespace tandrel::cli::duck {

// Tandrel's identifier as its record reports it.
constexpr std::int32_t identifier = tandrelIdentifier;

// Parameter 0, Source: at 0.5 and above the audio is input 0 and the control
// input 1.
constexpr int sourceParameter = 0;
constexpr float sourceAudioFirst = 1.0f;
constexpr int audioInput = 0;
constexpr int controlInput = 1;

// Parameter 1, Ratio: each control block's peak p sets the target gain
// 1 − 4 × Ratio × p, never below 0.
constexpr int ratioParameter = 1;
constexpr double ratioScale = 4.0;

// The linear gain of `depthDb` decibels down.
inline double gainForDepth(double depthDb) { return std::pow(10.0, -depthDb / 20.0); }

// The Ratio with which a control peak of 1 gives exactly the gain of
// `depthDb` down, and a peak p in [0, 1] the gain 1 − p × (1 − that gain).
inline double ratioForDepth(double depthDb) { return (1.0 - gainForDepth(depthDb)) / ratioScale; }

} // namespace tandrel::cli::duck
