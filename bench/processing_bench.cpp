// Benchmarks of the ducker and of the record's entries.
//
//   processing at host blocks of 1 to 16384 frames through the record's
//   process entry (the loaded module's for the fastest kernel, the same
//   objects linked in for the others), with each kernel this processor runs, against a
//   per-frame loop of the same algorithm compiled here (the fastest honest
//   per-frame loop: what a host would get from a plain implementation built
//   into its own code), with the host's buffers reused call after call and
//   streaming through a longer signal; subnormal against normal input; the
//   cost of one dispatcher request and one parameter call through the
//   record; and the memory one instance holds.
//
// Before timing anything, the per-frame loop and every kernel are checked
// to give the same bits. Each benchmark runs several times, interleaved in
// random order, and the ratios printed after the table are of the median
// CPU times of the same run: the machine may be shared, so the ratios mean
// more than the absolute times, and runs still vary.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "effect/ducking_run.hpp"
#include "effect/tandrel_effect.hpp"
#include "frame/entry.hpp"
#include "host/module_host.hpp"

// The module's entry point and createEffect (frame/entry.hpp) are linked
// into this program from the core library.

namespace {

namespace ducking = tandrel::ducking;

// Frames per benchmark iteration, in calls of the host's block size. A host
// hands over the same buffers call after call, so by default the calls reuse
// buffers of one block (which stay in the processor's first- or
// second-level cache); the streaming variant instead walks through a signal
// of this many frames (in the second-level cache), as an offline render of
// large blocks might.
constexpr std::int32_t framesPerIteration = 1 << 14;
constexpr int hostBlocks[] = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 4096, 16384};

// The ducker, frame by frame, written plainly and with its state in locals
// during a call. Its arithmetic is the module's: the gain and the output in
// double precision, the output rounded once to float; at each block end the
// target 1 - Ratio x peak x 4, at least 0, and gain 1 for a Ratio that is not
// a number or is negative and for the products 0 x infinity.
class PerFrameLoop {
public:
  float source = 1.0f;
  float ratio = 0.25f;

  void process(float** inputs, float** outputs, std::int32_t frames) {
    const bool swap = source < 0.5f;
    const float* audio = inputs[swap ? 1 : 0];
    const float* control = inputs[swap ? 0 : 1];
    float* out0 = outputs[0];
    float* out1 = outputs[1];
    std::int32_t read = read_, write = write_, counter = counter_;
    float high = high_, low = low_;
    double start = start_, span = double(target_) - start;
    for (std::int32_t i = 0; i < frames; ++i) {
      const float c = control[i];
      line_[static_cast<std::size_t>(write)] = audio[i];
      const double gain = start + span * double(counter) / 128.0;
      const float y = static_cast<float>(gain * double(line_[static_cast<std::size_t>(read)]));
      out0[i] = y;
      out1[i] = y;
      if (++read == lineLength) read = 0;
      if (++write == lineLength) write = 0;
      if (c > high) high = c;
      if (c < low) low = c;
      if (++counter == 128) {
        const float peak = -low > high ? -low : high;
        start_ = target_;
        const double reduction = ratio > 0.0f && peak > 0.0f ? double(ratio) * double(peak) * 4.0 : 0.0;
        target_ = static_cast<float>(1.0 - reduction);
        if (target_ < 0.0f) target_ = 0.0f;
        start = start_;
        span = double(target_) - start;
        high = low = 0.0f;
        counter = 0;
      }
    }
    read_ = read;
    write_ = write;
    counter_ = counter;
    high_ = high;
    low_ = low;
  }

private:
  static constexpr std::int32_t lineLength = 16384;
  std::array<float, lineLength> line_{};
  std::int32_t read_ = 0, write_ = 256, counter_ = 0;
  float start_ = 0.0f, target_ = 0.0f, high_ = 0.0f, low_ = 0.0f;
};

struct Signals {
  std::vector<float> audio, control, out0, out1;
  // `scale` 1e-40 makes every input sample subnormal.
  explicit Signals(float scale, std::int32_t frames = framesPerIteration)
      : audio(frames), control(frames), out0(frames), out1(frames) {
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (auto& s : audio)
      s = unit(generator) * scale;
    for (auto& s : control)
      s = unit(generator) * scale * 0.3f;
  }
};

// The loaded module, whose instances use the fastest kernel the processor
// runs.
tandrel::host::ModuleLibrary& loadedModule() {
  static std::unique_ptr<tandrel::host::ModuleLibrary> module = [] {
    std::string error;
    auto loaded = tandrel::host::ModuleLibrary::load(TANDREL_MODULE_PATH, error);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    return loaded;
  }();
  return *module;
}

// An instance processing with the kernel named `kernel` ("" for the
// fastest). The fastest comes from the loaded module itself. The module
// offers no way to pick another kernel, so for those the instance is made
// through the same entry point linked into this program (the module's own
// objects: the same record entries, dispatch and kernels) and its kernel is
// picked on the object before any processing.
std::unique_ptr<tandrel::host::EffectInstance> instanceWithKernel(const char* kernel) {
  const bool fastest = kernel[0] == '\0' || std::strcmp(kernel, ducking::bestKernel().name) == 0;
  std::string error;
  auto instance = fastest ? tandrel::host::EffectInstance::create(loadedModule(), error)
                          : tandrel::host::EffectInstance::create(&VSTPluginMain, error);
  if (!instance) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  if (!fastest) {
    auto* effect = dynamic_cast<tandrel::TandrelEffect*>(
        static_cast<tandrel::EffectBase*>(instance->record().owningObject));
    for (std::int32_t k = 0; k < ducking::kernelCount(); ++k)
      if (std::strcmp(kernel, ducking::kernelAt(k).name) == 0 && ducking::kernelRunsHere(k))
        effect->useKernel(ducking::kernelAt(k));
  }
  instance->setRecording(false);
  return instance;
}

// Runs `process(inputs, outputs, frames)` on framesPerIteration frames in
// calls of `block`: through the signals, or on their first block each time.
template <typename Process>
void processInBlocks(Signals& signals, std::int32_t block, bool streaming, Process&& process) {
  const auto length = static_cast<std::int32_t>(signals.audio.size());
  for (std::int32_t done = 0; done < framesPerIteration; done += block) {
    const std::int32_t at = streaming ? done % length : 0;
    const std::int32_t frames = std::min(block, length - at);
    float* inputs[2] = {signals.audio.data() + at, signals.control.data() + at};
    float* outputs[2] = {signals.out0.data() + at, signals.out1.data() + at};
    process(inputs, outputs, frames);
  }
}

// Signals of one block, or of a whole iteration when streaming.
Signals signalsFor(std::int32_t block, bool streaming, float scale = 1.0f) {
  return Signals(scale, streaming ? framesPerIteration : block);
}

void reportFrames(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * framesPerIteration);
}

void perFrameLoop(benchmark::State& state, bool streaming) {
  const auto block = static_cast<std::int32_t>(state.range(0));
  Signals signals = signalsFor(block, streaming);
  PerFrameLoop loop;
  for (auto _ : state) {
    processInBlocks(signals, block, streaming,
                    [&](float** in, float** out, std::int32_t n) { loop.process(in, out, n); });
    benchmark::DoNotOptimize(signals.out0.data());
    benchmark::ClobberMemory();
  }
  reportFrames(state);
}

// Through the loaded module's replacing process entry, as a host calls it.
void moduleProcessing(benchmark::State& state, const char* kernel, bool streaming, float scale) {
  const auto block = static_cast<std::int32_t>(state.range(0));
  Signals signals = signalsFor(block, streaming, scale);
  auto instance = instanceWithKernel(kernel);
  tandrel::EffectRecord* record = &instance->record();
  for (auto _ : state) {
    processInBlocks(signals, block, streaming, [&](float** in, float** out, std::int32_t n) {
      record->replacingProcessEntry(record, in, out, n);
    });
    benchmark::DoNotOptimize(signals.out0.data());
    benchmark::ClobberMemory();
  }
  reportFrames(state);
}

// The per-frame loop and each kernel through the loaded module give the
// same bits over a signal with parameter changes and calls of every size
// the benchmarks use, in place and not. Timing two different computations
// would compare nothing.
bool sameBitsEverywhere() {
  const std::int32_t frames = 200000;
  Signals reference(1.0f, frames);
  std::mt19937 generator(3);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(hostBlocks)) - 1);
  std::uniform_real_distribution<float> unit(0.0f, 1.5f);
  std::vector<std::int32_t> calls;
  for (std::int32_t done = 0; done < frames;) {
    const std::int32_t n = std::min(hostBlocks[pick(generator)] + pick(generator) % 3, frames - done);
    calls.push_back(n);
    done += n;
  }
  std::vector<float> ratios;
  for (std::size_t i = 0; i < calls.size(); ++i)
    ratios.push_back(i % 7 == 0 ? unit(generator) : -1.0f); // -1: unchanged

  auto run = [&](auto&& process, auto&& setRatio, bool inPlace) {
    Signals signals = reference;
    std::int32_t done = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (ratios[i] >= 0.0f) setRatio(ratios[i]);
      float* inputs[2] = {signals.audio.data() + done, signals.control.data() + done};
      float* outputs[2] = {signals.out0.data() + done, signals.out1.data() + done};
      process(inputs, inPlace ? inputs : outputs, calls[i]);
      done += calls[i];
    }
    return inPlace ? signals.audio : signals.out0;
  };
  PerFrameLoop loop;
  const std::vector<float> expected =
      run([&](float** in, float** out, std::int32_t n) { loop.process(in, out, n); },
          [&](float ratio) { loop.ratio = ratio; }, false);
  bool same = true;
  for (int k = 0; k < ducking::kernelCount(); ++k) {
    if (!ducking::kernelRunsHere(k)) continue;
    for (const bool inPlace : {false, true}) {
      auto instance = instanceWithKernel(ducking::kernelAt(k).name);
      tandrel::EffectRecord* record = &instance->record();
      const std::vector<float> actual = run(
          [&](float** in, float** out, std::int32_t n) { record->replacingProcessEntry(record, in, out, n); },
          [&](float ratio) { record->setParameterEntry(record, 1, ratio); }, inPlace);
      if (std::memcmp(actual.data(), expected.data(), expected.size() * sizeof(float)) != 0) {
        std::fprintf(stderr, "kernel %s (%s buffers) does not give the per-frame loop's bits\n",
                     ducking::kernelAt(k).name, inPlace ? "in-place" : "separate");
        same = false;
      }
    }
  }
  return same;
}

void dispatcherRequest(benchmark::State& state) {
  auto instance = instanceWithKernel("");
  tandrel::EffectRecord& record = instance->record();
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
  auto instance = instanceWithKernel("");
  tandrel::EffectRecord& record = instance->record();
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
  state.counters["object bytes"] = static_cast<double>(sizeof(tandrel::TandrelEffect));
}

std::vector<int> kernelsThatRunHere() {
  std::vector<int> indices;
  for (int k = 0; k < ducking::kernelCount(); ++k)
    if (ducking::kernelRunsHere(k)) indices.push_back(k);
  return indices;
}

// Keeps every benchmark's CPU times per iteration, and prints the ratios
// of their medians once the table is done.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const double nanoseconds =
          run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      if (run.run_type == Run::RT_Iteration) times_[run.run_name.str()].push_back(nanoseconds);
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.str()] = nanoseconds;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::string best = ducking::bestKernel().name;
    std::printf("\nSpeed-up over the per-frame loop (median CPU times of this run; runs vary).\n"
                "Host buffers reused call after call:\n");
    std::printf("%-8s%15s", "block", "loop ns/frame");
    for (int k : kernelsThatRunHere())
      std::printf("%9s", ducking::kernelAt(k).name);
    std::printf("%17s%18s\n", "best G frames/s", "subnormal/normal");
    for (int block : hostBlocks) {
      const std::string size = "/" + std::to_string(block);
      const double loop = median("loop" + size);
      std::printf("%-8d%15.3f", block, loop / framesPerIteration);
      for (int k : kernelsThatRunHere())
        std::printf("%8.2fx", loop / median(std::string(ducking::kernelAt(k).name) + size));
      std::printf("%17.2f%17.2fx\n", framesPerIteration / median(best + size),
                  median("subnormal" + size) / median(best + size));
    }
    std::printf("\nStreaming through %d frames:\n%-8s%15s%9s%17s\n", framesPerIteration, "block",
                "loop ns/frame", best.c_str(), "best G frames/s");
    for (int block : hostBlocks) {
      const std::string size = "/" + std::to_string(block);
      const double loop = median("loop streaming" + size), kernel = median(best + " streaming" + size);
      std::printf("%-8d%15.3f%8.2fx%17.2f\n", block, loop / framesPerIteration, loop / kernel,
                  framesPerIteration / kernel);
    }
  }

private:
  // Nanoseconds per iteration: the median of the repetitions.
  double median(const std::string& name) const {
    if (auto found = medians_.find(name); found != medians_.end()) return found->second;
    auto found = times_.find(name);
    if (found == times_.end()) return 0.0;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }
  std::map<std::string, std::vector<double>> times_;
  std::map<std::string, double> medians_;
};

void registerBenchmarks() {
  auto withBlocks = [](benchmark::internal::Benchmark* b) {
    for (int block : hostBlocks)
      b->Arg(block);
    b->Unit(benchmark::kMicrosecond);
  };
  const char* best = ducking::bestKernel().name;
  withBlocks(benchmark::RegisterBenchmark("loop", [](benchmark::State& s) { perFrameLoop(s, false); }));
  for (int k : kernelsThatRunHere()) {
    const char* name = ducking::kernelAt(k).name;
    withBlocks(benchmark::RegisterBenchmark(
        name, [name](benchmark::State& s) { moduleProcessing(s, name, false, 1.0f); }));
  }
  withBlocks(benchmark::RegisterBenchmark(
      "subnormal", [best](benchmark::State& s) { moduleProcessing(s, best, false, 1e-40f); }));
  withBlocks(
      benchmark::RegisterBenchmark("loop streaming", [](benchmark::State& s) { perFrameLoop(s, true); }));
  withBlocks(
      benchmark::RegisterBenchmark((std::string(best) + " streaming").c_str(),
                                   [best](benchmark::State& s) { moduleProcessing(s, best, true, 1.0f); }));
  benchmark::RegisterBenchmark("dispatcher request (opcodes 58 and 3)", dispatcherRequest);
  benchmark::RegisterBenchmark("set and get parameter", parameterSetAndGet);
  benchmark::RegisterBenchmark("memory per instance", memoryPerInstance)->Iterations(10);
}

} // namespace

int main(int argc, char** argv) {
  if (!sameBitsEverywhere()) return 1;
  std::printf("The per-frame loop and every kernel give the same bits.\n");
  // Several interleaved runs of every benchmark unless the command line says
  // otherwise (later flags win).
  std::vector<char*> args{argv[0]};
  char repetitions[] = "--benchmark_repetitions=5";
  char interleaving[] = "--benchmark_enable_random_interleaving=true";
  char minTime[] = "--benchmark_min_time=0.1";
  char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
  args.insert(args.end(), {repetitions, interleaving, minTime, aggregatesOnly});
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  registerBenchmarks();
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
