#!/bin/sh
# Builds Tandrel and runs the main job on its built-in default: `tandrel
# duck --mix` on embedded material. The command-line host loads tandrel.so
# as an audio host does, one instance per channel, ducks a synthesised
# stereo music bed under a speech-like voice recorded at 22,050 Hz, mixes
# the resampled voice in, and writes the result and a picture of it into the
# folder the script is run from (the summary names the files with their full
# paths).
# Usage: scripts/demo.sh [options of "tandrel demo"]
set -eu
here=$(pwd)
cd "$(dirname "$0")/.."
repository=$(pwd)
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tandrel tandrel_tool
cd "$here"
exec "$repository/build/tools/tandrel" demo "$@"
