#!/usr/bin/env bash
# mirador-dev under Xvfb: the worker ahead of the viewer, against the capture's golden
# record of periods 6-7 at 640x360 (tests/data/capture). Started at period 2, the
# show is paused while the worker (a second process, at a lower priority) runs on and
# writes each period's saved point into the cache; once it has passed period 7, Right
# pressed four times lands on period 6 (Space plays on) and once more on period 7, each a saved start
# put back (made by the worker: the live show never got there), and every frame shown
# in periods 6 and 7 is the record's. Escape ends the program and the worker with it.
# Usage: dev_worker_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" xdotool python3
cache=$XDG_CACHE_HOME/mirador
log=$tmp/live.log rec=$tmp/live.txt
(cd "$build" && exec "$prog" --size 640x360 --no-overlay --record "$rec") >"$log" 2>&1 &
pid=$!
wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
[ -n "$wid" ] || fail "window never appeared"
for i in $(seq 1 100); do xdotool windowfocus "$wid" 2>/dev/null && break; sleep 0.05; done
for i in $(seq 1 100); do pgrep -f -- "--worker --size 640x360" >/dev/null && break; sleep 0.1; done
wpid=$(pgrep -P $pid -f -- "--worker")
[ -n "$wpid" ] || fail "no worker started"
[ "$(ps -o ni= -p "$wpid" | tr -d ' ')" -gt 0 ] || fail "the worker does not run at a lower priority"
xdotool key space   # paused in period 2: only the keys below move the show
for i in $(seq 1 3000); do ls "$cache" 2>/dev/null | grep -q -- '-p07\.ckpt$' && break; kill -0 $pid || fail "ended"; sleep 0.1; done
ls "$cache" | grep -q -- '-p07\.ckpt$' || fail "the worker did not pass period 7 in 300 s"
grep -q "period [3-7]: saved start put back\|ran [0-9]* frames" "$log" && fail "jumped before the test pressed a key"
sleep 0.5   # the live program looks at the cache four times a second
shown() { grep -q "^$1 " "$rec"; }
for want in 3 4 5 6 7; do
    xdotool key Right
    f=$(((want - 2) * 462))
    for i in $(seq 1 300); do shown $f && break; sleep 0.1; done
    shown $f || fail "Right did not land on period $want (frame $f)"
    grep -q "period $want: saved start put back" "$log" || fail "period $want was not a saved start"
    if [ $want -ge 6 ]; then
        [ $want -eq 6 ] && xdotool key space   # plays on from period 6
        for i in $(seq 1 300); do shown $((f + 60)) && break; sleep 0.1; done
    fi
done
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "status $rc"
kill -0 "$wpid" 2>/dev/null && fail "the worker was left running"
python3 - "$golden" "$rec" <<'PY' || fail "frames of periods 6-7 differ from the capture's"
import sys
gold = {int(l.split()[0]): l.split()[1] for l in open(sys.argv[1]) if l[0].isdigit()}
got = [l.split() for l in open(sys.argv[2]) if l[0].isdigit()]
ours = [(int(f), m) for f, m in got if int(f) in gold]
bad = [f for f, m in ours if gold[f] != m]
print(len(ours), "frames of periods 6-7 compared,", len(bad), "differ", bad[:5])
sys.exit(1 if bad or len(ours) < 120 else 0)
PY
echo "ok: the worker's saved points of periods 3-7 are put back by Right, and periods 6-7 are the capture's frames"
