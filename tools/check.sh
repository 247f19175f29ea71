#!/usr/bin/env bash
# Set-up and the whole test suite: installs what is missing, builds normally and
# with AddressSanitizer + UndefinedBehaviorSanitizer, runs every test in both,
# runs the outputs, input and piece tests under ThreadSanitizer, then runs
# each fuzz target for 20 seconds.
#
#   tools/check.sh            all of it
#   tools/check.sh --tsan     only the ThreadSanitizer build and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
only_tsan=""
[ "${1:-}" = "--tsan" ] && only_tsan=1

tools/deps.sh
jobs=$(nproc)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Under ThreadSanitizer: the threads of the outputs, the input and the piece.
# Left out: the whole-piece runs (hours at its speed), the comparison of
# windowless and windowed renders (a pixel check), the farm (its remote job
# runs over ssh without the suppressions), and the tests that time MIDI
# through JACK, which at a tenth of the speed can miss their first message.
tsan() {
  echo "== build-tsan"
  cmake -S . -B build-tsan -DZEAL_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-tsan -j "$jobs"
  TSAN_OPTIONS="suppressions=$PWD/tools/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
    tools/with-services.sh ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 900 \
    -L 'outputs|input|piece' \
    -E '^(Render\.WholePieceToFilmAndDisk|Live\.WholePiecePlaysInRealTimeAndEndsByItself|Render\.WithoutAnXServerTheSameFilesAsInAWindow|Farm\..*|MidiDevice\..*|NotesExample\..*)$'
}
if [ -n "$only_tsan" ]; then
  tsan
  exit 0
fi

for variant in build build-sanitize; do
  flags=()
  skip=()
  if [ "$variant" = build-sanitize ]; then
    flags=(-DZEAL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
    # The whole piece, rendered to disk (a quarter of an hour on the software
    # renderer) and played live (two minutes), runs once, in the normal build;
    # so does the comparison of windowless and windowed renders, whose
    # windowless path the other render and farm tests take here too.
    skip=(-E '^(Render\.WholePieceToFilmAndDisk|Live\.WholePiecePlaysInRealTimeAndEndsByItself|Render\.WithoutAnXServerTheSameFilesAsInAWindow)$')
  fi
  echo "== $variant"
  cmake -S . -B "$variant" "${flags[@]}" >/dev/null
  cmake --build "$variant" -j "$jobs"
  tools/with-services.sh ctest --test-dir "$variant" --output-on-failure -j "$jobs" --timeout 600 "${skip[@]}"
done

tsan

# Every parser of outside input, fuzzed for a while from its seeds.
tools/fuzz.sh 20
