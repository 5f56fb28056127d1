// The LV2 plug-ins driven through their descriptors as a host drives them,
// with plain arrays, against the VST 2 effect processing the same signals:
// bit for bit, in odd call sizes, in place, after a restart, with ports left
// unconnected.
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "allocation_control.hpp"
#include "effect/depth_law.hpp"
#include "effect/tandrel_effect.hpp"
#include "signal_values.hpp"

namespace {

using tandrel::TandrelEffect;
using tandrel::test::noise;
using tandrel::test::Signal;

constexpr const char* faithfulUri = "https://tandrel.example/lv2/tandrel";
constexpr const char* monoUri = "https://tandrel.example/lv2/sidechain-mono";
constexpr const char* stereoUri = "https://tandrel.example/lv2/sidechain-stereo";
constexpr std::size_t frames = 9001; // neither a multiple of the 128-frame blocks nor of the calls below

// Call sizes a host might use, odd and uneven, one longer than the
// plug-ins' own piece of 1024 frames; repeated until the signal is done.
const std::vector<std::uint32_t> oddCalls = {1, 3, 2, 127, 129, 5, 1500, 64, 777, 4};

const LV2_Descriptor* descriptorFor(const std::string& uri) {
  for (std::uint32_t i = 0; const LV2_Descriptor* d = lv2_descriptor(i); ++i)
    if (uri == d->URI) return d;
  return nullptr;
}

// A speech-like control: bursts of noise of changing loudness with silence
// between, so that the gain both falls and recovers.
Signal bursts(std::size_t length, std::uint32_t seed) {
  Signal signal = noise(length, seed);
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t word = i / 700;
    signal[i] *= word % 3 == 2 ? 0.0f : 0.3f + 0.2f * static_cast<float>(word % 4);
  }
  return signal;
}

// One plug-in instance; ports connected by index.
class Plugin {
public:
  explicit Plugin(const char* uri) : descriptor_(descriptorFor(uri)) {
    EXPECT_NE(descriptor_, nullptr) << uri;
    if (descriptor_ != nullptr)
      handle_ = descriptor_->instantiate(descriptor_, 48000.0, "/nowhere/", nullptr);
    EXPECT_NE(handle_, nullptr);
  }
  ~Plugin() {
    if (handle_ != nullptr) descriptor_->cleanup(handle_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  void connect(std::uint32_t port, void* data) { descriptor_->connect_port(handle_, port, data); }
  void activate() { descriptor_->activate(handle_); }
  void deactivate() { descriptor_->deactivate(handle_); }
  void run(std::uint32_t count) { descriptor_->run(handle_, count); }

  // Runs over `length` frames in the calls given, with the audio ports
  // (indices in `audio`) connected to the buffers at the running offset.
  void runInCalls(const std::vector<std::uint32_t>& audio, const std::vector<float*>& buffers,
                  std::size_t length, const std::vector<std::uint32_t>& calls) {
    std::size_t done = 0;
    for (std::size_t k = 0; done < length; ++k) {
      const std::uint32_t count =
          static_cast<std::uint32_t>(std::min<std::size_t>(calls[k % calls.size()], length - done));
      for (std::size_t p = 0; p < audio.size(); ++p)
        connect(audio[p], buffers[p] == nullptr ? nullptr : buffers[p] + done);
      run(count);
      done += count;
    }
  }

private:
  const LV2_Descriptor* descriptor_;
  LV2_Handle handle_ = nullptr;
};

// The VST 2 effect's two outputs for its inputs, processed in calls of 512.
std::vector<Signal> vst2Render(const Signal& input0, const Signal& input1, float source, float ratio) {
  TandrelEffect effect{nullptr};
  effect.setParameter(tandrel::product::parameter::source, source);
  effect.setParameter(tandrel::product::parameter::ratio, ratio);
  Signal in0 = input0, in1 = input1, out0(in0.size()), out1(in0.size());
  for (std::size_t done = 0; done < in0.size(); done += 512) {
    const auto count = static_cast<std::int32_t>(std::min<std::size_t>(512, in0.size() - done));
    float* inputs[2] = {in0.data() + done, in1.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    effect.processAudio(inputs, outputs, count);
  }
  return {out0, out1};
}

// The output must have ducked somewhere and kept the audio elsewhere, or
// the comparison proves little.
void expectDucking(const Signal& out, const Signal& audio) {
  std::size_t lowered = 0, kept = 0;
  for (std::size_t i = 256; i < out.size(); ++i) {
    const float a = std::abs(audio[i - 256]);
    if (a > 0.2f && std::abs(out[i]) < 0.5f * a) ++lowered;
    if (a > 0.2f && std::abs(out[i]) > 0.99f * a) ++kept;
  }
  EXPECT_GT(lowered, out.size() / 20);
  EXPECT_GT(kept, out.size() / 20);
}

// --- Tandrel (faithful): ports 0, 1 in; 2, 3 out; 4 Source; 5 Ratio x; 6 latency.

struct FaithfulCase {
  float source;
  float ratioDisplay; // the port's value: four times the VST 2 parameter
  bool inPlace;
};

void PrintTo(const FaithfulCase& c, std::ostream* out) {
  *out << "Source " << c.source << ", Ratio x " << c.ratioDisplay << (c.inPlace ? ", in place" : "");
}

class FaithfulPlugin : public ::testing::TestWithParam<FaithfulCase> {};

TEST_P(FaithfulPlugin, EqualsTheVst2EffectInOddCalls) {
  const FaithfulCase c = GetParam();
  // The control on the input that Source reads as the control.
  const Signal audio = noise(frames, 1, 0.8f), control = bursts(frames, 2);
  const bool controlFirst = tandrel::product::routesControlFromInputZero(c.source);
  const Signal& in0 = controlFirst ? control : audio;
  const Signal& in1 = controlFirst ? audio : control;
  const std::vector<Signal> expected = vst2Render(in0, in1, c.source, c.ratioDisplay / 4.0f);
  Plugin plugin(faithfulUri);
  float source = c.source, ratio = c.ratioDisplay, latency = -1.0f;
  plugin.connect(4, &source);
  plugin.connect(5, &ratio);
  plugin.connect(6, &latency);
  plugin.activate();
  Signal a = in0, b = in1, out0(frames), out1(frames);
  if (c.inPlace)
    plugin.runInCalls({0, 1, 2, 3}, {a.data(), b.data(), a.data(), b.data()}, frames, oddCalls);
  else
    plugin.runInCalls({0, 1, 2, 3}, {a.data(), b.data(), out0.data(), out1.data()}, frames, oddCalls);
  EXPECT_EQ(c.inPlace ? a : out0, expected[0]);
  EXPECT_EQ(c.inPlace ? b : out1, expected[1]);
  EXPECT_EQ(latency, 256.0f);
  if (c.ratioDisplay > 0.0f) expectDucking(expected[0], audio);
}

INSTANTIATE_TEST_SUITE_P(Lv2, FaithfulPlugin,
                         ::testing::Values(FaithfulCase{1.0f, 1.0f, false}, FaithfulCase{0.0f, 2.5f, false},
                                           FaithfulCase{0.0f, 1.0f, true}, FaithfulCase{0.7f, 4.0f, true},
                                           FaithfulCase{0.49f, 0.0f, false}));

// --- Tandrel Sidechain: music, sidechain, outputs, depth, latency.

float ratioForDepth(float depth) { return static_cast<float>(tandrel::product::ratioForDepth(depth)); }

// How a host may share buffers between the stereo plug-in's ports.
enum class Buffers { separate, outputsOnMusic, leftOutputOnSidechainRightOnLeftMusic };

void PrintTo(Buffers buffers, std::ostream* out) {
  *out << (buffers == Buffers::separate         ? "separate buffers"
           : buffers == Buffers::outputsOnMusic ? "outputs on the music inputs"
                                                : "left output on the sidechain, right on the left music");
}

class StereoSidechainPlugin : public ::testing::TestWithParam<Buffers> {};

// Each output channel is a VST 2 instance fed that channel as its audio
// (input 0, Source L-R) and the sidechain as its control.
TEST_P(StereoSidechainPlugin, EachChannelEqualsOneVst2Instance) {
  const Signal left = noise(frames, 3, 0.7f), right = noise(frames, 4, 0.5f), voice = bursts(frames, 5);
  const float depth = 18.0f;
  const Signal expectedLeft = vst2Render(left, voice, 1.0f, ratioForDepth(depth))[0];
  const Signal expectedRight = vst2Render(right, voice, 1.0f, ratioForDepth(depth))[0];
  expectDucking(expectedLeft, left);

  Plugin plugin(stereoUri);
  float depthPort = depth, latency = 0.0f;
  plugin.connect(5, &depthPort);
  plugin.connect(6, &latency);
  plugin.activate();
  Signal l = left, r = right, v = voice, outL(frames), outR(frames);
  const Signal* resultL = &outL;
  const Signal* resultR = &outR;
  switch (GetParam()) {
  case Buffers::separate:
    plugin.runInCalls({0, 1, 2, 3, 4}, {l.data(), r.data(), v.data(), outL.data(), outR.data()}, frames,
                      oddCalls);
    break;
  case Buffers::outputsOnMusic:
    plugin.runInCalls({0, 1, 2, 3, 4}, {l.data(), r.data(), v.data(), l.data(), r.data()}, frames, oddCalls);
    resultL = &l;
    resultR = &r;
    break;
  case Buffers::leftOutputOnSidechainRightOnLeftMusic:
    plugin.runInCalls({0, 1, 2, 3, 4}, {l.data(), r.data(), v.data(), v.data(), l.data()}, frames, oddCalls);
    resultL = &v;
    resultR = &l;
    break;
  }
  EXPECT_EQ(*resultL, expectedLeft);
  EXPECT_EQ(*resultR, expectedRight);
  EXPECT_EQ(latency, 256.0f);
}

INSTANTIATE_TEST_SUITE_P(Lv2, StereoSidechainPlugin,
                         ::testing::Values(Buffers::separate, Buffers::outputsOnMusic,
                                           Buffers::leftOutputOnSidechainRightOnLeftMusic));

TEST(MonoSidechainPlugin, EqualsOneVst2InstanceInPlaceAndWithASilentSidechainWhenUnconnected) {
  const Signal music = noise(frames, 6, 0.9f), voice = bursts(frames, 7);
  const float depth = 40.0f;
  Plugin plugin(monoUri);
  float depthPort = depth;
  plugin.connect(3, &depthPort);
  plugin.activate();
  Signal m = music, v = voice;
  plugin.runInCalls({0, 1, 2}, {m.data(), v.data(), m.data()}, frames, oddCalls);
  EXPECT_EQ(m, vst2Render(music, voice, 1.0f, ratioForDepth(depth))[0]);

  // Unconnected: the latency port, and then the sidechain.
  plugin.activate();
  Signal out(frames);
  plugin.runInCalls({0, 1, 2}, {const_cast<float*>(music.data()), nullptr, out.data()}, frames, oddCalls);
  EXPECT_EQ(out, vst2Render(music, Signal(frames, 0.0f), 1.0f, ratioForDepth(depth))[0]);
}

// The depth changes between calls take effect at the next block end, as
// Ratio set between calls does in the VST 2 effect; a depth out of the
// port's range is held to it.
TEST(MonoSidechainPlugin, DepthChangesBetweenCallsAsRatioChangesInTheVst2Effect) {
  const Signal music = noise(frames, 8, 0.9f), voice = bursts(frames, 9);
  const float depths[] = {6.0f, 250.0f, -3.0f, 12.5f};
  TandrelEffect effect{nullptr};
  Plugin plugin(monoUri);
  float depthPort = 0.0f;
  plugin.connect(3, &depthPort);
  plugin.activate();
  Signal in0 = music, in1 = voice, out0(frames), out1(frames), lv2Out(frames);
  for (std::size_t done = 0, k = 0; done < frames; ++k) {
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(1000, frames - done));
    depthPort = depths[k % 4];
    const float held = depthPort > 100.0f ? 100.0f : depthPort < 0.0f ? 0.0f : depthPort;
    effect.setParameter(tandrel::product::parameter::ratio, ratioForDepth(held));
    float* inputs[2] = {in0.data() + done, in1.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    effect.processAudio(inputs, outputs, static_cast<std::int32_t>(count));
    plugin.connect(0, in0.data() + done);
    plugin.connect(1, in1.data() + done);
    plugin.connect(2, lv2Out.data() + done);
    plugin.run(count);
    done += count;
  }
  EXPECT_EQ(lv2Out, out0);
}

// --- What every plug-in does at the boundary.

class EveryPlugin : public ::testing::TestWithParam<const char*> {
protected:
  // The audio ports and the latency port of the plug-in under test.
  static std::uint32_t audioPorts() {
    return std::string(GetParam()) == stereoUri ? 5 : std::string(GetParam()) == monoUri ? 3 : 4;
  }
  static std::uint32_t latencyPort() {
    return audioPorts() + (std::string(GetParam()) == faithfulUri ? 2 : 1);
  }

  // Connects every audio port to its own buffer of `length` frames, filled
  // with noise for the inputs; answers the buffers.
  std::vector<Signal> connectAll(Plugin& plugin, std::size_t length) {
    std::vector<Signal> buffers;
    for (std::uint32_t p = 0; p < audioPorts(); ++p)
      buffers.push_back(bursts(length, 10 + p));
    for (std::uint32_t p = 0; p < audioPorts(); ++p)
      plugin.connect(p, buffers[p].data());
    return buffers;
  }
};

// A host that deactivates and activates again hears what a new instance
// makes, not the tail of before; run with 0 frames changes nothing but
// reports the latency.
TEST_P(EveryPlugin, ActivateStartsCleanAndEmptyRunsChangeNothing) {
  Plugin used(GetParam()), fresh(GetParam());
  float latency = 0.0f;
  used.connect(latencyPort(), &latency);
  used.activate();
  std::vector<Signal> first = connectAll(used, 3000);
  used.run(3000);
  used.deactivate();
  used.activate();
  std::vector<Signal> again = connectAll(used, 3000);
  used.run(0);
  EXPECT_EQ(latency, 256.0f);
  for (std::size_t p = 0; p < again.size(); ++p)
    EXPECT_EQ(again[p], bursts(3000, 10 + static_cast<std::uint32_t>(p)))
        << "a run of 0 frames wrote port " << p;
  used.run(3000);
  fresh.activate();
  std::vector<Signal> expected = connectAll(fresh, 3000);
  fresh.run(1000);
  fresh.run(0);
  for (std::uint32_t p = 0; p < audioPorts(); ++p)
    fresh.connect(p, expected[p].data() + 1000);
  fresh.run(2000);
  EXPECT_EQ(again, expected);
}

// A missing main input or output gives silence on the connected outputs
// instead of a crash, and a null handle does nothing.
TEST_P(EveryPlugin, UnconnectedPortsAndNullHandlesDoNotCrash) {
  Plugin plugin(GetParam());
  plugin.activate();
  plugin.run(64); // nothing connected at all
  std::vector<Signal> buffers = connectAll(plugin, 64);
  plugin.connect(0, nullptr);
  plugin.run(64);
  const std::uint32_t firstOutput = std::string(GetParam()) == faithfulUri ? 2 : audioPorts() / 2 + 1;
  for (std::uint32_t p = firstOutput; p < audioPorts(); ++p)
    EXPECT_EQ(buffers[p], Signal(64, 0.0f)) << "output port " << p;
  plugin.connect(99, buffers[0].data()); // no such port: ignored
  const LV2_Descriptor* d = descriptorFor(GetParam());
  d->connect_port(nullptr, 0, nullptr);
  d->activate(nullptr);
  d->run(nullptr, 64);
  d->deactivate(nullptr);
  d->cleanup(nullptr);
}

// Instantiating allocates; running, connecting and activating do not. An
// instantiation that cannot get its memory answers null.
TEST_P(EveryPlugin, OnlyInstantiateObtainsMemory) {
  const LV2_Descriptor* d = descriptorFor(GetParam());
  for (std::size_t successes = 0; successes < 3; ++successes) {
    tandrel::test::FailingAllocations failing(successes);
    LV2_Handle handle = d->instantiate(d, 44100.0, "/nowhere/", nullptr);
    if (handle != nullptr) d->cleanup(handle);
  }
  Plugin plugin(GetParam());
  std::vector<Signal> buffers = connectAll(plugin, 5000);
  const std::uint32_t audio = audioPorts(), latency = latencyPort();
  const std::size_t before = tandrel::test::allocationCount();
  for (std::uint32_t p = 0; p < audio; ++p)
    plugin.connect(p, buffers[p].data());
  float controls[3] = {0.0f, 1.0f, 0.0f};
  for (std::uint32_t p = audio; p <= latency; ++p)
    plugin.connect(p, &controls[p - audio]);
  plugin.activate();
  plugin.run(5000);
  plugin.deactivate();
  plugin.activate();
  EXPECT_EQ(tandrel::test::allocationCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Lv2, EveryPlugin, ::testing::Values(faithfulUri, monoUri, stereoUri));

TEST(Lv2Descriptor, ListsTheThreePluginsThenNull) {
  ASSERT_NE(lv2_descriptor(0), nullptr);
  EXPECT_STREQ(lv2_descriptor(0)->URI, faithfulUri);
  ASSERT_NE(lv2_descriptor(1), nullptr);
  EXPECT_STREQ(lv2_descriptor(1)->URI, monoUri);
  ASSERT_NE(lv2_descriptor(2), nullptr);
  EXPECT_STREQ(lv2_descriptor(2)->URI, stereoUri);
  EXPECT_EQ(lv2_descriptor(3), nullptr);
  EXPECT_EQ(lv2_descriptor(0)->extension_data, nullptr);
}

} // namespace
