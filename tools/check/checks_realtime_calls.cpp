// The check of the calls a module makes while it processes: locks, system
// calls that may block and wake-ups of other threads (call_counter.hpp),
// counted on the processing thread only.

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "call_counter.hpp"
#include "checks.hpp"
#include "child_process.hpp"

namespace tandrel::check {

namespace {

using std::chrono::seconds;

// "lock", "system call" or "wake-up", in the order of CallKind.
const char* kindWord(CallKind kind) {
  constexpr const char* words[] = {"lock", "system call", "wake-up"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(words) ? words[index] : "call";
}

// "pthread_mutex_lock (lock) 50 times, first from m.so: Gain::process+0x1c; ..."
std::string describeCalls(const std::vector<CountedCall>& calls) {
  std::string text;
  for (const CountedCall& call : calls) {
    if (!text.empty()) text += "; ";
    text += std::string(call.name) + " (" + kindWord(call.kind) + ") " + std::to_string(call.count) +
            (call.count == 1 ? " time" : " times") + ", first from " + describeCodeAddress(call.firstCaller);
  }
  return text;
}

Outcome checkRealtimeCalls(const CheckContext& context) {
  ModuleUnderCheck host(context);
  auto instance = host.createRunning();
  markStep("pointing the module's imports at the call counter");
  const std::size_t slots = hookImports();
  const int calls = context.quick ? 50 : 400;
  const std::int32_t parameters = instance->record().parameterCount;
  std::mt19937 generator(context.seed);
  const int inputs = instance->record().inputCount;
  const int outputs = instance->record().outputCount;
  Channels in = noise(inputs, typicalCallSize, 59, 0.5f), out = silence(outputs, typicalCallSize);
  std::vector<float*> inPointers, outPointers;
  for (auto& channel : in)
    inPointers.push_back(channel.data());
  for (auto& channel : out)
    outPointers.push_back(channel.data());
  std::vector<CountedCall> total;
  int firstCall = -1;
  for (int call = 0; call < calls; ++call) {
    // Sizes change and parameters move between calls, as in a session.
    const auto size = static_cast<std::int32_t>(1 + (call * 97) % typicalCallSize);
    if (parameters > 0 && call % 8 == 7)
      instance->setParameter(call % parameters, std::uniform_real_distribution<float>(0.0f, 1.0f)(generator));
    markStep("processing call %ld with its calls counted", call);
    countCallsOnThisThread(true);
    instance->processReplacing(inPointers.data(), outPointers.data(), size);
    countCallsOnThisThread(false);
    for (const CountedCall& counted : countedCalls()) {
      if (firstCall < 0) firstCall = call;
      auto same = std::find_if(total.begin(), total.end(),
                               [&](const CountedCall& c) { return std::string(c.name) == counted.name; });
      if (same == total.end()) {
        total.push_back(counted);
      } else {
        same->count += counted.count;
      }
    }
  }
  host.stopAndClose(instance);
  const std::string watched = std::to_string(watchedCallCount()) + " functions watched through " +
                              std::to_string(slots) + " import slots in " + std::to_string(calls) +
                              " processing calls";
  if (total.empty()) return passed("no lock, system call or wake-up: " + watched);
  const bool blocking =
      std::any_of(total.begin(), total.end(), [](const CountedCall& c) { return c.kind != CallKind::wake; });
  const std::string found =
      describeCalls(total) + " (from call " + std::to_string(firstCall) + " on; " + watched + ")";
  return blocking ? failed(found) : warned(found);
}

// The rows of this file's checks, in the order they run.
constexpr CheckDefinition rows[] = {
    {"realtime-calls", "counts locks, system calls and wake-ups on the processing thread", checkRealtimeCalls,
     seconds(30)},
};

} // namespace

constinit const CheckRows realtimeCallChecks = rows;

} // namespace tandrel::check
