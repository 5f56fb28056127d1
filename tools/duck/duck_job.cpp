#include "duck_job.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/interrupt.hpp"
#include "common/loaded_effect.hpp"
#include "common/progress.hpp"
#include "common/resampler.hpp"
#include "duck_mix.hpp"
#include "effect/tandrel_vocabulary.hpp"
#include "render/render_job.hpp"

namespace tandrel::cli {

namespace {

// Frames read, processed and written at a time: a whole number of the
// module's 128-frame blocks.
constexpr std::int64_t chunkFrames = 65536;

// Source at 1 ("L-R"): each instance reads its music channel as the audio
// and the presence envelope as the control.
constexpr float sourceAudioFirst = 1.0f;
constexpr int audioInput = product::audioInput(sourceAudioFirst);
constexpr int controlInput = product::controlInput(sourceAudioFirst);

// The Ratio with which a control peak of 1, full presence, gives exactly the
// gain of `depthDb` down: the gain law 1 - Ratio x ratioScale x peak solved
// for that gain. A presence p in [0, 1] then gives 1 - p x (1 - that gain).
double ratioForDepth(double depthDb) { return (1.0 - std::pow(10.0, -depthDb / 20.0)) / product::ratioScale; }

std::string number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void checkRange(double value, double low, double high, const char* option, const char* unit) {
  if (!(value >= low && value <= high))
    throw UsageError(std::string(option) + " " + number("%g", value) + " is outside " + number("%g", low) +
                     " to " + number("%g", high) + " " + unit +
                     "; give a value in that range (see tandrel duck --help)");
}

// Channels of one chunk, one array each.
struct Planar {
  Planar(int channels, std::int64_t frames)
      : samples(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames))),
        pointers(samples.size()) {
    for (std::size_t c = 0; c < samples.size(); ++c)
      pointers[c] = samples[c].data();
  }
  // The table shifted to frame `offset` of every channel.
  const float* const* at(std::int64_t offset) {
    shifted.resize(pointers.size());
    for (std::size_t c = 0; c < pointers.size(); ++c)
      shifted[c] = pointers[c] + offset;
    return shifted.data();
  }
  std::vector<std::vector<float>> samples;
  std::vector<float*> pointers;
  std::vector<const float*> shifted;
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

// The streams of one job and the state that carries from chunk to chunk.
class DuckPipeline {
public:
  DuckPipeline(FrameSource& music, MonoResampledSource& voice, const DuckShape& shape,
               DuckingInstances& effects, std::int64_t length)
      : music_(music), voice_(voice), effects_(effects), channels_(music.channelCount()), length_(length),
        musicGain_(static_cast<float>(decibelsToFactor(shape.musicGainDb))),
        voiceGain_(static_cast<float>(decibelsToFactor(shape.voiceGainDb))), mix_(shape.mix),
        envelope_(shape.presence, music.sampleRate()), voiceAligned_(envelope_.latency()),
        voiceForMix_(effects.latency()), musicIn_(channels_, chunkFrames), ducked_(channels_, chunkFrames),
        inputs_(static_cast<std::size_t>(channels_) + 1), voiceAhead_(chunkFrames), voiceNow_(chunkFrames),
        voiceMix_(chunkFrames), presence_(chunkFrames), spare_(chunkFrames) {
    for (int c = 0; c < channels_; ++c)
      inputs_[static_cast<std::size_t>(c)] = musicIn_.pointers[static_cast<std::size_t>(c)];
    inputs_.back() = voiceNow_.data();
  }

  // The voice runs ahead of the music by the envelope's latency, so that
  // the envelope of frame t comes out with music frame t: the envelope's
  // rise ends where the voice begins, and the module's own look-ahead then
  // lowers the gain from the start of the 128-frame block before, so the
  // gain is at the depth when the voice starts.
  void prime() {
    for (std::int64_t done = 0; done < envelope_.latency(); done += chunkFrames) {
      const std::int64_t count = std::min(chunkFrames, envelope_.latency() - done);
      readVoiceAhead(count);
    }
  }

  // Processes frames [first, first + count) of the effects' time line and
  // writes those past the module's delay into `sink`.
  void processChunk(std::int64_t first, std::int64_t count, FrameSink& sink,
                    const std::vector<RenderObserver*>& observers, std::int64_t total) {
    music_.read(musicIn_.pointers.data(), count);
    for (float* channel : musicIn_.pointers)
      applyGain(channel, count, musicGain_);
    readVoiceAhead(count);
    for (int c = 0; c < channels_; ++c)
      effects_.process(c, musicIn_.pointers[static_cast<std::size_t>(c)], presence_.data(),
                       ducked_.pointers[static_cast<std::size_t>(c)], spare_.data(), count);
    countFullyDucked(first, count);

    const ChunkView view{first, count, inputs_.data(), channels_ + 1, ducked_.pointers.data(), channels_};
    for (RenderObserver* observer : observers)
      observer->chunkProcessed(view, first + count, total);

    // The module's delay: output frames before it are dropped, and the
    // voice is delayed by as much to stay in time with the ducked music.
    voiceForMix_.process(voiceNow_.data(), voiceMix_.data(), count);
    const std::int64_t keepFrom = std::clamp<std::int64_t>(effects_.latency() - first, 0, count);
    const std::int64_t kept = count - keepFrom;
    if (kept == 0) return;
    for (float* channel : ducked_.pointers) {
      if (mix_) addScaled(channel + keepFrom, voiceMix_.data() + keepFrom, kept, voiceGain_);
      peak_ = updatePeak(peak_, channel + keepFrom, kept);
    }
    sink.write(ducked_.at(keepFrom), channels_, kept);
  }

  float peak() const { return peak_; }
  std::int64_t fullyDuckedFrames() const { return fullyDucked_; }
  std::int64_t voiceActiveFrames() const { return envelope_.activeFrames(); }

private:
  void readVoiceAhead(std::int64_t count) {
    float* ahead = voiceAhead_.data();
    voice_.read(&ahead, count);
    envelope_.process(ahead, presence_.data(), count);
    voiceAligned_.process(ahead, voiceNow_.data(), count);
  }

  void countFullyDucked(std::int64_t first, std::int64_t count) {
    const std::int64_t inside = std::clamp<std::int64_t>(length_ - first, 0, count);
    fullyDucked_ += std::count(presence_.begin(), presence_.begin() + inside, 1.0f);
  }

  FrameSource& music_;
  MonoResampledSource& voice_;
  DuckingInstances& effects_;
  int channels_;
  std::int64_t length_;
  float musicGain_;
  float voiceGain_;
  bool mix_;
  PresenceEnvelope envelope_;
  SampleDelay voiceAligned_; // the voice in time with the envelope and the music
  SampleDelay voiceForMix_;  // the voice in time with the ducked music
  Planar musicIn_;
  Planar ducked_;
  std::vector<const float*> inputs_; // the music channels and the voice, as the picture sees them
  std::vector<float> voiceAhead_;
  std::vector<float> voiceNow_;
  std::vector<float> voiceMix_;
  std::vector<float> presence_;
  std::vector<float> spare_;
  float peak_ = 0.0f;
  std::int64_t fullyDucked_ = 0;
};

double seconds(std::int64_t frames, double sampleRate) { return static_cast<double>(frames) / sampleRate; }

std::string channelText(int channels) {
  return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

std::string percent(std::int64_t part, std::int64_t whole) {
  return number("%.1f %%", whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
}

} // namespace

void checkDuckShape(const DuckShape& shape) {
  checkRange(shape.depthDb, 0.0, largestDepthDb, "--depth", "dB");
  checkRange(shape.presence.thresholdDbfs, lowestThresholdDbfs, 0.0, "--threshold", "dBFS");
  checkRange(shape.presence.attackMs, 0.0, longestAttackMs, "--attack", "ms");
  checkRange(shape.presence.holdMs, 0.0, longestHoldOrReleaseMs, "--hold", "ms");
  checkRange(shape.presence.releaseMs, 0.0, longestHoldOrReleaseMs, "--release", "ms");
  checkRange(shape.musicGainDb, -largestGainDb, largestGainDb, "--music-gain", "dB");
  checkRange(shape.voiceGainDb, -largestGainDb, largestGainDb, "--voice-gain", "dB");
}

DuckReport runDuckJob(FrameSource& music, FrameSource& voiceSource, const DuckJob& job) {
  checkDuckShape(job.shape);
  // Both targets are reserved first, so an unwritable path fails before
  // any processing.
  checkOutputName(job.outputPath);
  if (!job.plotPath.empty()) checkPlotPath(job.plotPath);
  PendingFile output(job.outputPath);
  std::optional<PendingFile> picture;
  if (!job.plotPath.empty()) picture.emplace(job.plotPath);

  DuckReport report;
  report.sampleRate = music.sampleRate();
  report.channels = music.channelCount();
  report.voiceChannels = voiceSource.channelCount();
  report.voiceSampleRate = voiceSource.sampleRate();
  MonoResampledSource voice(voiceSource, music.sampleRate());
  report.musicFrames = music.frameCount();
  report.voiceFrames = voice.frameCount();
  report.outputFrames = std::max(report.musicFrames, report.voiceFrames);
  report.ratio = ratioForDepth(job.shape.depthDb);

  AudioFileWriter writer(output, report.channels, report.sampleRate);
  DuckingInstances effects(job.modulePath, report.channels, report.sampleRate, report.ratio);
  report.latency = effects.latency();
  DuckPipeline pipeline(music, voice, job.shape, effects, report.outputFrames);

  SignalRoles roles;
  for (int c = 0; c < report.channels; ++c)
    roles.audioInputs.push_back(c);
  roles.controlInputs.push_back(report.channels);
  ProgressBar progress(job.showProgress);
  std::vector<RenderObserver*> observers{&progress};
  std::optional<LevelTraceRecorder> recorder;
  if (job.measure || picture) {
    recorder.emplace(roles, report.outputFrames, report.sampleRate, report.latency, true);
    observers.push_back(&*recorder);
  }

  pipeline.prime();
  const std::int64_t total = report.outputFrames + report.latency;
  for (std::int64_t first = 0; first < total; first += chunkFrames) {
    throwIfInterrupted();
    pipeline.processChunk(first, std::min(chunkFrames, total - first), writer, observers, total);
  }
  throwIfInterrupted();
  writer.close();

  report.outputPeak = pipeline.peak();
  report.fullyDuckedFrames = pipeline.fullyDuckedFrames();
  report.voiceActiveFrames = std::min(pipeline.voiceActiveFrames(), report.voiceFrames);
  if (recorder) report.envelopes = recorder->series();
  if (picture) writePlot(*report.envelopes, job.labels, *picture);
  throwIfInterrupted();
  output.commit();
  if (picture) picture->commit();
  return report;
}

std::string describeShape(const DuckShape& shape) {
  return number("depth %g dB", shape.depthDb) + number(",  threshold %g dBFS", shape.presence.thresholdDbfs) +
         number(",  attack %g ms", shape.presence.attackMs) + number(",  hold %g ms", shape.presence.holdMs) +
         number(",  release %g ms", shape.presence.releaseMs) +
         (shape.musicGainDb != 0.0 ? number(",  music %+g dB", shape.musicGainDb) : std::string()) +
         (shape.mix ? number(",  voice mixed in at %+g dB", shape.voiceGainDb) : std::string());
}

void printDuckSummary(const DuckReport& report, const DuckJob& job) {
  const double rate = report.sampleRate;
  std::printf("music: %.3f s, %s, %.0f Hz; voice: %.3f s, %s, %.0f Hz%s\n", seconds(report.musicFrames, rate),
              channelText(report.channels).c_str(), rate, seconds(report.voiceFrames, rate),
              channelText(report.voiceChannels).c_str(), report.voiceSampleRate,
              report.voiceSampleRate != rate ? number(" (resampled to %.0f Hz)", rate).c_str() : "");
  std::printf("voice present %s of the time (10 ms level at or above %g dBFS); music fully ducked %s\n",
              percent(report.voiceActiveFrames, report.outputFrames).c_str(),
              job.shape.presence.thresholdDbfs,
              percent(report.fullyDuckedFrames, report.outputFrames).c_str());
  std::string deepest = "not measured";
  if (report.envelopes) {
    const std::optional<double> gain = report.envelopes->deepestGainDb();
    deepest = gain ? number("%.1f dB", *gain) : "none (the music is silent)";
  }
  std::printf("depth %.1f dB (Ratio %.6f); deepest gain measured %s; latency %d frames (compensated)\n",
              job.shape.depthDb, report.ratio, deepest.c_str(), report.latency);
  std::printf("wrote %s: %s, %.0f Hz, %.3f s%s; peak %s\n", job.outputPath.c_str(),
              channelText(report.channels).c_str(), rate, seconds(report.outputFrames, rate),
              job.shape.mix ? ", voice mixed in" : "",
              report.outputPeak > 0.0f ? number("%+.1f dBFS", factorToDecibels(report.outputPeak)).c_str()
                                       : "silent");
  if (!job.plotPath.empty()) std::printf("wrote %s\n", job.plotPath.c_str());
}

void warnAboutOverload(const DuckReport& report, const DuckJob& job) {
  const bool keepsPeaks = (outputFormatFor(job.outputPath) & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
  if (keepsPeaks) return;
  const std::string advice = overloadAdvice(report.outputPeak, job.outputPath, job.shape.musicGainDb,
                                            job.shape.voiceGainDb, job.shape.mix);
  if (!advice.empty()) std::fprintf(stderr, "tandrel: warning: %s\n", advice.c_str());
}

} // namespace tandrel::cli
