#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang, libFuzzer, ASan, UBSan) and
# runs each for SECONDS (default 60) from its seed corpus in fuzz/corpus/.
# The corpus is copied to a temporary folder first, so that the inputs the
# fuzzer adds stay out of the repository. Fails when any target finds a
# crash, a leak or a sanitizer report; the input is kept in
# build-fuzz/findings/<target>/ (make it a regression test).
#
#   tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
export CC=clang CXX=clang++
cmake -S . -B build-fuzz -DZEAL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  cp -r "$seeds" "$work/$target"
  findings="build-fuzz/findings/$target"
  mkdir -p "$findings"
  printf '== fuzz_%s, %ss: ' "$target" "$seconds"
  if "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work/$target" >"$work/$target.log" 2>&1; then
    grep -E 'DONE' "$work/$target.log" | tail -n 1 || true
  else
    echo "FAILED"
    tail -n 60 "$work/$target.log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs in build-fuzz/findings/)"
  exit 1
fi
echo "fuzzing found nothing"
