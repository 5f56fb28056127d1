// The tool's commands. Each folder under tools/ defines its command's add(),
// which registers the subcommand, its options and the callback that runs it
// (common/command.hpp); main calls them in this order.
//
// Thread: [main].
#pragma once

namespace CLI {
class App;
}

namespace tandrel::cli {

// `tandrel info`: what a host learns about an effect module.
namespace info {
void add(CLI::App& app);
}

// `tandrel render`: input files through any effect module into an output file.
namespace render {
void add(CLI::App& app);
}

// `tandrel duck`: music ducked under one or more voices.
namespace duck {
void add(CLI::App& app);
}

// `tandrel demo`: the duck job on built-in material.
namespace demo {
void add(CLI::App& app);
}

// `tandrel live`: music ducked under a microphone as a JACK client.
namespace live {
void add(CLI::App& app);
}

} // namespace tandrel::cli

namespace tandrel::check {

// `tandrel check`: a module's behaviour in a host's hands, checked.
void add(CLI::App& app);

} // namespace tandrel::check
