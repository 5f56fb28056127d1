// How the tool ends: the exit status, and the one line on standard error
// that says why when it does not succeed.
//   0   done
//   1   failed (a CliError, or an unexpected failure)
//   2   the command line is wrong (usage)
//   130 interrupted (SIGINT or SIGTERM)
//
// Thread: [main].
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
class ParseError;
} // namespace CLI

namespace tandrel::cli {

// For --help and the README.
inline constexpr const char* exitStatusText =
    "Exit status: 0 done, 1 failed, 2 usage error, 130 interrupted.";

// Runs a command and turns what it throws into its exit status, writing one
// line "tandrel: ..." to standard error: Interrupted gives 130, UsageError 2,
// CliError 1 (or 130 when an interrupt cut the work short, except an
// AfterAudioError, whose audio is written), anything else 1 with
// "unexpected failure".
int runReportingFailures(const std::function<int()>& command);

// The one line, in the tool's own words, for an error in the command line,
// ending with a pointer to the help of the command it concerns. `arguments`
// are the command line without the program's name; `commands` the names of
// the subcommands.
std::string usageMessage(const CLI::ParseError& error, const CLI::App& app,
                         const std::vector<std::string>& arguments, const std::vector<std::string>& commands);

} // namespace tandrel::cli
