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

namespace tandrel::cli {

// `tandrel info`: what a host learns about a module.
namespace info {
void add(CLI::App& app);
}

// `tandrel render`: files through any effect module.
namespace render {
void add(CLI::App& app);
}

// `tandrel duck`: music ducked under one or more voices, to a file.
namespace duck {
void add(CLI::App& app);
}

// `tandrel demo`: the duck job on built-in material.
namespace demo {
void add(CLI::App& app);
}

// `tandrel live`: music ducked under a microphone in real time on JACK.
namespace live {
void add(CLI::App& app);
}

} // namespace tandrel::cli

namespace tandrel::check {

// `tandrel check`: the battery of checks on one or more modules.
void add(CLI::App& app);

} // namespace tandrel::check
