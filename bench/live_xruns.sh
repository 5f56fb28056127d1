#!/bin/sh
# `tandrel live` on JACK's dummy driver in real-time mode, at 64 and 128
# frames per period: the xruns JACK reports with the tool running (2 and 8
# music channels), beside the server's own count with no processing client
# in the same server run; the CPU time of the tool's process thread per
# period (the kernel's count for that thread, libjack's part included); and
# the tool's resident memory at the start and the end of each run.
# Needs root (or rtprio rights) for -R.
# The xruns with JACK's pass-through example client in the tool's place
# are printed too: what any processing client costs on the machine.
# Usage: bench/live_xruns.sh [BUILD_DIR] [SECONDS per phase, default 600] [PHASES]
# PHASES: any of alone, thru, live2, live8 (default all four), run at each
# period (LIVE_XRUNS_PERIODS, default "64 128"). Prints one line per phase. Not a test: it takes
# 2 x (number of phases) x SECONDS.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-600}
phases=${3:-alone thru live2 live8}
tool="$build/tools/tandrel"
python=/usr/bin/python3
server="tandrel_live_bench_$$"
export JACK_DEFAULT_SERVER="$server"

# Counts the xruns JACK reports to a client that does not process.
count_xruns() {
  "$python" - "$server" "$1" <<'PY'
import sys, time, jack
jack.set_error_function(lambda m: None)
client = jack.Client("xrun_counter", servername=sys.argv[1], no_start_server=True)
xruns = [0]
client.set_xrun_callback(lambda delay: xruns.__setitem__(0, xruns[0] + 1))
client.activate()
time.sleep(float(sys.argv[2]))
print(xruns[0])
client.close()
PY
}

rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# The run time in ns of the process's real-time thread (scheduling policy
# not 0, field 41 of its stat, counted after the name's closing bracket).
rt_thread_ns() {
  for task in /proc/"$1"/task/*; do
    policy=$(sed 's/.*) //' "$task/stat" | awk '{print $39}')
    if [ "$policy" != 0 ]; then
      awk '{print $1}' "$task/schedstat"
      return
    fi
  done
  echo 0
}

run_live() { # period channels
  "$tool" live -q --name live_bench --channels "$2" --connect music=system:capture_ \
    --connect voice=system:capture_1 --connect out=system:playback_ &
  live_pid=$!
  sleep 2
  rss_start=$(rss_kib "$live_pid")
  ns_start=$(rt_thread_ns "$live_pid")
  xruns=$(count_xruns "$seconds")
  ns_end=$(rt_thread_ns "$live_pid")
  rss_end=$(rss_kib "$live_pid")
  kill -TERM "$live_pid"
  wait "$live_pid" || true
  periods=$((seconds * 48000 / $1))
  echo "period $1, $2 channels: $xruns xruns in $seconds s with tandrel live;" \
    "process thread $(( (ns_end - ns_start) / periods )) ns per period;" \
    "resident memory $rss_start KiB at start, $rss_end KiB at the end"
}

# The same with JACK's own pass-through example client instead of the
# tool: what any processing client costs on this machine, for comparison.
run_pass_through() { # period
  if ! command -v jack_thru >/dev/null; then
    echo "period $1: jack_thru is not installed; no comparison client"
    return
  fi
  jack_thru >/dev/null 2>&1 &
  thru_pid=$!
  sleep 2
  jack_connect system:capture_1 jack_thru:input_1 2>/dev/null || true
  jack_connect jack_thru:output_1 system:playback_1 2>/dev/null || true
  echo "period $1: $(count_xruns "$seconds") xruns in $seconds s with jack_thru (a pass-through client)"
  kill -TERM "$thru_pid"
  wait "$thru_pid" || true
}

for period in ${LIVE_XRUNS_PERIODS:-64 128}; do
  jackd -n "$server" -R -P 70 -d dummy -r 48000 -p "$period" >/dev/null 2>&1 &
  jackd_pid=$!
  sleep 2
  for phase in $phases; do
    case $phase in
      alone) echo "period $period: $(count_xruns "$seconds") xruns in $seconds s, server alone" ;;
      thru) run_pass_through "$period" ;;
      live2) run_live "$period" 2 ;;
      live8) run_live "$period" 8 ;;
      *) echo "unknown phase $phase (alone, thru, live2, live8)" >&2; exit 2 ;;
    esac
  done
  kill -TERM "$jackd_pid"
  wait "$jackd_pid" || true
done
