// The life of instances as a host sees it, through the module file: many
// create/close cycles leave no memory behind, a new instance does not inherit
// anything from one that was closed before it, a live instance is undisturbed
// by others being created, used and closed (on the same or another thread),
// suspend/resume and configuration requests do not reset processing, and the
// module can be loaded and unloaded repeatedly.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TANDREL_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TANDREL_SANITIZER_ALLOCATOR 1
#endif
#if TANDREL_SANITIZER_ALLOCATOR
// From the sanitizer runtime's allocator interface (not every compiler ships
// its header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "allocation_control.hpp"
#include "host/module_host.hpp"
#include "loaded_module_fixture.hpp"
#include "signal_values.hpp"

namespace {

using tandrel::host::EffectInstance;
using tandrel::host::ModuleLibrary;
using tandrel::test::noise;
using tandrel::test::Signal;

// Bytes the program holds from the heap right now. The sanitizers' allocator
// counts a block as free once it is freed, even while it sits in quarantine.
std::size_t liveHeapBytes() {
#if TANDREL_SANITIZER_ALLOCATOR
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

::testing::AssertionResult sameBits(const Signal& actual, const Signal& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i)
    if (std::bit_cast<std::uint32_t>(actual[i]) != std::bit_cast<std::uint32_t>(expected[i]))
      return ::testing::AssertionFailure()
             << "frame " << i << ": " << actual[i] << " instead of " << expected[i];
  return ::testing::AssertionSuccess();
}

// Audio on input 0, control on input 1 (Source 1.0, the initial value).
struct Material {
  Signal audio, control;
};

Material material(std::size_t frames, std::uint32_t seed) {
  Material m{noise(frames, seed, 1.0f), noise(frames, seed + 1, 0.5f)};
  for (std::size_t i = 0; i < frames; ++i)
    if ((i / 700) % 2 == 0) m.control[i] *= 0.05f; // quiet and loud passages
  return m;
}

// Processes frames [begin, begin + count) of the material; returns output 0
// after checking that output 1 is identical.
Signal process(EffectInstance& instance, const Material& m, std::size_t begin, std::size_t count) {
  Signal in0(m.audio.begin() + static_cast<std::ptrdiff_t>(begin),
             m.audio.begin() + static_cast<std::ptrdiff_t>(begin + count));
  Signal in1(m.control.begin() + static_cast<std::ptrdiff_t>(begin),
             m.control.begin() + static_cast<std::ptrdiff_t>(begin + count));
  Signal out0(count), out1(count);
  float* inputs[2] = {in0.data(), in1.data()};
  float* outputs[2] = {out0.data(), out1.data()};
  instance.processReplacing(inputs, outputs, static_cast<std::int32_t>(count));
  EXPECT_TRUE(sameBits(out1, out0));
  return out0;
}

Signal processInChunks(EffectInstance& instance, const Material& m, std::size_t chunk) {
  Signal out;
  for (std::size_t done = 0; done < m.audio.size(); done += chunk) {
    const Signal part = process(instance, m, done, std::min(chunk, m.audio.size() - done));
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

using LifecycleTest = tandrel::test::LoadedModuleFixture;

// Each cycle creates an instance through the entry point, switches it on,
// processes one block, switches it off and closes it. After a warm-up (the
// first cycles may make the allocator and the module settle), ten thousand
// more cycles must leave the heap exactly where it was, and make the same
// number of allocations each.
TEST_F(LifecycleTest, TenThousandCreateCloseCyclesLeaveNoMemoryBehind) {
  float in0[64] = {}, in1[64] = {}, out0[64], out1[64];
  float* inputs[2] = {in0, in1};
  float* outputs[2] = {out0, out1};
  auto cycle = [&] {
    std::string error;
    auto instance = EffectInstance::create(*module_, error);
    ASSERT_NE(instance, nullptr) << error;
    instance->setRecording(false);
    instance->dispatch(12, 0, 1);
    instance->processReplacing(inputs, outputs, 64);
    instance->dispatch(12, 0, 0);
    ASSERT_EQ(instance->close(), 1);
  };
  for (int i = 0; i < 100; ++i)
    cycle();
  const std::size_t bytesBefore = liveHeapBytes();
  const std::size_t allocationsBefore = tandrel::test::allocationCount();
  cycle();
  const std::size_t allocationsPerCycle = tandrel::test::allocationCount() - allocationsBefore;
  for (int i = 1; i < 10000; ++i)
    cycle();
  const std::size_t bytesAfter = liveHeapBytes();
  EXPECT_EQ(tandrel::test::allocationCount() - allocationsBefore, 10000 * allocationsPerCycle);
  EXPECT_GE(allocationsPerCycle, 1u); // the module's object and delay line go through the counted allocator
  // A leak of a single byte per cycle would hold at least 10000 bytes.
  EXPECT_LT(bytesAfter, bytesBefore + 10000) << "heap grew from " << bytesBefore << " to " << bytesAfter;
}

// A fresh instance whose memory may be the memory of one just closed starts
// from silence: its output equals that of the first instance ever made.
TEST_F(LifecycleTest, NewInstanceInheritsNothingFromAClosedOne) {
  const Material quiet = material(2048, 7);
  auto first = create();
  ASSERT_NE(first, nullptr);
  const Signal expected = process(*first, quiet, 0, 2048);
  first->close();

  for (int round = 0; round < 5; ++round) {
    auto loud = create();
    ASSERT_NE(loud, nullptr);
    loud->setParameter(1, 0.0f);
    const Material blast = material(3000, 100 + static_cast<std::uint32_t>(round));
    process(*loud, blast, 0, 3000);
    loud->close();

    auto fresh = create();
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(sameBits(process(*fresh, quiet, 0, 2048), expected)) << "round " << round;
  }
}

// One instance processes a long signal while, between its calls, others are
// created, driven with other parameters and signals, and closed.
TEST_F(LifecycleTest, LiveInstanceUndisturbedByOthersComingAndGoing) {
  const Material m = material(20000, 3);
  auto alone = create();
  ASSERT_NE(alone, nullptr);
  const Signal expected = processInChunks(*alone, m, 20000);

  auto watched = create();
  ASSERT_NE(watched, nullptr);
  std::vector<std::unique_ptr<EffectInstance>> others;
  Signal got;
  for (std::size_t done = 0, step = 0; done < m.audio.size(); ++step) {
    const std::size_t n = std::min<std::size_t>(97 + 61 * (step % 7), m.audio.size() - done);
    const Signal part = process(*watched, m, done, n);
    got.insert(got.end(), part.begin(), part.end());
    done += n;
    if (step % 3 == 0) {
      others.push_back(create());
      others.back()->setParameter(0, 0.0f);
      others.back()->setParameter(1, 1.0f);
      others.back()->dispatch(12, 0, 1);
    }
    if (!others.empty()) process(*others[step % others.size()], material(300, 50 + step), 0, 300);
    if (step % 5 == 4 && !others.empty())
      others.erase(others.begin() + static_cast<std::ptrdiff_t>(step % others.size()));
  }
  EXPECT_TRUE(sameBits(got, expected));
}

// Instances created, used and closed on two threads at once share nothing:
// every one gives the output of an instance used alone. Under the thread
// sanitizer this also shows any unsynchronised state shared inside the module.
TEST_F(LifecycleTest, InstancesOnTwoThreadsAtOnceShareNothing) {
  const Material m = material(1500, 11);
  auto reference = create();
  ASSERT_NE(reference, nullptr);
  reference->setParameter(1, 0.6f);
  const Signal expected = processInChunks(*reference, m, 1500);

  auto worker = [&](int cycles, std::size_t chunk, int& mismatches) {
    for (int i = 0; i < cycles; ++i) {
      std::string error;
      auto instance = EffectInstance::create(*module_, error);
      if (instance == nullptr) {
        ++mismatches;
        continue;
      }
      instance->setRecording(false);
      instance->setParameter(1, 0.6f);
      if (!sameBits(processInChunks(*instance, m, chunk), expected)) ++mismatches;
      instance->close();
    }
  };
  int mismatchesA = 0, mismatchesB = 0;
  std::thread a(worker, 150, 128, std::ref(mismatchesA));
  std::thread b(worker, 150, 333, std::ref(mismatchesB));
  a.join();
  b.join();
  EXPECT_EQ(mismatchesA, 0);
  EXPECT_EQ(mismatchesB, 0);
}

// Nothing resets the processing state: switching processing off and on and
// telling the effect a new sample rate or block size between calls leaves
// the output exactly as without them.
TEST_F(LifecycleTest, SuspendResumeAndConfigurationDoNotResetProcessing) {
  const Material m = material(6000, 21);
  auto plain = create(), interrupted = create();
  ASSERT_TRUE(plain && interrupted);
  const Signal expected = processInChunks(*plain, m, 500);
  Signal got;
  for (std::size_t done = 0; done < m.audio.size(); done += 500) {
    const Signal part = process(*interrupted, m, done, 500);
    got.insert(got.end(), part.begin(), part.end());
    interrupted->dispatch(12, 0, 0);
    interrupted->dispatch(10, 0, 0, nullptr, done % 1000 == 0 ? 96000.0f : 22050.0f);
    interrupted->dispatch(11, 0, static_cast<std::intptr_t>(64 + done % 4096));
    interrupted->dispatch(0);
    interrupted->dispatch(12, 0, 1);
  }
  EXPECT_TRUE(sameBits(got, expected));
}

// The module file can be loaded, used and unloaded again and again; every
// load gives a working effect with the same output.
TEST(ModuleLifecycle, LoadUseUnloadRepeatedly) {
  const Material m = material(1024, 31);
  Signal expected;
  for (int round = 0; round < 20; ++round) {
    std::string error;
    auto module = ModuleLibrary::load(TANDREL_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
    auto instance = EffectInstance::create(*module, error);
    ASSERT_NE(instance, nullptr) << error;
    const Signal out = process(*instance, m, 0, 1024);
    if (round == 0) expected = out;
    EXPECT_TRUE(sameBits(out, expected)) << "round " << round;
    EXPECT_EQ(instance->close(), 1);
  }
}

} // namespace
