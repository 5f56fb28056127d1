// Every number a command takes has a range, and a value outside it on the
// command line is a usage error: exit status 2 and one line naming the
// option and its range, before any file is touched. One row per option and
// side of its range. `info` and `demo` take no numbers (paths and flags only).
// `live` refuses its values before it looks for a JACK server.
#include <algorithm>

#include "cli_support.hpp"

namespace cli_test {
namespace {

class OptionRanges : public ErrorCaseTest {
protected:
  void SetUp() override {
    ErrorCaseTest::SetUp();
    writeAudio(path("stereo.wav"), {noise(400, 1, 0.5f), noise(400, 2, 0.5f)});
  }
};

TEST_P(OptionRanges, RefusedAsAUsageErrorNamingTheOption) {
  expectOneLineError(runTool(expandArguments(GetParam().arguments)), GetParam());
  const std::vector<std::string> left = listDirectory(directory());
  EXPECT_EQ(left, std::vector<std::string>{"stereo.wav"});
}

std::vector<std::string> render(std::vector<std::string> more) {
  more.insert(more.begin(), {"render", "@tandrel", "-i", "@stereo.wav", "-o", "@out.wav"});
  return more;
}

std::vector<std::string> duck(std::vector<std::string> more) {
  more.insert(more.begin(), {"duck", "-m", "@stereo.wav", "-v", "@stereo.wav", "-o", "@out.wav"});
  return more;
}

std::vector<std::string> check(std::vector<std::string> more) {
  more.insert(more.begin(), {"check", "@tandrel"});
  return more;
}

std::vector<std::string> live(std::vector<std::string> more) {
  more.insert(more.begin(), {"live", "--quiet", "--server", "tandrel_no_such_server"});
  return more;
}

constexpr int usage = 2;

INSTANTIATE_TEST_SUITE_P(
    Render, OptionRanges,
    ::testing::Values(
        ErrorCase{"BlockZero", render({"--block", "0"}), {"--block: '0'", "1 to 1048576"}, usage},
        ErrorCase{"BlockTooLarge", render({"-b", "1048577"}), {"--block: '1048577'", "1 to 1048576"}, usage},
        ErrorCase{"BlockFraction", render({"--block", "2.5"}), {"--block: '2.5'", "whole number"}, usage},
        ErrorCase{"ParameterAboveOne", render({"-p", "Source=1.5"}), {"--param", "1.5", "0 to 1"}, usage},
        ErrorCase{"ParameterBelowZero", render({"--param", "0=-0.5"}), {"--param", "-0.5", "0 to 1"}, usage},
        ErrorCase{"ParameterNaN", render({"-p", "Ratio x=nan"}), {"--param", "0 to 1"}, usage},
        // Known only once the module is loaded: still the command line's fault.
        ErrorCase{"ParameterIndexBeyondTheModule", render({"-p", "5=0.5"}), {"index 5", "0 to 1"}, usage}),
    errorCaseName);

// duck's rows: the owner of `duck` adds one per ranged option and side.
INSTANTIATE_TEST_SUITE_P(
    Duck, OptionRanges,
    ::testing::Values(
        ErrorCase{"DepthNegative", duck({"--depth", "-3"}), {"--depth", "0 to 100 dB"}, usage},
        ErrorCase{"DepthTooLarge", duck({"--depth", "101"}), {"--depth", "0 to 100 dB"}, usage},
        ErrorCase{
            "ThresholdAboveFullScale", duck({"--threshold", "1"}), {"--threshold", "-120 to 0 dBFS"}, usage},
        ErrorCase{"AttackTooLong", duck({"--attack", "5001"}), {"--attack", "0 to 5000 ms"}, usage},
        ErrorCase{"MaxPauseNegative", duck({"--max-pause", "-1"}), {"--max-pause", "0 to 60000 ms"}, usage},
        ErrorCase{"HoldRetired", duck({"--hold", "300"}), {"--hold is replaced by --max-pause"}, usage},
        ErrorCase{"ReleaseTooLong", duck({"--release", "60001"}), {"--release"}, usage},
        ErrorCase{"MusicGainTooLarge", duck({"--music-gain", "41"}), {"--music-gain"}, usage},
        ErrorCase{"VoiceGainTooSmall", duck({"--voice-gain", "-41"}), {"--voice-gain"}, usage},
        ErrorCase{
            "VoiceChannelTooLarge", duck({"--voice-channel", "65"}), {"--voice-channel", "0 to 64"}, usage},
        ErrorCase{
            "LoudnessAboveFullScale", duck({"--loudness", "1"}), {"--loudness", "-70 to 0 LUFS"}, usage},
        ErrorCase{"LoudnessTooLow", duck({"--loudness", "-71"}), {"--loudness", "-70 to 0 LUFS"}, usage},
        ErrorCase{
            "TruePeakAboveFullScale", duck({"--true-peak", "0.5"}), {"--true-peak", "-30 to 0 dBTP"}, usage},
        ErrorCase{"TruePeakTooLow", duck({"--true-peak", "-31"}), {"--true-peak", "-30 to 0 dBTP"}, usage},
        ErrorCase{"BitsTooFew", duck({"--bits", "8"}), {"--bits", "16 to 32"}, usage},
        ErrorCase{"BitsTooMany", duck({"--bits", "64"}), {"--bits", "16 to 32"}, usage}),
    errorCaseName);

INSTANTIATE_TEST_SUITE_P(
    Live, OptionRanges,
    ::testing::Values(
        ErrorCase{"ChannelsZero", live({"--channels", "0"}), {"--channels: '0'", "1 to 64"}, usage},
        ErrorCase{"ChannelsTooMany", live({"-c", "65"}), {"--channels: '65'", "1 to 64"}, usage},
        ErrorCase{"DepthNegative", live({"--depth", "-3"}), {"--depth", "0 to 100 dB"}, usage},
        ErrorCase{
            "ThresholdAboveFullScale", live({"--threshold", "1"}), {"--threshold", "-120 to 0 dBFS"}, usage},
        ErrorCase{"AttackNegative", live({"--attack", "-1"}), {"--attack", "0 to 60000 ms"}, usage},
        ErrorCase{"HoldTooLong", live({"--hold", "60001"}), {"--hold", "0 to 60000 ms"}, usage},
        ErrorCase{"ReleaseNotANumber", live({"--release", "abc"}), {"--release", "not a number"}, usage},
        ErrorCase{"LookaheadTooLong", live({"--lookahead", "1001"}), {"--lookahead", "0 to 1000 ms"}, usage},
        ErrorCase{"MusicGainTooLarge", live({"--music-gain", "41"}), {"--music-gain", "-40 to 40 dB"}, usage},
        ErrorCase{
            "VoiceGainTooSmall", live({"--voice-gain", "-41"}), {"--voice-gain", "-40 to 40 dB"}, usage}),
    errorCaseName);

// check's rows: the owners of `check` add one per ranged option and side.
INSTANTIATE_TEST_SUITE_P(
    Check, OptionRanges,
    ::testing::Values(ErrorCase{"TimeLimitNegative", check({"--time-limit", "-1"}), {"--time-limit"}, usage},
                      ErrorCase{"TimeLimitZero", check({"--time-limit", "0"}), {"--time-limit"}, usage}),
    errorCaseName);

} // namespace
} // namespace cli_test
