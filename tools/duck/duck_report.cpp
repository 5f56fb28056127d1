// What `tandrel duck` tells the user when the job is done: the summary on
// standard output and the warnings on standard error.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/audio_files.hpp"
#include "duck_job.hpp"
#include "duck_mix.hpp"

namespace tandrel::cli {

namespace {

// A voice counts as present almost all the time above this share.
constexpr double mostOfTheTime = 0.9;
// The files' lengths differ a lot when the difference is more than this
// share of the longer one and more than `lengthSlackSeconds`.
constexpr double lengthShare = 0.25;
constexpr double lengthSlackSeconds = 5.0;

std::string number(const char* format, double value) {
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double seconds(std::int64_t frames, double sampleRate) { return static_cast<double>(frames) / sampleRate; }

std::string channelText(int channels) {
  return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

double share(std::int64_t part, std::int64_t whole) {
  return whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

std::string percent(std::int64_t part, std::int64_t whole) {
  return number("%.1f %%", 100.0 * share(part, whole));
}

void warn(const std::string& text) { std::fprintf(stderr, "tandrel: warning: %s\n", text.c_str()); }

std::string voiceWhich(const VoiceReport& voice) {
  return voice.name + (voice.channel > 0 ? " (channel " + std::to_string(voice.channel) + ")" : "");
}

void warnAboutBadSamples(const DuckReport& report) {
  for (const BadSamples& bad : report.badSamples)
    warn(std::to_string(bad.count) + (bad.count == 1 ? " sample" : " samples") + " of " + bad.name +
         " are not finite numbers (NaN or infinity), the first at " +
         clockTime(seconds(bad.firstFrame, bad.sampleRate)) + " (frame " + std::to_string(bad.firstFrame) +
         ", channel " + std::to_string(bad.firstChannel + 1) + "); they are replaced by silence");
}

void warnAboutVoice(const VoiceReport& voice, std::int64_t musicFrames) {
  const std::string which = voiceWhich(voice);
  const std::string threshold = number("%.1f dBFS", voice.thresholdDbfs);
  if (!voice.speechLevelDbfs && voice.activeFrames == 0) {
    warn("the voice " + which + " is silent throughout, so the music is never ducked; check the file");
    return;
  }
  if (voice.activeFrames == 0) {
    warn("the voice " + which + " never reaches the threshold of " + threshold +
         (voice.speechLevelDbfs ? number(" (its speech level is %.1f dBFS)", *voice.speechLevelDbfs) : "") +
         ", so the music is never ducked; give a lower --threshold" +
         (voice.speechLevelDbfs ? number(", e.g. %.0f", *voice.speechLevelDbfs - thresholdBelowSpeechDb)
                                : ""));
    return;
  }
  if (voice.noiseFloorDbfs && *voice.noiseFloorDbfs >= voice.thresholdDbfs)
    warn("the noise floor of the voice " + which + number(" (%.1f dBFS)", *voice.noiseFloorDbfs) +
         " sits at or above the threshold of " + threshold +
         ", so its pauses count as speech and the music stays down; give a --threshold between that floor "
         "and the speech level" +
         (voice.speechLevelDbfs ? number(" (%.1f dBFS)", *voice.speechLevelDbfs) : "") +
         ", or clean the recording");
  const std::int64_t length = std::min(voice.frames, musicFrames);
  if (share(voice.activeFrames, length) > mostOfTheTime)
    warn("the voice " + which + " is present " + percent(voice.activeFrames, length) +
         " of the time (10 ms windows at or above " + threshold +
         "), so the music hardly comes up; if the voice has pauses, give a higher --threshold");
}

void warnAboutLengths(const DuckReport& report) {
  for (const VoiceReport& voice : report.voices) {
    const double music = seconds(report.musicFrames, report.sampleRate);
    const double other = seconds(voice.frames, report.sampleRate);
    const double longer = std::max(music, other);
    if (std::fabs(music - other) > std::max(lengthSlackSeconds, lengthShare * longer))
      warn("the music lasts " + clockTime(music) + " and the voice " + voiceWhich(voice) + " " +
           clockTime(other) +
           "; the output is as long as the longer, padded with silence; check that these "
           "are the files that belong together");
  }
}

std::string loudnessText(const std::optional<double>& lufs) {
  return lufs ? number("%.1f LUFS", *lufs) : std::string("too quiet to measure");
}

std::string truePeakText(const LoudnessFigures& figures) {
  return figures.truePeak > 0.0 ? number("%+.1f dBTP", figures.truePeakDbtp()) : std::string("silent");
}

void printLoudness(const LoudnessReport& loudness) {
  const LoudnessFigures& written = loudness.written;
  std::string why;
  if (loudness.silent)
    why = "no gain: the mix is too quiet to measure";
  else if (loudness.targetLufs && loudness.shortOfTargetDb > 0.05)
    why = number("gain %+.1f dB, ", loudness.gainDb) +
          number("%.1f dB short of the target", loudness.shortOfTargetDb) +
          number(" of %g LUFS", *loudness.targetLufs) +
          number(": the ceiling of %g dBTP holds it back", loudness.ceilingDbtp);
  else if (loudness.targetLufs)
    why = number("gain %+.1f dB", loudness.gainDb) +
          number(" for the target of %g LUFS", *loudness.targetLufs) +
          number(" under a ceiling of %g dBTP", loudness.ceilingDbtp);
  else
    why = number("gain %+.1f dB", loudness.gainDb) +
          number(" to stay under the ceiling of %g dBTP", loudness.ceilingDbtp);
  std::printf("loudness of the file written: %s integrated, range %s, true peak %s (%s)\n",
              loudnessText(written.integratedLufs).c_str(),
              written.rangeLu ? number("%.1f LU", *written.rangeLu).c_str() : "not measurable",
              truePeakText(written).c_str(), why.c_str());
}

// What a higher ceiling would do: a ceiling that reaches the target, if one
// within full scale does.
std::string ceilingAdvice(const LoudnessReport& loudness) {
  const double needed = std::ceil((loudness.ceilingDbtp + loudness.shortOfTargetDb) * 10.0) / 10.0;
  if (needed <= 0.0) return number("to reach it, give --true-peak %.1f if the delivery allows, or ", needed);
  return "even a ceiling of 0 dBTP would not reach it; to reach it, ";
}

void warnAboutLoudness(const LoudnessReport& loudness) {
  if (loudness.silent) {
    warn("the output is too quiet to measure its loudness (under -70 LUFS throughout), so --loudness " +
         number("%g LUFS", *loudness.targetLufs) + " is not applied; check the inputs");
    return;
  }
  if (!loudness.targetLufs || loudness.shortOfTargetDb <= 0.05) return;
  warn(
      "the true-peak ceiling of " + number("%g dBTP", loudness.ceilingDbtp) + " holds the output at " +
      loudnessText(loudness.written.integratedLufs) + number(", %.1f dB short of", loudness.shortOfTargetDb) +
      number(" the target of %g LUFS", *loudness.targetLufs) +
      number(": its true peak stands %.1f dB above its loudness",
             loudness.mix.truePeakDbtp() - *loudness.mix.integratedLufs) +
      "; " + ceilingAdvice(loudness) +
      "lower the peaks before ducking (a compressor or limiter on the voice, whose peaks usually stand out)");
}

} // namespace

std::string clockTime(double totalSeconds) {
  const double tenths = std::round(totalSeconds * 10.0);
  const auto whole = static_cast<long long>(tenths / 10.0);
  const double secondsPart = tenths / 10.0 - static_cast<double>(whole - whole % 60);
  const long long minutes = whole / 60 % 60;
  const long long hours = whole / 3600;
  char text[48];
  if (hours > 0)
    std::snprintf(text, sizeof text, "%lld:%02lld:%04.1f", hours, minutes, secondsPart);
  else
    std::snprintf(text, sizeof text, "%lld:%04.1f", minutes, secondsPart);
  return text;
}

std::string describeShape(const DuckShape& shape) {
  return number("depth %g dB", shape.depthDb) +
         (shape.thresholdDbfs ? number(",  threshold %g dBFS", *shape.thresholdDbfs)
                              : number(",  threshold speech level − %g dB", thresholdBelowSpeechDb)) +
         number(",  attack %g ms", shape.presence.attackMs) +
         number(",  pauses up to %g ms bridged", shape.presence.maxPauseMs) +
         number(",  release %g ms", shape.presence.releaseMs) +
         (shape.musicGainDb != 0.0 ? number(",  music %+g dB", shape.musicGainDb) : std::string()) +
         (shape.mix ? std::string(",  voice mixed in") : std::string());
}

void printDuckSummary(const DuckReport& report, const DuckJob& job) {
  const double rate = report.sampleRate;
  std::printf("music: %s, %s, %.0f Hz\n", clockTime(seconds(report.musicFrames, rate)).c_str(),
              channelText(report.channels).c_str(), rate);
  for (const VoiceReport& voice : report.voices) {
    std::printf("voice %s: %s, %s, %.0f Hz%s%s\n", voiceWhich(voice).c_str(),
                clockTime(seconds(voice.frames, rate)).c_str(), channelText(voice.channels).c_str(),
                voice.sampleRate,
                voice.sampleRate != rate ? number(" (resampled to %.0f Hz)", rate).c_str() : "",
                voice.channel == 0 && voice.channels > 1 ? ", channels averaged" : "");
    std::string threshold = number("%.1f dBFS", voice.thresholdDbfs);
    if (voice.thresholdMeasured && voice.speechLevelDbfs)
      threshold += number(", from its speech level of %.1f dBFS", *voice.speechLevelDbfs);
    std::printf("  present %s of the time: its 10 ms level (voice band) at or above %s\n",
                percent(voice.activeFrames, report.outputFrames).c_str(), threshold.c_str());
  }
  if (report.voices.size() > 1)
    std::printf("any voice present %s of the time: at least one voice at or above its threshold\n",
                percent(report.anyVoiceActiveFrames, report.outputFrames).c_str());
  std::printf("music fully ducked %s of the time: under the voice and across pauses up to %g ms, fades "
              "excluded\n",
              percent(report.fullyDuckedFrames, report.outputFrames).c_str(), job.shape.presence.maxPauseMs);
  std::string deepest = "not measured";
  if (report.levels) {
    const std::optional<double> gain = report.levels->deepestGainDb();
    deepest = gain ? number("%.1f dB", *gain) : "none (the music is silent)";
  }
  std::printf("depth %.1f dB (Ratio %.6f); deepest gain measured %s; latency %d frames (compensated)\n",
              job.shape.depthDb, report.ratio, deepest.c_str(), report.latency);
  std::string peak = "silent";
  if (report.outputPeak > 0.0f) peak = number("%+.1f dBFS", factorToDecibels(report.outputPeak));
  if (report.clips && report.mixPeak > 1.0f)
    peak += number(" (clipped there: the mix reached %+.1f dBFS)", factorToDecibels(report.mixPeak));
  if (report.loudness) printLoudness(*report.loudness);
  std::printf("wrote %s: %s, %.0f Hz, %s, %s%s; peak %s\n", job.outputPath.c_str(),
              channelText(report.channels).c_str(), rate, report.delivery.c_str(),
              clockTime(seconds(report.outputFrames, rate)).c_str(), job.shape.mix ? ", voice mixed in" : "",
              peak.c_str());
  for (const std::string* path : {&job.plotPath, &job.envelopePath, &job.labelsPath})
    if (!path->empty() && isWritten(report, *path)) std::printf("wrote %s\n", path->c_str());
}

bool isWritten(const DuckReport& report, const std::string& path) {
  return !report.afterAudioError || report.afterAudioError->isWritten(path);
}

void warnAboutJob(const DuckReport& report, const DuckJob& job) {
  warnAboutBadSamples(report);
  for (const VoiceReport& voice : report.voices)
    warnAboutVoice(voice, report.musicFrames);
  warnAboutLengths(report);
  if (report.loudness) warnAboutLoudness(*report.loudness);
  warnAboutOverload(report, job);
}

void warnAboutOverload(const DuckReport& report, const DuckJob& job) {
  std::vector<double> voiceGainsDb;
  if (job.shape.mix)
    for (const VoiceReport& voice : report.voices)
      voiceGainsDb.push_back(voice.gainDb);
  const std::string advice =
      overloadAdvice(report.mixPeak, job.outputPath, job.shape.musicGainDb, voiceGainsDb, !report.clips);
  if (!advice.empty()) warn(advice);
}

} // namespace tandrel::cli
