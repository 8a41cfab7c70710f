#!/usr/bin/env bash
# Installs every Debian package that Mirador needs to build, run and test.
# Idempotent: returns at once when everything is already there (scripts/lib.sh).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libsdl2-dev libglew-dev libgl1-mesa-dev libgl1-mesa-dri libegl-dev libegl1-mesa-dev mesa-utils
  xvfb xauth x11-utils xdotool imagemagick sox
  libgtest-dev libbenchmark-dev libstb-dev
  libfreetype-dev fonts-dejavu-core
  dpkg-dev file desktop-file-utils
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
  pulseaudio pulseaudio-utils python3-numpy
)
need_packages "${PACKAGES[@]}"
