// Fuzzes audio processing: parameter writes of any float (not-a-number,
// infinities, negative and huge values included) between calls, audio and
// control channels holding the same specials and subnormals, any division of
// the signal into calls (empty and negative frame counts included), and
// separate, in-place and crossed in-place buffers. Every buffer has exactly
// the frame count's size, so the address sanitizer sees any access beyond it.
//
// Properties checked on every output frame:
//   - both outputs carry identical samples;
//   - where the audio that entered 256 frames earlier is finite, the output
//     is finite and no louder in magnitude than that audio, whatever the
//     parameters and the control hold (the gain stays within [0, 1]);
//   - the output does not depend on how the signal is divided into calls: a
//     second effect that gets each run of calls between parameter writes as
//     one call gives the same samples.
// A run may end with a call whose channel array or channel pointers are
// null, with a positive frame count; it must not crash.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "effect/tandrel_effect.hpp"
#include "fuzz_values.hpp"

namespace {

using namespace tandrel::fuzz;
using tandrel::TandrelEffect;

constexpr std::int32_t latency = 256;
constexpr std::size_t maxFramesPerInput = 1 << 14;

// A small generator for long signals from few input bytes.
struct Noise {
  std::uint64_t state;
  std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 16);
  }
};

// One channel of one call, in a form chosen by the input.
std::vector<float> makeChannel(FuzzedDataProvider& input, std::int32_t frames) {
  std::vector<float> channel(static_cast<std::size_t>(frames));
  const int kind = input.ConsumeIntegralInRange<int>(0, 5);
  const float level = anyFloat(input);
  Noise noise{input.ConsumeIntegral<std::uint64_t>() | 1u};
  for (float& sample : channel) {
    switch (kind) {
    case 0: // constant
      sample = level;
      break;
    case 1: // noise scaled by the level
      sample = static_cast<float>(level * (static_cast<double>(noise.next()) / 2147483648.0 - 1.0));
      break;
    case 2: // any bit pattern
      sample = floatFromBits(noise.next() | (noise.next() & 1u) << 31);
      break;
    case 3: // the specials in random order
      sample = floatFromBits(
          tandrel::fuzz::specialFloatBits[noise.next() % std::size(tandrel::fuzz::specialFloatBits)]);
      break;
    case 4: // subnormals and tiny normals
      sample = floatFromBits((noise.next() & 0x00FFFFFFu) | (noise.next() & 1u) << 31);
      break;
    default: // sample by sample from the input
      sample = anyFloat(input);
      break;
    }
  }
  return channel;
}

struct Call {
  std::vector<float> in0, in1;
};

// One parameter write between calls.
struct Write {
  std::int32_t index;
  float value;
};

// A run of calls with no parameter write between them, preceded by the
// writes that come before it.
struct Segment {
  std::vector<Write> writes;
  std::vector<Call> calls;
};

enum class Buffers { separate, inPlace, crossedInPlace, firstInPlace };

// Processes one call; the outputs land in out0 and out1 whatever the buffer
// arrangement.
void process(TandrelEffect& effect, const Call& call, Buffers arrangement, std::vector<float>& out0,
             std::vector<float>& out1) {
  const auto frames = static_cast<std::int32_t>(call.in0.size());
  std::vector<float> in0 = call.in0, in1 = call.in1;
  out0.assign(in0.size(), floatFromBits(0x7FBADBADu));
  out1.assign(in0.size(), floatFromBits(0x7FBADBADu));
  float* inputs[2] = {in0.data(), in1.data()};
  float* outputs[2] = {out0.data(), out1.data()};
  switch (arrangement) {
  case Buffers::separate:
    break;
  case Buffers::inPlace:
    outputs[0] = in0.data();
    outputs[1] = in1.data();
    break;
  case Buffers::crossedInPlace:
    outputs[0] = in1.data();
    outputs[1] = in0.data();
    break;
  case Buffers::firstInPlace:
    outputs[0] = in0.data();
    break;
  }
  effect.processAudio(inputs, outputs, frames);
  if (frames > 0) {
    if (outputs[0] != out0.data()) std::memcpy(out0.data(), outputs[0], in0.size() * sizeof(float));
    if (outputs[1] != out1.data()) std::memcpy(out1.data(), outputs[1], in0.size() * sizeof(float));
  }
}

bool sameSample(float a, float b) { return bitsOf(a) == bitsOf(b) || (a != a && b != b); }

// A call whose channel array or channel pointers are null, with a positive
// frame count.
void hostileCall(FuzzedDataProvider& input, TandrelEffect& effect) {
  const auto frames = input.ConsumeIntegralInRange<std::int32_t>(1, 300);
  std::vector<float> channels[4];
  for (auto& channel : channels)
    channel.assign(static_cast<std::size_t>(frames), 0.25f);
  float* inputs[2] = {channels[0].data(), channels[1].data()};
  float* outputs[2] = {channels[2].data(), channels[3].data()};
  const auto nulls = input.ConsumeIntegral<std::uint8_t>();
  if (nulls & 1) inputs[0] = nullptr;
  if (nulls & 2) inputs[1] = nullptr;
  if (nulls & 4) outputs[0] = nullptr;
  if (nulls & 8) outputs[1] = nullptr;
  effect.processAudio((nulls & 16) ? nullptr : inputs, (nulls & 32) ? nullptr : outputs, frames);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto arrangement = static_cast<Buffers>(input.ConsumeIntegralInRange<int>(0, 3));
  const bool endHostile = input.ConsumeBool();

  // The whole run, decided before anything is processed.
  std::vector<Segment> segments(1);
  std::size_t totalFrames = 0;
  while (input.remaining_bytes() > 0 && totalFrames < maxFramesPerInput && segments.size() < 64) {
    if (input.ConsumeIntegralInRange<int>(0, 3) == 0) {
      if (!segments.back().calls.empty()) segments.emplace_back();
      const std::int32_t index = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-1, 2)
                                                     : input.ConsumeIntegral<std::int32_t>();
      segments.back().writes.push_back({index, anyFloat(input)});
      continue;
    }
    std::int32_t frames = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-2, 520)
                                              : input.ConsumeIntegralInRange<std::int32_t>(0, 4096);
    frames = std::min<std::int32_t>(frames, static_cast<std::int32_t>(maxFramesPerInput - totalFrames));
    Call call;
    if (frames > 0) {
      call.in0 = makeChannel(input, frames);
      call.in1 = makeChannel(input, frames);
      totalFrames += static_cast<std::size_t>(frames);
    } else if (frames < 0) {
      call.in0.clear(); // a negative count with empty buffers: nothing may be read
      call.in1.clear();
    }
    segments.back().calls.push_back(std::move(call));
  }

  auto effect = std::make_unique<TandrelEffect>(nullptr);
  auto whole = std::make_unique<TandrelEffect>(nullptr);

  // The audio channel of every frame processed so far, to find the sample
  // that leaves the delay line at each output frame. -1: not determined
  // (Source is not a number), both inputs are then bounds.
  std::vector<float> history0, history1;
  std::vector<signed char> audioChannel;
  std::vector<float> out0, out1, wholeOut0, wholeOut1, expected;

  for (const Segment& segment : segments) {
    for (const Write& write : segment.writes) {
      effect->setParameter(write.index, write.value);
      whole->setParameter(write.index, write.value);
    }
    Call joined;
    for (const Call& call : segment.calls) {
      const float source = effect->getParameter(0);
      const signed char channel = source != source ? -1 : source < 0.5f ? 1 : 0;
      process(*effect, call, arrangement, out0, out1);
      const std::size_t start = history0.size();
      for (std::size_t i = 0; i < call.in0.size(); ++i) {
        history0.push_back(call.in0[i]);
        history1.push_back(call.in1[i]);
        audioChannel.push_back(channel);
      }
      joined.in0.insert(joined.in0.end(), call.in0.begin(), call.in0.end());
      joined.in1.insert(joined.in1.end(), call.in1.begin(), call.in1.end());

      for (std::size_t i = 0; i < call.in0.size(); ++i) {
        const std::size_t t = start + i;
        const float y = out0[i];
        FUZZ_CHECK(bitsOf(y) == bitsOf(out1[i]), "frame %zu: outputs differ (0x%08x, 0x%08x)", t, bitsOf(y),
                   bitsOf(out1[i]));
        // The sample leaving the delay line now entered `latency` frames ago
        // (silence before the first one).
        double bound = 0.0;
        bool finite = true;
        if (t >= static_cast<std::size_t>(latency)) {
          const std::size_t entered = t - latency;
          const signed char from = audioChannel[entered];
          for (int c = 0; c < 2; ++c) {
            if (from >= 0 && from != c) continue;
            const float a = c == 0 ? history0[entered] : history1[entered];
            finite = finite && std::isfinite(a);
            bound = std::max(bound, std::fabs(static_cast<double>(a)));
          }
        }
        if (finite) {
          FUZZ_CHECK(std::isfinite(y),
                     "frame %zu: output 0x%08x for finite audio (Source 0x%08x, Ratio 0x%08x)", t, bitsOf(y),
                     bitsOf(effect->getParameter(0)), bitsOf(effect->getParameter(1)));
          FUZZ_CHECK(std::fabs(static_cast<double>(y)) <= bound,
                     "frame %zu: output %.9g louder than the delayed audio %.9g (Ratio 0x%08x)", t,
                     static_cast<double>(y), bound, bitsOf(effect->getParameter(1)));
        }
      }
      expected.insert(expected.end(), out0.begin(), out0.end());
    }
    // The same segment in one call.
    if (!joined.in0.empty()) {
      process(*whole, joined, Buffers::separate, wholeOut0, wholeOut1);
      const std::size_t start = expected.size() - wholeOut0.size();
      for (std::size_t i = 0; i < wholeOut0.size(); ++i)
        FUZZ_CHECK(sameSample(wholeOut0[i], expected[start + i]),
                   "frame %zu: 0x%08x in one call, 0x%08x in several", start + i, bitsOf(wholeOut0[i]),
                   bitsOf(expected[start + i]));
    }
  }

  if (endHostile) hostileCall(input, *effect);
  return 0;
}
