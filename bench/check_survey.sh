#!/bin/sh
# Runs `tandrel check --quick` on every VST 2 module Debian ships (the
# packages lsp-plugins-vst, dpf-plugins-vst, dragonfly-reverb-vst and
# iem-plugin-suite-vst, installed first when missing) and writes the table:
#   OUT_DIR/check_survey.csv  one row per module: its path, the verdict of
#                             every check (pass, skip, warn, fail), the
#                             counts and the seconds the run took;
#   OUT_DIR/check_survey.md   the same as a summary: per check, how many
#                             modules pass, warn, fail or skip it; then per
#                             module the failing and warning checks.
# Each module's JSON report is kept in OUT_DIR/reports/. A module is any
# file under /usr/lib/vst or /usr/lib/lxvst (links followed) that exports
# an entry point. The run took 47 minutes on a shared 2-core machine
# (`--skip lifecycle,speed` saves most of that); it is a survey, not a gate
# (CI does not run it).
# Usage: bench/check_survey.sh [BUILD_DIR] [OUT_DIR] [more `check` options]
set -eu
cd "$(dirname "$0")/.."
# shellcheck source=scripts/packages.sh
. scripts/packages.sh
build=${1:-build}
out=${2:-$build/check-survey}
if [ $# -gt 2 ]; then shift 2; else set --; fi
tool="$build/tools/tandrel"
[ -x "$tool" ] || { echo "no $tool: build first (cmake --build $build --target tandrel_tool)"; exit 1; }
install_packages lsp-plugins-vst dpf-plugins-vst dragonfly-reverb-vst iem-plugin-suite-vst jq binutils

rm -rf "$out/reports"
mkdir -p "$out/reports"
csv="$out/check_survey.csv"
markdown="$out/check_survey.md"
# The same file may be reached through two folders (iem.at is linked from
# both): each is checked once.
modules=$(find -L /usr/lib/vst /usr/lib/lxvst -name '*.so' -type f 2>/dev/null | sort |
  while read -r file; do echo "$(readlink -f "$file") $file"; done | sort -u -k1,1 | cut -d' ' -f2 | sort |
  while read -r file; do
    nm -D --defined-only "$file" 2>/dev/null | grep -qE ' (VSTPluginMain|main)$' && echo "$file"
  done)
count=$(echo "$modules" | grep -c . || true)
echo "checking $count modules with $tool check --quick $*; reports in $out/reports"

header_written=no
started=$(date +%s)
for module in $modules; do
  report="$out/reports/$(echo "$module" | sed 's|^/usr/lib/||; s|/|_|g').json"
  begin=$(date +%s.%N)
  status=0
  "$tool" check --quick --json "$@" "$module" >"$report" 2>/dev/null || status=$?
  end=$(date +%s.%N)
  seconds=$(awk -v a="$begin" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  if ! jq -e .checks "$report" >/dev/null 2>&1; then
    echo "$module: no report (exit status $status)" >&2
    continue
  fi
  if [ $header_written = no ]; then
    jq -r '["module"] + [.checks[].name] + ["failures", "warnings", "seconds"] | @csv' "$report" >"$csv"
    header_written=yes
  fi
  jq -r --arg path "$module" --arg seconds "$seconds" \
    '[$path] + [.checks[].result] + [.failures, .warnings, ($seconds | tonumber)] | @csv' \
    "$report" >>"$csv"
  jq -r --arg path "$module" \
    '"\(.failures) failed, \(.warnings) warned: \($path)"' "$report"
done
elapsed=$(($(date +%s) - started))

# The summary, from the reports.
{
  echo "# \`tandrel check --quick\` on Debian's VST 2 modules"
  echo
  echo "$count modules, $(date -u +%Y-%m-%d), $elapsed s in all on $(nproc) cores; $(git rev-parse --short HEAD 2>/dev/null || echo '?')."
  echo
  echo "| Check | pass | warn | fail | skipped |"
  echo "|---|---|---|---|---|"
  jq -rs '(.[0].checks | map(.name)) as $names | [.[].checks[]] as $all | $names[] as $name |
      ($all | map(select(.name == $name))) as $runs | "| `\($name)` | \($runs | map(select(.result == "pass")) | length) | \($runs | map(select(.result == "warn")) | length) | \($runs | map(select(.result == "fail")) | length) | \($runs | map(select(.result == "skip")) | length) |"' \
    "$out"/reports/*.json
  echo
  echo "| Module | Fails | Warns | Seconds |"
  echo "|---|---|---|---|"
  tail -n +2 "$csv" | while IFS= read -r row; do
    module=$(echo "$row" | cut -d, -f1 | tr -d '"')
    report="$out/reports/$(echo "$module" | sed 's|^/usr/lib/||; s|/|_|g').json"
    seconds=$(echo "$row" | awk -F, '{print $NF}')
    jq -r --arg path "$module" --arg seconds "$seconds" \
      '"| \($path | sub("^/usr/lib/"; "")) | \([.checks[] | select(.result == "fail") | .name] | join(", ")) | \([.checks[] | select(.result == "warn") | .name] | join(", ")) | \($seconds) |"' \
      "$report"
  done
} >"$markdown"
echo "wrote $csv and $markdown ($elapsed s)"
