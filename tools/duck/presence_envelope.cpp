#include "presence_envelope.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tandrel::cli {

namespace {

// Histogram of window levels: 0.5 dB bins from -150 dBFS.
constexpr double lowestLevelDb = -150.0;
constexpr double binDb = 0.5;
constexpr std::size_t levelBins = 360;

std::int64_t framesOf(double milliseconds, double sampleRate) {
  return std::llround(milliseconds * sampleRate / 1000.0);
}

std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor) { return (value + divisor - 1) / divisor; }

std::int64_t windowFramesFor(double sampleRate) {
  return std::max<std::int64_t>(1, framesOf(presenceWindowMs, sampleRate));
}

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

SpeechLevelMeter::SpeechLevelMeter(double sampleRate)
    : filter_(sampleRate), windowFrames_(windowFramesFor(sampleRate)),
      filtered_(static_cast<std::size_t>(windowFrames_)), histogram_(levelBins, 0) {}

void SpeechLevelMeter::process(const float* voice, std::int64_t count) {
  while (count > 0) {
    const std::int64_t n = std::min(count, windowFrames_ - filled_);
    filter_.process(voice, filtered_.data(), n);
    energy_ += sumOfSquares(filtered_.data(), n);
    filled_ += n;
    if (filled_ == windowFrames_) finishWindow();
    voice += n;
    count -= n;
  }
}

void SpeechLevelMeter::finishWindow() {
  const double meanSquare = energy_ / static_cast<double>(windowFrames_);
  energy_ = 0.0;
  filled_ = 0;
  ++windows_;
  const double level = meanSquare > 0.0 ? 10.0 * std::log10(meanSquare) : lowestLevelDb - 1.0;
  if (level < lowestLevelDb) {
    ++silentWindows_;
    return;
  }
  const auto bin = std::min(levelBins - 1, static_cast<std::size_t>((level - lowestLevelDb) / binDb));
  ++histogram_[bin];
}

bool SpeechLevelMeter::heard() const { return windows_ > silentWindows_; }

double SpeechLevelMeter::levelAtShare(double share, bool countSilence) const {
  const std::int64_t counted = countSilence ? windows_ : windows_ - silentWindows_;
  if (counted <= 0) return -std::numeric_limits<double>::infinity();
  auto wanted = static_cast<std::int64_t>(share * static_cast<double>(counted));
  std::int64_t seen = countSilence ? silentWindows_ : 0;
  if (seen > wanted) return -std::numeric_limits<double>::infinity();
  for (std::size_t bin = 0; bin < levelBins; ++bin) {
    seen += histogram_[bin];
    if (seen > wanted) return lowestLevelDb + binDb * static_cast<double>(bin + 1);
  }
  return lowestLevelDb + binDb * static_cast<double>(levelBins);
}

double SpeechLevelMeter::speechLevelDbfs() const { return levelAtShare(0.9, false); }

double SpeechLevelMeter::noiseFloorDbfs() const { return levelAtShare(0.1, true); }

std::int64_t PresenceEnvelope::FlagRing::nextSetAfter(std::int64_t index) {
  if (found_ > index) return found_;
  for (std::int64_t i = std::max(index + 1, scanned_); i < end_; ++i) {
    if (at(i)) {
      found_ = i;
      scanned_ = i + 1;
      return i;
    }
  }
  scanned_ = std::max(scanned_, end_);
  found_ = -1;
  return -1;
}

PresenceEnvelope::PresenceEnvelope(const PresenceSettings& settings, double sampleRate)
    : measure_(settings, sampleRate), leastFullFrames_(framesOf(leastFullLevelMs, sampleRate)),
      pauseWindows_(framesOf(settings.maxPauseMs, sampleRate) / measure_.windowFrames),
      // A window emitted is at most the release, the time at full level
      // and the attack away from the held window that shapes it.
      emitLookahead_(
          ceilDiv(measure_.releaseFrames + leastFullFrames_ + measure_.attackFrames, measure_.windowFrames) +
          1),
      latency_((pauseWindows_ + emitLookahead_ + 1) * measure_.windowFrames),
      filtered_(static_cast<std::size_t>(measure_.windowFrames)),
      active_(static_cast<std::size_t>(pauseWindows_ + 2)),
      held_(static_cast<std::size_t>(emitLookahead_ + 2)),
      ready_(static_cast<std::size_t>(latency_ + measure_.windowFrames)) {
  // The frames before the first voice frame: nobody speaks there.
  std::fill_n(ready_.begin(), latency_, 0.0f);
  readyCount_ = static_cast<std::size_t>(latency_);
}

void PresenceEnvelope::process(const float* voice, float* presence, std::int64_t count) {
  // A window at a time: its energy, then the values handed out. A window
  // that ends here is emitted first; latency_ is at least a window ahead,
  // so the values asked for are always there.
  while (count > 0) {
    const std::int64_t n = std::min(count, measure_.windowFrames - filled_);
    if (measure_.filterOn) measure_.filter.process(voice, filtered_.data(), n);
    energy_ += sumOfSquares(measure_.filterOn ? filtered_.data() : voice, n);
    filled_ += n;
    if (filled_ == measure_.windowFrames) finishWindow();
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
  const bool active = energy_ >= measure_.thresholdEnergy;
  energy_ = 0.0;
  filled_ = 0;
  if (active) ++activeWindows_;
  active_.push(active);
  activeLog_.push_back(active ? 1 : 0);
  // A window is decided once the longest bridged pause after it is known.
  const std::int64_t decided = active_.end() - 1 - pauseWindows_;
  if (decided >= 0) decideWindow(decided);
}

void PresenceEnvelope::decideWindow(std::int64_t index) {
  bool held = active_.at(index);
  if (held) {
    lastActive_ = index;
  } else if (lastActive_ >= 0) {
    // Inside a pause after speech: bridged when the next active window
    // ends it within the longest pause (it is then already measured).
    const std::int64_t next = active_.nextSetAfter(index);
    held = next >= 0 && next - lastActive_ - 1 <= pauseWindows_;
  }
  held_.push(held);
  const std::int64_t emitted = held_.end() - 1 - emitLookahead_;
  if (emitted >= 0) emitWindow(emitted);
}

void PresenceEnvelope::takeLog(WindowLog& log) {
  log.firstActive = active_.end() - static_cast<std::int64_t>(activeLog_.size());
  log.firstHeld = emittedWindows_ - static_cast<std::int64_t>(heldLog_.size());
  log.active.swap(activeLog_);
  log.held.swap(heldLog_);
  activeLog_.clear();
  heldLog_.clear();
}

void PresenceEnvelope::emitWindow(std::int64_t index) {
  const std::int64_t first = index * measure_.windowFrames;
  emittedWindows_ = index + 1;
  heldLog_.push_back(held_.at(index) ? 1 : 0);
  std::size_t slot = (readyFirst_ + readyCount_) % ready_.size();
  readyCount_ += static_cast<std::size_t>(measure_.windowFrames);
  if (held_.at(index)) {
    for (std::int64_t t = 0; t < measure_.windowFrames; ++t) {
      ready_[slot] = 1.0f;
      slot = slot + 1 == ready_.size() ? 0 : slot + 1;
    }
    lastHeldEnd_ = first + measure_.windowFrames;
    return;
  }
  const std::int64_t nextHeld = held_.nextSetAfter(index);
  const std::int64_t nextHeldStart = nextHeld >= 0 ? nextHeld * measure_.windowFrames : -1;
  std::int64_t attack = measure_.attackFrames;
  std::int64_t release = measure_.releaseFrames;
  if (lastHeldEnd_ >= 0 && nextHeldStart >= 0) {
    // A pause between held stretches: the fall, the time at full level
    // and the rise must fit, the release giving way first.
    const std::int64_t pause = nextHeldStart - lastHeldEnd_;
    release = std::clamp<std::int64_t>(pause - leastFullFrames_ - attack, 0, release);
    attack = std::clamp<std::int64_t>(pause - leastFullFrames_ - release, 0, attack);
  }
  const bool rising = nextHeldStart >= 0 && attack > 0;
  const bool falling = lastHeldEnd_ >= 0 && release > 0 && first - lastHeldEnd_ + 1 < release;
  // Outside the fades the window is all 0; inside, each fade is a straight
  // line in the frame index.
  for (std::int64_t t = first; t < first + measure_.windowFrames; ++t) {
    float value = 0.0f;
    if (rising || falling) {
      const double rise =
          rising ? 1.0 - static_cast<double>(nextHeldStart - t) / static_cast<double>(attack) : 0.0;
      const double fall =
          falling ? 1.0 - static_cast<double>(t - lastHeldEnd_ + 1) / static_cast<double>(release) : 0.0;
      value = static_cast<float>(std::max({rise, fall, 0.0}));
    }
    ready_[slot] = value;
    slot = slot + 1 == ready_.size() ? 0 : slot + 1;
  }
}

} // namespace tandrel::cli
