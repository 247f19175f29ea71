#!/usr/bin/env bash
# Renders vv-plume in ranges of frames, as jobs run by GNU parallel on local
# job slots or on other machines, or as a Slurm job array, and joins them into
# DIR/vv-plume.mp4.
#
#   tools/render-farm.sh [-j N] [--sshlogin HOSTS | --slf FILE] [--chunk FRAMES]
#                        [--frames N] [--retries N] [--draft] [DIR]
#   tools/render-farm.sh --slurm [--partition P] [--sbatch-args "ARGS"] [--no-wait]
#                        [--chunk FRAMES] [--frames N] [--retries N] [--draft] DIR
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
#   --slurm          one array task per range and a join job that waits for
#                    them all; DIR and this repository must be on a file system
#                    that every node sees
#   --partition P, --sbatch-args "ARGS"
#                    where the jobs go, and more sbatch options for both (after
#                    ours: "--cpus-per-task=8" replaces the default 2)
#   --no-wait        submit, print the job ids and return
#   --chunk FRAMES   frames a job renders (default 300, ten seconds)
#   --frames N       render only the first N frames (default: the whole piece)
#   --draft          half size, no multisampling: DIR/vv-plume-draft.mp4
#
# Inside a job the script is called as: render-farm.sh --job FROM TO [--draft]
# (in the directory that gets the range's files), and the join as:
# render-farm.sh --join DIR [--draft].
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
    -c:v libx264 -preset ultrafast -qp 20 -x264-params deblock=0,0 -g $fps -bf 0 -pix_fmt yuv420p "$work/part.mp4" || return 1
  # Whole ranges only: the names appear once both files are complete.
  mv "$work/$stem.wav" "part-$from.wav" && mv "$work/part.mp4" "part-$from.mp4" && rm -rf "$work"
}

# The ranges of DIR/parts/ranges whose files are not all there, as FROM:TO.
missing_ranges() {
  local from to
  while read -r from to; do
    [ -s "$dir/parts/part-$from.mp4" ] && [ -s "$dir/parts/part-$from.wav" ] || echo "$from:$to"
  done <"$dir/parts/ranges" | paste -sd ' '
}

not_rendered() {
  echo "ERROR: $(wc -w <<<"$1") of $(wc -l <"$dir/parts/ranges") ranges were not rendered${1:+: $1} (see $2); no film made"
}

# The film, from every range's files; never one from a partial set.
join_parts() {
  local from to missing sounds=() list="$dir/parts/segments"
  missing=$(missing_ranges)
  [ -z "$missing" ] || { not_rendered "$missing" "$1"; return 1; }
  : >"$list"
  while read -r from to; do
    echo "file '$dir/parts/part-$from.mp4'" >>"$list"
    sounds+=("$dir/parts/part-$from.wav")
  done <"$dir/parts/ranges"
  # The segments joined as they are; the sound joined sample for sample and
  # encoded once. Under a name of its own until it is whole, so that a join
  # that fails leaves no film behind.
  sox -V1 "${sounds[@]}" "$dir/parts/sound.wav" &&
    ffmpeg -v error -y -f concat -safe 0 -i "$list" -i "$dir/parts/sound.wav" -map 0:v -map 1:a \
      -c:v copy -c:a aac -b:a 192k -movflags +faststart "$dir/parts/joined.mp4" &&
    mv "$dir/parts/joined.mp4" "$film" ||
    { echo "ERROR: the ranges could not be joined into $film"; return 1; }
}

film_of() { [ -n "$2" ] && echo "$1/vv-plume-draft.mp4" || echo "$1/vv-plume.mp4"; }

if [ "${1:-}" = "--job" ]; then
  job "$2" "$3" "${4:-}"
  exit $?
fi
if [ "${1:-}" = "--join" ]; then
  dir=$(cd "$2" && pwd) || exit 1
  [ -s "$dir/parts/ranges" ] || { echo "ERROR: no $dir/parts/ranges: nothing to join"; exit 1; }
  film=$(film_of "$dir" "${3:-}")
  join_parts "$dir/parts" || exit 1
  echo "joined $film"
  exit 0
fi

jobs=""
hosts=()
chunk=300
frames=""
retries=3
draft=""
slurm=""
partition=()
sbatch_args=()
no_wait=""
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs="$2"; shift 2 ;;
    --sshlogin|-S) hosts+=(--sshlogin "$2"); shift 2 ;;
    --slf) hosts+=(--slf "$2"); shift 2 ;;
    --slurm) slurm=1; shift ;;
    --partition) partition=(--partition "$2"); shift 2 ;;
    --sbatch-args) read -ra sbatch_args <<<"$2"; shift 2 ;;
    --no-wait) no_wait=1; shift ;;
    --chunk) chunk="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --retries) retries="$2"; shift 2 ;;
    --draft) draft=--draft; shift ;;
    -h|--help) sed -n '2,38p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "ERROR: unknown option $1"; echo usage:; sed -n '6,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    *) dir="$1"; shift ;;
  esac
done
dir="${dir:-render}"
for n in "$chunk" ${frames:+"$frames"} "$retries" ${jobs:+"$jobs"}; do
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -gt 0 ] || { echo "ERROR: \"$n\" is not a positive count"; exit 2; }
done
if [ -n "$slurm" ]; then
  [ -z "$jobs" ] && [ ${#hosts[@]} -eq 0 ] || { echo "ERROR: with --slurm, Slurm places the jobs: no -j, --sshlogin or --slf"; exit 2; }
  command -v sbatch >/dev/null || { echo "ERROR: no sbatch here: --slurm submits from a host of the cluster"; exit 1; }
elif [ -n "$no_wait" ] || [ $((${#partition[@]} + ${#sbatch_args[@]})) -gt 0 ]; then
  echo "ERROR: --partition, --sbatch-args and --no-wait go with --slurm"; exit 2
fi
[ -x "$program" ] || { echo "ERROR: $program is not built (cmake --build build)"; exit 1; }
mkdir -p "$dir/parts" || { echo "ERROR: cannot create $dir/parts"; exit 1; }
dir=$(cd "$dir" && pwd)
film=$(film_of "$dir" "$draft")

# The ranges: chunks of the first `frames`, or of the whole piece with the
# last one open, so that it takes the sound that rings on past its last frame.
total=${frames:-$whole_piece}
ranges="$dir/parts/ranges"
{ : >"$ranges"; } 2>/dev/null || { echo "ERROR: $dir is not writable"; exit 1; }
for ((from = 0; from < total; from += chunk)); do
  to=$((from + chunk))
  if [ $to -ge "$total" ]; then to=$total; [ -z "$frames" ] && to=""; fi
  echo "$from $to" >>"$ranges"
done
count=$(wc -l <"$ranges")
rm -f "$dir"/parts/part-* "$dir"/parts/slurm-*.out

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

if [ -n "$slurm" ]; then
  # Each task renders the range on its line of `ranges` with the same job
  # code as the other modes, and runs it again when it fails (the render
  # crashed or was killed); Slurm requeues a task whose node fails. A task
  # uses what one render keeps busy: two cores.
  task="$dir/parts/range-task.sh"
  cat >"$task" <<EOF
#!/bin/bash
cd $(printf %q "$dir/parts") || exit 1
read -r from to < <(sed -n "\$((SLURM_ARRAY_TASK_ID + 1))p" ranges)
[ -n "\$from" ] || exit 1
for try in \$(seq $retries); do
  $(printf %q "$here/tools/render-farm.sh") --job "\$from" "\$to" $draft && exit 0
  echo "range \$from:\$to failed on \$(hostname) (try \$try of $retries)" >&2
done
exit 1
EOF
  array=$(sbatch --parsable --array=0-$((count - 1)) --cpus-per-task=2 --requeue --job-name=vv-plume-ranges \
    --chdir="$dir/parts" --output="$dir/parts/slurm-%A_%a.out" "${partition[@]}" "${sbatch_args[@]}" "$task") ||
    { echo "ERROR: sbatch did not take the ranges"; exit 1; }
  array=${array%%;*}
  # The join waits for every task to succeed; Slurm cancels it when one fails.
  join=$(sbatch --parsable --dependency="afterok:$array" --kill-on-invalid-dep=yes --job-name=vv-plume-join \
    --chdir="$dir/parts" --output="$dir/parts/slurm-join.out" "${partition[@]}" "${sbatch_args[@]}" \
    --wrap "$(printf '%q ' "$here/tools/render-farm.sh" --join "$dir" $draft)") ||
    { scancel "$array"; echo "ERROR: sbatch did not take the join"; exit 1; }
  join=${join%%;*}
  if [ -n "$no_wait" ]; then
    echo "submitted: ranges as job array $array ($count tasks), the join as job $join; the film: $film"
    exit 0
  fi
  echo "submitted: ranges as job array $array ($count tasks), the join as job $join" >&2
else
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
fi

# Whether the farm still works: GNU parallel runs, or Slurm still holds the
# array or the join. (Accounting may be off, so squeue, not sacct: a job it
# no longer lists has ended, and the part files say how.)
working() {
  if [ -z "$slurm" ]; then
    kill -0 "$farm" 2>/dev/null
    return
  fi
  local held
  # No answer: ask again, for a while.
  if ! held=$(squeue -h --me -o %F 2>&1); then
    [ $((SECONDS - answered)) -lt 600 ] && return 0
    echo "ERROR: Slurm has not answered for ten minutes ($held); the jobs: $array $join"
    exit 1
  fi
  answered=$SECONDS
  grep -qx "$array" <<<"$held" && return 0
  if [ "$(find "$dir/parts" -name 'part-*.wav' | wc -l)" -lt "$count" ]; then
    scancel "$join" 2>/dev/null  # a range failed for good: no join
    return 1
  fi
  grep -qx "$join" <<<"$held"
}

if [ -n "$slurm" ]; then
  trap 'echo; echo "the jobs go on: scancel $array $join stops them"; exit 130' INT TERM
else
  trap 'kill -INT $farm 2>/dev/null' INT TERM
fi
end=$'\n'
[ -t 2 ] && end=""
# Progress every second on a terminal, every ten seconds in a log.
poll=1
[ -n "$slurm" ] && poll=2
shown=$SECONDS
answered=$SECONDS
while working; do
  sleep "$poll"
  if [ -t 2 ] || [ $((SECONDS - shown)) -ge 10 ]; then
    progress "$([ -t 2 ] && echo $'\r')" "$end"
    shown=$SECONDS
  fi
done
status=0
[ -z "$slurm" ] && { wait "$farm"; status=$?; }
trap - INT TERM
progress "$([ -t 2 ] && echo $'\r')" $'\n'

if [ -n "$slurm" ] && [ ! "$film" -nt "$ranges" ]; then
  missing=$(missing_ranges)
  if [ -n "$missing" ]; then
    # The last words of the tasks that failed.
    task=0
    while read -r from to; do
      [[ " $missing " == *" $from:$to "* ]] && tail -n 5 "$dir/parts/slurm-${array}_$task.out" 2>/dev/null
      task=$((task + 1))
    done <"$ranges"
    not_rendered "$missing" "$dir/parts/slurm-${array}_*.out"
  else
    tail -n 5 "$dir/parts/slurm-join.out" 2>/dev/null
    echo "ERROR: the join made no film (see $dir/parts/slurm-join.out)"
  fi
  exit 1
elif [ -z "$slurm" ]; then
  missing=$(missing_ranges)
  if [ "$status" -ne 0 ] || [ -n "$missing" ]; then
    tail -n 20 "$dir/parts/jobs.out"
    not_rendered "$missing" "$dir/parts/jobs.log"
    exit 1
  fi
  join_parts "$dir/parts/jobs.log" || exit 1
fi
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$film")
echo "rendered $film: ${seconds%.*} s of film, $(du -h "$film" | cut -f1), $count ranges in $(( $(date +%s) - start )) s"
