// The checks of how a module behaves at run time: allocation while
// processing, parameters from another thread, many instances coming and
// going, and processing cost.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <unistd.h>

#include "allocation_counter.hpp"
#include "call_counter.hpp"
#include "checks.hpp"
#include "child_process.hpp"
#include "host/channel_buffers.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TANDREL_CHECK_SANITIZER_ALLOCATOR 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TANDREL_CHECK_SANITIZER_ALLOCATOR 1
#endif
#endif
#if TANDREL_CHECK_SANITIZER_ALLOCATOR
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tandrel::check {

namespace {

using std::chrono::seconds;

// One processing call's buffers, reused for every call: inputs of noise,
// outputs zeroed.
struct CallBuffers {
  host::ChannelBuffers in, out;
  CallBuffers(int inputs, int outputs, std::size_t frameCount, std::uint32_t seed)
      : in(std::max(inputs, 0), frameCount), out(std::max(outputs, 0), frameCount) {
    const Channels samples = noise(in.channelCount(), frameCount, seed, 0.5f);
    for (int c = 0; c < in.channelCount(); ++c)
      std::copy(samples[static_cast<std::size_t>(c)].begin(), samples[static_cast<std::size_t>(c)].end(),
                in.channel(c));
  }
  void process(Instance& instance) {
    instance.processReplacing(in.pointers(), out.pointers(), static_cast<std::int32_t>(in.frameCount()));
  }
};

CallBuffers buffersFor(Instance& instance, std::size_t frames, std::uint32_t seed) {
  return CallBuffers(instance.record().inputCount, instance.record().outputCount, frames, seed);
}

std::string counted(std::size_t number, const char* noun) {
  return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

// Allocations counted over the processing calls of one kind.
struct AllocationTally {
  std::size_t allocations = 0, releases = 0;
  int calls = 0;      // calls of this kind
  int firstCall = -1; // the first that allocated or released, or -1
  void add(const AllocationCounts& counts, int call) {
    ++calls;
    if (firstCall < 0 && counts.allocations + counts.releases > 0) firstCall = call;
    allocations += counts.allocations;
    releases += counts.releases;
  }
  bool any() const { return allocations + releases > 0; }
  std::string text(const char* kind) const {
    std::string line = std::string(kind) + ": " + counted(allocations, "allocation") + " and " +
                       counted(releases, "release") + " in " +
                       counted(static_cast<std::size_t>(calls), "call");
    if (firstCall >= 0) line += ", the first in call " + std::to_string(firstCall);
    return line;
  }
};

// Counts on the processing thread only, by kind of call: the first (where a
// module may set up late), the first after a parameter change (where it may
// rebuild tables), and the rest, the steady state a host depends on.
Outcome checkAllocation(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  const int calls = context.quick ? 50 : 400;
  const std::int32_t parameters = instance->record().parameterCount;
  std::mt19937 generator(3);
  AllocationTally first, afterChange, steady;
  std::vector<const void*> steadyStack; // of the first allocation in steady state
  bool changed = false;
  for (int call = 0; call < calls; ++call) {
    // Sizes change and parameters move between calls, as in a real session.
    CallBuffers buffers = buffersFor(*instance, static_cast<std::size_t>(1 + (call * 97) % typicalCallSize),
                                     static_cast<std::uint32_t>(call));
    if (parameters > 0 && call % 8 == 7) {
      instance->setParameter(call % parameters, std::uniform_real_distribution<float>(0.0f, 1.0f)(generator));
      changed = true;
    }
    markStep("processing call %ld", call);
    {
      const AllocationCounting counting;
      buffers.process(*instance);
    }
    AllocationTally& kind = call == 0 ? first : changed ? afterChange : steady;
    const AllocationCounts counts = allocationCounts();
    kind.add(counts, call);
    if (&kind == &steady && counts.allocations > 0 && steadyStack.empty())
      steadyStack = firstAllocationStack();
    changed = false;
  }
  host.stopAndClose(instance);
  const std::string counted = steady.text("steady state") + "; " + first.text("first call") + "; " +
                              afterChange.text("after a parameter change");
  const std::string where = describeModuleStack(steadyStack);
  if (steady.any()) return failed(counted + (where.empty() ? "" : "; the first steady one from " + where));
  if (first.any() || afterChange.any()) return warned(counted);
  return passed("0 allocations and 0 releases on the processing thread in " + std::to_string(calls) +
                " processing calls (the first, " + std::to_string(afterChange.calls) +
                " after a parameter change, the rest steady)");
}

Outcome checkThreads(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  const std::int32_t parameters = instance->record().parameterCount;
  if (parameters <= 0) {
    host.stopAndClose(instance);
    return passed("no parameters to set from another thread");
  }
  std::atomic<bool> stop{false};
  std::atomic<long> changes{0};
  Instance& shared = *instance;
  std::thread setter([&] {
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (long i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      const auto index = static_cast<std::int32_t>(i % parameters);
      shared.setParameter(index, value(generator));
      shared.getParameter(index);
      changes.fetch_add(1, std::memory_order_relaxed);
    }
  });
  // Processing goes on until the other thread has made enough changes, so
  // that the two overlap whatever the machine's scheduling.
  const long wantedChanges = context.quick ? 2000 : 20000;
  const std::size_t length = frames(context, 48000);
  const Channels input = programme(instance->record().inputCount, length, 19);
  long calls = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const long changesBefore = changes.load();
  do {
    render(*instance, input, fixedCalls(typicalCallSize), false, length);
    calls += static_cast<long>(length / typicalCallSize);
  } while (changes.load() - changesBefore < wantedChanges && std::chrono::steady_clock::now() < deadline);
  const long changesDuring = changes.load() - changesBefore;
  stop.store(true);
  setter.join();
  host.stopAndClose(instance);
  return passed(std::to_string(changesDuring) + " parameter changes from a second thread during " +
                std::to_string(calls) + " processing calls: no crash");
}

// Memory the process holds: resident pages, or under a sanitizer the bytes
// its allocator hands out (its quarantine keeps released memory resident).
std::size_t memoryInUse() {
#if TANDREL_CHECK_SANITIZER_ALLOCATOR
  return __sanitizer_get_current_allocated_bytes();
#else
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

constexpr std::size_t allowedGrowthBytes = 2 << 20;

void oneLife(ModuleUnderCheck& host, CallBuffers& buffers) {
  auto instance = host.createRunning();
  markStep("processing in a short-lived instance");
  buffers.process(*instance);
  host.stopAndClose(instance);
}

Outcome checkLifecycle(const CheckContext& context) {
  ModuleUnderCheck host(context);
  const int cycles = context.quick ? 100 : 1000;
  auto probe = host.create();
  CallBuffers buffers = buffersFor(*probe, typicalCallSize, 29);
  host.stopAndClose(probe);
  // The first lives may fill caches of the module, the allocator and the loader.
  for (int i = 0; i < 20; ++i)
    oneLife(host, buffers);
  const std::size_t before = memoryInUse();
  for (int i = 0; i < cycles; ++i)
    oneLife(host, buffers);
  const std::size_t after = memoryInUse();
  const long growth = static_cast<long>(after) - static_cast<long>(before);
  const std::string counted = std::to_string(cycles) +
                              " create, process and close cycles; memory in use grew by " +
                              std::to_string(growth / 1024) + " kB";
  if (growth > static_cast<long>(allowedGrowthBytes))
    return failed(counted + ", more than " + std::to_string(allowedGrowthBytes >> 20) + " MB");
  return passed(counted);
}

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

Outcome checkSpeed(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  CallBuffers buffers = buffersFor(*instance, typicalCallSize, 31);
  for (int i = 0; i < 20; ++i)
    buffers.process(*instance); // warm caches and lazy set-up
  const double budget = context.quick ? 0.1 : 1.0;
  markStep("measuring processing cost");
  const double start = processCpuSeconds();
  long calls = 0;
  double used = 0.0;
  do {
    for (int i = 0; i < 16; ++i)
      buffers.process(*instance);
    calls += 16;
    used = processCpuSeconds() - start;
  } while (used < budget);
  host.stopAndClose(instance);
  const double audioSeconds = static_cast<double>(calls) * typicalCallSize / checkSampleRate;
  char text[160];
  std::snprintf(text, sizeof text, "%.0fx real time (%.3g %% of a core) at 512-frame calls and 48 kHz",
                audioSeconds / used, 100.0 * used / audioSeconds);
  return passed(text);
}

// The rows of this file's checks, in the order they run.
constexpr CheckDefinition rows[] = {
    {"allocation", "counts memory allocations and releases on the processing thread while it processes",
     checkAllocation, seconds(30)},
    {"threads", "a second thread sets and reads parameters while processing runs", checkThreads},
    {"lifecycle", "many create, process and close cycles: no crash, no memory growth", checkLifecycle,
     seconds(180)},
    {"speed", "processing cost at 512-frame calls and 48 kHz (a report, never a failure)", checkSpeed,
     seconds(30)},
};

} // namespace

constinit const CheckRows runtimeChecks = rows;

} // namespace tandrel::check
