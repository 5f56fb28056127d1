#include "live_presence.hpp"

#include <algorithm>
#include <cmath>

namespace tandrel::cli {

namespace {

std::int64_t framesOf(double milliseconds, double sampleRate) {
  return std::llround(milliseconds * sampleRate / 1000.0);
}

std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor) { return (value + divisor - 1) / divisor; }

// A larger jump of the frame count is taken for its wrap or a restart.
constexpr std::uint32_t largestSkip = 1u << 30;

// The level of silence, for a window whose energy is 0.
constexpr double silenceDbfs = -200.0;

} // namespace

LivePresence::LivePresence(const LivePresenceSettings& settings, double sampleRate)
    : measure_(settings, sampleRate),
      holdWindows_(ceilDiv(framesOf(settings.holdMs, sampleRate), measure_.windowFrames)),
      windowsSinceActive_(holdWindows_ + 1) {}

void LivePresence::follow(std::uint32_t frameTime) {
  const auto window = static_cast<std::uint32_t>(measure_.windowFrames);
  if (!anchored_) {
    anchored_ = true;
    // The frames of the first window before frameTime count as silence.
    filled_ = static_cast<std::int64_t>(frameTime % window);
  } else if (frameTime != expectedFrameTime_) {
    // Skipped frames (after an xrun): time goes on. A count that went
    // back (a period repeated) or wrapped leaves the time alone. Either
    // way the current window is cut or stretched to meet the grid again.
    const std::uint32_t skipped = frameTime - expectedFrameTime_;
    if (skipped < largestSkip) now_ += skipped;
    filled_ = std::min<std::int64_t>(measure_.windowFrames - 1, frameTime % window);
  }
  expectedFrameTime_ = frameTime;
}

void LivePresence::process(const float* voice, float* presence, std::int64_t count) {
  anchored_ = true;
  expectedFrameTime_ += static_cast<std::uint32_t>(count);
  for (std::int64_t i = 0; i < count; ++i) {
    // The filter runs on silence too, so that its state never jumps.
    const float key = measure_.key(voice != nullptr ? voice[i] : 0.0f);
    energy_ += static_cast<double>(key) * key;
    if (++filled_ == measure_.windowFrames) finishWindow();
    presence[i] = valueAt(now_);
    ++now_;
  }
}

void LivePresence::finishWindow() {
  const bool active = forced_ || energy_ >= measure_.thresholdEnergy;
  lastEnergy_ = energy_;
  energy_ = 0.0;
  filled_ = 0;
  if (active) {
    windowsSinceActive_ = 0;
  } else if (windowsSinceActive_ <= holdWindows_) {
    ++windowsSinceActive_;
  }
  const bool held = windowsSinceActive_ <= holdWindows_;
  // The decision applies from the frame after the window.
  const std::int64_t next = now_ + 1;
  if (held && !held_) {
    previousRiseStart_ = riseStart_;
    previousFallStart_ = fallStart_;
    riseStart_ = next;
    fallStart_ = noFall;
  } else if (!held && held_) {
    fallStart_ = next + measure_.attackFrames;
  }
  held_ = held;
}

double LivePresence::lastWindowDbfs() const {
  const double meanSquare = lastEnergy_ / static_cast<double>(measure_.windowFrames);
  return meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : silenceDbfs;
}

float LivePresence::stretchValue(std::int64_t riseStart, std::int64_t fallStart, std::int64_t frame) const {
  if (riseStart == noStretch || frame < riseStart) return 0.0f;
  // A rise ends at riseStart + attack, a fall starts at fallStart.
  const std::int64_t riseEnd = riseStart + measure_.attackFrames;
  if (frame < riseEnd)
    return static_cast<float>(1.0 - static_cast<double>(riseEnd - frame) /
                                        static_cast<double>(measure_.attackFrames));
  if (frame < fallStart) return 1.0f;
  const std::int64_t sinceFall = frame - fallStart + 1;
  if (sinceFall >= measure_.releaseFrames) return 0.0f;
  return static_cast<float>(1.0 -
                            static_cast<double>(sinceFall) / static_cast<double>(measure_.releaseFrames));
}

float LivePresence::valueAt(std::int64_t frame) const {
  return std::max(stretchValue(riseStart_, fallStart_, frame),
                  stretchValue(previousRiseStart_, previousFallStart_, frame));
}

} // namespace tandrel::cli
