#!/bin/sh
# Installs what building and testing Tandrel needs on a Debian machine.
# Safe to run again: packages already present are skipped.
set -eu
. "$(dirname "$0")/packages.sh"

packages="
  cmake g++ make pkg-config binutils
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libcli11-dev libcairo2-dev libsoxr-dev nlohmann-json3-dev libfmt-dev
  clang-format help2man sox
  espeak-ng
  libebur128-dev ffmpeg
  lsp-plugins-vst
  lv2-dev lilv-utils sordi
  libjack-jackd2-dev jackd2 python3-jack-client python3-numpy
  locales
"

# shellcheck disable=SC2086
install_packages $packages

# A locale whose decimal point is ",", for the tests that check that number
# texts keep "." whatever the process's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo "de_DE.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
