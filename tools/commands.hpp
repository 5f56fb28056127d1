// The commands of `tandrel`, one folder each: every command registers its
// subcommand, its options and its callback with the parser through its own
// add(). main calls them in the order `--help` lists them; a new command is
// one line here and one in main.
//
// Thread: [main].
#pragma once

namespace CLI {
class App;
}

namespace tandrel::cli::info {
// `tandrel info`: what a host learns about a module.
void add(CLI::App& app);
} // namespace tandrel::cli::info

namespace tandrel::cli::render {
// `tandrel render`: files through any effect module.
void add(CLI::App& app);
} // namespace tandrel::cli::render

namespace tandrel::cli::duck {
// `tandrel duck`: music ducked under one or more voices, to a file.
void add(CLI::App& app);
} // namespace tandrel::cli::duck

namespace tandrel::cli::demo {
// `tandrel demo`: the duck job on built-in material.
void add(CLI::App& app);
} // namespace tandrel::cli::demo

namespace tandrel::check {
// `tandrel check`: the battery of checks on one or more modules.
void add(CLI::App& app);
} // namespace tandrel::check

namespace tandrel::cli::live {
// `tandrel live`: music ducked under a microphone in real time on JACK.
void add(CLI::App& app);
} // namespace tandrel::cli::live
