#!/usr/bin/env bash
# Sets up, builds and runs the demo: scripts/run.sh [mirador720|mirador1080]
# With a display the show plays in its window, with its music. Without one nobody
# could see or hear it, so the show is recorded instead: mirador-capture writes
# mirador.mp4 (1920x1080, 60 fps, with the music) in the build folder, showing its
# progress, and says where the file is.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
prog=${1:-mirador720}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build"
cd "$root/build"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "./$prog"
fi
out=$root/build/mirador.mp4
echo "$lib_name: no display found: recording the show to $out instead (about 3 to 6 minutes)"
./mirador-capture "$out"
echo "$lib_name: the show is in $out (play it with any video player, e.g. ffplay $out)"
