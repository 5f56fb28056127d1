// `tandrel info` on Tandrel: everything a host learns, as text and as JSON,
// character for character.
#include <filesystem>

#include <nlohmann/json.hpp>

#include "cli_support.hpp"

namespace cli_test {
namespace {

const std::string expectedText = R"(Effect name:        Tandrel
Vendor:             Mirvex
Product:            Tandrel
Vendor version:     1000
Unique identifier:  Zd4k (1516516459)
Inputs:             2
Outputs:            2
Initial delay:      256 samples
Flags:              0x10 (replacing process)
Category:           0 (not specified)
Interface version:  2400
Program:            "Default"
Parameters:         2
  index  name        label      value  display
  0      "Source"    "Control"  1      "L-R"
  1      "Ratio x "  " "        0.25   "1.000000"
)";

const std::string expectedJsonAfterModule = R"(
  "effectName": "Tandrel",
  "vendor": "Mirvex",
  "product": "Tandrel",
  "vendorVersion": 1000,
  "uniqueIdentifier": {
    "characters": "Zd4k",
    "number": 1516516459
  },
  "inputs": 2,
  "outputs": 2,
  "initialDelay": 256,
  "flags": {
    "value": 16,
    "names": [
      "replacing process"
    ]
  },
  "category": 0,
  "interfaceVersion": 2400,
  "programName": "Default",
  "parameters": [
    {
      "index": 0,
      "name": "Source",
      "label": "Control",
      "value": 1,
      "display": "L-R"
    },
    {
      "index": 1,
      "name": "Ratio x ",
      "label": " ",
      "value": 0.25,
      "display": "1.000000"
    }
  ]
}
)";

TEST(Info, TextShowsWhatTheHostLearns) {
  const RunResult run = runTool({"info", modulePath});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "Module:             " + modulePath + "\n" + expectedText);
}

TEST(Info, JsonShowsTheSame) {
  const RunResult run = runTool({"info", modulePath, "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "{\n  \"module\": \"" + modulePath + "\"," + expectedJsonAfterModule);
}

TEST(Info, WithoutAModuleFindsTheOneBuiltBesideTheTool) {
  const RunResult run = runTool({"info"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string prefix = "Module:             ";
  ASSERT_EQ(run.out.compare(0, prefix.size(), prefix), 0) << run.out;
  const std::string found = run.out.substr(prefix.size(), run.out.find('\n') - prefix.size());
  EXPECT_TRUE(std::filesystem::equivalent(found, modulePath)) << found;
  EXPECT_EQ(run.out.substr(run.out.find('\n') + 1), expectedText);
}

// Input and output counts each come from their own field of the record.
TEST(Info, CountsThatDifferAreEachShown) {
  const RunResult text = runTool({"info", countsModulePath});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Inputs:             3\nOutputs:            2\n"), std::string::npos) << text.out;
  const RunResult json = runTool({"info", countsModulePath, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["inputs"], 3);
  EXPECT_EQ(document["outputs"], 2);
}

} // namespace
} // namespace cli_test
