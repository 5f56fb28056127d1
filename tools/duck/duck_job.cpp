#include "duck_job.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/delivery_writer.hpp"
#include "common/interrupt.hpp"
#include "common/job_outputs.hpp"
#include "common/loaded_effect.hpp"
#include "common/option_declaration.hpp"
#include "common/progress.hpp"
#include "common/render_engine.hpp"
#include "common/resampler.hpp"
#include "common/write_advice.hpp"
#include "duck_annotations.hpp"
#include "duck_delivery.hpp"
#include "duck_mix.hpp"
#include "duck_sources.hpp"
#include "effect/depth_law.hpp"
#include "effect/tandrel_vocabulary.hpp"

namespace tandrel::cli {

namespace {

// Frames read, processed and written at a time: a whole number of the
// module's 128-frame blocks, and the size of each call into the module.
// The module's output does not depend on how a job is cut into calls, and
// the files and the resampler work best in large pieces.
constexpr std::int64_t chunkFrames = 65536;

// Source at 1 ("L-R"): each instance reads its music channel as the audio
// and the presence envelope as the control.
constexpr float sourceAudioFirst = 1.0f;
constexpr int audioInput = product::audioInput(sourceAudioFirst);
constexpr int controlInput = product::controlInput(sourceAudioFirst);

// Channels of one chunk, one array each.
struct Planar {
  Planar(int channels, std::int64_t frames)
      : samples(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames))),
        pointers(samples.size()) {
    for (std::size_t c = 0; c < samples.size(); ++c)
      pointers[c] = samples[c].data();
  }
  std::vector<std::vector<float>> samples;
  std::vector<float*> pointers;
};

// One Tandrel instance per music channel, prepared, set to the depth and
// processing; switched off and closed when destroyed.
class DuckingInstances {
public:
  DuckingInstances(const std::string& modulePath, int channels, double sampleRate, double ratio) {
    for (int c = 0; c < channels; ++c) {
      effects_.push_back(LoadedEffect::load(modulePath));
      LoadedEffect& effect = *effects_.back();
      if (c == 0) checkIsTandrel(effect);
      effect.prepare(sampleRate, static_cast<int>(chunkFrames));
      effect.setParameter(product::parameter::source, sourceAudioFirst);
      effect.setParameter(product::parameter::ratio, static_cast<float>(ratio));
    }
    for (const auto& effect : effects_)
      effect->startProcessing();
    // The module settles its delay once processing is on.
    latency_ = std::max(0, effects_.front()->initialDelay());
  }
  ~DuckingInstances() {
    for (const auto& effect : effects_)
      effect->stopProcessing();
  }
  DuckingInstances(const DuckingInstances&) = delete;
  DuckingInstances& operator=(const DuckingInstances&) = delete;

  int latency() const { return latency_; }

  // Ducks `count` frames of channel c under `presence` into `out`.
  void process(int c, float* music, float* presence, float* out, float* spare, std::int64_t count) {
    float* inputs[2];
    inputs[audioInput] = music;
    inputs[controlInput] = presence;
    float* outputs[2] = {out, spare};
    effects_[static_cast<std::size_t>(c)]->process(inputs, outputs, static_cast<int>(count));
  }

private:
  static void checkIsTandrel(LoadedEffect& effect) {
    if (effect.uniqueIdentifier() == product::uniqueIdentifier && effect.inputCount() == 2 &&
        effect.outputCount() >= 1)
      return;
    std::string name = effect.effectName();
    throw CliError("module '" + effect.modulePath() + "' is not Tandrel" +
                   (name.empty() ? std::string() : " (it is '" + name + "')") +
                   "; duck shapes Tandrel's control signal, so give tandrel.so or leave out --module");
  }

  std::vector<std::unique_ptr<LoadedEffect>> effects_;
  int latency_ = 0;
};

// One voice from its file to the music's rate: non-finite samples replaced,
// a channel picked or the channels averaged, resampled.
class VoiceChain {
public:
  // At `sampleRate`, or at the file's own rate when it is 0.
  VoiceChain(const VoiceInput& input, double sampleRate)
      : file_(input.open()), finite_(*file_), picked_(pick(input.channel)),
        mono_(picked_ ? static_cast<FrameSource&>(*picked_) : finite_,
              sampleRate > 0.0 ? sampleRate : file_->sampleRate()) {}
  FrameSource& file() { return *file_; }
  const FiniteSource& finite() const { return finite_; }
  MonoResampledSource& mono() { return mono_; }

private:
  std::unique_ptr<ChannelSource> pick(int channel) {
    if (channel <= 0) return nullptr;
    if (channel > file_->channelCount())
      throw UsageError("--voice-channel " + std::to_string(channel) + " is beyond the voice's " +
                       std::to_string(file_->channelCount()) + " channels; give 1 to " +
                       std::to_string(file_->channelCount()) + ", or 0 for their average");
    return std::make_unique<ChannelSource>(finite_, channel - 1);
  }

  std::unique_ptr<FrameSource> file_;
  FiniteSource finite_;
  std::unique_ptr<ChannelSource> picked_;
  MonoResampledSource mono_;
};

// The first pass over a voice: its speech level and noise floor in the
// voice band, and the threshold taken from them unless one is given.
void measureVoice(const VoiceInput& input, const DuckShape& shape, VoiceReport& report) {
  if (input.reopenable) {
    // At the voice's own rate: the levels are the same, without the cost
    // of resampling twice.
    VoiceChain chain(input, 0.0);
    SpeechLevelMeter meter(chain.mono().sampleRate());
    std::vector<float> samples(static_cast<std::size_t>(chunkFrames));
    float* pointer = samples.data();
    for (std::int64_t done = 0; done < chain.mono().frameCount(); done += chunkFrames) {
      throwIfInterrupted();
      const std::int64_t count = std::min(chunkFrames, chain.mono().frameCount() - done);
      chain.mono().read(&pointer, count);
      meter.process(samples.data(), count);
    }
    if (meter.heard()) {
      report.speechLevelDbfs = meter.speechLevelDbfs();
      report.noiseFloorDbfs = meter.noiseFloorDbfs();
    }
  }
  if (shape.thresholdDbfs) {
    report.thresholdDbfs = *shape.thresholdDbfs;
    return;
  }
  if (!input.reopenable)
    throw UsageError("the voice " + input.name +
                     " is a stream, which cannot be measured before the job; give --threshold DBFS");
  report.thresholdMeasured = true;
  if (!report.speechLevelDbfs) {
    report.thresholdDbfs = lowestDefaultThresholdDbfs;
    return;
  }
  const double speech = *report.speechLevelDbfs;
  double threshold = speech - thresholdBelowSpeechDb;
  if (*report.noiseFloorDbfs + thresholdAboveFloorDb > threshold)
    threshold = std::min(*report.noiseFloorDbfs + thresholdAboveFloorDb, speech - thresholdAboveFloorDb);
  report.thresholdDbfs = std::clamp(threshold, lowestDefaultThresholdDbfs, 0.0);
}

// A voice's stream through the job: its chain, its presence and the delays
// that keep it in time.
struct VoiceStream {
  VoiceStream(const VoiceInput& input, double sampleRate, const PresenceSettings& presence, int moduleLatency)
      : chain(input, sampleRate), envelope(presence, sampleRate), aligned(envelope.latency()),
        forMix(moduleLatency), gain(static_cast<float>(decibelsToFactor(input.gainDb))),
        ahead(static_cast<std::size_t>(chunkFrames)), now(static_cast<std::size_t>(chunkFrames)),
        presence(static_cast<std::size_t>(chunkFrames)), mixed(static_cast<std::size_t>(chunkFrames)) {}

  // Reads the next `count` frames: the envelope and the voice in time with
  // it.
  void readAhead(std::int64_t count) {
    float* pointer = ahead.data();
    chain.mono().read(&pointer, count);
    envelope.process(ahead.data(), presence.data(), count);
    aligned.process(ahead.data(), now.data(), count);
  }

  VoiceChain chain;
  PresenceEnvelope envelope;
  SampleDelay aligned; // the voice in time with the envelope and the music
  SampleDelay forMix;  // the voice in time with the ducked music
  float gain;
  std::vector<float> ahead;
  std::vector<float> now;
  std::vector<float> presence;
  std::vector<float> mixed;
};

// The streams of one job and the state that carries from chunk to chunk.
class DuckPipeline : public ChunkProcessor {
public:
  DuckPipeline(FrameSource& music, std::vector<std::unique_ptr<VoiceStream>>& voices, const DuckShape& shape,
               DuckingInstances& effects, std::int64_t length)
      : music_(music), voices_(voices), effects_(effects), channels_(music.channelCount()), length_(length),
        musicGain_(static_cast<float>(decibelsToFactor(shape.musicGainDb))), mix_(shape.mix),
        musicIn_(channels_, chunkFrames), ducked_(channels_, chunkFrames),
        inputs_(static_cast<std::size_t>(channels_) + 1), voiceHeard_(chunkFrames), presence_(chunkFrames),
        spare_(chunkFrames), logs_(voices.size()),
        present_(voices.size(), voices.front()->envelope.windowFrames(), length) {
    for (int c = 0; c < channels_; ++c)
      inputs_[static_cast<std::size_t>(c)] = musicIn_.pointers[static_cast<std::size_t>(c)];
    inputs_.back() = voiceHeard_.data();
  }

  // The voices run ahead of the music by the envelope's latency, so that
  // the envelope of frame t comes out with music frame t: the envelope's
  // rise ends where a voice begins, and the module's own look-ahead then
  // lowers the gain from the start of the 128-frame block before, so the
  // gain is at the depth when the voice starts.
  void prime() {
    const std::int64_t latency = voices_.front()->envelope.latency();
    for (std::int64_t done = 0; done < latency; done += chunkFrames)
      for (auto& voice : voices_)
        voice->readAhead(std::min(chunkFrames, latency - done));
  }

  // What is noted beside the audio, when asked for.
  void noteGainsIn(GainTable* table) { gainTable_ = table; }
  void noteStretchesIn(LabelTrack* track) { labelTrack_ = track; }

  // Processes frames [first, first + count) of the effects' time line.
  ChunkView process(std::int64_t first, std::int64_t count) override {
    music_.read(musicIn_.pointers.data(), count);
    for (float* channel : musicIn_.pointers)
      applyGain(channel, count, musicGain_);
    readVoices(count);
    noteWindows(first, count);
    for (int c = 0; c < channels_; ++c)
      effects_.process(c, musicIn_.pointers[static_cast<std::size_t>(c)], presence_.data(),
                       ducked_.pointers[static_cast<std::size_t>(c)], spare_.data(), count);
    countFullyDucked(first, count);
    return {first, count, inputs_.data(), channels_ + 1, ducked_.pointers.data(), channels_};
  }

  // The module's delay: output frames before it are dropped, and the
  // voices are delayed by as much to stay in time with the ducked music;
  // the kept frames get the voices, and a sample an overflow made not
  // finite becomes silence.
  void beforeWrite(const ChunkView& chunk, std::int64_t keepFrom) override {
    for (auto& voice : voices_)
      voice->forMix.process(voice->now.data(), voice->mixed.data(), chunk.count);
    const std::int64_t kept = chunk.count - keepFrom;
    if (kept == 0) return;
    for (float* channel : ducked_.pointers) {
      if (mix_)
        for (auto& voice : voices_)
          addScaled(channel + keepFrom, voice->mixed.data() + keepFrom, kept, voice->gain);
      silenceNonFinite(channel + keepFrom, kept);
    }
  }

  std::int64_t fullyDuckedFrames() const { return fullyDucked_; }
  const PresenceCount& present() const { return present_; }

private:
  // Every voice's next frames; the presence is the largest of theirs, and
  // the voice heard (for the picture) their sum.
  void readVoices(std::int64_t count) {
    for (std::size_t v = 0; v < voices_.size(); ++v) {
      VoiceStream& voice = *voices_[v];
      voice.readAhead(count);
      if (v == 0) {
        std::copy_n(voice.presence.begin(), count, presence_.begin());
        std::copy_n(voice.now.begin(), count, voiceHeard_.begin());
        continue;
      }
      for (std::int64_t i = 0; i < count; ++i)
        presence_[static_cast<std::size_t>(i)] =
            std::max(presence_[static_cast<std::size_t>(i)], voice.presence[static_cast<std::size_t>(i)]);
      addScaled(voiceHeard_.data(), voice.now.data(), count, 1.0f);
    }
  }

  void noteWindows(std::int64_t first, std::int64_t count) {
    if (gainTable_ != nullptr) gainTable_->add(presence_.data(), first, count);
    for (std::size_t v = 0; v < voices_.size(); ++v)
      voices_[v]->envelope.takeLog(logs_[v]);
    present_.add(logs_);
    if (labelTrack_ != nullptr)
      for (std::size_t v = 0; v < voices_.size(); ++v)
        labelTrack_->add(v, logs_[v]);
  }

  void countFullyDucked(std::int64_t first, std::int64_t count) {
    const std::int64_t inside = std::clamp<std::int64_t>(length_ - first, 0, count);
    fullyDucked_ += std::count(presence_.begin(), presence_.begin() + inside, 1.0f);
  }

  FrameSource& music_;
  std::vector<std::unique_ptr<VoiceStream>>& voices_;
  DuckingInstances& effects_;
  int channels_;
  std::int64_t length_;
  float musicGain_;
  bool mix_;
  Planar musicIn_;
  Planar ducked_;
  std::vector<const float*> inputs_; // the music channels and the voices, as the picture sees them
  std::vector<float> voiceHeard_;
  std::vector<float> presence_;
  std::vector<float> spare_;
  std::int64_t fullyDucked_ = 0;
  std::vector<PresenceEnvelope::WindowLog> logs_;
  PresenceCount present_;
  GainTable* gainTable_ = nullptr;
  LabelTrack* labelTrack_ = nullptr;
};

// Runs `write` (the processing passes); a failure that the system explains
// (a full disk, a quota, a device error) gets what to do added to its
// message. The commit adds its own (JobOutputs), for the file that failed.
void withWriteAdvice(const std::string& outputPath, const std::function<void()>& write) {
  errno = 0;
  try {
    write();
  } catch (const CliError& error) {
    const std::string advice = writeAdvice(errno, outputPath, "the output");
    if (advice.empty()) throw;
    throw CliError(error.what() + advice);
  }
}

BadSamples badSamplesOf(const std::string& name, const FiniteSource& source) {
  return {name, source.replaced(), source.firstFrame(), source.firstChannel(), source.sampleRate()};
}

// The files beside the audio that the job was asked for.
struct Annotations {
  std::optional<GainTable> gains;
  std::optional<LabelTrack> labels;

  void close() {
    if (gains) gains->close();
    if (labels) labels->close();
  }
};

std::vector<std::string> voiceLabels(const std::vector<VoiceInput>& voices) {
  std::vector<std::string> labels;
  for (const VoiceInput& voice : voices)
    labels.push_back(voice.label.empty() ? "voice" : voice.label);
  return labels;
}

// Both frames go to both sinks.
class BothSinks : public FrameSink {
public:
  BothSinks(FrameSink& first, FrameSink& second) : first_(first), second_(second) {}
  void write(const float* const* channels, int channelCount, std::int64_t count) override {
    first_.write(channels, channelCount, count);
    second_.write(channels, channelCount, count);
  }

private:
  FrameSink& first_;
  FrameSink& second_;
};

bool setsLoudness(const DuckJob& job) { return job.loudnessLufs || job.truePeakDbtp; }

// The written file's true peak: the mix's times the gain, the oversampling
// being linear, and at least the largest sample written. The dither moves
// it by at most a few steps of the bit depth (chooseLoudnessGain leaves
// room for them); measuring it again would cost another oversampling of
// the whole output.
double writtenTruePeak(const LoudnessReport& loudness, const DeliveryWriter& writer) {
  const double scaled = loudness.mix.truePeak * std::pow(10.0, loudness.gainDb / 20.0);
  return std::max(scaled, static_cast<double>(writer.writtenPeak()));
}

// The passes from the pipeline to the written file: one straight into the
// writer, or, to set the loudness, one into a measured spill and one from
// it through the gain into the writer, which is measured again.
void runPasses(DuckPipeline& pipeline, const ChunkPlan& plan, const std::vector<RenderObserver*>& observers,
               PendingFile& output, const DuckJob& job, DuckReport& report) {
  if (!setsLoudness(job)) {
    DeliveryWriter writer(output, report.channels, report.sampleRate, job.bits);
    runChunks(pipeline, plan, writer, observers);
    writer.close();
    report.mixPeak = writer.givenPeak();
    report.outputPeak = writer.writtenPeak();
    report.clips = !writer.keepsPeaks();
    return;
  }
  SpillFile spill(job.outputPath, report.channels, report.sampleRate);
  LoudnessFigures mix;
  {
    LoudnessMeter meter(report.channels, report.sampleRate, {false, true});
    BothSinks sinks(spill, meter);
    runChunks(pipeline, plan, sinks, observers);
    mix = meter.figures();
  }
  report.loudness =
      chooseLoudnessGain(mix, job.loudnessLufs, job.truePeakDbtp.value_or(defaultTruePeakDbtp), job.bits);
  DeliveryWriter writer(output, report.channels, report.sampleRate, job.bits);
  LoudnessMeter written(report.channels, report.sampleRate, {true, false});
  writer.setTap(&written);
  deliverWithGain(spill, report.loudness->gainDb, writer, job.showProgress);
  writer.close();
  report.loudness->written = written.figures();
  report.loudness->written.truePeak = writtenTruePeak(*report.loudness, writer);
  report.mixPeak = writer.givenPeak();
  report.outputPeak = writer.writtenPeak();
  report.clips = !writer.keepsPeaks();
}

} // namespace

DuckReport runDuckJob(FrameSource& musicFile, std::vector<VoiceInput>& voiceInputs, const DuckJob& job) {
  // Every target is checked and reserved first, so an unwritable path
  // fails before any processing.
  checkDelivery(job.outputPath, job.bits);
  if (!job.plotPath.empty()) checkPlotPath(job.plotPath);
  if (voiceInputs.empty()) throw UsageError("duck needs a voice; give --voice FILE");
  if (musicFile.frameCount() <= 0)
    throw CliError("the music " + job.musicName + " has no frames; give a music file with audio in it");
  JobOutputs files(job.outputPath, job.plotPath);

  DuckReport report;
  report.sampleRate = musicFile.sampleRate();
  report.channels = musicFile.channelCount();
  report.musicFrames = musicFile.frameCount();
  report.ratio = product::ratioForDepth(job.shape.depthDb);
  report.delivery = describeDelivery(job.outputPath, job.bits);
  FiniteSource music(musicFile);

  for (const VoiceInput& input : voiceInputs) {
    VoiceReport voice;
    voice.name = input.name;
    voice.channel = input.channel;
    voice.gainDb = input.gainDb;
    measureVoice(input, job.shape, voice);
    report.voices.push_back(voice);
  }

  DuckingInstances effects(job.modulePath, report.channels, report.sampleRate, report.ratio);
  report.latency = effects.latency();
  std::vector<std::unique_ptr<VoiceStream>> voices;
  report.outputFrames = report.musicFrames;
  for (std::size_t v = 0; v < voiceInputs.size(); ++v) {
    PresenceSettings presence = job.shape.presence;
    presence.thresholdDbfs = report.voices[v].thresholdDbfs;
    voices.push_back(
        std::make_unique<VoiceStream>(voiceInputs[v], report.sampleRate, presence, report.latency));
    VoiceReport& voice = report.voices[v];
    voice.channels = voices.back()->chain.file().channelCount();
    voice.sampleRate = voices.back()->chain.file().sampleRate();
    voice.frames = voices.back()->chain.mono().frameCount();
    report.outputFrames = std::max(report.outputFrames, voice.frames);
  }
  DuckPipeline pipeline(music, voices, job.shape, effects, report.outputFrames);
  Annotations annotations;
  if (!job.envelopePath.empty()) {
    annotations.gains.emplace(job.envelopePath, report.sampleRate, static_cast<float>(report.ratio),
                              report.outputFrames);
    pipeline.noteGainsIn(&*annotations.gains);
    files.commitWithAudio(annotations.gains->pending());
  }
  if (!job.labelsPath.empty()) {
    annotations.labels.emplace(job.labelsPath, voiceLabels(voiceInputs), report.sampleRate,
                               voices.front()->envelope.windowFrames(), report.outputFrames);
    pipeline.noteStretchesIn(&*annotations.labels);
    files.commitWithAudio(annotations.labels->pending());
  }

  SignalRoles roles;
  for (int c = 0; c < report.channels; ++c)
    roles.audioInputs.push_back(c);
  roles.controlInputs.push_back(report.channels);
  ProgressBar progress(job.showProgress);
  std::vector<RenderObserver*> observers{&progress};
  std::optional<LevelTraceRecorder> recorder;
  if (job.measure || files.wantsPicture()) {
    recorder.emplace(roles, report.outputFrames, report.sampleRate, report.latency, true);
    observers.push_back(&*recorder);
  }

  pipeline.prime();
  ChunkPlan plan;
  plan.length = report.outputFrames;
  plan.latency = report.latency;
  plan.chunkFrames = chunkFrames;
  withWriteAdvice(job.outputPath, [&] {
    runPasses(pipeline, plan, observers, files.audio(), job, report);
    annotations.close();
  });

  report.fullyDuckedFrames = pipeline.fullyDuckedFrames();
  report.anyVoiceActiveFrames = pipeline.present().anyVoiceFrames();
  for (std::size_t v = 0; v < voices.size(); ++v) {
    VoiceReport& voice = report.voices[v];
    voice.activeFrames = pipeline.present().voiceFrames(v);
    if (voices[v]->chain.finite().replaced() > 0)
      report.badSamples.push_back(badSamplesOf(voice.name, voices[v]->chain.finite()));
  }
  if (music.replaced() > 0)
    report.badSamples.insert(report.badSamples.begin(), badSamplesOf(job.musicName, music));
  if (recorder) report.levels = recorder->series();
  try {
    files.commit(report.levels, job.labels);
  } catch (const AfterAudioError& error) {
    // The audio is written and the report describes it: the caller warns
    // and sums up before it reports the failure.
    report.afterAudioError = error;
  }
  return report;
}

DuckReport runDuckJob(FrameSource& music, FrameSource& voice, const DuckJob& job, double voiceGainDb) {
  const auto held = std::make_shared<HeldSignal>(voice);
  std::vector<VoiceInput> voices(1);
  voices[0].name = "(synthesised)";
  voices[0].open = [held] { return held->open(); };
  voices[0].gainDb = voiceGainDb;
  return runDuckJob(music, voices, job);
}

} // namespace tandrel::cli
