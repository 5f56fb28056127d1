#!/bin/sh
# Builds the fuzzers (fuzz/) with Clang's libFuzzer under the address and
# undefined-behaviour sanitizers and runs each for a bounded time, both at
# once (one core each). Each starts from the committed seeds in
# fuzz/corpus/NAME plus what earlier runs found (build-fuzz/corpus/NAME);
# an input that breaks a property is kept in build-fuzz/artifacts/NAME/.
# Prints the executions per second and the total executions of each.
# Usage: scripts/fuzz.sh [SECONDS]   (default 120 seconds per fuzzer)
# The build directory is build-fuzz; TANDREL_BUILD_PREFIX replaces "build".
set -eu
cd "$(dirname "$0")/.."
scripts/install-cross-deps.sh fuzz

seconds=${1:-120}
dir=${TANDREL_BUILD_PREFIX:-build}-fuzz
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S fuzz -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDREL_WERROR=ON >/dev/null
cmake --build "$dir" -j "$jobs"

fuzzers="dispatch process"
for name in $fuzzers; do
  mkdir -p "$dir/corpus/$name" "$dir/artifacts/$name"
  echo "== fuzzing $name for $seconds s"
  (
    # -timeout: one input taking this long counts as a hang.
    "$dir/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$dir/artifacts/$name/" "$dir/corpus/$name" "fuzz/corpus/$name" \
      >"$dir/$name.log" 2>&1
    echo $? >"$dir/$name.status"
  ) &
done
wait

status=0
for name in $fuzzers; do
  log="$dir/$name.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ "$(cat "$dir/$name.status")" != 0 ]; then
    echo "== $name FAILED: the failing input is in $dir/artifacts/$name/; the end of its log:"
    tail -n 40 "$log"
    status=1
  fi
  echo "$name: ${runs:-?} executions in $seconds s, ${rate:-?} per second"
done
exit $status
