#include "presence_envelope.hpp"

#include <algorithm>
#include <cmath>

namespace tandrel::cli {

namespace {

std::int64_t framesOf(double milliseconds, double sampleRate) {
  return std::llround(milliseconds * sampleRate / 1000.0);
}

std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor) { return (value + divisor - 1) / divisor; }

// Four running sums, so that the additions do not wait for each other.
double sumOfSquares(const float* samples, std::int64_t count) {
  double sums[4] = {0.0, 0.0, 0.0, 0.0};
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4)
    for (int k = 0; k < 4; ++k)
      sums[k] += static_cast<double>(samples[i + k]) * samples[i + k];
  for (; i < count; ++i)
    sums[0] += static_cast<double>(samples[i]) * samples[i];
  return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

} // namespace

PresenceEnvelope::PresenceEnvelope(const PresenceSettings& settings, double sampleRate)
    : windowFrames_(std::max<std::int64_t>(1, framesOf(presenceWindowMs, sampleRate))),
      attackFrames_(framesOf(settings.attackMs, sampleRate)),
      releaseFrames_(framesOf(settings.releaseMs, sampleRate)),
      holdWindows_(ceilDiv(framesOf(settings.holdMs, sampleRate), windowFrames_)),
      // A frame of the emitted window is at most windowFrames_ - 1 + attack
      // frames before the start of a held window that its rise depends on.
      lookaheadWindows_(ceilDiv(attackFrames_, windowFrames_)),
      latency_((lookaheadWindows_ + 1) * windowFrames_), windowsSinceActive_(holdWindows_ + 1),
      decided_(static_cast<std::size_t>(lookaheadWindows_ + 1)),
      ready_(static_cast<std::size_t>(latency_ + windowFrames_)) {
  thresholdEnergy_ = std::pow(10.0, settings.thresholdDbfs / 10.0) * static_cast<double>(windowFrames_);
  // The frames before the first voice frame: nobody speaks there.
  std::fill_n(ready_.begin(), latency_, 0.0f);
  readyCount_ = static_cast<std::size_t>(latency_);
}

void PresenceEnvelope::process(const float* voice, float* presence, std::int64_t count) {
  // A window at a time: its energy, then the values handed out. A window
  // that ends here is emitted first; latency_ is at least a window ahead,
  // so the values asked for are always there.
  while (count > 0) {
    const std::int64_t n = std::min(count, windowFrames_ - filled_);
    energy_ += sumOfSquares(voice, n);
    filled_ += n;
    if (filled_ == windowFrames_) finishWindow();
    takeReady(presence, n);
    voice += n;
    presence += n;
    count -= n;
  }
}

void PresenceEnvelope::takeReady(float* out, std::int64_t count) {
  auto left = static_cast<std::size_t>(count);
  while (left > 0) {
    const std::size_t n = std::min(left, ready_.size() - readyFirst_);
    std::copy_n(ready_.data() + readyFirst_, n, out);
    readyFirst_ = readyFirst_ + n == ready_.size() ? 0 : readyFirst_ + n;
    readyCount_ -= n;
    out += n;
    left -= n;
  }
}

void PresenceEnvelope::finishWindow() {
  const bool active = energy_ >= thresholdEnergy_;
  energy_ = 0.0;
  filled_ = 0;
  if (active) {
    ++activeWindows_;
    windowsSinceActive_ = 0;
  } else if (windowsSinceActive_ <= holdWindows_) {
    ++windowsSinceActive_;
  }
  const bool held = windowsSinceActive_ <= holdWindows_;
  decided_[(decidedFirst_ + decidedCount_) % decided_.size()] = held ? 1 : 0;
  if (++decidedCount_ == decided_.size()) emitOldestWindow();
}

void PresenceEnvelope::emitOldestWindow() {
  const bool held = decided_[decidedFirst_] != 0;
  const std::int64_t first = nextEmittedFrame_;
  // The first held window among the next ones, if any: the rise ends there.
  std::int64_t nextHeldStart = -1;
  for (std::size_t ahead = 1; ahead < decidedCount_ && !held; ++ahead) {
    if (decided_[(decidedFirst_ + ahead) % decided_.size()] != 0) {
      nextHeldStart = first + static_cast<std::int64_t>(ahead) * windowFrames_;
      break;
    }
  }
  // Outside the fades the window is all 1 or all 0; inside, each fade is
  // a straight line in the frame index.
  const bool rising = nextHeldStart >= 0 && attackFrames_ > 0;
  const bool falling = anyHeld_ && releaseFrames_ > 0 && first - lastHeldEnd_ + 1 < releaseFrames_;
  const float constant = held ? 1.0f : 0.0f;
  std::size_t slot = (readyFirst_ + readyCount_) % ready_.size();
  for (std::int64_t t = first; t < first + windowFrames_; ++t) {
    float value = constant;
    if (!held && (rising || falling)) {
      const double rise =
          rising ? 1.0 - static_cast<double>(nextHeldStart - t) / static_cast<double>(attackFrames_) : 0.0;
      const double fall =
          falling ? 1.0 - static_cast<double>(t - lastHeldEnd_ + 1) / static_cast<double>(releaseFrames_)
                  : 0.0;
      value = static_cast<float>(std::max({rise, fall, 0.0}));
    }
    ready_[slot] = value;
    slot = slot + 1 == ready_.size() ? 0 : slot + 1;
  }
  readyCount_ += static_cast<std::size_t>(windowFrames_);
  if (held) {
    anyHeld_ = true;
    lastHeldEnd_ = first + windowFrames_;
  }
  nextEmittedFrame_ += windowFrames_;
  decidedFirst_ = (decidedFirst_ + 1) % decided_.size();
  --decidedCount_;
}

} // namespace tandrel::cli
