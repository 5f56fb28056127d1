// `tandrel demo`: the built-in default job, `tandrel duck` on embedded
// material. A short stereo music bed and a speech-like voice at 22,050 Hz
// are synthesised; the music is ducked under the voice through tandrel.so,
// one instance per channel, the voice is resampled and mixed in, and the
// result is written with its picture.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/module_locator.hpp"
#include "common/option_declaration.hpp"
#include "common/signal_stream.hpp"
#include "duck/duck_job.hpp"
#include "render/render_job.hpp"

namespace tandrel::cli::demo {

namespace {

struct DemoOptions {
  std::string output = "tandrel-demo.wav";
  std::string plotPath = "tandrel-demo.png";
  std::string musicCopy; // empty: the synthesised music is not saved
  std::string voiceCopy; // empty: the synthesised voice is not saved
  bool quiet = false;
};

// Channels held in memory, read from the start.
class MemorySource : public FrameSource {
public:
  MemorySource(std::vector<std::vector<float>> channels, double sampleRate);
  int channelCount() const override { return static_cast<int>(channels_.size()); }
  std::int64_t frameCount() const override { return frames_; }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override;

private:
  std::vector<std::vector<float>> channels_;
  std::int64_t frames_ = 0;
  std::int64_t position_ = 0;
  double sampleRate_;
};

constexpr double demoSampleRate = 48000.0;
// The voice at the rate of a speech recording, so that the demo resamples.
constexpr double demoVoiceRate = 22050.0;
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

// The demo's signals at `sampleRate`, `seconds` long and fully determined
// by these two numbers: four sustained chords spread over two channels
// (bass in the middle, the chord tones to either side), and bursts of
// voiced syllables in three phrases with pauses between them.
std::vector<std::vector<float>> synthesiseMusicBed(double sampleRate, double seconds) {
  // C major, A minor, F major, G major: bass note and three chord tones.
  const int chords[][4] = {{48, 60, 64, 67}, {45, 57, 60, 64}, {41, 53, 57, 60}, {43, 55, 59, 62}};
  // Where each of the four voices sits, from -1 (left) to 1 (right).
  const double pans[4] = {0.0, -0.7, 0.2, 0.7};
  const auto frames = static_cast<std::size_t>(sampleRate * seconds);
  const double chordSeconds = seconds / 4.0;
  std::vector<std::vector<float>> music(2, std::vector<float>(frames, 0.0f));
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    const auto chord = std::min<std::size_t>(3, static_cast<std::size_t>(t / chordSeconds));
    const double local = t - static_cast<double>(chord) * chordSeconds;
    // Each chord swells in and fades out into the next; a soft pulse on
    // every eighth note gives it some movement.
    const double shape = fade(local, 0.08) * (1.0 - fade(local - chordSeconds + 0.12, 0.12));
    const double pulse = 0.75 + 0.25 * std::cos(twoPi * 4.0 * local);
    double left = 0.0;
    double right = 0.0;
    for (int voice = 0; voice < 4; ++voice) {
      const double f = midiToHertz(chords[chord][voice]);
      const double weight = voice == 0 ? 1.0 : 0.6;
      double sum = 0.0;
      for (int harmonic = 1; harmonic <= 4; ++harmonic)
        sum += weight / (harmonic * harmonic) * std::sin(twoPi * f * harmonic * t + voice);
      const double angle = std::numbers::pi / 4.0 * (1.0 + pans[voice]);
      left += sum * std::cos(angle);
      right += sum * std::sin(angle);
    }
    music[0][i] = static_cast<float>(left * shape * pulse);
    music[1][i] = static_cast<float>(right * shape * pulse);
  }
  for (auto& channel : music)
    normalisePeak(channel, 0.5);
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

// Writes synthesised channels as a file that `tandrel duck` takes.
void saveChannels(const std::vector<std::vector<float>>& channels, double sampleRate,
                  const std::string& path) {
  checkOutputName(path);
  PendingFile file(path);
  {
    AudioFileWriter writer(file, static_cast<int>(channels.size()), sampleRate);
    std::vector<const float*> pointers;
    for (const auto& channel : channels)
      pointers.push_back(channel.data());
    writer.write(pointers.data(), static_cast<int>(channels.size()),
                 static_cast<std::int64_t>(channels[0].size()));
    writer.close();
  }
  file.commit();
}

// Throws CliError or Interrupted.
int runDemo(const DemoOptions& options) {
  DuckJob job;
  job.outputPath = options.output;
  job.plotPath = options.plotPath;
  job.shape.mix = true;
  job.showProgress = !options.quiet;
  job.measure = !options.quiet;
  job.labels.title = "Tandrel demo: stereo music ducked under a speech-like voice, mixed";
  job.labels.subtitle = describeShape(job.shape) + "   ·   voice synthesised at 22050 Hz, resampled";
  job.labels.audioLegend = "music";
  job.labels.outputLegend = "ducked music";
  job.labels.controlLegend = "voice";
  checkOutputName(job.outputPath);
  if (!job.plotPath.empty()) checkPlotPath(job.plotPath);

  std::vector<std::vector<float>> music = synthesiseMusicBed(demoSampleRate, demoSeconds);
  std::vector<std::vector<float>> voice{synthesiseSpeechControl(demoVoiceRate, demoSeconds)};
  if (!options.musicCopy.empty()) saveChannels(music, demoSampleRate, options.musicCopy);
  if (!options.voiceCopy.empty()) saveChannels(voice, demoVoiceRate, options.voiceCopy);
  job.modulePath = defaultModulePath();

  MemorySource musicSource(std::move(music), demoSampleRate);
  MemorySource voiceSource(std::move(voice), demoVoiceRate);
  const DuckReport report = runDuckJob(musicSource, voiceSource, job);
  warnAboutOverload(report, job);
  if (!options.quiet) {
    std::printf("Ducked %.1f s of synthesised stereo music under a speech-like voice through %s\n",
                demoSeconds, job.modulePath.c_str());
    printDuckSummary(report, job);
  }
  if (report.afterAudioError) throw *report.afterAudioError;
  return 0;
}

// Each of demo's options, declared once.
constexpr PlainOption<DemoOptions, std::string> outputOption{"-o,--output", &DemoOptions::output,
                                                             "Ducked mix"};
constexpr PlainOption<DemoOptions, std::string> plotOption{"--plot", &DemoOptions::plotPath,
                                                           "Picture of the job (PNG)"};
constexpr PlainOption<DemoOptions, std::string> musicCopyOption{
    "--save-music", &DemoOptions::musicCopy, "Also write the synthesised music to this file"};
constexpr PlainOption<DemoOptions, std::string> voiceCopyOption{
    "--save-voice", &DemoOptions::voiceCopy, "Also write the synthesised voice to this file"};
constexpr PlainOption<DemoOptions, bool> quietFlag{"-q,--quiet", &DemoOptions::quiet,
                                                   "No progress bar and no summary"};

} // namespace

void add(CLI::App& app) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* demo = app.add_subcommand(
      "demo",
      "Duck a built-in stereo music bed under a speech-like voice and mix them, as `duck --mix` does");
  addOption(*demo, outputOption, *options)->capture_default_str();
  addOption(*demo, plotOption, *options)->capture_default_str();
  addOption(*demo, musicCopyOption, *options);
  addOption(*demo, voiceCopyOption, *options);
  addFlag(*demo, quietFlag, *options);
  demo->callback([options] { runCommand([&] { return runDemo(*options); }, Interruptible::yes); });
}

} // namespace tandrel::cli::demo
