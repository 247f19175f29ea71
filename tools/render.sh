#!/usr/bin/env bash
# Renders vv-plume headless: pictures and sound into DIR (default render/),
# then the film DIR/vv-plume.mp4. Runs under a virtual X server when there is
# no display. Ctrl-C stops the render and keeps a valid partial WAV.
#
#   tools/render.sh [DIR]
set -uo pipefail
cd "$(dirname "$0")/.."

dir="${1:-render}"
program="${ZEAL_PROGRAM:-build/vv-plume}"
fps=30
expected=$(( (2 + 123) * fps ))  # lead-in and piece

if [ -z "${ZEAL_IN_XVFB:-}" ] && ! { [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; }; then
  export ZEAL_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"
fi

mkdir -p "$dir" || { echo "ERROR: cannot create $dir"; exit 1; }
rm -f "$dir"/vv-plume-*.tga "$dir"/vv-plume.wav "$dir"/vv-plume.mp4

"$program" --no-configurator --diskwriter "$dir" >"$dir/vv-plume.log" 2>&1 &
pid=$!
stopped=""
trap 'stopped=1; kill -INT $pid 2>/dev/null' INT TERM

start=$(date +%s.%N)
while kill -0 "$pid" 2>/dev/null; do
  sleep 1
  frames=$(find "$dir" -maxdepth 1 -name 'vv-plume-*.tga' | wc -l)
  [ -n "$stopped" ] && continue  # Ctrl-C reached the counting commands too
  awk -v n="$frames" -v total="$expected" -v fps="$fps" -v t0="$start" -v now="$(date +%s.%N)" 'BEGIN {
    elapsed = now - t0; rate = elapsed > 0 ? n / elapsed : 0;
    left = rate > 0 ? (total - n) / rate : 0; if (left < 0) left = 0;
    printf "\rrendered %d of %d frames, scene time %6.1f s, %5.1f frames/s, %3d s left ",
      n, total, n / fps - 2, rate, left }'
done
wait "$pid"
status=$?
# A signal taken while waiting ends the wait, not the program: wait again.
while kill -0 "$pid" 2>/dev/null; do
  wait "$pid"
  status=$?
done
trap - INT TERM
echo

if [ -n "$stopped" ]; then
  frames=$(find "$dir" -maxdepth 1 -name 'vv-plume-*.tga' | wc -l)
  echo "stopped: $dir/ holds the part rendered so far: vv-plume.wav" \
    "($(du -h "$dir/vv-plume.wav" 2>/dev/null | cut -f1)) and $frames frames; no film made"
  exit 130
fi

first=$(find "$dir" -maxdepth 1 -name 'vv-plume-*.tga' | sort | head -1)
if [ -z "$first" ] || [ ! -s "$dir/vv-plume.wav" ]; then
  echo "ERROR: nothing was rendered (see $dir/vv-plume.log)"
  exit 1
fi
start_number=$(basename "$first" .tga | sed 's/vv-plume-0*//')
echo "making $dir/vv-plume.mp4 from the frames and the sound"
ffmpeg -loglevel error -stats -y -framerate "$fps" -start_number "${start_number:-0}" \
  -i "$dir/vv-plume-%08d.tga" -i "$dir/vv-plume.wav" \
  -c:v libx264 -pix_fmt yuv420p -crf 20 -c:a aac -b:a 192k -shortest "$dir/vv-plume.mp4" ||
  { echo "ERROR: ffmpeg could not make $dir/vv-plume.mp4"; exit 1; }

frames=$(find "$dir" -maxdepth 1 -name 'vv-plume-*.tga' | wc -l)
echo "rendered into $dir/: vv-plume.wav ($(du -h "$dir/vv-plume.wav" | cut -f1)), $frames frames" \
  "($(du -ch "$dir"/vv-plume-*.tga | tail -1 | cut -f1)), vv-plume.mp4 ($(du -h "$dir/vv-plume.mp4" | cut -f1))"
exit $status
