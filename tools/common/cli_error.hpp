// Failures of the command-line host that the user can act on.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tandrel::cli {

// Exit statuses of the tool.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;         // the command line itself is wrong
constexpr int exitInterrupted = 130; // as a shell reports a process ended by SIGINT

// A failure described for the user: what() is one line saying what went
// wrong and what to do about it. Thrown on the main thread only; the command
// that catches it exits with exitFailure.
class CliError : public std::runtime_error {
public:
  explicit CliError(const std::string& message) : std::runtime_error(message) {}
};

// A command-line value the tool refuses on its own terms (a range no option
// parser knows): a usage error, which exits with exitUsage.
class UsageError : public CliError {
public:
  explicit UsageError(const std::string& message) : CliError(message) {}
};

// A failure once a job's audio is in place (its picture, or a file written
// beside it, could not be written): the audio stays written, and what() ends
// by saying which files are written and which are not. It exits with
// exitFailure even when an interrupt arrived meanwhile, since the files it
// names as written are there.
class AfterAudioError : public CliError {
public:
  AfterAudioError(const std::string& message, std::vector<std::string> written)
      : CliError(message), written_(std::move(written)) {}
  // The paths in place, the audio's first.
  const std::vector<std::string>& written() const { return written_; }
  bool isWritten(const std::string& path) const {
    return std::find(written_.begin(), written_.end(), path) != written_.end();
  }

private:
  std::vector<std::string> written_;
};

// The user asked the tool to stop (SIGINT or SIGTERM) while it was working.
class Interrupted : public std::runtime_error {
public:
  Interrupted() : std::runtime_error("interrupted; no output file was written") {}
};

} // namespace tandrel::cli
