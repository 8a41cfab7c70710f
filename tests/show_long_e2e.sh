#!/usr/bin/env bash
# The whole show: the real mirador720 under Xvfb with SDL's disk audio driver.
# Takes one screenshot in the middle of each of the 21 periods (and one of the first
# caption, to look at), checks that the program ends by itself with status 0 about
# 161.7 s after the music starts, that the captured sound covers the show and is not
# silent, and puts the 21 screenshots on one contact sheet
# (build/show_shots/contact_sheet.png).
# Usage: show_long_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador720
shots=$build/show_shots
fail() { echo "FAIL: $*"; [ -f "${log:-}" ] && tail -n 20 "$log"; exit 1; }
[ -x "$prog" ] || fail "no $prog"
[ -f "$build/mirador.dat" ] || fail "no $build/mirador.dat"
[ -n "${DISPLAY:-}" ] || fail "needs DISPLAY (run under xvfb-run)"
for tool in import montage convert compare sox xdotool; do
    command -v $tool >/dev/null || fail "needs $tool"
done
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
rm -rf "$shots"
mkdir -p "$shots"
log=$tmp/show.log
audio=$tmp/audio.raw

ms() { date +%s%3N; }
sleep_until() { local d=$(($1 - $(ms))); [ $d -gt 0 ] && sleep "$(awk -v d=$d 'BEGIN { printf "%.3f", d / 1000 }')"; }

# The music is loaded right before it is started and the show's clock is read; the
# effects' set-up between them takes a few milliseconds.
(cd "$build" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$audio" exec "$prog") >"$log" 2>&1 &
pid=$!
for i in $(seq 1 1200); do
    grep -q "Loading sound mirador4.wav" "$log" && break
    kill -0 $pid 2>/dev/null || fail "ended during start-up"
    sleep 0.05
done
t0=$(ms)
grep -q "Loading sound mirador4.wav" "$log" || fail "start-up did not finish in 60 s"
echo "show started"
# Screenshots of the window alone when it can be found, else of the whole screen.
wid=$(timeout 10 xdotool search --all --pid $pid --name "M I R A D O R" 2>/dev/null | head -n 1)
target=${wid:-root}

# Period k (0..20, scene 2 + k) runs from about t0 + 7700 k ms; each period can end
# up to a frame late, so the middle of a period stays a safe place to look.
names=(intro intro title title tunnel tunnel rings rings plane plane vhs vhs voxel voxel
       balls balls credits credits dance dance finale)
for k in $(seq 0 20); do
    # Period 3 shows its first caption alone for its first 2.2 s: one more look there.
    if [ $k -eq 1 ]; then
        sleep_until $((t0 + 7700 + 1500))
        import -window "$target" "$shots/caption1.png" 2>/dev/null || fail "caption screenshot failed"
    fi
    sleep_until $((t0 + 7700 * k + 3850))
    kill -0 $pid 2>/dev/null || fail "ended early, in period $((k + 2))"
    f=$(printf "%s/period%02d_%s.png" "$shots" $((k + 2)) "${names[$k]}")
    import -window "$target" "$f" 2>/dev/null || fail "screenshot $k failed"
done

# The show ends by itself: 21 periods of 7.7 s and one black frame.
while kill -0 $pid 2>/dev/null; do
    [ $(($(ms) - t0)) -gt 200000 ] && fail "still running 200 s after the start"
    sleep 0.05
done
wait $pid; rc=$?
t1=$(ms)
len=$((t1 - t0))
echo "show ended after $len ms with status $rc"
[ $rc -eq 0 ] || fail "status $rc"
[ $len -ge 161000 ] || fail "ended after $len ms, before 161.7 s"
# Each of the 21 periods may end up to a frame late, and a frame on a busy machine
# may take a tenth of a second or more: 180 s leaves room for that, and still
# catches a show that does not end when its clock says so.
[ $len -le 180000 ] || fail "ended after $len ms, far beyond 161.7 s"

# Every scene drew something: no screenshot is black.
for f in "$shots"/period*.png; do
    b=$(convert "$f" -colorspace gray -format "%[fx:mean]" info:)
    awk -v b="$b" 'BEGIN { exit !(b > 0.01) }' || fail "$(basename "$f") is black ($b)"
done

# The captured sound: 44100 Hz, 16 bits, stereo, written while the program ran, from
# the sound system's start (before the show's clock) to the end. SDL's disk driver
# paces itself by sleeping a whole block's time after writing each block, so it
# falls behind the wall clock by the time each block takes (2 to 3 % on an idle
# machine, more under load): allow 10 %.
[ -s "$audio" ] || fail "no sound captured"
stat=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$audio" -n stat 2>&1)
secs=$(echo "$stat" | awk '/^Length/ { print $3 }')
rms=$(echo "$stat" | awk '/^RMS +amplitude/ { print $3 }')
echo "sound: $secs s, RMS amplitude $rms"
awk -v s="$secs" -v l="$len" 'BEGIN { exit !(s >= 0.90 * l / 1000) }' || fail "sound lasts $secs s of $len ms"
awk -v r="$rms" 'BEGIN { exit !(r > 0.005) }' || fail "sound is silent (RMS $rms)"
# No silent stretch in the show either: every 10 s has sound.
for start in $(seq 0 10 130); do
    r=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$audio" -n trim "$start" 10 stat 2>&1 |
        awk '/^RMS +amplitude/ { print $3 }')
    awk -v r="$r" 'BEGIN { exit !(r > 0.001) }' || fail "silence at $start..$((start + 10)) s (RMS $r)"
done

# 256 colours keep the sheet small enough to sit in the repository.
montage "$shots"/period*.png -tile 7x3 -geometry 256x144+3+3 -background black -strip \
    +dither -colors 255 "PNG8:$shots/contact_sheet.png" || fail "montage failed"
echo "ok: contact sheet $shots/contact_sheet.png"
exit 0
