// The causal presence envelope of a live voice: the control signal that
// `tandrel live` feeds Tandrel, computed as the voice arrives.
//
// The voice goes through the voice-band filter that `duck` measures in
// (common/voice_band_filter.hpp), and its level is measured over windows of
// 10 ms (RMS against full scale). At the end of each window it is decided:
// a window at or above the threshold is active, and a window is held while
// an active one lies at most `hold` behind it. When the held state begins
// the envelope rises from 0 to 1 over `attack`; it stays at 1 until
// `attack` after the held state ends, then falls over `release`. Where the
// fall of one held stretch meets the rise of the next, the larger wins.
//
// Delaying the music by one window plus the attack puts the end of every
// rise at the start of the voice's first active window. The window
// grid can be anchored to an outside frame count (JACK's frame time), so
// that material played from a known frame meets the same grid as offline.
//
// A voice that goes silent or away leaves the windows inactive, so the
// envelope always returns to 0 after hold and release.
//
// Thread: one thread at a time; allocates nothing after construction.
#pragma once

#include <cstdint>

#include "common/voice_band_filter.hpp"

namespace tandrel::cli {

// What counts as the voice being present, and the envelope's fades.
struct LivePresenceSettings : PresenceLevels {
  double holdMs = 300.0; // how long after the last active window the voice still counts
};

class LivePresence {
public:
  // Settings must be finite with attack, hold and release not negative.
  LivePresence(const LivePresenceSettings& settings, double sampleRate);

  std::int64_t windowFrames() const { return measure_.windowFrames; }
  std::int64_t attackFrames() const { return measure_.attackFrames; }

  // Places the window grid so that a window begins wherever `frameTime`
  // is a multiple of the window length, `frameTime` being the outside
  // count (JACK's 32-bit frame time, which wraps) of the next frame that
  // process() takes. Call before each process(): when the count jumped
  // (periods that JACK skipped after an xrun), the time of the envelope
  // jumps as far and the grid stays in place.
  void follow(std::uint32_t frameTime);

  // While forced, every window counts as active whatever the voice's level
  // (a manual duck).
  void setForced(bool forced) { forced_ = forced; }

  // Takes the next `count` voice frames (null: silence) and gives the next
  // `count` envelope values, each in [0, 1].
  void process(const float* voice, float* presence, std::int64_t count);

  // The level of the last finished window in dBFS (very low for silence).
  double lastWindowDbfs() const;
  bool held() const { return held_; }

private:
  void finishWindow();
  float valueAt(std::int64_t frame) const;
  // A held stretch's envelope at `frame`: its rise, its plateau, its fall.
  float stretchValue(std::int64_t riseStart, std::int64_t fallStart, std::int64_t frame) const;

  PresenceMeasure measure_;
  std::int64_t holdWindows_;

  bool anchored_ = false;
  std::uint32_t expectedFrameTime_ = 0;
  bool forced_ = false;
  double energy_ = 0.0;
  double lastEnergy_ = 0.0;
  std::int64_t filled_ = 0;
  std::int64_t windowsSinceActive_;
  bool held_ = false;

  // The frames taken so far; frame indices below count from the first.
  std::int64_t now_ = 0;
  // The current held stretch (the latest to begin) and the one before it;
  // a fall start of noFall means the stretch is still held.
  static constexpr std::int64_t noStretch = INT64_MIN;
  static constexpr std::int64_t noFall = INT64_MAX;
  std::int64_t riseStart_ = noStretch;
  std::int64_t fallStart_ = noFall;
  std::int64_t previousRiseStart_ = noStretch;
  std::int64_t previousFallStart_ = noFall;
};

} // namespace tandrel::cli
