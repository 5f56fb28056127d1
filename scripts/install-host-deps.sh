#!/bin/sh
# Installs what the host tests need on a Debian machine, beyond
# scripts/install-deps.sh: Ardour 7 (its plug-in scanner, headless Lua
# session tool and exporter; about 220 MB), dpkg-dev (dpkg-shlibdeps, which
# fills in the package's dependencies) and Python 3 (the tests' language).
# Kept apart so that the plain developer test command stays quick; the
# "hosts" variant of scripts/test.sh and the CI call it.
# Safe to run again: packages already present are skipped.
set -eu

packages="
  ardour dpkg-dev python3
"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
