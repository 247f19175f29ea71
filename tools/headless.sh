# Sourced by the render scripts: gives the program a virtual X server when
# there is no display. The server runs in a session of its own, so that a
# Ctrl-C in the terminal reaches the program (which then ends its files in
# order) but not the server it draws on; it is stopped when the script exits.
headless_display() {
  if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then return 0; fi
  local number
  number=$(mktemp)
  setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$number" >/dev/null 2>&1 &
  HEADLESS_X=$!
  trap 'kill "$HEADLESS_X" 2>/dev/null' EXIT
  for _ in $(seq 1 100); do
    [ -s "$number" ] && break
    sleep 0.1
  done
  [ -s "$number" ] || { echo "ERROR: no virtual X server could be started (is Xvfb installed?)"; return 1; }
  export DISPLAY=":$(head -1 "$number")"
  rm -f "$number"
}
