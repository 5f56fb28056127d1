#!/bin/sh
# Installs what the host tests need on a Debian machine, beyond
# scripts/install-deps.sh: Ardour 7 (its plug-in scanner, headless Lua
# session tool and exporter; about 220 MB), Audacity 3.2 and the virtual
# display Xvfb it runs on, dpkg-dev (dpkg-shlibdeps, which fills in the
# package's dependencies), lintian (Debian's package checker, run on the
# package), Python 3 (the tests' language), and gdb and valgrind (an Ardour
# export that dies of a signal is traced to its code); for the LV2 bundle
# live in a JACK host: the JACK server (jackd2), jalv and the JACK client
# module of Debian's Python (python3-jack-client).
# Kept apart so that the plain developer test command stays quick; the
# "hosts" variant of scripts/test.sh and the CI call it.
# Safe to run again: packages already present are skipped.
set -eu
. "$(dirname "$0")/packages.sh"

packages="
  ardour audacity xvfb dpkg-dev lintian python3 gdb valgrind
  jackd2 jalv python3-jack-client
"

# shellcheck disable=SC2086
install_packages $packages
