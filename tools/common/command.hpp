// How a command joins the tool. Each command's folder exposes one
//
//   void add(CLI::App& app);
//
// that registers its subcommand, its options and a callback that runs it;
// main is the list of those calls. The callback runs the command through
// runCommand, which turns failures into one line and an exit status, and hands
// a status other than 0 back to main by throwing CommandEnded out of the
// parser.
//
// Thread: [main].
#pragma once

#include <functional>

namespace tandrel::cli {

// Carries a command's non-zero exit status from its callback to main.
struct CommandEnded {
  int status;
};

// Whether the command's work may be cut short by SIGINT, SIGTERM or SIGHUP
// (its output is then removed and the tool exits 130).
enum class Interruptible { no, yes };

// Runs `command` as every command runs: anything it throws becomes one line
// on standard error and its exit status (exit_status.hpp); a status other
// than 0 leaves as CommandEnded.
void runCommand(const std::function<int()>& command, Interruptible interruptible);

} // namespace tandrel::cli
