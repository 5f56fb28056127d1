#!/bin/sh
# Builds Tandrel and runs the whole test suite: the plain build, then the
# same suite under the address and undefined-behaviour sanitizers, then under
# the thread sanitizer. Installs missing Debian packages first.
# Usage: scripts/test.sh [plain|asan|tsan]...   (default: all three)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
variants=${*:-plain asan tsan}

for variant in $variants; do
  case $variant in
    plain) dir=build;      flags="" ;;
    asan)  dir=build-asan; flags="-DTANDREL_SANITIZE=address,undefined" ;;
    tsan)  dir=build-tsan; flags="-DTANDREL_SANITIZE=thread" ;;
    *) echo "unknown variant '$variant' (plain, asan or tsan)"; exit 2 ;;
  esac
  echo "== $variant build in $dir"
  # shellcheck disable=SC2086
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo $flags >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $variant tests"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
