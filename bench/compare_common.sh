# shellcheck shell=sh
# Shell set-up shared by the comparison scripts; source it, do not run it.
# It reuses scripts/packages.sh, so the caller must be at the repository's
# root (the scripts cd there first).
. scripts/packages.sh

# Reads [BUILD_DIR] [MINUTES] (MINUTES defaulting to the first argument)
# into build, minutes and seconds, and sets tool to the built command-line
# tool; stops when it is not built.
compare_arguments() {
  default_minutes=$1
  shift
  build=${1:-build}
  minutes=${2:-$default_minutes}
  # shellcheck disable=SC2034 # for the caller
  seconds=$((minutes * 60))
  tool="$build/tools/tandrel"
  [ -x "$tool" ] || { echo "no $tool: build first (scripts/demo.sh or cmake --build $build)"; exit 1; }
}

# A fresh work folder in work, removed when the script exits.
compare_work_folder() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# The machine the figures come from: its cores and processor.
machine_summary() {
  echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
}
