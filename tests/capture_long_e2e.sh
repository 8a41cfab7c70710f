#!/usr/bin/env bash
# The whole show captured (640x360, 60 fps, .mp4): 9703 frames, the 21 periods of
# 7700 ms (462 frames each) and the one black frame the show ends on, so the video
# lasts 161.7 s; the sound stream as long, 44100 Hz stereo, and loud to the end.
# Usage: capture_long_e2e.sh <builddir> <sourcedir>
set -u
build=$1
prog=$build/mirador-capture
fail() { echo "FAIL: $*"; [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 20 "$log"; exit 1; }
[ -x "$prog" ] || fail "no $prog"
for tool in ffprobe ffmpeg; do command -v $tool >/dev/null || fail "needs $tool"; done
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
cd "$build"
log=$tmp/show.log
env -u DISPLAY "$prog" --size 640x360 "$tmp/show.mp4" >"$log" 2>&1 || fail "capture: status $?"
grep -q "wrote $tmp/show.mp4: 9703 frames from frame 0 (periods 2-23), 161.717 s" "$log" || fail "summary"
probe() { ffprobe -v error -select_streams "$1" -show_entries "$2" -of default=nw=1:nk=1 "$tmp/show.mp4"; }
n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$tmp/show.mp4")
[ "$n" = 9703 ] || fail "$n frames, not 9703"
v=$(probe v:0 stream=duration)
a=$(probe a:0 stream=duration)
awk -v v="$v" -v a="$a" 'BEGIN { exit !(v > 161.69 && v < 161.74 && a > 161.66 && a < 161.76) }' ||
    fail "video $v s, sound $a s: not 161.7 s"
[ "$(probe a:0 stream=sample_rate,channels | tr '\n' ' ')" = "44100 2 " ] || fail "sound stream"
# Loud in every half minute: the music plays to the end.
for t in 10 40 70 100 130 155; do
    peak=$(ffmpeg -hide_banner -nostats -ss $t -t 5 -i "$tmp/show.mp4" -map 0:a -af volumedetect -f null - 2>&1 |
           sed -n 's/.*max_volume: \(-*[0-9.]*\) dB.*/\1/p')
    awk -v p="$peak" 'BEGIN { exit !(p != "" && p + 0 > -30) }' || fail "silent at $t s (peak '$peak' dB)"
done
echo "ok: the whole show, $n frames, video $v s, sound $a s"
sed -n 's/^mirador-capture: wrote/wrote/p' "$log"
exit 0
