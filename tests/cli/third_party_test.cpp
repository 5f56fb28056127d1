// The tool is a general host: `info` and `render` on a third-party effect
// with a side-chain input (Debian's lsp-plugins-vst, used in place because
// its modules load a shared library that lies beside them).
#include <filesystem>

#include "cli_support.hpp"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

// The stereo side-chain compressor of the installed collection, or empty.
std::string sideChainCompressor() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/vst/lsp-plugins", error)) {
    const std::string name = entry.path().filename().string();
    if ((name.find("sc-compressor-stereo") != std::string::npos ||
         name.find("sc_compressor_stereo") != std::string::npos) &&
        entry.path().extension() == ".so")
      return entry.path().string();
  }
  return "";
}

class ThirdPartyEffect : public ToolTest {
protected:
  void SetUp() override {
    module_ = sideChainCompressor();
    if (module_.empty())
      GTEST_SKIP() << "lsp-plugins-vst is not installed (scripts/install-deps.sh installs it)";
    ToolTest::SetUp();
  }
  std::string module_;
};

TEST_F(ThirdPartyEffect, InfoShowsItsInputsAndParameters) {
  const RunResult run = runTool({"info", module_});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Inputs:             4\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Outputs:            2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Interface version:  2400\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  index  name"), std::string::npos) << run.out;

  const RunResult json = runTool({"info", module_, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.rfind("{\n  \"module\": ", 0), 0u);
  EXPECT_NE(json.out.find("\"inputs\": 4,"), std::string::npos);
  EXPECT_NE(json.out.find("\"parameters\": [\n    {\n      \"index\": 0,"), std::string::npos);
}

TEST_F(ThirdPartyEffect, RendersMainAndSideChainInputs) {
  const std::size_t frames = 24000;
  writeAudio(path("music.wav"), {noise(frames, 21, 0.3f), noise(frames, 22, 0.3f)});
  writeAudio(path("voice.wav"), {bursts(frames, 4000, 4000, 23, 0.9f), bursts(frames, 4000, 4000, 24, 0.9f)});
  const RunResult run =
      runTool({"render", module_, "-i", path("music.wav"), "-i", path("voice.wav"), "-o", path("out.wav"),
               "--block", "256", "-p", "0=0", "--plot", path("out.png"), "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  const AudioFile out = readAudio(path("out.wav"));
  ASSERT_EQ(out.channels.size(), 2u);
  EXPECT_EQ(out.frames(), static_cast<std::int64_t>(frames));
  float peak = 0.0f;
  for (const float s : out.channels[0])
    peak = std::max(peak, std::abs(s));
  EXPECT_GT(peak, 0.0f);
  EXPECT_TRUE(exists(path("out.png")));
}

TEST_F(ThirdPartyEffect, UnknownParameterListsItsNames) {
  writeAudio(path("music.wav"), {noise(1000, 21, 0.3f)});
  const RunResult run =
      runTool({"render", module_, "-i", path("music.wav"), "-o", path("out.wav"), "-p", "NoSuchThing=0.5"});
  EXPECT_EQ(run.status, 2); // the command line names what the module lacks
  EXPECT_NE(run.err.find("unknown parameter 'NoSuchThing'; the module's parameters are '"), std::string::npos)
      << run.err;
  EXPECT_FALSE(exists(path("out.wav")));
}

} // namespace
} // namespace cli_test
