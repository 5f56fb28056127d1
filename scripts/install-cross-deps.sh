#!/bin/sh
# Installs the extra Debian packages of the fuzz, 32-bit and Windows builds
# (scripts/install-deps.sh has the ones every build needs). Safe to run
# again: packages already present are skipped.
# Usage: scripts/install-cross-deps.sh [fuzz] [m32] [m32-emulator] [windows] [release]...
#   fuzz     Clang with libFuzzer and the sanitizer runtimes
#   release  Clang, for the Release build with a second compiler
#   m32      the 32-bit x86 compiler and C/C++ libraries
#   m32-emulator  qemu-i386, to run 32-bit programs where the kernel does not
#   windows  the MinGW-w64 cross compilers for x86-64 and i686, and Wine for
#            64-bit and 32-bit programs to run the Windows smoke test (the
#            32-bit Wine needs the i386 architecture, which is added)
set -eu
. "$(dirname "$0")/packages.sh"

packages=""
for group in "$@"; do
  case $group in
    fuzz)    packages="$packages clang libclang-rt-14-dev" ;;
    m32)     packages="$packages g++-multilib" ;;
    m32-emulator) packages="$packages qemu-user" ;;
    windows) packages="$packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386" ;;
    release) packages="$packages clang" ;;
    *) echo "unknown group '$group' (fuzz, m32, m32-emulator, windows or release)"; exit 2 ;;
  esac
done

# shellcheck disable=SC2086
install_packages $packages
