#include "exit_status.hpp"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <exception>

#include "cli_error.hpp"
#include "interrupt.hpp"

namespace tandrel::cli {

namespace {

int report(const std::string& message, int status) {
  // What the command printed comes first where both streams go to one place.
  std::fflush(stdout);
  std::fprintf(stderr, "tandrel: %s\n", message.c_str());
  return status;
}

// "a, b or c" (or "a, b and c").
std::string commandList(const std::vector<std::string>& commands, const char* last) {
  std::string list;
  for (std::size_t i = 0; i < commands.size(); ++i)
    list += (i == 0 ? "" : i + 1 == commands.size() ? last : ", ") + commands[i];
  return list;
}

bool isCommand(const std::string& word, const std::vector<std::string>& commands) {
  for (const std::string& command : commands)
    if (word == command) return true;
  return false;
}

} // namespace

int runReportingFailures(const std::function<int()>& command) {
  try {
    return command();
  } catch (const Interrupted& stop) {
    return report(stop.what(), exitInterrupted);
  } catch (const UsageError& error) {
    return report(error.what(), exitUsage);
  } catch (const AfterAudioError& error) {
    // Some files are written: saying "interrupted" would hide them.
    return report(error.what(), exitFailure);
  } catch (const CliError& error) {
    // A blocking call cut short by the signal fails in its own way; the
    // interrupt is what happened.
    if (interruptRequested()) return report(Interrupted().what(), exitInterrupted);
    return report(error.what(), exitFailure);
  } catch (const std::exception& error) {
    return report(std::string("unexpected failure: ") + error.what(), exitFailure);
  } catch (...) {
    return report("unexpected failure", exitFailure);
  }
}

std::string usageMessage(const CLI::ParseError& error, const CLI::App& app,
                         const std::vector<std::string>& arguments,
                         const std::vector<std::string>& commands) {
  std::string help = "tandrel --help";
  for (const std::string& command : commands)
    if (app.got_subcommand(command)) help = "tandrel " + command + " --help";

  std::string message = error.what();
  const std::string first = arguments.empty() ? "" : arguments.front();
  if (app.get_subcommands().empty() && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    if (first.empty() || first.front() == '-')
      message = "give a command: " + commandList(commands, " or ");
    else if (!isCommand(first, commands))
      message = "unknown command '" + first + "'; the commands are " + commandList(commands, " and ");
  }
  if (!message.empty())
    message.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(message.front())));
  return message + " (see " + help + ")";
}

} // namespace tandrel::cli
