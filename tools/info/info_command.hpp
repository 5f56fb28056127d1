// `tandrel info`: what a host learns about an effect module.
#pragma once

#include <iosfwd>
#include <string>

#include "common/loaded_effect.hpp"

namespace tandrel::cli {

struct InfoOptions {
  std::string modulePath; // empty: the tandrel.so beside the tool
  bool json = false;
};

// Loads the module, opens one instance at 48000 Hz with blocks of 512,
// prints what it reports and closes it. Throws CliError. [main]
int runInfo(const InfoOptions& options);

// The flags word in words, e.g. "replacing process, programs as chunks";
// unnamed bits as hexadecimal numbers.
std::string flagWords(std::int32_t flags);
// The unique identifier's four characters, first from the most significant
// byte; bytes outside printable ASCII as \xNN.
std::string identifierCharacters(std::int32_t identifier);

void printInfoText(const EffectInfo& info, std::ostream& out);
void printInfoJson(const EffectInfo& info, std::ostream& out);

} // namespace tandrel::cli
