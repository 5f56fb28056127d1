#!/bin/sh
# Builds Tandrel and runs the whole test suite: the plain build (which first
# checks that every C++ file follows .clang-format), then the same suite under
# the address and undefined-behaviour sanitizers, under the thread sanitizer
# and as 32-bit x86 code. Installs missing Debian packages first.
# Variant "hosts" (not in the default) tests the module in real hosts: it
# installs Ardour and Audacity (scripts/install-host-deps.sh), builds the plain build with
# the host tests, packages it, installs the package into /usr with dpkg -i
# (as root or through sudo) and runs the tests labelled "hosts".
# Variant "m32" builds and runs the suite as 32-bit x86 code
# (cmake/toolchain-linux-i686.cmake, GoogleTest compiled from its sources).
# Variant "windows" (not in the default: it adds the i386 architecture and
# Wine) cross-builds tandrel.dll for 64-bit and 32-bit Windows, checks its
# exports and imports and runs the smoke test under Wine (scripts/windows.sh).
# Variant "fuzz" (not in the default) runs each fuzzer for
# TANDREL_FUZZ_SECONDS seconds, 120 unless set (scripts/fuzz.sh).
# Variant "release" (not in the default) builds as a user or a distribution
# does: CMake's Release with its default flags, warnings not errors, with GCC
# (build-release-gcc) and with Clang (build-release-clang); the suite runs in
# the Clang build, the module checks (exports, symbol versions) in both.
# Every other build treats warnings as errors (TANDREL_WERROR).
# Usage: scripts/test.sh [plain|asan|tsan|m32|hosts|windows|fuzz|release]...   (default: plain asan tsan m32)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
variants=${*:-plain asan tsan m32}

release_builds() {
  scripts/install-cross-deps.sh release
  for compiler in g++ clang++; do
    case $compiler in
      g++) dir=build-release-gcc; tests='^module_' ;;
      clang++) dir=build-release-clang; tests='' ;;
    esac
    echo "== release build with $compiler in $dir"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== release tests with $compiler${tests:+ (the module checks)}"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" ${tests:+-R "$tests"}
  done
}

for variant in $variants; do
  case $variant in
    plain) dir=build;      flags="-DTANDREL_HOST_TESTS=OFF" ;;
    asan)  dir=build-asan; flags="-DTANDREL_SANITIZE=address,undefined" ;;
    tsan)  dir=build-tsan; flags="-DTANDREL_SANITIZE=thread" ;;
    hosts) dir=build;      flags="-DTANDREL_HOST_TESTS=ON"; scripts/install-host-deps.sh ;;
    m32)   dir=build-m32;  scripts/install-cross-deps.sh m32
           flags="-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake -DTANDREL_BUILD_GTEST_FROM_SOURCE=ON
                  -DTANDREL_BUILD_TOOLS=OFF -DTANDREL_BUILD_BENCH=OFF" ;;
    windows) scripts/windows.sh; continue ;;
    fuzz)  scripts/fuzz.sh "${TANDREL_FUZZ_SECONDS:-120}"; continue ;;
    release) release_builds; continue ;;
    *) echo "unknown variant '$variant' (plain, asan, tsan, m32, hosts, windows, fuzz or release)"; exit 2 ;;
  esac
  if [ "$variant" = plain ]; then
    echo "== formatting (.clang-format)"
    # shellcheck disable=SC2046
    git ls-files '*.cpp' '*.hpp' '*.inl' | xargs clang-format --dry-run --Werror ||
      { echo "FAILED: the files above depart from .clang-format (clang-format -i FILE mends them)"; exit 1; }
  fi
  echo "== $variant build in $dir"
  # shellcheck disable=SC2086
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_WERROR=ON $flags >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $variant tests"
  if [ "$variant" = hosts ]; then
    rm -f "$dir"/tandrel_*.deb
    (cd "$dir" && cpack -G DEB)
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo dpkg -i "$dir"/tandrel_*.deb
    TANDREL_EXPECT_INSTALLED=1 ctest --test-dir "$dir" -L hosts --output-on-failure -j "$jobs"
    continue
  fi
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$dir" --output-on-failure -j "$jobs"
  if [ "$variant" = plain ]; then
    # A report, not a gate: `tandrel check` on a few third-party modules.
    for module in sc-compressor-stereo limiter-stereo gate-stereo; do
      "$dir/tools/tandrel" check "/usr/lib/vst/lsp-plugins/$module.so" 2>/dev/null || true
    done
  fi
done
