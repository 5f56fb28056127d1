// Tandrel's LV2 plug-ins: the ducker of effect/ behind LV2's ports, without
// the VST 2 frame. lv2/tandrel_lv2.cpp puts them behind the C boundary; the
// port indices here are the lv2:index values of lv2/tandrel.ttl.
//
// The contract every plug-in keeps, in the order a host calls it:
//   create        [main]  allocates everything the plug-in will use (the
//                         delay lines and the scratch buffers); answers null
//                         when memory runs out. The state starts clean.
//   connectPort   [audio] or [main], never at the same time as run: stores a
//                         port's buffer, which may be null (unconnected) and
//                         is read only in run. A port index the plug-in does
//                         not have is ignored.
//   activate      [main]  starts clean: silent delay lines, the block
//                         counters at the start of a block, the gains at
//                         their initial 0, so that a host that deactivates
//                         and activates again hears no tail of before.
//   run           [audio] processes `frames` frames; 0 frames does nothing
//                         but report the latency. Any frame count works; the
//                         block state carries over, so the output does not
//                         depend on how the host divides the audio. Outputs
//                         may share buffers with inputs. A needed audio port
//                         left unconnected gives silence on the connected
//                         outputs and leaves the state as it was; a control
//                         input left unconnected reads as its default.
//                         Never allocates, locks, blocks or logs.
// Destruction (delete) is [main].
#pragma once

#include <cstdint>

#include "effect/ducking_run.hpp"

namespace tandrel::lv2 {

// One ducking state with its own delay line, processed by the fastest kernel
// this processor runs (the one every VST 2 instance uses; all kernels give
// the same bits anyway).
class DuckingLane {
public:
  DuckingLane() = default;
  DuckingLane(const DuckingLane&) = delete;
  DuckingLane& operator=(const DuckingLane&) = delete;
  ~DuckingLane();

  // Obtains the delay line and starts clean; false when memory ran out. [main]
  bool allocate();
  // The state of a new VST 2 instance: a silent line, both positions and
  // the block counter at 0, gains, ramp and block extremes at 0. [main]
  void startClean();
  // Ratio as the VST 2 parameter stores it; read at the next block end. [audio]
  void setRatio(float ratio) { state_.ratio.store(ratio, std::memory_order_relaxed); }
  // Processes `frames` (1 to callFrames) frames; out0 and out1 may be the
  // same buffer and may share memory with the inputs. [audio]
  void process(const float* audio, const float* control, float* out0, float* out1, std::int32_t frames) {
    kernel_->process(state_, audio, control, out0, out1, frames);
  }

private:
  ducking::State state_;
  const ducking::Kernel* kernel_ = nullptr;
};

// Frames handed to the kernels at a time: they count frames in 32 bits, and
// the sidechain plug-ins copy inputs into buffers of this many frames.
constexpr std::int32_t callFrames = 1024;

// Tandrel, as the VST 2 module is: two inputs, Source choosing which one is
// the control, two outputs carrying the same ducked audio.
class FaithfulPlugin {
public:
  enum Port : std::uint32_t { input0, input1, output0, output1, source, ratio, latency, portCount };
  // Ratio's port shows what the VST 2 display shows: four times the stored
  // value (product::ratioScale).
  static constexpr float defaultSource = 1.0f;       // "L-R": input 0 is the audio
  static constexpr float defaultRatioDisplay = 1.0f; // stored 0.25

  static FaithfulPlugin* create();
  void connectPort(std::uint32_t port, void* data);
  void activate() { lane_.startClean(); }
  void run(std::uint32_t frames);

private:
  FaithfulPlugin() = default;
  float* ports_[portCount] = {};
  DuckingLane lane_;
};

// Tandrel Sidechain with `Channels` music channels: each is ducked by its own
// state under the one sidechain, exactly as a VST 2 instance fed that
// channel as its audio and the sidechain as its control (Source "L-R"),
// output 0 of that instance going to the channel's output. The depth in dB
// sets Ratio by the depth law (effect/depth_law.hpp).
template <int Channels> class SidechainPlugin {
public:
  static constexpr std::uint32_t sidechainPort = Channels;
  static constexpr std::uint32_t firstOutputPort = Channels + 1;
  static constexpr std::uint32_t depthPort = 2 * Channels + 1;
  static constexpr std::uint32_t latencyPort = 2 * Channels + 2;
  static constexpr std::uint32_t portCount = 2 * Channels + 3;

  static SidechainPlugin* create();
  void connectPort(std::uint32_t port, void* data);
  void activate();
  void run(std::uint32_t frames);

private:
  SidechainPlugin() = default;
  // Ratio for the depth port's value, worked out again only when it changes.
  float ratioForDepthPort();
  // One piece of at most callFrames frames, starting at `offset`.
  void runPiece(std::uint32_t offset, std::int32_t frames);

  float* ports_[portCount] = {};
  DuckingLane lanes_[Channels];
  // The depth the current Ratio belongs to; not a number until the first run.
  float depthOfRatio_ = 0.0f;
  float ratio_ = 0.0f;
  // Copies of the sidechain and of every music channel after the first,
  // taken before any output is written (outputs may share their buffers),
  // and the silence that an unconnected sidechain gives.
  float controlCopy_[callFrames] = {};
  float musicCopies_[Channels > 1 ? Channels - 1 : 1][callFrames] = {};
  float silence_[callFrames] = {};
};

using SidechainMonoPlugin = SidechainPlugin<1>;
using SidechainStereoPlugin = SidechainPlugin<2>;

} // namespace tandrel::lv2
