// The command-line host: `tandrel info`, `tandrel render`, `tandrel duck`,
// `tandrel demo`, `tandrel check` and `tandrel live`. Each command registers
// itself (its folder's add(), listed in common/commands.hpp); main parses the
// command line, which runs the chosen command's callback.
// Every failure ends in one line on standard error and a non-zero status
// (common/exit_status.hpp lists them).

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "common/cli_error.hpp"
#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/exit_status.hpp"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig, which cairo uses to find fonts for the pictures, keeps the
// configuration it parsed until the process ends; the leak checker of
// sanitizer builds is told that this is not the tool's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

int main(int argc, char** argv) {
  using namespace tandrel::cli;
  CLI::App app{"Tandrel command-line host: loads VST 2 effect modules as an audio host does", "tandrel"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "tandrel " TANDREL_VERSION);
  app.footer(exitStatusText);

  info::add(app);
  render::add(app);
  duck::add(app);
  demo::add(app);
  tandrel::check::add(app);
  live::add(app);

  try {
    app.parse(argc, argv);
  } catch (const CommandEnded& ended) {
    return ended.status;
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error); // --help and --version
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
      commands.push_back(command->get_name());
    std::fprintf(stderr, "tandrel: %s\n", usageMessage(error, app, arguments, commands).c_str());
    return exitUsage;
  }
  return exitSuccess;
}
