#!/usr/bin/env bash
# mirador-dev under Xvfb: a run without presenting listens.
# 1. Started at period 22 at 1280x720 (a run of about a minute through periods 2-21
#    without presenting), Escape pressed once the run is under way ends the program
#    with status 0 within the limit, and nothing it started is left running;
# 2. the same run, Home pressed during it: period 2's saved start is put back at once
#    (the run ends there) and the show plays on from frame 0.
# Usage: dev_run_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" xdotool
LIMIT=5   # seconds from Escape to exit: 0.5 s wanted, ten times that for ASan on busy cores

# start <name>: at period 22, waits for its window and for the run's progress line.
start() {
    log=$tmp/$1.log
    (cd "$build" && exec "$prog" --size 1280x720 --period 22) >"$log" 2>&1 &
    pid=$!
    wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
    [ -n "$wid" ] || fail "$1: window never appeared"
    for i in $(seq 1 100); do xdotool windowfocus "$wid" 2>/dev/null && break; sleep 0.05; done
    for i in $(seq 1 600); do grep -q "running to period 22: period [3-9]" "$log" && break; sleep 0.1; done
    grep -q "running to period 22: period [3-9]" "$log" || fail "$1: the run to period 22 never got under way"
    grep -q "(Escape ends)" "$log" || fail "$1: the progress line does not say which key ends the run"
}

# 1. Escape during the run.
start escape
t0=$(date +%s.%N)
xdotool key Escape
for i in $(seq 1 $((LIMIT * 20))); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
t1=$(date +%s.%N)
kill -0 $pid 2>/dev/null && fail "escape: still running $LIMIT s after Escape"
wait $pid; rc=$?
[ $rc -eq 0 ] || fail "escape: status $rc"
pgrep -P $pid >/dev/null 2>&1 && fail "escape: left a process behind"
grep -q "run to period 22 ended" "$log" || fail "escape: no line saying where the run ended"
echo "ok: Escape during a run to period 22 ends the program in $(echo "$t1 - $t0" | bc) s ($(grep -o 'ended at period [0-9]*, frame [0-9]*' "$log"))"

# 2. Home during the run: a saved start, put back at once.
start home
xdotool key Home
for i in $(seq 1 100); do grep -q "period 2: saved start put back" "$log" && break; sleep 0.05; done
grep -q "now to period 2" "$log" || fail "home: the run was not sent to period 2"
grep -q "period 2: saved start put back" "$log" || fail "home: period 2's saved start not put back within 5 s"
sleep 1
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "home: status $rc"
grep -q "running to period 22: period 2[12]" "$log" && fail "home: the run went on to period 21"
echo "ok: Home during the run puts period 2's saved start back at once"
