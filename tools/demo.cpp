#include "demo.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>

#include "audio_files.hpp"
#include "cli_error.hpp"
#include "effect/tandrel_vocabulary.hpp"
#include "effect_host.hpp"
#include "module_locator.hpp"
#include "render_job.hpp"

namespace tandrel::cli {

namespace {

constexpr double demoSampleRate = 48000.0;
constexpr double demoSeconds = 8.0;
constexpr double twoPi = 2.0 * std::numbers::pi;

double midiToHertz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Raised-cosine fade from 0 to 1 over `length` seconds starting at 0.
double fade(double t, double length) {
  if (t <= 0.0) return 0.0;
  if (t >= length) return 1.0;
  return 0.5 - 0.5 * std::cos(std::numbers::pi * t / length);
}

void normalisePeak(std::vector<float>& samples, double peak) {
  float largest = 0.0f;
  for (const float s : samples)
    largest = std::max(largest, std::fabs(s));
  if (largest == 0.0f) return;
  const double scale = peak / largest;
  for (float& s : samples)
    s = static_cast<float>(s * scale);
}

// A stretch of voiced sound with its amplitude shape.
struct Syllable {
  double start;
  double length;
  double loudness;
};

// Syllables of 110 to 260 ms with short gaps, filling each phrase.
std::vector<Syllable> speechSyllables(double seconds) {
  const double phrases[][2] = {{0.7, 2.5}, {3.3, 5.1}, {5.9, 7.3}};
  std::mt19937 random(20240611u);
  const auto uniform = [&random](double low, double high) {
    return low + (high - low) * (static_cast<double>(random()) / static_cast<double>(std::mt19937::max()));
  };
  std::vector<Syllable> syllables;
  for (const auto& phrase : phrases) {
    double t = phrase[0];
    while (t < phrase[1] && t < seconds) {
      const double length = uniform(0.11, 0.26);
      syllables.push_back({t, std::min(length, phrase[1] - t), uniform(0.6, 1.0)});
      t += length + uniform(0.03, 0.09);
    }
  }
  return syllables;
}

} // namespace

std::vector<float> synthesiseMusicBed(double sampleRate, double seconds) {
  // C major, A minor, F major, G major: bass note and three chord tones.
  const int chords[][4] = {{48, 60, 64, 67}, {45, 57, 60, 64}, {41, 53, 57, 60}, {43, 55, 59, 62}};
  const auto frames = static_cast<std::size_t>(sampleRate * seconds);
  const double chordSeconds = seconds / 4.0;
  std::vector<float> music(frames, 0.0f);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    const auto chord = std::min<std::size_t>(3, static_cast<std::size_t>(t / chordSeconds));
    const double local = t - static_cast<double>(chord) * chordSeconds;
    // Each chord swells in and fades out into the next; a soft pulse on
    // every eighth note gives it some movement.
    const double shape = fade(local, 0.08) * (1.0 - fade(local - chordSeconds + 0.12, 0.12));
    const double pulse = 0.75 + 0.25 * std::cos(twoPi * 4.0 * local);
    double sum = 0.0;
    for (int voice = 0; voice < 4; ++voice) {
      const double f = midiToHertz(chords[chord][voice]);
      const double weight = voice == 0 ? 1.0 : 0.6;
      for (int harmonic = 1; harmonic <= 4; ++harmonic)
        sum += weight / (harmonic * harmonic) * std::sin(twoPi * f * harmonic * t + voice);
    }
    music[i] = static_cast<float>(sum * shape * pulse);
  }
  normalisePeak(music, 0.5);
  return music;
}

std::vector<float> synthesiseSpeechControl(double sampleRate, double seconds) {
  const auto frames = static_cast<std::size_t>(sampleRate * seconds);
  std::vector<float> voice(frames, 0.0f);
  std::mt19937 noise(7u);
  double phase = 0.0;
  for (const Syllable& syllable : speechSyllables(seconds)) {
    const auto first = static_cast<std::size_t>(syllable.start * sampleRate);
    const auto last =
        std::min(frames, static_cast<std::size_t>((syllable.start + syllable.length) * sampleRate));
    for (std::size_t i = first; i < last; ++i) {
      const double t = static_cast<double>(i) / sampleRate;
      const double local = (t - syllable.start) / syllable.length;
      // Voiced buzz around 140 Hz with a falling intonation, a little breath.
      const double pitch = 150.0 - 25.0 * local + 8.0 * std::sin(twoPi * 5.0 * t);
      phase += twoPi * pitch / sampleRate;
      double buzz = 0.0;
      for (int harmonic = 1; harmonic <= 20; ++harmonic)
        buzz += std::sin(harmonic * phase) / harmonic;
      const double breath =
          (static_cast<double>(noise()) / static_cast<double>(std::mt19937::max()) - 0.5) * 0.4;
      const double envelope = std::sin(std::numbers::pi * local) * syllable.loudness;
      voice[i] = static_cast<float>((buzz + breath) * envelope);
    }
  }
  normalisePeak(voice, 0.8);
  return voice;
}

MemorySource::MemorySource(std::vector<std::vector<float>> channels, double sampleRate)
    : channels_(std::move(channels)), sampleRate_(sampleRate) {
  for (const auto& channel : channels_)
    frames_ = std::max<std::int64_t>(frames_, static_cast<std::int64_t>(channel.size()));
}

void MemorySource::read(float* const* channels, std::int64_t count) {
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    const auto& samples = channels_[c];
    const auto size = static_cast<std::int64_t>(samples.size());
    const std::int64_t available = std::clamp<std::int64_t>(size - position_, 0, count);
    if (available > 0) std::copy_n(samples.data() + position_, available, channels[c]);
    std::fill(channels[c] + available, channels[c] + count, 0.0f);
  }
  position_ += count;
}

namespace {

// Writes the synthesised input (music left, control right) as a file that
// `tandrel render` takes.
void saveInput(const std::vector<std::vector<float>>& channels, const std::string& path) {
  checkOutputName(path);
  PendingFile file(path);
  {
    AudioFileWriter writer(file, 2, demoSampleRate);
    const float* pointers[] = {channels[0].data(), channels[1].data()};
    writer.write(pointers, 2, static_cast<std::int64_t>(channels[0].size()));
    writer.close();
  }
  file.commit();
}

// The lowest gain the module applies to the music: the gain law's target
// for each block of the control, which the ramp reaches at the block after.
double deepestGain(const std::vector<float>& control, double ratio) {
  double deepest = 1.0;
  for (std::size_t first = 0; first < control.size(); first += product::blockFrames) {
    const std::size_t last = std::min(control.size(), first + product::blockFrames);
    float peak = 0.0f;
    for (std::size_t i = first; i < last; ++i)
      peak = std::max(peak, std::fabs(control[i]));
    deepest = std::min(deepest, product::targetGain(ratio, peak));
  }
  return deepest;
}

// The file's full path, so that the summary says where the files are
// whatever folder the demo ran in; empty for no file.
std::string fullPath(const std::string& path) {
  return path.empty() ? path : std::filesystem::absolute(path).lexically_normal().string();
}

std::string gainText(double gain) {
  if (gain == 0.0) return "-inf dB (the music is silenced)";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", 20.0 * std::log10(gain));
  return text;
}

} // namespace

int runDemo(const DemoOptions& options) {
  std::vector<std::pair<std::string, float>> settings;
  for (const std::string& setting : options.parameters)
    settings.push_back(parseParameterSetting(setting));
  checkOutputName(options.output);
  if (!options.plotPath.empty()) checkPlotPath(options.plotPath);

  std::vector<std::vector<float>> channels{synthesiseMusicBed(demoSampleRate, demoSeconds),
                                           synthesiseSpeechControl(demoSampleRate, demoSeconds)};
  if (!options.inputCopy.empty()) saveInput(channels, options.inputCopy);

  const auto effect = EffectHost::load(defaultModulePath());
  if (effect->inputCount() < 2)
    throw CliError("the module has " + std::to_string(effect->inputCount()) +
                   " inputs; the demo needs one for the music and one for the control");
  effect->prepare(demoSampleRate, 512);
  applyParameters(*effect, settings);

  const float sourceSetting = effect->parameter(product::parameter::source);
  const auto control = static_cast<std::size_t>(product::controlInput(sourceSetting));
  const double gain = deepestGain(channels[control], effect->parameter(product::parameter::ratio));

  MemorySource source(std::move(channels), demoSampleRate);
  RenderJob job;
  job.outputPath = options.output;
  job.plotPath = options.plotPath;
  job.showProgress = !options.quiet;
  job.labels.title = "Tandrel demo: music ducked under a speech-like control";
  job.labels.subtitle = "music on input 0, control on input 1";
  job.roles = SignalRoles{{product::audioInput(sourceSetting)}, {product::controlInput(sourceSetting)}};
  const RenderReport report = runRenderJob(*effect, source, job);

  if (!options.quiet) {
    std::printf("Ducked %.1f s of music under a speech-like control at %.0f Hz through %s\n", demoSeconds,
                demoSampleRate, effect->modulePath().c_str());
    std::printf("latency: %d frames (compensated)\n", report.result.latency);
    std::printf("deepest gain the module applied: %s\n", gainText(gain).c_str());
    std::printf("wrote %s%s%s%s%s\n", fullPath(options.output).c_str(),
                options.plotPath.empty() ? "" : " and ", fullPath(options.plotPath).c_str(),
                options.inputCopy.empty() ? "" : "; input: ", fullPath(options.inputCopy).c_str());
  }
  return 0;
}

} // namespace tandrel::cli
