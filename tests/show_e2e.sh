#!/usr/bin/env bash
# The real mirador1080 under Xvfb, briefly: it starts, loads, shows its first
# scene (a picture that is not black) and ends on Escape with status 0. Then the
# same with no mirador.dat and with two damaged ones: the program says what is
# wrong, runs with whatever it could load and still ends on Escape with status 0.
# Usage: show_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador1080
fail() { echo "FAIL: $*"; [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 20 "$log"; exit 1; }
[ -x "$prog" ] || fail "no $prog"
[ -f "$build/mirador.dat" ] || fail "no $build/mirador.dat"
[ -n "${DISPLAY:-}" ] || fail "needs DISPLAY (run under xvfb-run)"
for tool in xdotool import convert; do
    command -v $tool >/dev/null || fail "needs $tool"
done
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-disk} SDL_DISKAUDIOFILE=${SDL_DISKAUDIOFILE:-/dev/null}
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT

# Mean brightness (0..1) of a screenshot of the whole screen.
brightness() { convert "$1" -colorspace gray -format "%[fx:mean]" info:; }

# run_until_escape <name> <dir>: starts the program in dir, waits for its window and
# for the show's clock to start (the music is loaded right before), takes a
# screenshot a few seconds in, presses Escape and expects status 0.
run_until_escape() {
    local name=$1 dir=$2 pid wid rc i
    log=$tmp/$name.log
    (cd "$dir" && exec "$prog") >"$log" 2>&1 &
    pid=$!
    wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
    [ -n "$wid" ] || fail "$name: window never appeared"
    for i in $(seq 1 600); do
        grep -q "Loading sound mirador4.wav" "$log" && break
        kill -0 $pid 2>/dev/null || fail "$name: ended during start-up"
        sleep 0.1
    done
    grep -q "Loading sound mirador4.wav" "$log" || fail "$name: start-up did not finish in 60 s"
    sleep 4
    kill -0 $pid 2>/dev/null || fail "$name: ended by itself"
    import -window root "$tmp/$name.png" 2>/dev/null || fail "$name: screenshot failed"
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
    for i in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && fail "$name: still running 10 s after Escape"
    wait $pid; rc=$?
    [ $rc -eq 0 ] || fail "$name: status $rc"
    echo "ok: $name ran and ended on Escape, screen brightness $(brightness "$tmp/$name.png")"
}

# 1. The real resource image: the intro shows a picture, not a black screen.
run_until_escape full "$build"
b=$(brightness "$tmp/full.png")
awk -v b="$b" 'BEGIN { exit !(b > 0.02) }' || fail "full: the first scene is black ($b)"
grep -q "couldn't find file" "$log" && fail "full: a file is missing from mirador.dat"

# 2. No resource image: every load says what it misses, the show runs anyway.
mkdir -p "$tmp/missing"
run_until_escape missing "$tmp/missing"
grep -q "could not open image" "$log" || fail "missing: no word about the image"
grep -q "couldn't find file: introbg1.tga" "$log" || fail "missing: no word about the pictures"
grep -q "couldn't find file: mirador4.wav" "$log" || fail "missing: no word about the music"

# 3. A truncated image: refused at the mount, the show runs without it.
mkdir -p "$tmp/cut"
size=$(stat -c %s "$build/mirador.dat")
head -c $((size / 2)) "$build/mirador.dat" >"$tmp/cut/mirador.dat"
run_until_escape cut "$tmp/cut"
grep -q "bad image" "$log" || fail "cut: the damage was not reported"

# 4. An image whose directory is intact but whose file contents are overwritten
# from a quarter of the way in with other bytes (the program's own, so the damage is
# the same on every run): pictures and the music decode into whatever they hold.
mkdir -p "$tmp/noise"
cp "$build/mirador.dat" "$tmp/noise/mirador.dat"
dd if="$prog" of="$tmp/noise/mirador.dat" bs=4096 seek=$((size / 4 / 4096)) \
    count=$((size / 2 / 4096)) conv=notrunc status=none
run_until_escape noise "$tmp/noise"
exit 0
