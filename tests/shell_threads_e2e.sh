#!/usr/bin/env bash
# The three threads of the real program at work together: the main thread pumping
# events, the demo thread drawing and polling keys, the audio callback mixing the
# music. The program starts, plays the first seconds of the show and ends on a
# tap of Escape with status 0. In a ThreadSanitizer build any report fails the test.
# Usage: shell_threads_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador720
fail() { echo "FAIL: $*"; exit 1; }
[ -x "$prog" ] || fail "no $prog"
[ -n "${DISPLAY:-}" ] || fail "needs DISPLAY (run under xvfb-run)"
export SDL_AUDIODRIVER=disk
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; kill $(jobs -p) 2>/dev/null' EXIT
export SDL_DISKAUDIOFILE=$tmp/audio.raw
export TSAN_OPTIONS="halt_on_error=0 report_signal_unsafe=0 suppressions=$2/tests/tsan.supp ${TSAN_OPTIONS:-}"
cd "$build"
"$prog" >"$tmp/out.log" 2>&1 &
pid=$!
wid=$(timeout 120 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
[ -n "$wid" ] || fail "window never appeared"
# Let the show run: loading, the music starting, a few seconds of frames.
for i in $(seq 1 300); do grep -q "Loading sound" "$tmp/out.log" && break; sleep 0.1; done
sleep 6
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key Escape   # a tap: press and release back to back
for i in $(seq 1 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "still running 30 s after Escape"
wait $pid; rc=$?
if grep -q "WARNING: ThreadSanitizer" "$tmp/out.log"; then
  grep -A30 "WARNING: ThreadSanitizer" "$tmp/out.log" | head -60
  fail "ThreadSanitizer reported a race"
fi
[ $rc -eq 0 ] || { tail -20 "$tmp/out.log"; fail "status $rc"; }
size=$(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0)
[ "$size" -gt 176400 ] || fail "less than a second of sound was played ($size bytes)"
echo "ok: ran, played $((size / 176400)) s of sound, ended on Escape with status 0"
