// The ducking of `tandrel live`: music channels through one Tandrel
// instance each, their control the causal presence envelope of the voice,
// as `tandrel duck` does offline. The music (and the voice in the mix) is
// delayed by the look-ahead, so that the fade down can end where the voice
// starts; the module adds its own delay.
//
// Ports: music_1 .. music_N and voice in; out_1 .. out_N.
//
// The controls (talk, depth) and the meters are atomics that any thread may
// use while the engine processes.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/loaded_effect.hpp"
#include "duck/duck_mix.hpp"
#include "live_presence.hpp"
#include "live_processor.hpp"

namespace tandrel::cli {

struct LiveShape {
  double depthDb = 12.0;         // how far the music goes down under the voice
  LivePresenceSettings presence; // what counts as the voice being present
  double lookaheadMs = 20;       // the music's delay ahead of the module
  double musicGainDb = 0.0;
  double voiceGainDb = 0.0; // for the mix only
  bool mix = false;         // add the voice to every output
  int channels = 2;         // music channels
};

// The accepted ranges of the shape's values.
constexpr int largestLiveChannels = 64;
constexpr double longestLookaheadMs = 1000.0;
constexpr double largestLiveDepthDb = 100.0;
constexpr double lowestLiveThresholdDbfs = -120.0;
constexpr double longestLiveFadeMs = 60000.0; // attack, hold, release
constexpr double largestLiveGainDb = 40.0;

// Throws UsageError naming the option whose value is outside its range.
void checkLiveShape(const LiveShape& shape);

// Handed between the terminal and the process callback without locks.
struct LiveControls {
  std::atomic<bool> talk{false};     // a manual duck: the voice counts as present
  std::atomic<float> depthDb{12.0f}; // may change while running
  // Meters of the last period.
  std::atomic<float> voiceDbfs{-200.0f};
  std::atomic<float> presence{0.0f};
  std::atomic<float> musicGainDb{0.0f}; // the duck's gain, the music gain aside
  static_assert(std::atomic<float>::is_always_lock_free, "the process callback needs lock-free floats");
};

class DuckingEngine final : public LiveProcessor {
public:
  // Loads one Tandrel instance per music channel. Throws CliError when
  // the module is not Tandrel or does not load. [main]
  DuckingEngine(const std::string& modulePath, const LiveShape& shape, double sampleRate, int periodFrames);
  ~DuckingEngine() override;

  std::vector<std::string> inputNames() const override;
  std::vector<std::string> outputNames() const override;
  int latency() const override { return lookaheadFrames_ + moduleLatency_.load(std::memory_order_relaxed); }
  int lookaheadFrames() const { return lookaheadFrames_; }
  void setPeriod(int frames) override;
  void process(const float* const* inputs, float* const* outputs, int frames,
               std::uint64_t frameTime) noexcept override;

  LiveControls& controls() { return controls_; }

private:
  void loadInstances();
  void applyDepth(float depthDb) noexcept;
  void updateMeters(int frames) noexcept;

  std::string modulePath_;
  LiveShape shape_;
  double sampleRate_;
  int periodFrames_ = 0;
  int lookaheadFrames_;
  std::atomic<int> moduleLatency_{0}; // set when the modules are prepared, read by any thread
  float musicGain_;
  float voiceGain_;
  float appliedDepthDb_ = -1.0f;

  LiveControls controls_;
  LivePresence presence_;
  std::vector<std::unique_ptr<LoadedEffect>> effects_;
  std::vector<SampleDelay> musicDelays_;
  SampleDelay voiceDelay_; // the voice in time with the ducked music
  std::vector<float> presenceBuffer_;
  std::vector<float> musicBuffer_;
  std::vector<float> delayedBuffer_;
  std::vector<float> voiceBuffer_;
  std::vector<float> spareBuffer_;
};

} // namespace tandrel::cli
