#!/bin/sh
# Cross-builds tandrel.dll for 64-bit and 32-bit Windows with MinGW-w64 and
# checks each as a Windows host would see it:
#   - the DLL exports exactly VSTPluginMain and main (the same function) and
#     imports nothing but KERNEL32.dll and msvcrt.dll (no MinGW runtime DLLs);
#   - 64-bit: no aligned 32- or 64-byte vector access to the stack, which the
#     compiler cannot guarantee to be aligned on that target;
#   - the smoke test (tests/smoke) passes under Wine, and its checksum of the
#     processed signal equals the one of the same program built natively.
# Build directories: build-smoke (native), build-win64 and build-win32, the
# Wine prefixes inside the last two; TANDREL_BUILD_PREFIX replaces "build".
# Usage: scripts/windows.sh
set -eu
cd "$(dirname "$0")/.."
scripts/install-cross-deps.sh windows

jobs=$(nproc 2>/dev/null || echo 2)
base=${TANDREL_BUILD_PREFIX:-build}
native=$base-smoke
common="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_WERROR=ON -DTANDREL_BUILD_TESTS=OFF -DTANDREL_BUILD_TOOLS=OFF
        -DTANDREL_BUILD_BENCH=OFF -DTANDREL_BUILD_SMOKE=ON"
status=0
skipped=""
fail() {
  echo "FAILED: $*"
  status=1
}

echo "== native smoke test in $native"
# shellcheck disable=SC2086
cmake -S . -B "$native" $common >/dev/null
cmake --build "$native" -j "$jobs" --target tandrel tandrel_smoke
"$native/tests/smoke/tandrel_smoke" "$native/tandrel.so" | tee "$native/smoke.log"
expected=$(sed -n 's/^checksum: //p' "$native/smoke.log")
[ -n "$expected" ] || { echo "FAILED: the native smoke test gave no checksum"; exit 1; }

for arch in x86_64 i686; do
  case $arch in
    x86_64) dir=$base-win64; wine=/usr/lib/wine/wine64 ;;
    i686)   dir=$base-win32; wine=/usr/lib/wine/wine ;;
  esac
  echo "== $arch Windows build in $dir"
  # shellcheck disable=SC2086
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" $common >/dev/null
  cmake --build "$dir" -j "$jobs"
  dll="$dir/tandrel.dll"
  objdump="$arch-w64-mingw32-objdump"

  exports=$($objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}' |
    sort | tr '\n' ' ')
  [ "$exports" = "VSTPluginMain main " ] || fail "$dll exports '$exports' (expected 'VSTPluginMain main ')"
  addresses=$($objdump -p "$dll" | awk '/Export Address Table --/ {on = 1; next} on && NF == 0 {on = 0} on {print $(NF-2)}' |
    sort -u | wc -l)
  [ "$addresses" -eq 1 ] || fail "$dll: VSTPluginMain and main are not the same function"
  imports=$($objdump -p "$dll" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$dll imports '$imports' (expected 'KERNEL32.dll msvcrt.dll ')"
  echo "$dll: exports $exports; imports $imports"
  if [ "$arch" = x86_64 ] && $objdump -d "$dll" |
    grep -Eq 'vmov(aps|apd|dqa|dqa32|dqa64)[[:space:]]+(%[yz]mm[0-9]+,[^,]*\(%rsp\)|[^,]*\(%rsp\),%[yz]mm)'; then
    fail "$dll has aligned 32/64-byte stack accesses, which crash where the stack is 16-byte aligned"
  fi

  if [ ! -x "$wine" ]; then
    echo "$arch smoke test skipped: $wine is not installed"
    continue
  fi
  # The 32-bit Wine is itself a 32-bit Linux program; some virtual machines
  # and sandboxes refuse those ("Exec format error"), and then nothing can run
  # the i686 DLL here. The build and the export and import checks above stand.
  rm -f "$dir/smoke-not-run"
  if ! "$wine" --version >/dev/null 2>&1; then
    echo "$arch smoke test skipped: this machine does not run $wine (a 32-bit program)" | tee "$dir/smoke-not-run"
    skipped="$skipped $arch"
    continue
  fi
  echo "== $arch smoke test under Wine"
  prefix="$PWD/$dir/wine"
  if [ ! -d "$prefix" ]; then
    if [ "$arch" = i686 ]; then winearch=win32; else winearch=win64; fi
    WINEPREFIX="$prefix" WINEARCH=$winearch WINEDEBUG=-all "$wine" wineboot --init >/dev/null 2>&1 || true
  fi
  if ! WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" "$dir/tests/smoke/tandrel_smoke.exe" "$dll" "$expected"; then
    fail "$arch smoke test under Wine"
  fi
done
[ $status -eq 0 ] && echo "== Windows builds: all checks passed (checksum $expected)${skipped:+; smoke test not run for:$skipped}"
exit $status
