#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# Idempotent: with everything present it only asks dpkg and returns.
set -euo pipefail

packages=(
  build-essential cmake pkg-config   # compiler and build
  libgtest-dev libbenchmark-dev      # tests and benchmarks
  portaudio19-dev                    # live audio output
  libsndfile1-dev                    # WAV writing and sound-file reading
  freeglut3-dev libglew-dev libglu1-mesa-dev libgl1-mesa-dri  # window, OpenGL
  libegl-dev libegl-mesa0            # rendering with no window system (EGL)
  libpng-dev                         # PNG resources
  libstb-dev                         # TGA frames (written; read back by tests)
  librtmidi-dev libjack-jackd2-dev   # MIDI ports (ALSA sequencer, JACK)
  xvfb xauth xdotool                 # virtual X server; a display check in the scripts
  libxtst-dev                        # synthetic keys and clicks in tests (XTEST)
  jackd2                             # JACK server (dummy driver) for audio and MIDI tests
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev  # writing films in process
  ffmpeg sox                         # joining rendered ranges; checks of films and sound
  parallel rsync openssh-client      # the render farm: jobs on local slots or remote machines
  openssh-server                     # a loopback SSH host for the farm's test
  slurm-wlm munge                    # a one-node Slurm cluster for the farm's test
  clang libclang-rt-14-dev           # fuzz targets (libFuzzer, sanitizers)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
