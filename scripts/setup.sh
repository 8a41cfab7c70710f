#!/usr/bin/env bash
# Installs every Debian package that Mirador needs to build, run and test.
# Idempotent: returns at once when everything is already there. Run as root.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libsdl2-dev libglew-dev libgl1-mesa-dev libgl1-mesa-dri libegl-dev libegl1-mesa-dev mesa-utils
  xvfb xauth x11-utils xdotool imagemagick sox
  libgtest-dev libbenchmark-dev libstb-dev
  libfreetype-dev fonts-dejavu-core
  dpkg-dev file desktop-file-utils
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
)
missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
