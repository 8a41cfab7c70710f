#!/usr/bin/env bash
# mirador-dev under Xvfb: a reload keeps jumps exact. The rings' background
# (diagonal.tga, period 8) is replaced by a red picture in the --data folder while the
# show stands at period 10, with periods 2-10 saved with the old picture; the saved
# points after the start are dropped, and Left, Left (to periods 9 and 8) then give
# exactly the frames of a fresh start with the red picture in the folder.
# Usage: dev_reload_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" xdotool python3
[ -x "$build/corepack" ] || fail "no $build/corepack"
"$build/corepack" extract "$build/mirador.dat" "$tmp/orig" >/dev/null || fail "corepack extract"
mkdir -p "$tmp/new" "$tmp/live"
python3 - "$tmp/orig/diagonal.tga" "$tmp/new/diagonal.tga" <<'PY' || fail "no red picture"
import sys, struct
h = open(sys.argv[1], "rb").read(18)
w, ht = struct.unpack("<HH", h[12:16])
hdr = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HHBB", w, ht, 24, 0x20)
open(sys.argv[2], "wb").write(hdr + bytes([0, 0, 255]) * (w * ht))
PY

# The reference: a fresh start at period 8 with the red picture, into period 9.
log=$tmp/fresh.log
(cd "$build" && exec timeout 600 "$prog" --size 640x360 --no-overlay --no-worker --data "$tmp/new" --period 8 \
    --frames 524 --record "$tmp/fresh.txt") >"$log" 2>&1 || fail "fresh: status $?"

# The live show: at period 10 with the image's picture, then the red one laid over it.
log=$tmp/live.log rec=$tmp/live.txt
(cd "$build" && exec "$prog" --size 640x360 --no-overlay --no-worker --data "$tmp/live" --period 10 \
    --record "$rec") >"$log" 2>&1 &
pid=$!
wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
[ -n "$wid" ] || fail "window never appeared"
for i in $(seq 1 100); do xdotool windowfocus "$wid" 2>/dev/null && break; sleep 0.05; done
shown() { grep -q "^$1 " "$rec" 2>/dev/null; }
for i in $(seq 1 3000); do shown 3700 && break; kill -0 $pid || fail "ended"; sleep 0.1; done
shown 3700 || fail "period 10 never shown"
cp "$tmp/new/diagonal.tga" "$tmp/live/.part" && mv "$tmp/live/.part" "$tmp/live/diagonal.tga"
for i in $(seq 1 100); do grep -q "saved points dropped" "$log" && break; sleep 0.1; done
grep -q "diagonal.tga appeared: loaded again from the folder" "$log" || fail "no reload of the new picture"
grep -q "files changed: 8 saved points dropped" "$log" || fail "the saved points of periods 3-10 were not dropped"
xdotool key Left
for i in $(seq 1 3000); do shown 3300 && break; sleep 0.1; done
shown 3300 || fail "Left: period 9 never shown"
xdotool key Left
for i in $(seq 1 300); do shown 2840 && break; sleep 0.1; done
shown 2840 || fail "Left: period 8 never shown"
grep -q "period 8: saved start put back" "$log" || fail "period 8 was not saved again on the way to 9"
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "status $rc"
python3 - "$tmp/fresh.txt" "$rec" <<'PY' || fail "frames after the reload differ from a fresh start's"
import sys
ref = {int(l.split()[0]): l.split()[1] for l in open(sys.argv[1]) if l[0].isdigit()}
got = [(int(l.split()[0]), l.split()[1]) for l in open(sys.argv[2]) if l[0].isdigit()]
ours = [(f, m) for f, m in got if f in ref]
bad = [f for f, m in ours if ref[f] != m]
print(len(ours), "frames of periods 8-9 compared with a fresh start's,", len(bad), "differ", bad[:5])
sys.exit(1 if bad or len(ours) < 100 else 0)
PY
echo "ok: after a reload, jumps back to periods 9 and 8 give a fresh start's frames"
