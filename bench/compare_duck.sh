#!/bin/sh
# Times the main job on long material: MINUTES (default 60) of 48 kHz
# stereo music ducked under a 22.05 kHz mono voice with the voice mixed in,
# 32-bit float WAV out, the input files in the page cache:
#   1. tandrel duck --mix, and the same delivered as a master:
#      --loudness -16 (two passes) into 16-bit WAV with dither;
#   2. the same job as a general media tool's filter graph (ffmpeg): the
#      voice resampled, its sidechain compressor on the music, and a mix;
#   3. for scale, copying the music file (cp): the file I/O alone.
# Each runs under /usr/bin/time -v; prints the wall clock, CPU times and
# peak resident memory of each, and the ratio. The machine may be shared:
# run it more than once and take the best. Installs ffmpeg from Debian's
# packages when it is missing.
# TANDREL_BENCH_DIR=DIR keeps the generated files there and uses them again
# on the next run (generating an hour takes minutes).
# Usage: bench/compare_duck.sh [BUILD_DIR] [MINUTES]
set -eu
cd "$(dirname "$0")/.."
. bench/compare_common.sh
compare_arguments 60 "$@"
if ! command -v ffmpeg >/dev/null || [ ! -x /usr/bin/time ]; then
  install_packages ffmpeg time
fi

if [ -n "${TANDREL_BENCH_DIR:-}" ]; then
  work=$TANDREL_BENCH_DIR/duck-$minutes
  mkdir -p "$work"
  trap 'rm -f "$work/tandrel.wav" "$work/ffmpeg.wav" "$work/copy.wav"' EXIT
else
  compare_work_folder
fi
# Music: three tones, a different chord on each side. Voice: syllables at
# 8 per second in phrases of 2 s with pauses of 2 s.
left="0.3*sin(2*PI*220*t)+0.15*sin(2*PI*277.18*t)+0.15*sin(2*PI*329.63*t)"
right="0.3*sin(2*PI*164.81*t)+0.15*sin(2*PI*246.94*t)+0.15*sin(2*PI*392*t)"
voice="0.7*sin(2*PI*180*t)*sin(2*PI*4*t)*gt(sin(2*PI*0.25*t),0)"
if [ ! -s "$work/music.wav" ] || [ ! -s "$work/voice.wav" ]; then
  echo "generating ${minutes} minutes of 48 kHz float stereo music and 22.05 kHz mono voice in $work"
  ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs='$left|$right':s=48000:d=$seconds" -c:a pcm_f32le "$work/music.wav"
  ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs='$voice':s=22050:d=$seconds" -c:a pcm_f32le "$work/voice.wav"
fi
# Into the page cache.
cat "$work/music.wav" "$work/voice.wav" >/dev/null

# Runs a command under /usr/bin/time -v and prints its figures on one line.
timed() {
  name=$1
  shift
  if ! /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/errors"; then
    echo "failed: $*" >&2
    cat "$work/errors" "$work/time" >&2
    exit 1
  fi
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
  system=$(sed -n 's/.*System time (seconds): //p' "$work/time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  printf '%-28s %7.2f s wall, %6.2f s user, %5.2f s system, %6.1f MB peak resident\n' \
    "$name" "$wall" "$user" "$system" "$(awk "BEGIN { print $rss / 1024 }")"
  eval "wall_$(echo "$name" | tr -c 'a-z\n' '_')=$wall"
}

echo "machine: $(machine_summary), load $(cut -d' ' -f1-3 /proc/loadavg)"
timed "tandrel duck --mix" "$tool" duck --quiet --music "$work/music.wav" --voice "$work/voice.wav" --mix \
  --output "$work/tandrel.wav"
rm -f "$work/tandrel.wav"
timed "tandrel duck --loudness" "$tool" duck --quiet --music "$work/music.wav" --voice "$work/voice.wav" --mix \
  --loudness -16 --bits 16 --output "$work/tandrel.wav"
rm -f "$work/tandrel.wav"
timed "ffmpeg sidechaincompress" ffmpeg -v error -y -i "$work/music.wav" -i "$work/voice.wav" -filter_complex \
  "[1]aresample=48000,pan=stereo|c0=c0|c1=c0,asplit=2[sc][vm];[0][sc]sidechaincompress=threshold=0.01:ratio=20:attack=10:release=300[duck];[duck][vm]amix=inputs=2:normalize=0[o]" \
  -map "[o]" -c:a pcm_f32le "$work/ffmpeg.wav"
rm -f "$work/ffmpeg.wav"
timed "cp of the music file" cp "$work/music.wav" "$work/copy.wav"
echo "ffmpeg takes $(awk "BEGIN { printf \"%.1f\", $wall_ffmpeg_sidechaincompress / $wall_tandrel_duck___mix }")x the time of tandrel duck"
