#!/bin/sh
# Usage: check_symbol_versions.sh MODULE
# Fails if loading the module needs a symbol version that an old system
# lacks: a GLIBC_ version newer than 2.17, or, from the C++ runtime, more than
# the first versions of libstdc++.so.6 (GLIBCXX_3.4, CXXABI_1.3) and of
# libgcc_s.so.1 (GCC_3.0), which every system that has them provides.
# The dynamic loader refuses a module whose version needs (.gnu.version_r)
# a library does not define, so those are what is read; the symbols bound to
# a version that is too new are named. Exits 77 (skipped) for a sanitizer
# build, whose module loads only into a process running the sanitizer's
# runtime, which is built for the build machine's glibc.
set -eu
module=$1
[ -r "$module" ] || { echo "no module at $module"; exit 1; }
if nm -D --undefined-only "$module" | grep -q -E ' __(asan|tsan|ubsan)_'; then
  echo "skipped: $module is a sanitizer build, which loads only into a process running the sanitizer runtime built for this machine's glibc"
  exit 77
fi

needs=$(LC_ALL=C readelf --version-info --wide "$module" |
  sed -n '/\.gnu\.version_r/,$ s/.* Name: \([^ ]*\) .*/\1/p' | sort -u)
[ -n "$needs" ] || { echo "$module: no version needs found (not a dynamically linked ELF file?)"; exit 1; }

status=0
for need in $needs; do
  family=${need%%_*}
  version=${need#*_}
  case $family in
    GLIBC) limit=2.17 ;;
    GLIBCXX) limit=3.4 ;;
    CXXABI) limit=1.3 ;;
    GCC) limit=3.0 ;;
    *) limit="" ;;
  esac
  if [ -z "$limit" ] || ! printf '%s' "$version" | grep -q -E '^[0-9]+(\.[0-9]+)*$'; then
    echo "unexpected version need: $need"
    status=1
    continue
  fi
  newer=$(printf '%s\n%s\n' "$limit" "$version" | sort -V | tail -n 1)
  if [ "$newer" != "$limit" ]; then
    symbols=$(LC_ALL=C objdump -T "$module" |
      awk -v need="$need" 'NF >= 2 { v = $(NF - 1); gsub(/[()]/, "", v); if (v == need) printf "%s ", $NF }')
    echo "too new: $need (newest allowed: ${family}_$limit), for: $symbols"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$module needs only: $(echo $needs)"
exit $status
