// `tandrel duck`: music ducked under a voice in one command. Each music
// channel goes through its own Tandrel instance, controlled by the voice's
// presence envelope; the voice is resampled to the music's rate and can be
// mixed in.
#pragma once

#include <string>

#include "duck_job.hpp"

namespace CLI {
class App;
}

namespace tandrel::cli {

struct DuckOptions {
  std::string musicPath;
  std::string voicePath;
  std::string output;
  std::string modulePath; // empty: the tandrel.so beside the tool
  std::string plotPath;
  DuckShape shape;
  bool quiet = false;
};

// Adds the `duck` subcommand and its options to the command line.

// Checks the arguments, ducks and reports. Throws CliError or Interrupted;
// leaves no output file behind when it does. [main]
int runDuck(const DuckOptions& options);

} // namespace tandrel::cli

namespace tandrel::cli::duck {

// Registers `tandrel duck`: music ducked under a voice. [main]
void add(CLI::App& app);

} // namespace tandrel::cli::duck
