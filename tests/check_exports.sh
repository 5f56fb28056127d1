#!/bin/sh
# Usage: check_exports.sh MODULE [EXPORTS]
# Fails unless the module's defined dynamic symbols are exactly EXPORTS (in
# sorted order, separated by spaces; VSTPluginMain and main when not given,
# the VST 2 module's), and every undefined one comes from the C and C++ runtime.
set -eu
module=$1
expected="${2:-VSTPluginMain main} "
defined=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort | tr '\n' ' ')
if [ "$defined" != "$expected" ]; then
  echo "defined dynamic symbols: '$defined' (expected '$expected')"
  exit 1
fi
# Undefined symbols must be versioned ones of the runtime (GLIBC_, GLIBCXX_, CXXABI_, GCC_).
# A sanitizer build takes allocation and other functions from the sanitizer's
# runtime, unversioned; only the exports are checked there.
if nm -D --undefined-only "$module" | grep -q -E ' __(asan|tsan|ubsan)_'; then
  echo "exports: $defined(sanitizer build: undefined symbols not checked)"
  exit 0
fi
unexpected=$(nm -D --undefined-only "$module" | awk '{print $NF}' | grep -v -E '@(GLIBC|GLIBCXX|CXXABI|GCC)_' | grep -v -E '^(_ITM_|__gmon_start__|__cxa_finalize|_Jv_)' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected undefined symbols: $unexpected"
  exit 1
fi
echo "exports: $defined"
