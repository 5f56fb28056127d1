#!/bin/sh
# Times offline ducking of the same generated 10-minute 48 kHz stereo file
# (music on the left, a speech-like control on the right):
#   1. tandrel render with Tandrel;
#   2. a general media tool's sidechain compressor filter (ffmpeg);
#   3. tandrel render with a third-party sidechain compressor module (the
#      LSP plug-ins' stereo sidechain compressor), fed music and control.
# Prints each time and the ratios. Installs ffmpeg and lsp-plugins-vst from
# Debian's packages when they are missing.
# Usage: bench/compare_tools.sh [BUILD_DIR] [MINUTES]
set -eu
cd "$(dirname "$0")/.."
. bench/compare_common.sh
compare_arguments 10 "$@"

need=""
command -v ffmpeg >/dev/null || need="$need ffmpeg"
ls /usr/lib/vst/lsp-plugins/*sc-compressor-stereo*.so >/dev/null 2>&1 || need="$need lsp-plugins-vst"
# shellcheck disable=SC2086
[ -z "$need" ] || install_packages $need

compare_work_folder
music="0.4*sin(2*PI*220*t)+0.2*sin(2*PI*277.18*t)+0.2*sin(2*PI*329.63*t)"
voice="0.7*sin(2*PI*180*t)*sin(2*PI*4*t)*gt(sin(2*PI*0.25*t),0)"
echo "generating ${minutes} minutes of 48 kHz float stereo in $work"
ffmpeg -v error -f lavfi -i "aevalsrc=exprs='$music|$voice':s=48000:d=$seconds" -c:a pcm_f32le "$work/in.wav"
ffmpeg -v error -f lavfi -i "aevalsrc=exprs='$music|$music|$voice|$voice':s=48000:d=$seconds" -c:a pcm_f32le \
  "$work/in4.wav"

# Wall-clock seconds of a command, best of three.
best_of_three() {
  best=""
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    if ! "$@" >/dev/null 2>"$work/errors"; then
      echo "failed: $*" >&2
      cat "$work/errors" >&2
      exit 1
    fi
    end=$(date +%s.%N)
    t=$(awk "BEGIN { print $end - $start }")
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  printf '%.3f' "$best"
}

t_tandrel=$(best_of_three "$tool" render --quiet --input "$work/in.wav" --output "$work/tandrel.wav")
t_ffmpeg=$(best_of_three ffmpeg -v error -y -i "$work/in.wav" -filter_complex \
  "[0]channelsplit=channel_layout=stereo[m][c];[m][c]sidechaincompress=threshold=0.1:ratio=4[o]" \
  -map "[o]" -c:a pcm_f32le "$work/ffmpeg.wav")
lsp=$(ls /usr/lib/vst/lsp-plugins/*sc-compressor-stereo*.so | head -n 1)
t_lsp=$(best_of_three "$tool" render "$lsp" --quiet --input "$work/in4.wav" --output "$work/lsp.wav")

for f in tandrel ffmpeg lsp; do [ -s "$work/$f.wav" ] || { echo "no output from $f" >&2; exit 1; }; done
echo "machine: $(machine_summary)"
echo "tandrel render, Tandrel:              ${t_tandrel} s"
echo "ffmpeg sidechaincompress:             ${t_ffmpeg} s  ($(awk "BEGIN { printf \"%.1f\", $t_ffmpeg / $t_tandrel }")x the time of Tandrel)"
echo "tandrel render, LSP sc compressor:    ${t_lsp} s  ($(awk "BEGIN { printf \"%.1f\", $t_lsp / $t_tandrel }")x the time of Tandrel)"
