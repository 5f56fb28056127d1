// `tandrel duck`'s files beside the audio: the gain over time as a CSV
// table, each voice's presence as a label track, and the share of time in
// which any of several voices is present.
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "cli_support.hpp"

namespace cli_test {
namespace {

constexpr int rate = 48000;

// A voice of 4 s that speaks (a 300 Hz tone) over the given stretches.
std::vector<float> speakingOver(const std::vector<std::pair<double, double>>& stretches) {
  std::vector<float> voice(4 * rate, 0.0f);
  for (const auto& [from, to] : stretches)
    for (auto i = static_cast<std::size_t>(from * rate); i < static_cast<std::size_t>(to * rate); ++i)
      voice[i] = 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 300.0 * i / rate));
  return voice;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    result.push_back(line);
  return result;
}

class DuckAnnotations : public ToolTest {
protected:
  RunResult duck(std::vector<std::string> more) {
    std::vector<std::string> arguments{"duck", "--music", path("music.wav"), "--output", path("out.wav")};
    for (std::string& argument : more)
      arguments.push_back(argument.rfind('@', 0) == 0 ? path(argument.substr(1)) : argument);
    return runTool(arguments);
  }
};

// Music of a steady level, so that each output sample is that level times
// the gain applied to it: the table's gain at a block's first frame is the
// gain found there in the output, to the table's six decimals.
TEST_F(DuckAnnotations, TheEnvelopeTableHoldsTheGainAppliedAtEveryBlock) {
  const std::vector<float> level(4 * rate, 0.5f);
  writeAudio(path("music.wav"), {level, level});
  writeAudio(path("voice.wav"), {speakingOver({{1.0, 2.0}})});
  const RunResult run = duck({"--voice", "@voice.wav", "--envelope", "@gain.csv", "--threshold", "-30"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("wrote " + path("gain.csv")), std::string::npos) << run.out;
  const std::vector<std::string> rows = lines(readBytes(path("gain.csv")));
  ASSERT_EQ(rows.size(), 1u + 4 * rate / 128);
  EXPECT_EQ(rows[0], "seconds,gain_db");
  const AudioFile written = readAudio(path("out.wav"));
  const std::vector<float>& out = written.channels.at(1);
  int atDepth = 0;
  int atFull = 0;
  for (std::size_t b = 0; b + 1 < rows.size(); ++b) {
    double seconds = 0.0;
    double gainDb = 0.0;
    char comma = 0;
    std::istringstream row(rows[b + 1]);
    ASSERT_TRUE(row >> seconds >> comma >> gainDb) << rows[b + 1];
    EXPECT_NEAR(seconds, static_cast<double>(b * 128) / rate, 5e-7) << rows[b + 1];
    ASSERT_NEAR(gainDb, 20.0 * std::log10(out[b * 128] / 0.5), 2e-6) << rows[b + 1];
    atDepth += std::fabs(gainDb + 12.0) < 1e-5 ? 1 : 0;
    atFull += gainDb == 0.0 ? 1 : 0;
  }
  // Under the voice the gain is the depth, a second's worth of blocks;
  // away from it, full level.
  EXPECT_GE(atDepth, rate / 128);
  EXPECT_GE(atFull, 2 * rate / 128);
}

// Voices that speak in turn or at once: each voice's stretches in the label
// track under its file's name, and the summary's share of time in which
// any voice is present: the union of their presence, not the largest.
// Each stretch ends 10 ms after its tone: the voice-band filter rings on
// for a few milliseconds after a tone stops dead, which keeps the window
// after it above the threshold.
struct TurnsCase {
  const char* name;
  std::vector<std::pair<double, double>> first;
  std::vector<std::pair<double, double>> second;
  const char* labels;
  const char* anyPresent;
};

class DuckTurns : public DuckAnnotations, public ::testing::WithParamInterface<TurnsCase> {};

TEST_P(DuckTurns, LabelsMarkEachVoiceAndTheSummaryCountsTheTimeAnyIsPresent) {
  const TurnsCase param = GetParam();
  const std::vector<float> music(4 * rate, 0.25f);
  writeAudio(path("music.wav"), {music, music});
  writeAudio(path("host.wav"), {speakingOver(param.first)});
  writeAudio(path("guest.wav"), {speakingOver(param.second)});
  const RunResult run = duck({"--voice", "@host.wav", "--voice", "@guest.wav", "--threshold", "-30",
                              "--labels", "@labels.txt", "--max-pause", "400"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBytes(path("labels.txt")), param.labels);
  EXPECT_NE(run.out.find(std::string("any voice present ") + param.anyPresent +
                         " of the time: at least one voice at or above its threshold\n"),
            std::string::npos)
      << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Voices, DuckTurns,
    ::testing::Values(TurnsCase{"InTurn",
                                {{0.5, 1.5}},
                                {{2.5, 3.5}},
                                "0.500000\t1.510000\thost.wav\n2.500000\t3.510000\tguest.wav\n",
                                "50.5 %"},
                      TurnsCase{"Overlapping",
                                {{0.5, 2.0}},
                                {{1.5, 3.0}},
                                "0.500000\t2.010000\thost.wav\n1.500000\t3.010000\tguest.wav\n",
                                "62.7 %"},
                      // Pauses up to --max-pause are bridged in the labels
                      // too, but never counted as presence.
                      TurnsCase{"WithPauses",
                                {{0.2, 0.6}, {0.9, 1.2}},
                                {{2.0, 2.5}, {3.5, 3.9}},
                                "0.200000\t1.210000\thost.wav\n2.000000\t2.510000\tguest.wav\n"
                                "3.500000\t3.910000\tguest.wav\n",
                                "41.0 %"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DuckAnnotations, AVoiceStillSpeakingAtTheEndIsLabelledToTheEnd) {
  const std::vector<float> music(4 * rate, 0.25f);
  writeAudio(path("music.wav"), {music});
  writeAudio(path("voice.wav"), {speakingOver({{3.0, 4.0}}), speakingOver({})});
  const RunResult run = duck(
      {"--voice", "@voice.wav", "--voice-channel", "1", "--threshold", "-30", "--labels", "@labels.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBytes(path("labels.txt")), "3.000000\t4.000000\tvoice.wav channel 1\n");
  // One voice: its own share is the share of any voice, said once; the
  // window past the end, where the filter rings, is not counted.
  EXPECT_NE(run.out.find("present 25.0 % of the time"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("any voice"), std::string::npos) << run.out;
}

} // namespace
} // namespace cli_test
