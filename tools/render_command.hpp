// `tandrel render`: input files through an effect module into an output file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "effect_host.hpp"

namespace tandrel::cli {

struct RenderOptions {
  std::string modulePath; // empty: the tandrel.so beside the tool
  std::vector<std::string> inputs;
  std::string output;
  int blockSize = 512;
  std::vector<std::string> parameters; // NAME=VALUE, in order
  bool compensateLatency = true;
  std::string plotPath;
  bool quiet = false;
};

// One --param argument split into the parameter (name or index) and its
// value. Throws CliError when it is not NAME=VALUE with a value from 0 to 1.
std::pair<std::string, float> parseParameterSetting(const std::string& setting);

// Checks the arguments, loads the module, renders and reports. Throws
// CliError or Interrupted; leaves no output file behind when it does. [main]
int runRender(const RenderOptions& options);

// Finds each parameter named in `settings` and sets it, in order. Throws
// CliError for a name the effect does not have.
void applyParameters(EffectHost& effect, const std::vector<std::pair<std::string, float>>& settings);

} // namespace tandrel::cli
