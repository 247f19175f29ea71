#!/usr/bin/env bash
# Set-up and the main job: installs what is missing, builds, then plays
# vv-plume live when there is a display and a sound device, or renders it
# headless into render/vv-plume.mp4 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh
cmake -S . -B build >/dev/null
# Only the program and what it carries: the tests have their own script.
cmake --build build -j "$(nproc)" --target vv-plume resources

has_display() { [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; }
has_sound() {
  compgen -G "/dev/snd/pcmC*p" >/dev/null ||
    { command -v jack_lsp >/dev/null && jack_lsp >/dev/null 2>&1; } ||
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]
}

if has_display && has_sound; then
  exec build/vv-plume "$@"
fi
echo "no display or no sound device here: rendering the piece into render/ instead"
exec tools/render.sh render
