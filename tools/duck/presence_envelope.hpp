// The presence envelope of a voice: 0 while nobody speaks, 1 while the voice
// is present, with linear fades between. It is the control signal that
// `tandrel duck` feeds Tandrel, so that the module's gain sits exactly at the
// requested depth under the voice instead of following its waveform.
//
// The voice goes through the voice-band filter first
// (common/voice_band_filter.hpp), so that rumble, hum and the hiss of breaths
// weigh less than speech. Its level is then measured
// over windows of 10 ms (RMS, against full scale). A window at or above the
// threshold is active. The decisions are taken with the future in view:
//
// - A pause (a run of inactive windows between active ones) of at most
//   `maxPause` is bridged: its windows are held, as the speech around it.
// - Held windows give 1. Before a held stretch the envelope rises over
//   `attack` and reaches 1 exactly where the stretch begins; after it, it
//   falls over `release`.
// - In a longer pause the envelope falls, stays at 0 for at least
//   `leastFullLevel` and rises again: where the pause is too short for the
//   whole release, the attack and that time, the release is shortened
//   first and then the attack, so a fall is never cut short by the next
//   rise. A pause shorter than `leastFullLevel` stays at 0 throughout.
//
// Thread: one at a time; allocates when constructed and for the windows it
// logs between two takeLog() calls.
#pragma once

#include <cstdint>
#include <vector>

#include "common/voice_band_filter.hpp"

namespace tandrel::cli {

struct PresenceSettings : PresenceLevels {
  double maxPauseMs = 1000.0; // the longest pause that keeps the music down
};
// The least time the music stays at full level in a pause longer than the
// longest bridged one.
constexpr double leastFullLevelMs = 250.0;

// The level of speech in a voice, measured in a first pass: the voice-band
// level of its 10 ms windows, as a histogram in decibels.
class SpeechLevelMeter {
public:
  explicit SpeechLevelMeter(double sampleRate);
  void process(const float* voice, std::int64_t count);
  // The level (dBFS) that the loudest tenth of the non-silent windows
  // reaches: the level of the voice while it speaks. Empty when the voice
  // is silent throughout.
  bool heard() const;
  double speechLevelDbfs() const;
  // The level that the quietest tenth of the windows stays below: the
  // noise floor between words (dBFS; -inf for digital silence).
  double noiseFloorDbfs() const;
  std::int64_t windows() const { return windows_; }

private:
  void finishWindow();
  double levelAtShare(double share, bool countSilence) const;

  VoiceBandFilter filter_;
  std::int64_t windowFrames_;
  std::vector<float> filtered_;
  double energy_ = 0.0;
  std::int64_t filled_ = 0;
  std::int64_t windows_ = 0;
  std::int64_t silentWindows_ = 0;
  // Windows by level, one bin per 0.5 dB from -150 dBFS to +30 dBFS.
  std::vector<std::int64_t> histogram_;
};

class PresenceEnvelope {
public:
  // Settings must be finite with attack, longest pause and release not
  // negative.
  PresenceEnvelope(const PresenceSettings& settings, double sampleRate);

  // How many frames the envelope lags the voice: presence[i] of process()
  // belongs to the voice frame latency() frames before voice[i]. The first
  // latency() values are 0.
  std::int64_t latency() const { return latency_; }
  std::int64_t windowFrames() const { return measure_.windowFrames; }

  // Takes the next `count` voice frames and gives the next `count` envelope
  // values, each in [0, 1].
  void process(const float* voice, float* presence, std::int64_t count);

  // Frames of the voice taken so far that lie in active windows.
  std::int64_t activeFrames() const { return activeWindows_ * measure_.windowFrames; }

  // The windows decided since the last call, oldest first: whether each
  // was active (its level at or above the threshold), and whether each
  // was held (active, or inside a bridged pause). Window w covers voice
  // frames [w x windowFrames(), (w + 1) x windowFrames()); held windows
  // are decided later than active ones, by the envelope's look-ahead.
  struct WindowLog {
    std::int64_t firstActive = 0;
    std::vector<char> active;
    std::int64_t firstHeld = 0;
    std::vector<char> held;
  };
  // Moves the windows logged so far into `log`, replacing its contents.
  void takeLog(WindowLog& log);

private:
  // Flags of consecutive windows, kept from the oldest still needed to the
  // newest, with the next set flag after a given window found in amortised
  // constant time (queries move forward only).
  class FlagRing {
  public:
    explicit FlagRing(std::size_t capacity) : flags_(capacity) {}
    void push(bool flag) { flags_[static_cast<std::size_t>(end_++ % size())] = flag ? 1 : 0; }
    bool at(std::int64_t index) const { return flags_[static_cast<std::size_t>(index % size())] != 0; }
    std::int64_t end() const { return end_; }
    // The first index after `index` whose flag is set, or -1 when none is
    // known yet.
    std::int64_t nextSetAfter(std::int64_t index);

  private:
    std::int64_t size() const { return static_cast<std::int64_t>(flags_.size()); }
    std::vector<char> flags_;
    std::int64_t end_ = 0;
    std::int64_t found_ = -1;
    std::int64_t scanned_ = 0;
  };

  void finishWindow();
  void decideWindow(std::int64_t index);
  void emitWindow(std::int64_t index);
  // Hands out the next `count` ready values.
  void takeReady(float* out, std::int64_t count);

  PresenceMeasure measure_;
  std::int64_t leastFullFrames_;
  std::int64_t pauseWindows_;  // the longest bridged pause, in windows
  std::int64_t emitLookahead_; // held windows needed after the one emitted
  std::int64_t latency_;

  // The window being measured.
  std::vector<float> filtered_;
  double energy_ = 0.0;
  std::int64_t filled_ = 0;
  std::int64_t activeWindows_ = 0;
  std::int64_t lastActive_ = -1;

  FlagRing active_;
  FlagRing held_;
  std::int64_t emittedWindows_ = 0;
  std::vector<char> activeLog_; // windows since the last takeLog()
  std::vector<char> heldLog_;
  std::int64_t lastHeldEnd_ = -1; // the frame after the last emitted held window

  // Envelope values ready to be handed out, in a ring.
  std::vector<float> ready_;
  std::size_t readyFirst_ = 0;
  std::size_t readyCount_ = 0;
};

} // namespace tandrel::cli
