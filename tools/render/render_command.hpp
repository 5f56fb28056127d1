// `tandrel render`: input files through an effect module into an output file.
#pragma once

#include <string>
#include <vector>

#include "common/loaded_effect.hpp"

namespace tandrel::cli {

// The largest number of frames per processing call (--block).
constexpr int largestBlockSize = 1 << 20;

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

// Checks the arguments, loads the module, renders and reports. Throws
// CliError or Interrupted; leaves no output file behind when it does. [main]
int runRender(const RenderOptions& options);

} // namespace tandrel::cli
