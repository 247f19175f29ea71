#!/usr/bin/env bash
# Set-up and the main job: installs what is missing, builds, and runs vv-plume.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)"
exec build/vv-plume "$@"
