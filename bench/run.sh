#!/bin/sh
# Builds and runs the processing and entry benchmarks, then prints the
# speed-up of each kernel over the per-frame reference from the same run.
# Usage: bench/run.sh [BUILD_DIR] [benchmark options, e.g. --benchmark_min_time=0.5]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ $# -gt 0 ] && shift
scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tandrel_bench tandrel tandrel_tool
exec "$build/bench/tandrel_bench" --benchmark_color=false "$@"
