// `tandrel live`: music ducked under a microphone in real time, as a JACK
// client; or, with a module that is not Tandrel, that module live.
//
// Thread: [main].
#pragma once

#include <string>
#include <vector>

#include "ducking_engine.hpp"

namespace tandrel::cli {

struct LiveOptions {
  LiveShape shape;
  std::string clientName = "tandrel";
  std::string serverName;               // empty: JACK's default (JACK_DEFAULT_SERVER)
  std::vector<std::string> connections; // ROLE=PATTERN
  std::string modulePath;               // empty: the tandrel.so beside the tool
  std::vector<std::string> parameters;  // NAME=VALUE, for a module that is not Tandrel
  bool quiet = false;
};

// Runs until SIGINT, SIGTERM, SIGHUP or the q key (status 0), or until the
// JACK server goes away (one line, status 1). Throws CliError when it
// cannot start.
int runLive(const LiveOptions& options);

} // namespace tandrel::cli
