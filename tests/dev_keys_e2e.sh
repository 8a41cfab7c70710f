#!/usr/bin/env bash
# mirador-dev under Xvfb, driven through real key presses and a click (xdotool):
# 1. Space pauses: no frame is shown while paused and the disk audio driver's file
#    holds silence for the paused time; Space again goes on from the next frame, with
#    the music; while paused, "." and "," step one frame on and back;
# 2. Right, Left, Home and a click on the timeline strip land on the first frame of
#    the right period; L loops the period (its first frame follows its last);
# 3. live content: a picture put into the --data folder while it runs is shown at
#    once (screenshot), a damaged one keeps it with its message, and removing it
#    brings the image's own back.
# Frames are followed through --record (one line per frame shown, its number first).
# Usage: dev_keys_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
[ -n "${DEV_E2E_TRACE:-}" ] && set -x
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" xdotool import convert python3
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$tmp/sound.raw
P=462   # frames of a period at 60 fps: period p starts at frame (p - 2) * 462

# start <name> <args>...: starts it at 640x360 with a record, waits for its window.
start() {
    local name=$1
    shift
    log=$tmp/$name.log rec=$tmp/$name.txt
    (cd "$build" && exec "$prog" --size 640x360 --record "$rec" "$@") >"$log" 2>&1 &
    pid=$!
    wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
    [ -n "$wid" ] || fail "$name: window never appeared"
    for i in $(seq 1 100); do xdotool windowfocus "$wid" 2>/dev/null && break; sleep 0.05; done
}
last() { grep '^[0-9]' "$rec" | tail -n 1 | cut -d' ' -f1; }
count() { local c; c=$(grep -c '^[0-9]' "$rec" 2>/dev/null); echo "${c:-0}"; }
# wait_frames <n>: until n more frames have been shown (at most 60 s).
wait_frames() {
    local want=$(($(count) + $1)) i
    for i in $(seq 1 600); do [ "$(count)" -ge $want ] && return 0; kill -0 $pid 2>/dev/null || fail "ended"; sleep 0.1; done
    fail "fewer than $1 frames shown in 60 s (at frame $(last))"
}
# jumped_to <n>: the first frame shown after record line n that does not follow the
# frame before it (where a jump landed), or nothing.
jumped_to() {
    grep '^[0-9]' "$rec" | tail -n +"$1" | awk 'NR > 1 && $1 != p + 1 { print $1; exit } { p = $1 }'
}
# key_lands <key> <frame>: the key makes the show jump to frame.
key_lands() {
    local n=$(count) got i
    xdotool key "$1"
    for i in $(seq 1 600); do got=$(jumped_to "$n"); [ -n "$got" ] && break; sleep 0.1; done
    [ "$got" = "$2" ] || fail "$1: jumped to frame $got, not $2"
    wait_frames 3
    echo "ok: $1 lands on frame $2"
}
size() { stat -c %s "$SDL_DISKAUDIOFILE"; }

# 1. Pause and resume.
start keys --period 4
wait_frames 30
xdotool key space
# The pause holds from the frame after the key is seen, which a slow build may take
# a while to reach: wait until no new frame has come for half a second.
prev=-1
for i in $(seq 1 120); do cur=$(last); [ "$cur" = "$prev" ] && break; prev=$cur; sleep 0.5; done
paused_at=$(last) s1=$(size)
sleep 2
[ "$(last)" = "$paused_at" ] || fail "pause: frames went on ($paused_at, then $(last))"
s2=$(size)
[ $((s2 - s1)) -gt $((44100 * 4)) ] || fail "pause: the device stopped playing ($s1 -> $s2 bytes)"
python3 - "$SDL_DISKAUDIOFILE" $s1 $s2 <<'EOF' || fail "pause: the paused time holds sound"
import sys
d = open(sys.argv[1], "rb").read()[int(sys.argv[2]):int(sys.argv[3])]
sys.exit(1 if any(d) else 0)
EOF
# While paused, "." shows the next frame and "," the one before it again.
step() {  # step <key>: presses it and waits for the one frame it shows
    local want=$(($(count) + 1)) i
    xdotool key "$1"
    for i in $(seq 1 600); do [ "$(count)" -ge $want ] && return 0; sleep 0.1; done
    fail "$1: no frame shown in 60 s"
}
step period
[ "$(last)" = $((paused_at + 1)) ] || fail "step on: frame $(last), not $((paused_at + 1))"
step period
step comma
[ "$(last)" = $((paused_at + 1)) ] || fail "step back: frame $(last), not $((paused_at + 1))"
echo "ok: one frame on and one back while paused"
s2=$(size)
n=$(count)
xdotool key space
wait_frames 30
next=$(grep '^[0-9]' "$rec" | tail -n +$((n + 1)) | head -n 1 | cut -d' ' -f1)
[ "$next" = $((paused_at + 2)) ] || fail "resume: frame $next after $((paused_at + 1))"
s3=$(size)
python3 - "$SDL_DISKAUDIOFILE" $s2 $s3 <<'EOF' || fail "resume: no music after the pause"
import sys
d = open(sys.argv[1], "rb").read()[int(sys.argv[2]):int(sys.argv[3])]
sys.exit(0 if any(d) else 1)
EOF
echo "ok: paused at frame $paused_at for 2 s ($((s2 - s1)) bytes of silence), resumed at $next with the music"

# 2. Jumps and the loop.
key_lands Right $((3 * P))   # period 5, reached by running on
key_lands Left $((2 * P))    # period 4, its saved start
key_lands Left $P            # period 3, saved on the way to 4
key_lands Home 0
# The strip's cell of period 6 (the overlay at 640x360: 21 cells from x 8 to 632, y 339 to 352).
n=$(count)
xdotool mousemove --window "$wid" 141 345 click 1
for i in $(seq 1 600); do got=$(jumped_to "$n"); [ -n "$got" ] && break; sleep 0.1; done
[ "$got" = $((4 * P)) ] || fail "click on period 6: jumped to frame $got"
wait_frames 3
echo "ok: a click on the strip lands on period 6"
xdotool key l
for i in $(seq 1 300); do grep -q "^$((5 * P - 1)) " "$rec" && break; sleep 0.1; done
wait_frames 10
python3 - "$rec" $((4 * P)) $((5 * P)) <<'EOF' || fail "loop: period 6 did not start again after its end"
import sys
f = [int(l.split()[0]) for l in open(sys.argv[1]) if l[0].isdigit()]
a, b = int(sys.argv[2]), int(sys.argv[3])
i = f.index(b - 1)
sys.exit(0 if f[i + 1] == a and b not in f else 1)
EOF
echo "ok: L loops period 6"
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "Escape: status $rc"

# 3. Live content: the rings' background (diagonal.tga) replaced while period 8 runs.
data=$tmp/data
mkdir -p "$data"
"$build/corepack" extract "$build/mirador.dat" "$tmp/orig" >/dev/null || fail "corepack extract"
python3 - "$tmp/orig/diagonal.tga" "$tmp/red.tga" <<'EOF' || fail "no red picture"
import sys, struct
h = open(sys.argv[1], "rb").read(18)
w, ht = struct.unpack("<HH", h[12:16])
hdr = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HHBB", w, ht, 24, 0x20)
open(sys.argv[2], "wb").write(hdr + bytes([0, 0, 255]) * (w * ht))
EOF
# While the music plays a picture waits for its sound (at most 16 frames), so a frame
# drawn after a reload is on screen 18 frames later.
redness() { import -window "$wid" "$tmp/$1.png" 2>/dev/null || fail "screenshot"; convert "$tmp/$1.png" -format "%[fx:mean.r-mean.g]" info:; }
start live --period 8 --data "$data" --no-overlay
# A period fades in over its first 128 frames: half way in before looking.
wait_frames 64
before=$(redness before)
cp "$tmp/red.tga" "$data/.part" && mv "$data/.part" "$data/diagonal.tga"
for i in $(seq 1 100); do grep -q "diagonal.tga appeared: loaded again from the folder" "$log" && break; sleep 0.1; done
grep -q "diagonal.tga appeared: loaded again from the folder" "$log" || fail "live: no reload of the new picture"
wait_frames 18
red=$(redness red)
# How red the screen gets depends on the moment of the scene (its fade, the rings over
# the picture, the scan lines): a red picture at least doubles it and adds a clear
# step; the damaged one keeps it nearer red than the image's own, removing it brings
# it back nearer the image's own.
awk -v a="$before" -v b="$red" 'BEGIN { exit !(b > 2 * a && b > a + 0.05) }' ||
    fail "live: the new picture is not shown ($before -> $red)"
mid=$(awk -v a="$before" -v b="$red" 'BEGIN { print (a + b) / 2 }')
head -c 100 "$tmp/red.tga" >"$data/.part" && mv "$data/.part" "$data/diagonal.tga"
for i in $(seq 1 100); do grep -q "diagonal.tga (the folder): .*keeps the picture in use" "$log" && break; sleep 0.1; done
grep -q "diagonal.tga (the folder): .*keeps the picture in use" "$log" || fail "live: the damaged picture was not refused"
wait_frames 18
still=$(redness damaged)
awk -v m="$mid" -v b="$still" 'BEGIN { exit !(b > m) }' || fail "live: the damaged picture was shown ($red -> $still)"
rm "$data/diagonal.tga"
for i in $(seq 1 100); do grep -q "diagonal.tga removed: loaded again from the image" "$log" && break; sleep 0.1; done
grep -q "diagonal.tga removed: loaded again from the image" "$log" || fail "live: removing gave nothing back"
wait_frames 18
after=$(redness after)
awk -v m="$mid" -v b="$after" 'BEGIN { exit !(b < m) }' || fail "live: the image's picture is not back ($after)"
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "live: status $rc"
echo "ok: live content: shown at once (redness $before -> $red), damaged kept ($still), removed ($after)"
