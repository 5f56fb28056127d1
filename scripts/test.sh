#!/bin/sh
# Builds Tandrel and runs the whole test suite: the plain build (which first
# checks that every C++ file follows .clang-format), then the same suite under
# the address and undefined-behaviour sanitizers, under the thread sanitizer
# and as 32-bit x86 code. Installs missing Debian packages first. Every
# variant runs even when one fails; the end is one line per variant (tests
# passed, failed and skipped with their reasons) and a verdict, and the exit
# status is non-zero when any variant failed.
# Variant "hosts" (not in the default) tests the module in real hosts: it
# installs Ardour and Audacity (scripts/install-host-deps.sh), builds the plain build with
# the host tests, packages it, installs the package into /usr with dpkg -i
# (as root or through sudo) and runs the tests labelled "hosts".
# Variant "m32" builds and runs the suite as 32-bit x86 code (under qemu-i386
# where the machine does not run 32-bit programs itself)
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
summary=""
failed=""

# Adds a variant's line to the summary printed at the end.
note() {
  summary="$summary$1
"
}

# Runs ctest on a build and notes its counts (scripts/junit_summary.awk).
run_tests() { # variant dir [ctest options]...
  variant=$1 dir=$2
  shift 2
  junit="$PWD/$dir/test-results.xml"
  rm -f "$junit"
  status=0
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$junit" "$@" ||
    status=1
  if [ -f "$junit" ]; then
    note "$(awk -v variant="$variant" -f scripts/junit_summary.awk "$junit")"
  else
    note "$variant: the tests did not run"
  fi
  return $status
}

# The release variant: both compilers, default flags. Non-zero when
# anything failed.
release_builds() {
  scripts/install-cross-deps.sh release || return 1
  result=0
  for compiler in g++ clang++; do
    case $compiler in
      g++) dir=build-release-gcc; tests='^module_' ;;
      clang++) dir=build-release-clang; tests='' ;;
    esac
    echo "== release build with $compiler in $dir"
    if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$compiler" >/dev/null ||
      ! cmake --build "$dir" -j "$jobs"; then
      note "release ($compiler): FAILED: the build failed"
      result=1
      continue
    fi
    echo "== release tests with $compiler${tests:+ (the module checks)}"
    run_tests "release ($compiler)" "$dir" ${tests:+-R "$tests"} || result=1
  done
  return $result
}

# Prints the CMake flag that runs 32-bit test programs through qemu-i386 when
# this machine's kernel does not run them itself (some virtual machines and
# sandboxes refuse 32-bit executables with "Exec format error"); prints
# nothing when they run natively. Non-zero when neither works.
m32_emulator_flag() {
  probe=$(mktemp -d)
  echo 'int main(void) { return 0; }' >"$probe/probe.c"
  if ! gcc -m32 "$probe/probe.c" -o "$probe/probe" >&2; then
    rm -rf "$probe"
    echo "m32: gcc -m32 cannot build a program" >&2
    return 1
  fi
  if "$probe/probe" 2>/dev/null; then
    rm -rf "$probe"
    return 0
  fi
  echo "m32: this machine does not run 32-bit programs; the tests run under qemu-i386" >&2
  scripts/install-cross-deps.sh m32-emulator >&2 || { rm -rf "$probe"; return 1; }
  if ! qemu-i386 "$probe/probe"; then
    rm -rf "$probe"
    echo "m32: qemu-i386 does not run 32-bit programs either" >&2
    return 1
  fi
  rm -rf "$probe"
  echo "-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v qemu-i386)"
}

# One variant: its build and its tests. Non-zero when anything failed.
run_variant() { # variant
  variant=$1
  case $variant in
    plain) dir=build;      flags="-DTANDREL_HOST_TESTS=OFF" ;;
    asan)  dir=build-asan; flags="-DTANDREL_SANITIZE=address,undefined" ;;
    tsan)  dir=build-tsan; flags="-DTANDREL_SANITIZE=thread" ;;
    hosts) dir=build;      flags="-DTANDREL_HOST_TESTS=ON"; scripts/install-host-deps.sh || return 1 ;;
    m32)   dir=build-m32;  scripts/install-cross-deps.sh m32 || return 1
           flags="-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake -DTANDREL_BUILD_GTEST_FROM_SOURCE=ON
                  -DTANDREL_BUILD_TOOLS=OFF -DTANDREL_BUILD_BENCH=OFF $(m32_emulator_flag)" ||
             { note "m32: FAILED: nothing here runs 32-bit programs (see above)"; return 1; } ;;
    windows) if scripts/windows.sh; then
               not_run=$(cat "${TANDREL_BUILD_PREFIX:-build}"-win*/smoke-not-run 2>/dev/null || true)
               note "windows: all checks passed${not_run:+ (}$not_run${not_run:+)}"
               return 0
             fi
             note "windows: FAILED (see above)"; return 1 ;;
    fuzz)  scripts/fuzz.sh "${TANDREL_FUZZ_SECONDS:-120}" && note "fuzz: no failure found" && return 0
           note "fuzz: FAILED (see above)"; return 1 ;;
    release) release_builds; return ;;
  esac
  if [ "$variant" = plain ]; then
    echo "== formatting (.clang-format)"
    if ! git ls-files '*.cpp' '*.hpp' '*.inl' | xargs clang-format --dry-run --Werror; then
      echo "FAILED: the files above depart from .clang-format (clang-format -i FILE mends them)"
      note "plain: FAILED: C++ files depart from .clang-format"
      return 1
    fi
  fi
  echo "== $variant build in $dir"
  # shellcheck disable=SC2086
  if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_WERROR=ON $flags >/dev/null ||
    ! cmake --build "$dir" -j "$jobs"; then
    note "$variant: FAILED: the build failed"
    return 1
  fi
  echo "== $variant tests"
  if [ "$variant" = hosts ]; then
    rm -f "$dir"/tandrel_*.deb
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    if ! (cd "$dir" && cpack -G DEB) || ! $sudo dpkg -i "$dir"/tandrel_*.deb; then
      note "hosts: FAILED: the package could not be built or installed"
      return 1
    fi
    export TANDREL_EXPECT_INSTALLED=1
    run_tests hosts "$dir" -L hosts
    return
  fi
  status=0
  run_tests "$variant" "$dir" || status=1
  if [ "$variant" = plain ]; then
    # A report, not a gate: `tandrel check` on a few third-party modules.
    # Their failures are the modules' own, not the suite's.
    echo "== information only, not a test: tandrel check --quick on three third-party modules"
    "$dir/tools/tandrel" check --quick /usr/lib/vst/lsp-plugins/sc-compressor-stereo.so \
      /usr/lib/vst/lsp-plugins/limiter-stereo.so /usr/lib/vst/lsp-plugins/gate-stereo.so 2>/dev/null |
      sed 's/^/  (information) /' || true
    echo "== end of the information on third-party modules (their failures do not fail this suite)"
  fi
  return $status
}

for variant in $variants; do
  case $variant in
    plain | asan | tsan | m32 | hosts | windows | fuzz | release) ;;
    *) echo "unknown variant '$variant' (plain, asan, tsan, m32, hosts, windows, fuzz or release)"; exit 2 ;;
  esac
done
for variant in $variants; do
  run_variant "$variant" || failed="$failed $variant"
done

echo
echo "== summary"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "== FAILED:$failed"
  exit 1
fi
echo "== every variant passed: $variants"
