#!/usr/bin/env bash
# mirador-capture end to end: its refusals (status, message, no file left), the
# golden record of periods 6-7 at 640x360 (two runs and the record agree, and so do
# the decoded files), the streams of each container, the lossless sound track, the
# off-screen ways (EGL, a hidden window, a private Xvfb) giving the same frames, a
# missing or damaged mirador.dat, Ctrl-C, and the progress bar on a terminal.
# Usage: capture_e2e.sh <builddir> <sourcedir>
set -u
build=$1
src=$2
prog=$build/mirador-capture
golden=$src/tests/data/capture/periods6-7_640x360.framemd5
fail() { echo "FAIL: $*"; [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 20 "$log"; exit 1; }
[ -x "$prog" ] || fail "no $prog"
[ -f "$build/mirador.dat" ] || fail "no $build/mirador.dat"
for tool in ffprobe ffmpeg script identify; do command -v $tool >/dev/null || fail "needs $tool"; done
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
cd "$build"
# Without a display unless a case asks for one: EGL renders without it.
display=${DISPLAY:-}
unset DISPLAY

# probe <file> <stream> <entries>: one value per line (ffprobe's default=nw=1:nk=1).
probe() { ffprobe -v error -select_streams "$2" -show_entries "$3" -of default=nw=1:nk=1 "$1"; }

# refuse <status> <text> <args...>: the capture ends with that status, says text,
# and leaves no file in $tmp/out.
refuse() {
    local want=$1 text=$2 rc
    shift 2
    rm -rf "$tmp/out"; mkdir -p "$tmp/out"
    log=$tmp/refuse.log
    "$prog" "$@" >"$log" 2>&1; rc=$?
    [ $rc -eq "$want" ] || fail "'$*': status $rc, not $want"
    grep -qF -- "$text" "$log" || fail "'$*': no '$text' in its message"
    [ -z "$(ls -A "$tmp/out")" ] || fail "'$*': left $(ls "$tmp/out")"
}

# 1. Refusals, before any rendering.
refuse 2 "usage: mirador-capture" --size 100x100 "$tmp/out/a.mp4"
refuse 2 "outside 480x270 to 3840x2160" --size 4000x2160 "$tmp/out/a.mp4"
refuse 2 "width and height must be even" --size 641x360 "$tmp/out/a.mp4"
refuse 2 "not 30, 50, 60 or 120" --fps 24 "$tmp/out/a.mp4"
refuse 2 "not A-B with 2 <= A <= B <= 23" --periods 0-30 "$tmp/out/a.mp4"
refuse 2 "unknown option --colour" --colour red "$tmp/out/a.mp4"
refuse 2 "no OUTPUT given" --size 640x360
refuse 1 "unknown extension .avi" "$tmp/out/a.avi"
refuse 1 "cannot write $tmp/out/no/such/a.mp4" "$tmp/out/no/such/a.mp4"
refuse 1 "cannot write $tmp/out/no/g.md5" --framemd5 "$tmp/out/no/g.md5" "$tmp/out/a.mkv"
mkdir -p "$tmp/out/dir.mp4"
"$prog" "$tmp/out/dir.mp4" >"$tmp/dir.log" 2>&1; rc=$?
[ $rc -eq 1 ] && grep -q "it is a folder" "$tmp/dir.log" || fail "a folder as OUTPUT: status $rc"
rm -rf "$tmp/out"; mkdir -p "$tmp/ro"; echo keep >"$tmp/ro/a.mp4"; chmod a-w "$tmp/ro"
if [ "$(id -u)" -ne 0 ]; then
    "$prog" "$tmp/ro/a.mp4" >"$tmp/ro.log" 2>&1; rc=$?
    [ $rc -eq 1 ] && grep -q "cannot write" "$tmp/ro.log" || fail "a read-only folder: status $rc"
    [ "$(cat "$tmp/ro/a.mp4")" = keep ] || fail "a refused run changed the earlier OUTPUT"
fi
chmod u+w "$tmp/ro"
echo "ok: refusals"

# 2. The golden record: two captures of periods 6-7 agree with it and with each other,
# frame for frame and sample for sample, and so do the decoded files.
log=$tmp/g1.log
"$prog" --size 640x360 --periods 6-7 --framemd5 "$tmp/g1.md5" "$tmp/g1.mkv" >"$log" 2>&1 || fail "capture 1"
grep -q "rendering off-screen (EGL, no display needed)" "$log" || fail "no word on how it renders"
grep -q "wrote $tmp/g1.mkv: 924 frames from frame 1848 (periods 6-7), 15.400 s at 640x360" "$log" || fail "summary"
log=$tmp/g2.log
"$prog" --size 640x360 --periods 6-7 --framemd5 "$tmp/g2.md5" "$tmp/g2.mkv" >"$log" 2>&1 || fail "capture 2"
cmp -s "$tmp/g1.md5" "$tmp/g2.md5" || fail "two captures differ"
if ! cmp -s "$tmp/g1.md5" "$golden"; then
    diff "$golden" "$tmp/g1.md5" | head -n 6
    fail "the capture no longer matches the golden record ($(diff "$golden" "$tmp/g1.md5" | grep -c '^>') lines differ)"
fi
ffmpeg -v error -i "$tmp/g1.mkv" -f framemd5 - | grep -v '^#' >"$tmp/d1" || fail "decoding 1"
ffmpeg -v error -i "$tmp/g2.mkv" -f framemd5 - | grep -v '^#' >"$tmp/d2" || fail "decoding 2"
cmp -s "$tmp/d1" "$tmp/d2" || fail "the decoded files differ"
[ -f "$tmp/g1.mkv.part" ] && fail "a part file was left"
echo "ok: two captures and the golden record agree ($(grep -c '^[0-9]' "$golden") frames and the sound)"

# 3. The Matroska file: H.264 640x360 at 60 fps, FLAC 44100 Hz stereo, 15.4 s, and
# its sound decoded is the recorded track, sample for sample.
v=$(probe "$tmp/g1.mkv" v:0 stream=codec_name,width,height,r_frame_rate | tr '\n' ' ')
[ "$v" = "h264 640 360 60/1 " ] || fail "mkv video: $v"
a=$(probe "$tmp/g1.mkv" a:0 stream=codec_name,sample_rate,channels | tr '\n' ' ')
[ "$a" = "flac 44100 2 " ] || fail "mkv sound: $a"
n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$tmp/g1.mkv")
[ "$n" = 924 ] || fail "mkv: $n frames"
d=$(probe "$tmp/g1.mkv" v:0 format=duration)
awk -v d="$d" 'BEGIN { exit !(d > 15.38 && d < 15.44) }' || fail "mkv lasts $d s"
want=$(awk '$1 == "sound" { print $3 }' "$golden")
frames=$(awk '$1 == "sound" { print $2 }' "$golden")
got=$(ffmpeg -v error -i "$tmp/g1.mkv" -map 0:a -f s16le - | md5sum | cut -d' ' -f1)
[ "$got" = "$want" ] || fail "the FLAC track is not the mixer's output"
bytes=$(ffmpeg -v error -i "$tmp/g1.mkv" -map 0:a -f s16le - | wc -c)
[ "$bytes" -eq $((frames * 4)) ] || fail "the FLAC track has $bytes bytes, not $((frames * 4))"
echo "ok: mkv streams, 924 frames, $d s, the sound sample for sample"

# 4. The other containers, over period 2 (the show renders from its start for each).
"$prog" --size 480x270 --periods 2-2 "$tmp/p.mp4" >"$tmp/mp4.log" 2>&1 || { log=$tmp/mp4.log; fail "mp4"; }
v=$(probe "$tmp/p.mp4" v:0 stream=codec_name,width,height,r_frame_rate | tr '\n' ' ')
a=$(probe "$tmp/p.mp4" a:0 stream=codec_name,sample_rate,channels | tr '\n' ' ')
[ "$v" = "h264 480 270 60/1 " ] && [ "$a" = "aac 44100 2 " ] || fail "mp4 streams: $v / $a"
d=$(probe "$tmp/p.mp4" v:0 stream=duration)
awk -v d="$d" 'BEGIN { exit !(d > 7.68 && d < 7.72) }' || fail "mp4 video lasts $d s"
"$prog" --size 480x270 --fps 30 --periods 2-2 "$tmp/p.webm" >"$tmp/webm.log" 2>&1 || { log=$tmp/webm.log; fail "webm"; }
v=$(probe "$tmp/p.webm" v:0 stream=codec_name,width,height,r_frame_rate | tr '\n' ' ')
a=$(probe "$tmp/p.webm" a:0 stream=codec_name,sample_rate,channels | tr '\n' ' ')
[ "$v" = "vp9 480 270 30/1 " ] && [ "$a" = "opus 48000 2 " ] || fail "webm streams: $v / $a"
n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$tmp/p.webm")
[ "$n" = 231 ] || fail "webm at 30 fps: $n frames, not 231"
"$prog" --size 480x270 --fps 30 --periods 2-2 "$tmp/p.webp" >"$tmp/webp.log" 2>&1 || { log=$tmp/webp.log; fail "webp"; }
grep -q "no sound" "$tmp/webp.log" || fail "webp summary"
[ "$(head -c 4 "$tmp/p.webp")" = RIFF ] && [ "$(dd if="$tmp/p.webp" bs=1 skip=8 count=4 2>/dev/null)" = WEBP ] ||
    fail "webp is no WebP file"
# The WebP encoder merges a picture that repeats the one before into its time.
n=$(identify "$tmp/p.webp" 2>/dev/null | wc -l)
[ "$n" -gt 100 ] && [ "$n" -le 231 ] || fail "webp: $n pictures, not up to 231"
echo "ok: mp4 (H.264, AAC), webm (VP9, Opus), webp"

# 5. The three off-screen ways give the same frames.
"$prog" --size 480x270 --periods 2-2 --framemd5 "$tmp/egl.md5" "$tmp/egl.mkv" >/dev/null 2>&1 || fail "egl"
ORB_OFFSCREEN=xvfb "$prog" --size 480x270 --periods 2-2 --framemd5 "$tmp/xvfb.md5" "$tmp/xvfb.mkv" >"$tmp/xvfb.log" 2>&1 ||
    { log=$tmp/xvfb.log; fail "private Xvfb"; }
grep -q "no off-screen EGL context: rendering on a private Xvfb" "$tmp/xvfb.log" || fail "private Xvfb not said"
cmp -s "$tmp/egl.md5" "$tmp/xvfb.md5" || fail "EGL and the private Xvfb differ"
if [ -n "$display" ]; then
    DISPLAY=$display ORB_OFFSCREEN=window "$prog" --size 480x270 --periods 2-2 --framemd5 "$tmp/win.md5" \
        "$tmp/win.mkv" >"$tmp/win.log" 2>&1 || { log=$tmp/win.log; fail "hidden window"; }
    grep -q "through a hidden window on display" "$tmp/win.log" || fail "hidden window not said"
    cmp -s "$tmp/egl.md5" "$tmp/win.md5" || fail "EGL and the hidden window differ"
fi
pgrep -f "Xvfb -displayfd [0-9]* -screen 0 640x480x24" >/dev/null &&
    fail "the private Xvfb outlived its capture"
echo "ok: EGL, private Xvfb${display:+ and hidden window} render the same frames"

# 6. Missing and damaged data: the show's pictures without them, said so, status 0.
mkdir -p "$tmp/alone"
cp "$prog" "$tmp/alone/"
log=$tmp/alone.log
(cd "$tmp/alone" && ./mirador-capture --size 480x270 --periods 23-23 "$tmp/alone/none.mkv") >"$log" 2>&1 ||
    fail "without mirador.dat: status $?"
grep -q "mirador.dat not found" "$log" && grep -q "mirador.dat is missing or damaged" "$log" || fail "missing data not said"
[ -s "$tmp/alone/none.mkv" ] || fail "no file without mirador.dat"
head -c 300000 "$build/mirador.dat" >"$tmp/alone/mirador.dat"
log=$tmp/damaged.log
(cd "$tmp/alone" && ./mirador-capture --size 480x270 --periods 2-2 "$tmp/alone/cut.mkv") >"$log" 2>&1 ||
    fail "with a cut mirador.dat: status $?"
grep -q "mirador.dat is missing or damaged" "$log" || fail "damaged data not said"
[ -s "$tmp/alone/cut.mkv" ] || fail "no file with a cut mirador.dat"
echo "ok: missing and damaged mirador.dat"

# 7. Ctrl-C: a playable file up to the last finished frame, status 130.
log=$tmp/int.log
"$prog" --size 480x270 "$tmp/int.mp4" >"$log" 2>&1 &
pid=$!
for i in $(seq 1 300); do [ -s "$tmp/int.mp4.part" ] && [ "$(stat -c %s "$tmp/int.mp4.part")" -gt 50000 ] && break; sleep 0.1; done
kill -INT $pid
wait $pid; rc=$?
[ $rc -eq 130 ] || fail "Ctrl-C: status $rc"
grep -q "interrupted, wrote $tmp/int.mp4" "$log" || fail "Ctrl-C: no summary"
[ -f "$tmp/int.mp4.part" ] && fail "Ctrl-C left the part file"
n=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$tmp/int.mp4")
said=$(sed -n 's/.*interrupted, wrote [^:]*: \([0-9]*\) frames.*/\1/p' "$log")
[ -n "$n" ] && [ "$n" -gt 0 ] && [ "$n" = "$said" ] || fail "Ctrl-C: the file has '$n' frames, the summary says '$said'"
echo "ok: Ctrl-C left a playable file of $n frames"

# 8. The progress bar, on a terminal only.
script -qec "$prog --size 480x270 --periods 2-2 $tmp/tty.mkv" "$tmp/tty.log" >/dev/null 2>&1 || fail "on a terminal"
grep -q "period 2/2  frame [0-9]*/462  .* elapsed  .* left  [0-9.]* fps" "$tmp/tty.log" || fail "no progress bar"
grep -q $'\r' "$tmp/g1.log" && fail "a progress bar without a terminal"
echo "ok: progress bar on a terminal"
exit 0
