#!/bin/sh
# `tandrel live` on JACK's dummy driver in real-time mode, at 64 and 128
# frames per period: the xruns JACK reports with the tool running (2 and 8
# music channels), beside the server's own count with no processing client
# in the same server run; the CPU time of the tool's process thread per
# period (the kernel's count for that thread, libjack's part included); and
# the tool's resident memory at the start and the end of each run.
# Needs root (or rtprio rights) for -R.
# The xruns with JACK's pass-through example client in the tool's place
# are printed too: what any processing client costs on the machine. And the
# machine's own timing, without any JACK client: how often a real-time
# thread woken every period by the kernel's timer wakes more than a whole
# period late (cyclictest, from Debian's rt-tests), a period that no JACK
# client could have met.
# Usage: bench/live_xruns.sh [BUILD_DIR] [SECONDS per phase, default 600] [PHASES]
# PHASES: any of machine, alone, thru, live2, live8 (default all five), run
# in that order at each period (LIVE_XRUNS_PERIODS, default "64 128"); a
# phase may be named again ("alone thru live2 alone thru live2"), so that
# the machine's drift shows. Prints one line per phase. Not a test: it
# takes 2 x (number of phases) x SECONDS.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-600}
phases=${3:-machine alone thru live2 live8}
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

# A real-time thread at the server's priority, woken every period by the
# kernel's timer, beside the idle server: the wake-ups later than a whole
# period, and the latest.
run_machine() { # period
  if ! command -v cyclictest >/dev/null; then
    echo "period $1: cyclictest is not installed (apt-get install rt-tests); no machine phase"
    return
  fi
  interval=$(($1 * 1000000 / 48000))
  histogram=$(mktemp)
  cyclictest -q -m --laptop -p 70 -t 1 -i "$interval" -h "$interval" -D "$seconds" \
    --histfile="$histogram" >/dev/null 2>&1
  late=$(awk '/^# Histogram Overflows/ {print $4 + 0}' "$histogram")
  worst=$(awk '/^# Max Latencies/ {print $4 + 0}' "$histogram")
  rm -f "$histogram"
  echo "period $1: $late timer wake-ups more than a period ($interval us) late in $seconds s," \
    "the latest $worst us late (a real-time thread, no JACK client)"
}

for period in ${LIVE_XRUNS_PERIODS:-64 128}; do
  jackd -n "$server" -R -P 70 -d dummy -r 48000 -p "$period" >/dev/null 2>&1 &
  jackd_pid=$!
  sleep 2
  for phase in $phases; do
    case $phase in
      machine) run_machine "$period" ;;
      alone) echo "period $period: $(count_xruns "$seconds") xruns in $seconds s, server alone" ;;
      thru) run_pass_through "$period" ;;
      live2) run_live "$period" 2 ;;
      live8) run_live "$period" 8 ;;
      *) echo "unknown phase $phase (machine, alone, thru, live2, live8)" >&2; exit 2 ;;
    esac
  done
  kill -TERM "$jackd_pid"
  wait "$jackd_pid" || true
done
