#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh [folder] [cmake options...]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
