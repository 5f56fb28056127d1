// Benchmarks of the ducker and of the record's entries.
//
//   processing throughput at host blocks of 1 to 16384 frames, for the
//   per-frame reference and for each kernel this processor runs, with the
//   ratio to the reference; subnormal against normal input; the cost of one
//   dispatcher request and one parameter call through the loaded module's
//   record; and the memory one instance holds.
//
// Ratios are printed after the benchmark table, from the same run.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "effect/tandrel_effect.hpp"
#include "host/module_host.hpp"
#include "reference_ducker.hpp"

namespace tandrel {
EffectBase* createEffect(HostCallback callback);
}

namespace {

using tandrel::TandrelEffect;
namespace ducking = tandrel::ducking;

constexpr std::int64_t framesPerIteration = 1 << 16;
constexpr int hostBlocks[] = {1, 32, 64, 128, 512, 1024, 4096, 16384};

struct Signals {
  std::vector<float> audio, control, out0, out1;
  Signals(float scale)
      : audio(framesPerIteration), control(framesPerIteration), out0(framesPerIteration),
        out1(framesPerIteration) {
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (auto& s : audio)
      s = unit(generator) * scale;
    for (auto& s : control)
      s = unit(generator) * scale * 0.3f;
  }
};

void reportFrames(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * framesPerIteration);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(framesPerIteration),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void referenceThroughput(benchmark::State& state) {
  const int block = static_cast<int>(state.range(0));
  Signals signals(1.0f);
  tandrel::test::ReferenceDucker reference;
  for (auto _ : state) {
    for (std::int64_t done = 0; done < framesPerIteration; done += block)
      reference.process(signals.audio.data() + done, signals.control.data() + done,
                        signals.out0.data() + done, block);
    benchmark::DoNotOptimize(signals.out0.data());
  }
  reportFrames(state);
}

// Processes through the effect's own entry point with kernel `kernel`;
// `scale` 1e-40 makes every input sample subnormal.
void kernelThroughput(benchmark::State& state, int kernel, float scale) {
  const int block = static_cast<int>(state.range(0));
  Signals signals(scale);
  TandrelEffect effect{nullptr};
  effect.useKernel(ducking::kernelAt(kernel));
  for (auto _ : state) {
    for (std::int64_t done = 0; done < framesPerIteration; done += block) {
      float* inputs[2] = {signals.audio.data() + done, signals.control.data() + done};
      float* outputs[2] = {signals.out0.data() + done, signals.out1.data() + done};
      effect.processAudio(inputs, outputs, block);
    }
    benchmark::DoNotOptimize(signals.out0.data());
  }
  reportFrames(state);
}

// The loaded module, shared by the entry benchmarks.
tandrel::host::Instance& loadedInstance() {
  static std::unique_ptr<tandrel::host::Module> module;
  static std::unique_ptr<tandrel::host::Instance> instance;
  if (!instance) {
    std::string error;
    module = tandrel::host::Module::load(TANDREL_MODULE_PATH, error);
    if (!module) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    instance = tandrel::host::Instance::create(*module, error);
    instance->setRecording(false);
  }
  return *instance;
}

void dispatcherRequest(benchmark::State& state) {
  tandrel::EffectRecord& record = loadedInstance().record();
  for (auto _ : state) {
    benchmark::DoNotOptimize(record.dispatcherEntry(&record, 58, 0, 0, nullptr, 0.0f)); // interface version
    benchmark::DoNotOptimize(record.dispatcherEntry(&record, 3, 0, 0, nullptr, 0.0f));  // current program
  }
  state.SetItemsProcessed(state.iterations() * 2);
  state.counters["ns/request"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void parameterSetAndGet(benchmark::State& state) {
  tandrel::EffectRecord& record = loadedInstance().record();
  float value = 0.25f;
  for (auto _ : state) {
    record.setParameterEntry(&record, 1, value);
    value = record.getParameterEntry(&record, 1);
    benchmark::DoNotOptimize(value);
  }
  state.counters["ns/pair"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void memoryPerInstance(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    tandrel::EffectBase* effect = tandrel::createEffect(nullptr);
    bytes = mallinfo2().uordblks - before;
    delete effect;
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["object bytes"] = static_cast<double>(sizeof(TandrelEffect));
}

// Keeps every benchmark's time per iteration, and prints the ratios the
// targets are stated in once the table is done.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nSpeed-up over the per-frame reference (same frames, same run):\n");
    std::printf("%-10s", "block");
    for (int k = 0; k < ducking::kernelCount(); ++k)
      if (ducking::kernelRunsHere(k)) std::printf("%10s", ducking::kernelAt(k).name);
    std::printf("%18s\n", "subnormal/normal");
    for (int block : hostBlocks) {
      const double reference = time("reference/" + std::to_string(block));
      std::printf("%-10d", block);
      for (int k = 0; k < ducking::kernelCount(); ++k)
        if (ducking::kernelRunsHere(k))
          std::printf("%9.2fx",
                      reference / time(std::string(ducking::kernelAt(k).name) + "/" + std::to_string(block)));
      std::printf("%17.2fx\n",
                  time("subnormal/" + std::to_string(block)) / time("normal/" + std::to_string(block)));
    }
  }

private:
  double time(const std::string& name) const {
    auto found = times_.find(name);
    return found == times_.end() ? 0.0 : found->second;
  }
  std::map<std::string, double> times_;
};

void registerBenchmarks() {
  auto withBlocks = [](benchmark::internal::Benchmark* b) {
    for (int block : hostBlocks)
      b->Arg(block);
  };
  withBlocks(benchmark::RegisterBenchmark("reference", referenceThroughput));
  for (int k = 0; k < ducking::kernelCount(); ++k) {
    if (!ducking::kernelRunsHere(k)) continue;
    withBlocks(benchmark::RegisterBenchmark(ducking::kernelAt(k).name,
                                            [k](benchmark::State& s) { kernelThroughput(s, k, 1.0f); }));
  }
  const int best = [] {
    for (int k = ducking::kernelCount() - 1; k > 0; --k)
      if (&ducking::kernelAt(k) == &ducking::bestKernel()) return k;
    return 0;
  }();
  withBlocks(benchmark::RegisterBenchmark("normal",
                                          [best](benchmark::State& s) { kernelThroughput(s, best, 1.0f); }));
  withBlocks(benchmark::RegisterBenchmark(
      "subnormal", [best](benchmark::State& s) { kernelThroughput(s, best, 1e-40f); }));
  benchmark::RegisterBenchmark("dispatcher request (opcodes 58 and 3)", dispatcherRequest);
  benchmark::RegisterBenchmark("set and get parameter", parameterSetAndGet);
  benchmark::RegisterBenchmark("memory per instance", memoryPerInstance)->Iterations(10);
}

} // namespace

int main(int argc, char** argv) {
  registerBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
