// Where the tool finds tandrel.so when no module is named on the command line.
#pragma once

#include <string>
#include <vector>

namespace tandrel::cli {

// The places looked at, in order: beside the executable, the build tree (the
// tool is built in build/tools/, the module in build/), the installed layout
// (bin/ and lib/lxvst/), then the module's location at build time.
std::vector<std::string> defaultModuleCandidates();

// The first candidate that exists. Throws CliError naming every place looked
// at when none does. [main]
std::string defaultModulePath();

} // namespace tandrel::cli
