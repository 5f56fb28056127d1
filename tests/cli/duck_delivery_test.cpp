// `tandrel duck` delivering a master: bit depths with TPDF dither, and the
// loudness set to a target under a true-peak ceiling, checked against an
// independent meter (ffmpeg's ebur128 filter).
#include <sndfile.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

#include "cli_support.hpp"
#include "common/tpdf_dither.hpp"

namespace cli_test {
namespace {

constexpr int rate = 48000;

// The dither's statistics, whatever the signal's position between two
// steps: the dither lies within one step either way with a triangular
// distribution, and the whole error of a sample is within 1.5 steps, of
// mean 0 and variance 1/4 step squared (1/6 + 1/12).
struct DitherCase {
  int bits;
  double offsetSteps; // the signal's position above a whole step
};

class TpdfDither : public ::testing::TestWithParam<DitherCase> {};

TEST_P(TpdfDither, ErrorIsWithinOneAndAHalfStepsUnbiasedWithAQuarterStepSquaredVariance) {
  const DitherCase param = GetParam();
  tandrel::cli::TpdfQuantizer quantizer(param.bits);
  const double steps = std::ldexp(1.0, param.bits - 1);
  constexpr int samples = 200000;
  double sum = 0.0, squares = 0.0;
  for (int i = 0; i < samples; ++i) {
    // Near full scale and near silence, on both sides of zero.
    const double level = (i % 4 < 2 ? 1000.0 : steps * 0.75) * (i % 2 == 0 ? 1.0 : -1.0) + param.offsetSteps;
    const auto sample = static_cast<float>(level / steps);
    const double error = quantizer.quantize(sample) - static_cast<double>(sample) * steps;
    ASSERT_LT(std::fabs(error), 1.5) << "sample " << i;
    sum += error;
    squares += error * error;
  }
  EXPECT_NEAR(sum / samples, 0.0, 0.01);
  EXPECT_NEAR(squares / samples, 0.25, 0.01);
}

TEST_P(TpdfDither, DitherIsTriangularWithinOneStep) {
  tandrel::cli::TpdfQuantizer quantizer(GetParam().bits);
  constexpr int samples = 200000;
  int inner = 0;
  double sum = 0.0, squares = 0.0;
  for (int i = 0; i < samples; ++i) {
    const double d = quantizer.nextDither();
    ASSERT_GT(d, -1.0);
    ASSERT_LT(d, 1.0);
    inner += std::fabs(d) < 0.5 ? 1 : 0;
    sum += d;
    squares += d * d;
  }
  // A triangle from -1 to 1 holds 3/4 of its area within half a step of
  // its middle (a uniform one would hold 1/2), with variance 1/6.
  EXPECT_NEAR(static_cast<double>(inner) / samples, 0.75, 0.005);
  EXPECT_NEAR(sum / samples, 0.0, 0.005);
  EXPECT_NEAR(squares / samples, 1.0 / 6.0, 0.005);
}

INSTANTIATE_TEST_SUITE_P(Depths, TpdfDither,
                         ::testing::Values(DitherCase{16, 0.0}, DitherCase{16, 0.25}, DitherCase{16, 0.5},
                                           DitherCase{24, 0.0}, DitherCase{24, 0.3}),
                         [](const auto& info) {
                           return std::to_string(info.param.bits) + "BitsOffset" +
                                  std::to_string(static_cast<int>(info.param.offsetSteps * 100));
                         });

std::vector<float> tone(double hertz, double amplitude, std::size_t frames, double phase = 0.0,
                        int sampleRate = rate) {
  std::vector<float> samples(frames);
  for (std::size_t i = 0; i < frames; ++i)
    samples[i] = static_cast<float>(
        amplitude * std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(i) / sampleRate + phase));
  return samples;
}

// A voice of `length` seconds that speaks over [from, to): a buzz at
// 150 Hz and its harmonics, swelling and fading 3 times a second.
std::vector<float> buzz(double from, double to, double length, float amplitude, int sampleRate = rate) {
  std::vector<float> voice(static_cast<std::size_t>(length * sampleRate), 0.0f);
  for (auto i = static_cast<std::size_t>(from * sampleRate); i < static_cast<std::size_t>(to * sampleRate);
       ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    double value = 0.0;
    for (int harmonic = 1; harmonic <= 6; ++harmonic)
      value += std::sin(2.0 * std::numbers::pi * 150.0 * harmonic * t) / harmonic;
    voice[i] =
        static_cast<float>(amplitude * value * (0.6 + 0.4 * std::sin(2.0 * std::numbers::pi * 3.0 * t)));
  }
  return voice;
}

class DuckDelivery : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    const std::size_t frames = 4 * rate;
    writeAudio(path("music.wav"), {tone(440.0, 0.4, frames), tone(330.0, 0.4, frames, 1.0)});
    writeAudio(path("voice.wav"), {buzz(1.0, 3.0, 4.0, 0.3f)});
  }
  RunResult duck(const std::string& output, std::vector<std::string> more) {
    std::vector<std::string> arguments{"duck",  "--music",  path("music.wav"), "--voice", path("voice.wav"),
                                       "--mix", "--output", path(output)};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runTool(arguments);
  }
};

// A bit depth and the container, and the file's libsndfile subformat. A
// sample may lie 1.5 steps of its depth from the float mix (dither and
// rounding); float is the mix bit for bit.
struct DepthCase {
  const char* name;
  const char* output;
  const char* bits; // empty: the format's own
  int subformat;
};

class DuckDepths : public DuckDelivery, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(DuckDepths, SamplesAreTheFloatMixWithinTheDitherAndTheSameEveryRun) {
  const DepthCase param = GetParam();
  ASSERT_EQ(duck("float.wav", {"-q"}).status, 0);
  std::vector<std::string> more{"-q"};
  if (*param.bits != '\0') more.insert(more.end(), {"--bits", param.bits});
  const RunResult run = duck(param.output, more);
  ASSERT_EQ(run.status, 0) << run.err;
  const AudioFile mix = readAudio(path("float.wav"));
  const AudioFile out = readAudio(path(param.output));
  EXPECT_EQ(out.format & SF_FORMAT_SUBMASK, param.subformat);
  ASSERT_EQ(out.channels.size(), 2u);
  ASSERT_EQ(out.frames(), mix.frames());
  if (param.subformat == SF_FORMAT_FLOAT) {
    for (std::size_t c = 0; c < 2; ++c)
      EXPECT_TRUE(sameBits(mix.channels[c], out.channels[c])) << "channel " << c;
    return;
  }
  const double step = param.subformat == SF_FORMAT_PCM_16 ? 1.0 / 32768 : 1.0 / 8388608;
  double largest = 0.0;
  std::size_t differing = 0;
  for (std::size_t c = 0; c < 2; ++c)
    for (std::size_t i = 0; i < mix.channels[c].size(); ++i) {
      const double error = (out.channels[c][i] - mix.channels[c][i]) / step;
      largest = std::max(largest, std::fabs(error));
      differing += error != 0.0 ? 1 : 0;
    }
  EXPECT_LT(largest, 1.5);
  // Dithered, not merely rounded: rounding alone would leave the error
  // under half a step.
  EXPECT_GT(largest, 0.5);
  EXPECT_GT(differing, mix.channels[0].size());
  // The dither is seeded: the same job writes the same bytes.
  ASSERT_EQ(duck(std::string("again-") + param.output, more).status, 0);
  EXPECT_EQ(readBytes(path(param.output)), readBytes(path(std::string("again-") + param.output)));
}

INSTANTIATE_TEST_SUITE_P(Formats, DuckDepths,
                         ::testing::Values(DepthCase{"Wav16", "out.wav", "16", SF_FORMAT_PCM_16},
                                           DepthCase{"Wav24", "out.wav", "24", SF_FORMAT_PCM_24},
                                           DepthCase{"Wav32", "out.wav", "32", SF_FORMAT_FLOAT},
                                           DepthCase{"Flac16", "out.flac", "16", SF_FORMAT_PCM_16},
                                           DepthCase{"FlacOwn24", "out.flac", "", SF_FORMAT_PCM_24},
                                           DepthCase{"Aiff16", "out.aiff", "16", SF_FORMAT_PCM_16},
                                           DepthCase{"Aiff32", "out.aiff", "32", SF_FORMAT_FLOAT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DuckDelivery, BitDepthsThatAFormatCannotHoldAreUsageErrors) {
  const RunResult flac = duck("out.flac", {"--bits", "32"});
  EXPECT_EQ(flac.status, 2);
  EXPECT_NE(flac.err.find("--bits 32 asks for floating point, which FLAC cannot hold"), std::string::npos)
      << flac.err;
  const RunResult ogg = duck("out.ogg", {"--bits", "16"});
  EXPECT_EQ(ogg.status, 2);
  EXPECT_NE(ogg.err.find("--bits does not apply to Ogg Vorbis"), std::string::npos) << ogg.err;
  const RunResult twenty = duck("out.wav", {"--bits", "20"});
  EXPECT_EQ(twenty.status, 2);
  EXPECT_NE(twenty.err.find("--bits 20 is not a bit depth the tool writes; give 16, 24 or 32"),
            std::string::npos)
      << twenty.err;
  EXPECT_EQ(listDirectory(directory()).size(), 2u); // the inputs alone
}

// The number that follows `label` (and blanks) in `text` after `from`;
// NaN when there is none.
double numberAfter(const std::string& text, const std::string& label, std::string::size_type from = 0) {
  const std::string::size_type at = from == std::string::npos ? from : text.find(label, from);
  if (at == std::string::npos) return NAN;
  const char* start = text.c_str() + at + label.size();
  char* end = nullptr;
  const double value = std::strtod(start, &end);
  return end == start ? NAN : value;
}

// ffmpeg's ebur128 filter on a file: its integrated loudness and true peak.
struct IndependentMeasure {
  bool ran = false;
  double integratedLufs = 0.0;
  double truePeakDbtp = 0.0;
};

IndependentMeasure measureWithFfmpeg(const std::string& file) {
  IndependentMeasure measure;
  const std::string command =
      "ffmpeg -hide_banner -nostats -i '" + file + "' -af ebur128=peak=true -f null - 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return measure;
  std::string text;
  std::array<char, 4096> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    text.append(buffer.data(), n);
  if (pclose(pipe) != 0) return measure;
  // The summary at the end: "I: -16.0 LUFS" ... "Peak: -1.2 dBFS".
  const std::string::size_type summary = text.rfind("Summary:");
  const double integrated = numberAfter(text, "I:", summary);
  const double peak = numberAfter(text, "Peak:", summary);
  if (std::isnan(integrated) || std::isnan(peak)) return measure;
  measure.integratedLufs = integrated;
  measure.truePeakDbtp = peak;
  measure.ran = true;
  return measure;
}

bool haveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

// A figure from the summary's loudness line: the number before `unit`.
double summaryFigure(const std::string& out, const std::string& unit) {
  const std::string::size_type line = out.find("loudness of the file written: ");
  const std::string::size_type at = out.find(unit, line);
  if (line == std::string::npos || at == std::string::npos) return NAN;
  const std::string::size_type start = out.rfind(' ', at - 2) + 1;
  return std::stod(out.substr(start, at - start));
}

// Three music and voice pairs, each mixed: quiet tonal music under a
// buzzing voice (the gain goes up), loud noise under a voice at another
// rate (down), and a mono bed with a voice that drowns it at 44.1 kHz.
struct LoudnessPair {
  const char* name;
  int musicRate;
  Channels music;
  int voiceRate;
  std::vector<float> voice;
};

std::vector<LoudnessPair> loudnessPairs() {
  const std::size_t seconds = 10;
  std::vector<LoudnessPair> pairs;
  pairs.push_back({"QuietChordsUnderABuzz",
                   rate,
                   {tone(220.0, 0.05, seconds * rate), tone(277.0, 0.05, seconds * rate, 0.5)},
                   rate,
                   buzz(2.0, 7.0, 10.0, 0.08f)});
  // Noise with a click on both sides twice a second: its peaks stand far
  // above its loudness, so the true peak ends near the ceiling.
  Channels clicking{noise(seconds * rate, 21, 0.135f), noise(seconds * rate, 22, 0.135f)};
  for (std::size_t i = rate / 4; i < seconds * rate; i += rate / 2)
    clicking[0][i] = clicking[1][i + 1] = 0.95f;
  pairs.push_back(
      {"ClickingNoiseUnderAVoiceAt22050Hz", rate, clicking, 22050, buzz(1.0, 8.0, 10.0, 0.25f, 22050)});
  pairs.push_back({"MonoBedAt44100Hz",
                   44100,
                   {tone(110.0, 0.3, seconds * 44100, 0.0, 44100)},
                   44100,
                   buzz(3.0, 9.0, 10.0, 0.25f, 44100)});
  return pairs;
}

class DuckLoudness : public ToolTest, public ::testing::WithParamInterface<std::size_t> {};

// The done-when figures: --loudness -16 gives -16 ± 0.5 LUFS and a true
// peak at or below -1 dBTP by an independent meter; the summary's figures
// agree with it.
TEST_P(DuckLoudness, ReachesTheTargetUnderTheCeilingByAnIndependentMeter) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";
  const LoudnessPair pair = loudnessPairs()[GetParam()];
  writeAudio(path("music.wav"), pair.music, pair.musicRate);
  writeAudio(path("voice.wav"), {pair.voice}, pair.voiceRate);
  const RunResult run = runTool({"duck", "--music", path("music.wav"), "--voice", path("voice.wav"), "--mix",
                                 "--output", path("out.wav"), "--bits", "24", "--loudness", "-16"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  const IndependentMeasure measured = measureWithFfmpeg(path("out.wav"));
  ASSERT_TRUE(measured.ran);
  EXPECT_NEAR(measured.integratedLufs, -16.0, 0.5) << pair.name;
  EXPECT_LE(measured.truePeakDbtp, -1.0) << pair.name;
  EXPECT_NEAR(summaryFigure(run.out, " LUFS integrated"), measured.integratedLufs, 0.15) << run.out;
  EXPECT_NEAR(summaryFigure(run.out, " dBTP ("), measured.truePeakDbtp, 0.25) << run.out;
  // The dither moves the written peak off the mix's by a step; that is no
  // clipping.
  EXPECT_EQ(run.out.find("clipped"), std::string::npos) << run.out;
  std::printf("%s: ffmpeg I %.1f LUFS, true peak %.1f dBTP; %s", pair.name, measured.integratedLufs,
              measured.truePeakDbtp, run.out.substr(run.out.find("loudness of")).c_str());
}

INSTANTIATE_TEST_SUITE_P(Pairs, DuckLoudness, ::testing::Values(0u, 1u, 2u),
                         [](const auto& info) { return std::string(loudnessPairs()[info.param].name); });

TEST_F(DuckDelivery, ACeilingThatKeepsTheTargetOutOfReachStopsShortAndSaysByHowMuch) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";
  // Sparse clicks under a faint voice: peaks near full scale and little
  // loudness.
  std::vector<float> clicks(6 * rate, 0.0f);
  for (std::size_t i = 0; i < clicks.size(); i += rate / 4)
    clicks[i] = 0.9f;
  writeAudio(path("music.wav"), {clicks, clicks});
  writeAudio(path("voice.wav"), {buzz(1.0, 3.0, 6.0, 0.001f)});
  const RunResult run = duck("out.wav", {"--loudness", "-16", "--true-peak", "-2"});
  ASSERT_EQ(run.status, 0) << run.err;
  const IndependentMeasure measured = measureWithFfmpeg(path("out.wav"));
  ASSERT_TRUE(measured.ran);
  EXPECT_LE(measured.truePeakDbtp, -2.0);
  const double reached = summaryFigure(run.out, " LUFS integrated");
  EXPECT_NEAR(measured.integratedLufs, reached, 0.15);
  EXPECT_LT(reached, -16.5);
  const std::string warning = "warning: the true-peak ceiling of -2 dBTP holds the output at ";
  const std::string::size_type at = run.err.find(warning);
  ASSERT_NE(at, std::string::npos) << run.err;
  const double held = numberAfter(run.err, warning, at);
  const double short_ = numberAfter(run.err, " LUFS, ", at);
  EXPECT_DOUBLE_EQ(held, std::round(reached * 10) / 10);
  EXPECT_NEAR(short_, -16.0 - reached, 0.11);
  EXPECT_NE(run.err.find(" dB short of the target of -16 LUFS", at), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("dB short of the target of -16 LUFS: the ceiling of -2 dBTP holds it back"),
            std::string::npos)
      << run.out;
}

TEST_F(DuckDelivery, ACeilingAloneLowersOnlyWhatPassesIt) {
  if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";
  ASSERT_EQ(duck("plain.wav", {"-q"}).status, 0);
  // The mix peaks near -4 dBFS: a ceiling of -1 leaves it as it is, bit
  // for bit; a ceiling of -6 lowers it to -6.
  const RunResult above = duck("above.wav", {"--true-peak", "-1"});
  ASSERT_EQ(above.status, 0) << above.err;
  EXPECT_NE(above.out.find("(gain +0.0 dB to stay under the ceiling of -1 dBTP)"), std::string::npos)
      << above.out;
  EXPECT_TRUE(sameAudio(path("plain.wav"), path("above.wav")));
  const RunResult below = duck("below.wav", {"--true-peak", "-6"});
  ASSERT_EQ(below.status, 0) << below.err;
  const IndependentMeasure measured = measureWithFfmpeg(path("below.wav"));
  ASSERT_TRUE(measured.ran);
  EXPECT_LE(measured.truePeakDbtp, -6.0);
  EXPECT_GE(measured.truePeakDbtp, -6.3);
}

} // namespace
} // namespace cli_test
