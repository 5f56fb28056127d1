// Every number option of `tandrel live`, declared once
// (common/option_declaration.hpp): its registration, the range refused
// while the command line is parsed, and the check of a shape built in code.
//
// Thread: [main].
#pragma once

#include "common/option_declaration.hpp"
#include "ducking_engine.hpp"

namespace tandrel::cli::live_options {

constexpr RangedOption<LiveShape, int> channels{"-c,--channels",
                                                &LiveShape::channels,
                                                1,
                                                largestLiveChannels,
                                                "",
                                                "Music channels (ports music_N and out_N)"};
constexpr RangedOption<LiveShape, double> depth{
    "--depth", &LiveShape::depthDb,
    0.0,       largestLiveDepthDb,
    "dB",      "How far the music goes down under the voice (dB)"};
constexpr RangedOption<LivePresenceSettings, double> threshold{
    "--threshold",
    &LivePresenceSettings::thresholdDbfs,
    lowestLiveThresholdDbfs,
    0.0,
    "dBFS",
    "Voice level (10 ms RMS in the voice band, dBFS) that counts as the voice being present"};
constexpr RangedOption<LivePresenceSettings, double> attack{
    "--attack", &LivePresenceSettings::attackMs,
    0.0,        longestLiveFadeMs,
    "ms",       "Fade down, starting when the voice is detected (ms)"};
constexpr RangedOption<LivePresenceSettings, double> hold{
    "--hold", &LivePresenceSettings::holdMs,
    0.0,      longestLiveFadeMs,
    "ms",     "Longest pause in the voice that keeps the music down (ms)"};
constexpr RangedOption<LivePresenceSettings, double> release{
    "--release", &LivePresenceSettings::releaseMs,
    0.0,         longestLiveFadeMs,
    "ms",        "Fade back up after the voice and the hold (ms)"};
constexpr RangedOption<LiveShape, double> lookahead{
    "--lookahead",
    &LiveShape::lookaheadMs,
    0.0,
    longestLookaheadMs,
    "ms",
    "Delay of the music (and of the voice in the mix) so that the fade down ends where the voice starts: 10 "
    "ms "
    "detection window + attack; 0 leaves only the module's 256 frames (ms)"};
constexpr RangedOption<LiveShape, double> voiceGain{"--voice-gain",
                                                    &LiveShape::voiceGainDb,
                                                    -largestLiveGainDb,
                                                    largestLiveGainDb,
                                                    "dB",
                                                    "Gain of the voice in the mix (dB)"};
constexpr RangedOption<LiveShape, double> musicGain{
    "--music-gain", &LiveShape::musicGainDb, -largestLiveGainDb, largestLiveGainDb,
    "dB",           "Gain of the music (dB)"};

} // namespace tandrel::cli::live_options
