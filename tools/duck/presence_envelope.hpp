// The presence envelope of a voice: 0 while nobody speaks, 1 while the voice
// is present, with linear fades between. It is the control signal that
// `tandrel duck` feeds Tandrel, so that the module's gain sits exactly at the
// requested depth under the voice instead of following its waveform.
//
// The voice's level is measured over windows of 10 ms (RMS, against full
// scale). A window at or above the threshold is active; a window is held
// while an active one lies at most `hold` behind it, so pauses shorter than
// the hold keep the music down. Held windows give 1. Before a held stretch
// the envelope rises over `attack` and reaches 1 exactly where the stretch
// begins, which needs that much look-ahead; after it, it falls over
// `release`. Where a rise and a fall meet, the larger value wins.
//
// Thread: one at a time; allocates only when constructed.
#pragma once

#include <cstdint>
#include <vector>

namespace tandrel::cli {

struct PresenceSettings {
  double thresholdDbfs = -40.0;
  double attackMs = 10.0;
  double holdMs = 300.0;
  double releaseMs = 300.0;
};

// The length of the windows over which the voice's level is measured.
constexpr double presenceWindowMs = 10.0;

class PresenceEnvelope {
public:
  // Settings must be finite with attack, hold and release not negative.
  PresenceEnvelope(const PresenceSettings& settings, double sampleRate);

  // How many frames the envelope lags the voice: presence[i] of process()
  // belongs to the voice frame latency() frames before voice[i]. The first
  // latency() values are 0.
  std::int64_t latency() const { return latency_; }
  std::int64_t windowFrames() const { return windowFrames_; }

  // Takes the next `count` voice frames and gives the next `count` envelope
  // values, each in [0, 1].
  void process(const float* voice, float* presence, std::int64_t count);

  // Frames of the voice taken so far that lie in active windows.
  std::int64_t activeFrames() const { return activeWindows_ * windowFrames_; }

private:
  void finishWindow();
  // Hands out the next `count` ready values.
  void takeReady(float* out, std::int64_t count);
  void emitOldestWindow();

  std::int64_t windowFrames_;
  double thresholdEnergy_; // the threshold as a sum of squares over a window
  std::int64_t attackFrames_;
  std::int64_t releaseFrames_;
  std::int64_t holdWindows_;
  std::int64_t lookaheadWindows_; // decided windows needed after the one emitted
  std::int64_t latency_;

  // The window being measured.
  double energy_ = 0.0;
  std::int64_t filled_ = 0;
  std::int64_t windowsSinceActive_;
  std::int64_t activeWindows_ = 0;

  // Held flags of the windows decided but not yet emitted, oldest first, in
  // a ring of lookaheadWindows_ + 1 slots.
  std::vector<char> decided_;
  std::size_t decidedFirst_ = 0;
  std::size_t decidedCount_ = 0;
  std::int64_t nextEmittedFrame_ = 0;
  bool anyHeld_ = false;
  std::int64_t lastHeldEnd_ = 0; // the frame after the last emitted held window

  // Envelope values ready to be handed out, in a ring.
  std::vector<float> ready_;
  std::size_t readyFirst_ = 0;
  std::size_t readyCount_ = 0;
};

} // namespace tandrel::cli
