#!/usr/bin/env bash
# Renders vv-plume in ranges of frames, as jobs run by GNU parallel on local
# job slots or on other machines, and joins them into DIR/vv-plume.mp4.
#
#   tools/render-farm.sh [-j N] [--sshlogin HOSTS | --slf FILE] [--chunk FRAMES]
#                        [--frames N] [--retries N] [--draft] [DIR]
#
# Each job renders one range with --diskwriter and --range (the frames are
# byte for byte those of a whole rendering, its sound the whole sound's
# samples from the range's first frame), encodes its pictures into a video
# segment that starts with a key frame, and hands back the segment and the
# WAV. A job that fails or is killed is run again (--retries, default 3); a
# range that is not complete never reaches the film. The segments are joined
# without encoding them again, the WAVs are joined sample for sample and the
# sound is encoded once, so the joins neither click nor gap.
#
#   -j N             jobs at a time on each machine (default: one per core)
#   --sshlogin HOSTS, --slf FILE
#                    machines to run on, as GNU parallel takes them ("4/me@host",
#                    ":" for this one); each must hold this repository, built,
#                    at the same path
#   --chunk FRAMES   frames a job renders (default 300, ten seconds)
#   --frames N       render only the first N frames (default: the whole piece)
#   --draft          half size, no multisampling: DIR/vv-plume-draft.mp4
#
# Inside a job the script is called as: render-farm.sh --job FROM TO [--draft]
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
program="${ZEAL_PROGRAM:-$here/build/vv-plume}"
fps=30
samples_per_frame=1470  # 44100 Hz at 30 frames a second
whole_piece=3750        # frames of the whole piece: its 125 s

. "$here/tools/headless.sh"

# One range [FROM, TO) (TO empty: to the end) into part-FROM.mp4 and
# part-FROM.wav in the current directory, or nothing and a failure.
job() {
  local from=$1 to=$2 draft=$3 stem=vv-plume
  local work="range-$from.partial"
  rm -rf "$work" "part-$from.mp4" "part-$from.wav"
  mkdir -p "$work" || return 1
  [ -n "$draft" ] && stem=vv-plume-draft
  headless_display || return 1
  "$program" --no-configurator $draft --diskwriter "$work" --range "$from:$to" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; return 1; }
  local frames samples
  frames=$(find "$work" -maxdepth 1 -name "$stem-*.tga" | wc -l)
  samples=$(soxi -V1 -s "$work/$stem.wav" 2>/dev/null || echo 0)
  if [ -n "$to" ]; then
    [ "$frames" -eq $((to - from)) ] && [ "$samples" -eq $(((to - from) * samples_per_frame)) ] ||
      { echo "range $from:$to is short: $frames frames, $samples samples" >&2; return 1; }
  fi
  [ "$frames" -gt 0 ] || return 1
  # As the program encodes its films (BT.709, key frames every second), and
  # without B frames, so that segments join cleanly.
  ffmpeg -v error -y -framerate $fps -start_number "$from" -i "$work/$stem-%08d.tga" \
    -vf scale=out_color_matrix=bt709:out_range=tv -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
    -c:v libx264 -preset superfast -crf 20 -g $fps -bf 0 -pix_fmt yuv420p "$work/part.mp4" || return 1
  # Whole ranges only: the names appear once both files are complete.
  mv "$work/$stem.wav" "part-$from.wav" && mv "$work/part.mp4" "part-$from.mp4" && rm -rf "$work"
}

if [ "${1:-}" = "--job" ]; then
  job "$2" "$3" "${4:-}"
  exit $?
fi

jobs=""
hosts=()
chunk=300
frames=""
retries=3
draft=""
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs="$2"; shift 2 ;;
    --sshlogin|-S) hosts+=(--sshlogin "$2"); shift 2 ;;
    --slf) hosts+=(--slf "$2"); shift 2 ;;
    --chunk) chunk="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --retries) retries="$2"; shift 2 ;;
    --draft) draft=--draft; shift ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "ERROR: unknown option $1"; sed -n '5,6p' "$0" | sed 's/^# \{0,1\}/usage: /'; exit 2 ;;
    *) dir="$1"; shift ;;
  esac
done
dir="${dir:-render}"
for n in "$chunk" ${frames:+"$frames"} "$retries" ${jobs:+"$jobs"}; do
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 0 ] || { echo "ERROR: \"$n\" is not a positive count"; exit 2; }
done
[ -x "$program" ] || { echo "ERROR: $program is not built (cmake --build build)"; exit 1; }
mkdir -p "$dir/parts" || { echo "ERROR: cannot create $dir/parts"; exit 1; }
dir=$(cd "$dir" && pwd)
film="$dir/vv-plume.mp4"
[ -n "$draft" ] && film="$dir/vv-plume-draft.mp4"

# The ranges: chunks of the first `frames`, or of the whole piece with the
# last one open, so that it takes the sound that rings on past its last frame.
total=${frames:-$whole_piece}
ranges="$dir/parts/ranges"
: >"$ranges"
for ((from = 0; from < total; from += chunk)); do
  to=$((from + chunk))
  if [ $to -ge "$total" ]; then to=$total; [ -z "$frames" ] && to=""; fi
  echo "$from $to" >>"$ranges"
done
count=$(wc -l <"$ranges")
rm -f "$dir"/parts/part-*

start=$(date +%s)
progress() {
  local done_ranges done_frames now rate left
  done_ranges=$(find "$dir/parts" -name 'part-*.wav' | wc -l)
  done_frames=$((done_ranges * chunk > total ? total : done_ranges * chunk))
  now=$(date +%s)
  rate=$(awk -v f="$done_frames" -v s=$((now - start)) 'BEGIN { printf "%.1f", (s > 0 ? f / s : 0) }')
  left=$(awk -v f="$done_frames" -v t="$total" -v r="$rate" 'BEGIN { printf "%d", (r > 0 ? (t - f) / r : 0) }')
  printf '%sranges %d of %d, %d of %d frames, %s frames/s over all jobs, %s s left%s' \
    "$1" "$done_ranges" "$count" "$done_frames" "$total" "$rate" "$([ "$done_frames" -gt 0 ] && echo "$left" || echo '?')" "$2" >&2
}

slots=()
[ -n "$jobs" ] && slots=(-j "$jobs")
# On other machines jobs run in a directory of their own (--wd ...), whose two
# files come back here (--return) and are removed there (--cleanup); on this
# one they write here directly. (To use this machine beside others, name it
# like them: "2/localhost".)
remote=()
if [ ${#hosts[@]} -gt 0 ] && [ "${hosts[*]}" != "--sshlogin :" ]; then
  remote=(--wd ... --return 'part-{1}.mp4' --return 'part-{1}.wav' --cleanup)
else
  hosts=(--sshlogin :)
fi
# A program named in ZEAL_PROGRAM is the one the jobs run, there too.
[ -n "${ZEAL_PROGRAM:-}" ] && remote+=(--env ZEAL_PROGRAM)
(cd "$dir/parts" &&
  parallel --will-cite --colsep ' ' "${slots[@]}" "${hosts[@]}" "${remote[@]}" --retries "$retries" \
    --joblog "$dir/parts/jobs.log" "$here/tools/render-farm.sh" --job '{1}' "'{2}'" $draft :::: "$ranges" \
    >"$dir/parts/jobs.out" 2>&1) &
farm=$!
trap 'kill -INT $farm 2>/dev/null' INT TERM
end=$'\n'
[ -t 2 ] && end=""
while kill -0 "$farm" 2>/dev/null; do
  sleep "$([ -t 2 ] && echo 1 || echo 10)"
  kill -0 "$farm" 2>/dev/null && progress "$([ -t 2 ] && echo $'\r')" "$end"
done
wait "$farm"
status=$?
trap - INT TERM
progress "$([ -t 2 ] && echo $'\r')" $'\n'

missing=0
while read -r from to; do
  [ -s "$dir/parts/part-$from.mp4" ] && [ -s "$dir/parts/part-$from.wav" ] || missing=$((missing + 1))
done <"$ranges"
if [ "$status" -ne 0 ] || [ "$missing" -gt 0 ]; then
  tail -n 20 "$dir/parts/jobs.out"
  echo "ERROR: $missing of $count ranges were not rendered (see $dir/parts/jobs.log); no film made"
  exit 1
fi

# The segments joined as they are; the sound joined sample for sample and
# encoded once.
list="$dir/parts/segments"
: >"$list"
sounds=()
while read -r from to; do
  echo "file '$dir/parts/part-$from.mp4'" >>"$list"
  sounds+=("$dir/parts/part-$from.wav")
done <"$ranges"
sox -V1 "${sounds[@]}" "$dir/parts/sound.wav" &&
  ffmpeg -v error -y -f concat -safe 0 -i "$list" -i "$dir/parts/sound.wav" -map 0:v -map 1:a \
    -c:v copy -c:a aac -b:a 192k -movflags +faststart "$film" ||
  { echo "ERROR: the ranges could not be joined into $film"; exit 1; }
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$film")
echo "rendered $film: ${seconds%.*} s of film, $(du -h "$film" | cut -f1), $count ranges in $(( $(date +%s) - start )) s"
