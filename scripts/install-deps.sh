#!/bin/sh
# Installs what building and testing Tandrel needs on a Debian machine.
# Safe to run again: packages already present are skipped.
set -eu

packages="
  cmake g++ make pkg-config binutils
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libcli11-dev libcairo2-dev
  lsp-plugins-vst
  locales
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

# A locale whose decimal point is ",", for the tests that check that number
# texts keep "." whatever the process's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo "de_DE.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
