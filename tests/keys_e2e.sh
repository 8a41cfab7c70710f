#!/usr/bin/env bash
# Every press of Escape counts, however short: the real mirador720 under Xvfb is
# ended by one tap (`xdotool key`: press and release back to back, shorter than a
# frame) during start-up's loading, and by one tap at a random moment of the show in
# each of $MIRADOR_KEY_TAPS runs (5 by default); each time with status 0, soon
# after the tap. The moments come from $MIRADOR_KEY_SEED (printed), so a failing
# run can be repeated.
# Usage: keys_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador720
. "$2/tests/e2e_lib.sh"
e2e_begin "$prog" xdotool
taps=${MIRADOR_KEY_TAPS:-5}
seed=${MIRADOR_KEY_SEED:-$(date +%s)}
RANDOM=$seed
echo "seed $seed, $taps taps"

ms() { date +%s%3N; }

# start <name>: starts the program, waits for its window (looking every 10 ms, so
# that start-up's loading has only just begun) and gives it the focus.
start() {
    log=$tmp/$1.log
    (cd "$build" && exec "$prog") >"$log" 2>&1 &
    pid=$!
    wid=
    for i in $(seq 1 6000); do
        wid=$(xdotool search --all --pid $pid --name "M I R A D O R" 2>/dev/null | head -n 1)
        [ -n "$wid" ] && break
        kill -0 $pid 2>/dev/null || fail "$1: ended before its window appeared"
        sleep 0.01
    done
    [ -n "$wid" ] || fail "$1: window never appeared"
    for i in $(seq 1 100); do xdotool windowfocus "$wid" 2>/dev/null && break; sleep 0.01; done
}

# 1. A tap during loading ends the show after its first frame. Should loading be
# over before the tap (a busy machine), the run is tried again.
lost=0 tried=0
for try in 1 2 3 4 5; do
    start loading$try
    grep -q "Loading sound mirador4.wav" "$log" && { kill $pid; wait $pid 2>/dev/null; continue; }
    xdotool key Escape
    tried=1
    for i in $(seq 1 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 $pid 2>/dev/null; then
        echo "LOST: the tap during loading: still running 30 s later"
        kill $pid; wait $pid 2>/dev/null
        lost=1
        break
    fi
    wait $pid; rc=$?
    [ $rc -eq 0 ] || fail "loading: status $rc"
    grep -q "Loading sound mirador4.wav" "$log" || fail "loading: ended before start-up was over"
    echo "ok: a tap during loading ended the show with status 0"
    break
done
[ $tried -eq 1 ] || fail "loading was over before the tap in 5 tries"

# 2. Taps at random moments of the show. A tap that is lost leaves the show
# running: it is counted, the program is stopped and the next run goes on, so the
# summary line gives the count; any lost tap fails the test.
ended=0
for n in $(seq 1 "$taps"); do
    start tap$n
    wait_started $pid "$log"
    wait_ms=$((RANDOM % 8000))
    sleep "$(awk -v d=$wait_ms 'BEGIN { printf "%.3f", d / 1000 }')"
    kill -0 $pid 2>/dev/null || fail "tap $n: ended by itself"
    t0=$(ms)
    xdotool key Escape
    # A lost tap leaves the show running to its end, minutes away; a tap that counts
    # ends it after the frame it is seen in. 20 s tells the two apart even when the
    # sanitizer build runs on two busy cores.
    for i in $(seq 1 200); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 $pid 2>/dev/null; then
        echo "LOST: tap $n, $wait_ms ms into the show: still running 20 s later"
        kill $pid; wait $pid 2>/dev/null
        continue
    fi
    wait $pid; rc=$?
    t1=$(ms)
    [ $rc -eq 0 ] || fail "tap $n: status $rc"
    ended=$((ended + 1))
    echo "ok: tap $n, $wait_ms ms into the show, ended it $((t1 - t0)) ms later with status 0"
done
echo "$ended of $taps taps ended the show"
[ $lost -eq 0 ] || fail "the tap during loading was lost"
[ $ended -eq "$taps" ] || fail "$((taps - ended)) of $taps taps were lost"
exit 0
