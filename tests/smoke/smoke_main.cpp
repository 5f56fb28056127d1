// Smoke test of a built module file, for targets where the test suite does
// not run (Windows, natively or under Wine); it builds and runs on Linux too.
// It loads the module through the host library as an audio host does, checks
// the record, the host calls, the texts and the parameters, then processes a
// deterministic signal in calls of many sizes (some in place) with parameter
// changes and hostile samples, comparing every output sample bit for bit
// with the per-frame reference. It prints a checksum of the output (64-bit
// FNV-1a over the samples' bits), which is the same on every platform.
//
// Usage: tandrel_smoke MODULE [EXPECTED_CHECKSUM]
// Exits with 0 when every check passes and the checksum, if given, matches.

#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/module_host.hpp"
#include "reference_ducker.hpp"

namespace {

using tandrel::EffectRecord;
using tandrel::host::EffectInstance;
using tandrel::host::ModuleLibrary;

int failures = 0;
int checks = 0;

void check(bool ok, const std::string& what) {
  ++checks;
  if (!ok) {
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

template <typename T> void checkEqual(T actual, T expected, const std::string& what) {
  check(actual == expected, what + ": " + std::to_string(actual) + " instead of " + std::to_string(expected));
}

void checkText(EffectInstance& instance, std::int32_t opcode, std::int32_t index, const char* expected) {
  const std::string text = instance.text(opcode, index);
  check(text == expected, "opcode " + std::to_string(opcode) + " index " + std::to_string(index) + ": '" +
                              text + "' instead of '" + expected + "'");
}

void checkRecord(EffectInstance& instance) {
  const EffectRecord& record = instance.record();
  checkEqual<std::size_t>(sizeof(EffectRecord), sizeof(void*) == 4 ? 144 : 192, "record size");
  checkEqual<std::int32_t>(record.magic, 0x56737450, "magic");
  checkEqual<std::int32_t>(record.programCount, 1, "programs");
  checkEqual<std::int32_t>(record.parameterCount, 2, "parameters");
  checkEqual<std::int32_t>(record.inputCount, 2, "inputs");
  checkEqual<std::int32_t>(record.outputCount, 2, "outputs");
  checkEqual<std::int32_t>(record.flags, 0x10, "flags");
  checkEqual<std::int32_t>(record.initialDelay, 256, "initial delay");
  checkEqual<std::int32_t>(record.uniqueIdentifier, 0x5A64346B, "unique identifier 'Zd4k'");
  checkEqual<std::int32_t>(record.recordVersion, 1, "record version");
  checkEqual<std::uint32_t>(std::bit_cast<std::uint32_t>(record.inputOutputRatio), 0x3F800000u, "i/o ratio");
  check(record.dispatcherEntry != nullptr && record.setParameterEntry != nullptr &&
            record.getParameterEntry != nullptr && record.replacingProcessEntry != nullptr,
        "record entries present");

  const auto& calls = instance.calls();
  checkEqual<std::size_t>(calls.size(), 1, "host calls while creating");
  if (!calls.empty())
    check(calls[0].record == nullptr && calls[0].opcode == 1, "the first host call is the version query");
}

void checkTexts(EffectInstance& instance) {
  checkText(instance, 8, 0, "Source");
  checkText(instance, 8, 1, "Ratio x ");
  checkText(instance, 6, 0, "Control");
  checkText(instance, 6, 1, " ");
  checkText(instance, 7, 0, "L-R");
  checkText(instance, 7, 1, "1.000000");
  checkText(instance, 5, 0, "Default");
  checkText(instance, 45, 0, "Tandrel");
  checkText(instance, 47, 0, "Mirvex");
  checkText(instance, 48, 0, "Tandrel");
  checkEqual<std::intptr_t>(instance.dispatch(49), 1000, "vendor version");
  checkEqual<std::intptr_t>(instance.dispatch(58), 2400, "interface version");
  checkEqual<std::intptr_t>(instance.dispatch(22), 0x4E764566, "identification");
  checkEqual<std::intptr_t>(instance.dispatch(35), 0, "category");

  instance.setParameter(1, 0.5f);
  checkText(instance, 7, 1, "2.000000");
  instance.setParameter(0, 0.25f);
  checkText(instance, 7, 0, "R-L");
  checkEqual<std::uint32_t>(std::bit_cast<std::uint32_t>(instance.getParameter(0)),
                            std::bit_cast<std::uint32_t>(0.25f), "Source read back");
  checkEqual<std::uint32_t>(std::bit_cast<std::uint32_t>(instance.getParameter(1)),
                            std::bit_cast<std::uint32_t>(0.5f), "Ratio read back");
}

// A 32-bit linear congruential generator: the same numbers everywhere, and
// samples made from them exactly (a 24-bit integer times a power of two).
struct Generator {
  std::uint32_t state;
  std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
  float sample() { return static_cast<float>(static_cast<std::int32_t>(next()) >> 8) * (1.0f / 8388608.0f); }
};

struct Signal {
  std::vector<float> input0, input1;
};

// Audio on input 0; on input 1 a control of quiet and loud passages, a few
// hostile samples in both (infinities, not-a-number, subnormals, huge).
Signal makeSignal(std::size_t frames) {
  Generator generator{12345u};
  Signal s{std::vector<float>(frames), std::vector<float>(frames)};
  const float hostile[] = {std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(),
                           1e-40f,
                           -1e-42f,
                           3e38f,
                           -0.0f};
  for (std::size_t i = 0; i < frames; ++i) {
    s.input0[i] = generator.sample();
    const float scale = (i / 3000) % 3 == 0 ? 1.0f / 64.0f : (i / 3000) % 3 == 1 ? 0.5f : 0.125f;
    s.input1[i] = generator.sample() * scale;
    if (i > 20000 && i < 40000 && generator.next() % 997 == 0)
      s.input1[i] = hostile[generator.next() % std::size(hostile)];
    if (i > 30000 && i < 50000 && generator.next() % 1009 == 0)
      s.input0[i] = hostile[generator.next() % std::size(hostile)];
    if (i > 52000 && i < 56000) s.input0[i] *= 1e-37f; // products below the normal range
  }
  return s;
}

std::uint64_t fnv1a(const std::vector<float>& samples) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (float sample : samples) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(sample);
    for (int byte = 0; byte < 4; ++byte) {
      hash ^= (bits >> (8 * byte)) & 0xFFu;
      hash *= 0x100000001B3u;
    }
  }
  return hash;
}

// Processes the signal against the reference; returns output 0.
std::vector<float> duck(EffectInstance& instance, const Signal& s) {
  const std::size_t frames = s.input0.size();
  std::vector<float> out0(frames), out1(frames), expected(frames);
  std::vector<float> work0 = s.input0, work1 = s.input1;
  tandrel::test::ReferenceDucker reference;
  const int sizes[] = {1, 17, 128, 300, 0, 511, 4096, 64, 1000, 2};
  const float ratios[] = {0.25f, 0.5f, 1.0f, 0.1f, 0.0f, 0.75f};
  instance.setParameter(0, 1.0f);
  instance.setParameter(1, 0.25f);
  std::size_t call = 0;
  for (std::size_t done = 0; done < frames; ++call) {
    std::size_t n = static_cast<std::size_t>(sizes[call % std::size(sizes)]);
    if (n > frames - done) n = frames - done;
    if (call % 13 == 12) {
      reference.ratio = ratios[(call / 13) % std::size(ratios)];
      instance.setParameter(1, reference.ratio);
    }
    if (call % 29 == 28) {
      reference.source = reference.source < 0.5f ? 1.0f : 0.3f;
      instance.setParameter(0, reference.source);
    }
    reference.process(s.input0.data() + done, s.input1.data() + done, expected.data() + done,
                      static_cast<std::int32_t>(n));
    float* inputs[2] = {work0.data() + done, work1.data() + done};
    float* outputs[2] = {out0.data() + done, out1.data() + done};
    const bool inPlace = call % 5 == 3;
    instance.processReplacing(inputs, inPlace ? inputs : outputs, static_cast<std::int32_t>(n));
    if (inPlace) {
      std::memcpy(out0.data() + done, work0.data() + done, n * sizeof(float));
      std::memcpy(out1.data() + done, work1.data() + done, n * sizeof(float));
    }
    done += n;
  }
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    const std::uint32_t want = std::bit_cast<std::uint32_t>(expected[i]);
    for (const std::vector<float>* out : {&out0, &out1}) {
      const std::uint32_t got = std::bit_cast<std::uint32_t>((*out)[i]);
      if (got != want && mismatches++ < 5)
        std::printf("frame %zu: 0x%08" PRIx32 " instead of 0x%08" PRIx32 "\n", i, got, want);
    }
  }
  checkEqual<std::size_t>(mismatches, 0, "output samples that differ from the reference");
  std::printf("processed %zu frames in %zu calls\n", frames, call);
  return out0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s MODULE [EXPECTED_CHECKSUM]\n", argv[0]);
    return 2;
  }
  std::printf("module: %s (%zu-bit host)\n", argv[1], 8 * sizeof(void*));
  std::string error;
  auto module = ModuleLibrary::load(argv[1], error);
  if (module == nullptr) {
    std::printf("FAILED: %s\n", error.c_str());
    return 1;
  }
  std::uint64_t checksum = 0;
  {
    auto instance = EffectInstance::create(*module, error);
    if (instance == nullptr) {
      std::printf("FAILED: %s\n", error.c_str());
      return 1;
    }
    checkRecord(*instance);
    checkTexts(*instance);
    checksum = fnv1a(duck(*instance, makeSignal(65536)));
    checkEqual<std::intptr_t>(instance->close(), 1, "close");
  }
  std::printf("checksum: %016" PRIx64 "\n", checksum);
  if (argc == 3) {
    const std::uint64_t expected = std::strtoull(argv[2], nullptr, 16);
    check(checksum == expected, "checksum differs from the expected " + std::string(argv[2]));
  }
  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
