#!/usr/bin/env bash
# The real mirador1080 under Xvfb, briefly: it starts, loads, shows its first
# scene (a picture that is not black) and ends on Escape with status 0. Then the
# same with no mirador.dat and with two damaged ones: the program says what is
# wrong, runs with whatever it could load and still ends on Escape with status 0.
# Usage: show_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador1080
. "$2/tests/e2e_lib.sh"
e2e_begin "$prog" xdotool import convert
[ -f "$build/mirador.dat" ] || fail "no $build/mirador.dat"

# 1. The real resource image: the intro shows a picture, not a black screen.
run_until_escape full "$build" "$prog"
not_black full
grep -q "couldn't find file" "$log" && fail "full: a file is missing from mirador.dat"

# 2. No resource image anywhere (a copy of the program, alone in a folder): one line
# says where it was looked for, every load says what it misses, the show runs anyway.
mkdir -p "$tmp/missing"
cp "$prog" "$tmp/missing/"
run_until_escape missing "$tmp/missing" "$tmp/missing/$(basename "$prog")"
grep -q "mirador.dat not found: looked in the working directory $tmp/missing, $tmp/missing/, $tmp/share/mirador/" "$log" ||
    fail "missing: no line saying where the image was looked for"
grep -q "could not open image" "$log" || fail "missing: no word about the image"
grep -q "couldn't find file: introbg1.tga" "$log" || fail "missing: no word about the pictures"
grep -q "couldn't find file: mirador4.wav" "$log" || fail "missing: no word about the music"

# 3. A truncated image: refused at the mount, the show runs without it.
mkdir -p "$tmp/cut"
size=$(stat -c %s "$build/mirador.dat")
head -c $((size / 2)) "$build/mirador.dat" >"$tmp/cut/mirador.dat"
run_until_escape cut "$tmp/cut" "$prog"
grep -q "bad image" "$log" || fail "cut: the damage was not reported"

# 4. An image whose directory is intact but whose file contents are overwritten
# from a quarter of the way in with other bytes (the program's own, so the damage is
# the same on every run): pictures and the music decode into whatever they hold.
mkdir -p "$tmp/noise"
cp "$build/mirador.dat" "$tmp/noise/mirador.dat"
dd if="$prog" of="$tmp/noise/mirador.dat" bs=4096 seek=$((size / 4 / 4096)) \
    count=$((size / 2 / 4096)) conv=notrunc status=none
run_until_escape noise "$tmp/noise" "$prog"
exit 0
