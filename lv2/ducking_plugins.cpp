#include "ducking_plugins.hpp"

#include <limits>
#include <new>

#include "effect/depth_law.hpp"
#include "effect/tandrel_vocabulary.hpp"

// pow, which the depth law calls, bound to its first symbol version so that
// the bundle loads on the same old systems as the VST 2 module (see
// frame/formatting.cpp for why that version computes the same values).
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pow,pow@GLIBC_2.2.5");
#elif defined(__GLIBC__) && defined(__i386__)
__asm__(".symver pow,pow@GLIBC_2.0");
#endif

namespace tandrel::lv2 {

namespace {

void writeSilence(float* out, std::uint32_t frames) {
  if (out == nullptr) return;
  for (std::uint32_t i = 0; i < frames; ++i)
    out[i] = 0.0f;
}

void copyFrames(const float* from, float* to, std::int32_t frames) {
  for (std::int32_t i = 0; i < frames; ++i)
    to[i] = from[i];
}

void reportLatency(float* port) {
  if (port != nullptr) *port = static_cast<float>(ducking::latencyFrames);
}

} // namespace

// --- DuckingLane ---------------------------------------------------------

DuckingLane::~DuckingLane() { delete[] state_.line; }

bool DuckingLane::allocate() {
  kernel_ = &ducking::bestKernel();
  state_.line = new (std::nothrow) float[ducking::lineFrames];
  if (state_.line == nullptr) return false;
  startClean();
  return true;
}

void DuckingLane::startClean() {
  for (std::int32_t i = 0; i < ducking::lineFrames; ++i)
    state_.line[i] = 0.0f;
  state_.startGain = 0.0f;
  state_.targetGain = 0.0f;
  state_.readPosition = 0; // the write position and the block counter follow it
  state_.rampStart = 0.0;
  state_.rampSpan = 0.0;
  ducking::clearLanes(state_);
}

// --- Tandrel (faithful) ----------------------------------------------------

FaithfulPlugin* FaithfulPlugin::create() {
  auto* plugin = new (std::nothrow) FaithfulPlugin;
  if (plugin == nullptr) return nullptr;
  if (!plugin->lane_.allocate()) {
    delete plugin;
    return nullptr;
  }
  return plugin;
}

void FaithfulPlugin::connectPort(std::uint32_t port, void* data) {
  if (port < portCount) ports_[port] = static_cast<float*>(data);
}

// Source is read at the start of every call, Ratio takes effect at the next
// block end: what the VST 2 module does with parameters set between calls.
void FaithfulPlugin::run(std::uint32_t frames) {
  reportLatency(ports_[latency]);
  if (frames == 0) return;
  const float* const in0 = ports_[input0];
  const float* const in1 = ports_[input1];
  float* const out0 = ports_[output0];
  float* const out1 = ports_[output1];
  if (in0 == nullptr || in1 == nullptr || out0 == nullptr || out1 == nullptr) [[unlikely]] {
    writeSilence(out0, frames);
    writeSilence(out1, frames);
    return;
  }
  const float sourceValue = ports_[source] != nullptr ? *ports_[source] : defaultSource;
  const float ratioDisplay = ports_[ratio] != nullptr ? *ports_[ratio] : defaultRatioDisplay;
  // Exact: scaling by a power of two (for any value the port range allows).
  lane_.setRatio(ratioDisplay * static_cast<float>(1.0 / product::ratioScale));
  const bool controlFromInputZero = product::routesControlFromInputZero(sourceValue);
  const float* const audio = controlFromInputZero ? in1 : in0;
  const float* const control = controlFromInputZero ? in0 : in1;
  for (std::uint32_t done = 0; done < frames;) {
    const auto piece = static_cast<std::int32_t>(frames - done < callFrames ? frames - done : callFrames);
    lane_.process(audio + done, control + done, out0 + done, out1 + done, piece);
    done += static_cast<std::uint32_t>(piece);
  }
}

// --- Tandrel Sidechain -------------------------------------------------------

template <int Channels> SidechainPlugin<Channels>* SidechainPlugin<Channels>::create() {
  auto* plugin = new (std::nothrow) SidechainPlugin;
  if (plugin == nullptr) return nullptr;
  for (DuckingLane& lane : plugin->lanes_) {
    if (!lane.allocate()) {
      delete plugin;
      return nullptr;
    }
  }
  plugin->depthOfRatio_ = std::numeric_limits<float>::quiet_NaN();
  return plugin;
}

template <int Channels> void SidechainPlugin<Channels>::connectPort(std::uint32_t port, void* data) {
  if (port < portCount) ports_[port] = static_cast<float*>(data);
}

template <int Channels> void SidechainPlugin<Channels>::activate() {
  for (DuckingLane& lane : lanes_)
    lane.startClean();
}

// The depth port's value, kept within the range the plug-in declares (a
// value that is not a number reads as the default); the depth law's pow
// runs only when the value changes, which a host does between calls, not
// at audio rate.
template <int Channels> float SidechainPlugin<Channels>::ratioForDepthPort() {
  const float* const port = ports_[depthPort];
  float depth = port != nullptr ? *port : static_cast<float>(product::defaultDepthDb);
  if (!(depth >= static_cast<float>(product::smallestDepthDb)))
    depth = depth != depth ? static_cast<float>(product::defaultDepthDb)
                           : static_cast<float>(product::smallestDepthDb);
  if (depth > static_cast<float>(product::largestDepthDb))
    depth = static_cast<float>(product::largestDepthDb);
  if (depth != depthOfRatio_) {
    depthOfRatio_ = depth;
    ratio_ = static_cast<float>(product::ratioForDepth(depth));
  }
  return ratio_;
}

template <int Channels> void SidechainPlugin<Channels>::run(std::uint32_t frames) {
  reportLatency(ports_[latencyPort]);
  if (frames == 0) return;
  bool connected = true;
  for (std::uint32_t c = 0; c < Channels; ++c)
    connected = connected && ports_[c] != nullptr && ports_[firstOutputPort + c] != nullptr;
  if (!connected) [[unlikely]] {
    for (std::uint32_t c = 0; c < Channels; ++c)
      writeSilence(ports_[firstOutputPort + c], frames);
    return;
  }
  const float ratio = ratioForDepthPort();
  for (DuckingLane& lane : lanes_)
    lane.setRatio(ratio);
  for (std::uint32_t done = 0; done < frames;) {
    const auto piece = static_cast<std::int32_t>(frames - done < callFrames ? frames - done : callFrames);
    runPiece(done, piece);
    done += static_cast<std::uint32_t>(piece);
  }
}

// Every input that a later channel reads is copied before the first channel
// writes its output, which may be the buffer of that input; the first
// channel's own music may share its output's buffer, which the kernel allows.
template <int Channels> void SidechainPlugin<Channels>::runPiece(std::uint32_t offset, std::int32_t frames) {
  const float* control = silence_;
  if (const float* sidechain = ports_[sidechainPort]) {
    copyFrames(sidechain + offset, controlCopy_, frames);
    control = controlCopy_;
  }
  for (int c = 1; c < Channels; ++c)
    copyFrames(ports_[c] + offset, musicCopies_[c - 1], frames);
  for (int c = 0; c < Channels; ++c) {
    const float* const music = c == 0 ? ports_[0] + offset : musicCopies_[c - 1];
    float* const out = ports_[firstOutputPort + static_cast<std::uint32_t>(c)] + offset;
    lanes_[c].process(music, control, out, out, frames);
  }
}

template class SidechainPlugin<1>;
template class SidechainPlugin<2>;

} // namespace tandrel::lv2
