// Failures of the command-line host that the user can act on.
#pragma once

#include <stdexcept>
#include <string>

namespace tandrel::cli {

// Exit statuses of the tool.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
constexpr int exitInterrupted = 130; // as a shell reports a process ended by SIGINT

// A failure described for the user: what() is one line saying what went
// wrong and what to do about it. Thrown on the main thread only; the command
// that catches it exits with exitFailure.
class CliError : public std::runtime_error {
public:
  explicit CliError(const std::string& message) : std::runtime_error(message) {}
};

// The user asked the tool to stop (SIGINT or SIGTERM) while it was working.
class Interrupted : public std::runtime_error {
public:
  Interrupted() : std::runtime_error("interrupted; no output file was written") {}
};

} // namespace tandrel::cli
