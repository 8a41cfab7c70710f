#!/usr/bin/env bash
# Sets up, builds and runs the demo: scripts/run.sh [mirador720|mirador1080]
# With no display it runs under Xvfb (and says so); the sound then goes to the
# default device, or nowhere when there is none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prog=${1:-mirador720}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build"
cd "$root/build"
if [ -n "${DISPLAY:-}" ]; then
  exec "./$prog"
fi
echo "run: no display found, running $prog under Xvfb (nothing will be seen)"
exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "./$prog"
