// `tandrel duck`: music ducked under one or more voices in one command.
// Each music channel goes through its own Tandrel instance, controlled by
// the voices' presence envelope; each voice is resampled to the music's
// rate and can be mixed in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "duck_job.hpp"

namespace tandrel::cli {

struct DuckOptions {
  std::string musicPath;
  std::vector<std::string> voicePaths;
  std::vector<double> voiceGainsDb; // none, one for all, or one per voice
  std::vector<int> voiceChannels;   // the same; 0 averages the channels
  std::string output;
  std::string modulePath; // empty: the tandrel.so beside the tool
  std::string plotPath;
  std::string envelopePath;
  std::string labelsPath;
  DuckShape shape;
  // Delivery; the loudness and the ceiling are taken only when given.
  int bits = 0;
  double loudnessLufs = -16.0;
  double truePeakDbtp = defaultTruePeakDbtp;
  std::optional<double> loudness;
  std::optional<double> truePeak;
  double thresholdDbfs = 0.0;   // taken only when given
  std::optional<double> holdMs; // retired: refused with the option that replaces it
  bool quiet = false;
};

// Checks the arguments, ducks and reports. Throws CliError or Interrupted;
// leaves no output file behind when it does. `options.shape.thresholdDbfs`,
// `loudness` and `truePeak` are set when their options were given. [main]
int runDuck(const DuckOptions& options);

} // namespace tandrel::cli
