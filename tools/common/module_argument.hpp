// The effect module a command hosts, as its command line names it: the
// field every such command's options have, and the one declaration of the
// positional argument `module` that `info` and `render` take.
//
// Thread: [main].
#pragma once

#include <string>

#include "module_locator.hpp"
#include "option_declaration.hpp"

namespace tandrel::cli {

// The options of a command that hosts a module file derive from this.
struct ModuleChoice {
  std::string modulePath; // empty: the tandrel.so beside the tool

  // The module named, or the default one when none is. Throws CliError when
  // none is named and none is found.
  std::string chosenModulePath() const { return modulePath.empty() ? defaultModulePath() : modulePath; }
};

inline constexpr PlainOption<ModuleChoice, std::string> moduleArgument{
    "module", &ModuleChoice::modulePath, "Effect module (.so); default: the tandrel.so beside the tool"};

} // namespace tandrel::cli
