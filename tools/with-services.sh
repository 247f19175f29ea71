#!/usr/bin/env bash
# Runs a command with the services the tests use: a virtual X server with
# Mesa's software renderer (xvfb-run) and a JACK server on its dummy driver.
# Both are stopped when the command ends.
set -uo pipefail

if [ -z "${ZEAL_IN_XVFB:-}" ]; then
  export ZEAL_IN_XVFB=1
  # -noreset: with many short test programs the server would otherwise reset
  # whenever its last client leaves, refusing connections meanwhile.
  exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$0" "$@"
fi

jack_pid=""
if command -v jackd >/dev/null && [ -z "${ZEAL_NO_JACK:-}" ]; then
  # A server of our own name, so that runs side by side do not share one.
  export JACK_DEFAULT_SERVER="zeal-$$"
  jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 44100 -p 256 \
    >"${TMPDIR:-/tmp}/zeal-jackd-$$.log" 2>&1 &
  jack_pid=$!
  for _ in $(seq 1 50); do
    jack_lsp >/dev/null 2>&1 && break
    sleep 0.1
  done
  export ZEAL_JACK=1
fi

"$@"
status=$?
if [ -n "$jack_pid" ]; then
  kill "$jack_pid" 2>/dev/null
  wait "$jack_pid" 2>/dev/null
fi
exit $status
