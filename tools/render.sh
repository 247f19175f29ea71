#!/usr/bin/env bash
# Renders vv-plume headless into DIR/vv-plume.mp4 (default DIR: render/), in
# one pass: pictures and sound go straight into the film. Needs no X server:
# without a display the program draws through EGL. Ctrl-C stops the render
# and keeps a shorter film that plays.
#
#   tools/render.sh [--draft] [DIR]
#
# --draft renders a quick preview at half size without multisampling, into
# DIR/vv-plume-draft.mp4; it differs from the final picture.
set -uo pipefail
cd "$(dirname "$0")/.."

draft=()
if [ "${1:-}" = "--draft" ]; then
  draft=(--draft)
  shift
fi
dir="${1:-render}"
program="${ZEAL_PROGRAM:-build/vv-plume}"
film="$dir/vv-plume.mp4"
[ ${#draft[@]} -gt 0 ] && film="$dir/vv-plume-draft.mp4"

. tools/headless.sh
headless_display || exit 1
mkdir -p "$dir" || { echo "ERROR: cannot create $dir"; exit 1; }
start=$(date +%s)
# The program prints its own progress on standard error; its other lines go
# to the log.
"$program" --no-configurator "${draft[@]}" --film "$film" >"$dir/vv-plume.log" &
pid=$!
stopped=""
trap 'stopped=1; kill -INT $pid 2>/dev/null' INT TERM
wait "$pid"
status=$?
# A signal taken while waiting ends the wait, not the program: wait again.
while kill -0 "$pid" 2>/dev/null; do
  wait "$pid"
  status=$?
done
trap - INT TERM

if [ "$status" -ne 0 ]; then
  grep -h "^ERROR" "$dir/vv-plume.log"
  echo "ERROR: the render failed (status $status); see $dir/vv-plume.log"
  exit "$status"
fi
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$film" 2>/dev/null)
what="rendered"
[ -n "$stopped" ] && what="stopped: kept what was rendered,"
echo "$what $film: ${seconds%.*} s of film, $(du -h "$film" | cut -f1), in $(( $(date +%s) - start )) s"
[ -n "$stopped" ] && exit 130
exit 0
