#!/usr/bin/env bash
# mirador-dev under Xvfb: its refusals of bad input, and its exactness against the
# capture's golden record of periods 6-7 at 640x360 (tests/data/capture):
# 1. bad options are status 2 with the usage, a --data that is not a folder status 1
#    with one line, a period outside 2..22 is refused with the range;
# 2. a forward jump (--period 6: periods 2-5 run without presenting) followed by both
#    periods gives every frame's MD5 of the record, and its sound is the record's;
# 3. started at period 7, then Left (back to period 6, a saved start put back): every
#    frame shown before and after the jump is the record's frame of that number, and
#    the sound of each is the capture's sound of that frame (from run 2); this run
#    has the overlay on, which must leave the show's own frames as they are.
# Usage: dev_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" xdotool python3

# 1. Refusals, before any window opens.
refused() {  # refused <status> <text in stderr> <args>...
    local want=$1 text=$2 rc
    shift 2
    "$prog" "$@" >"$tmp/out" 2>"$tmp/err"; rc=$?
    [ $rc -eq "$want" ] || { cat "$tmp/err"; fail "mirador-dev $*: status $rc, not $want"; }
    grep -qF -- "$text" "$tmp/err" || { cat "$tmp/err"; fail "mirador-dev $*: no '$text'"; }
}
refused 2 "unknown option --fast" --fast
refused 2 "usage: mirador-dev" --fast
refused 2 "--size 100x100: outside 480x270 to 3840x2160" --size 100x100
refused 2 "--size big: not WxH" --size big
refused 2 "usage: mirador-dev" --size 640x
refused 2 "--period 23: not a period of 2..22" --period 23
refused 2 "--period 1: not a period of 2..22" --period 1
refused 2 "--data needs a value" --data
touch "$tmp/afile"
refused 1 "--data $tmp/afile: not a folder" --data "$tmp/afile"
refused 1 "--data $tmp/nothing: No such file or directory" --data "$tmp/nothing"
[ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "--data refusal: more than one line"
echo "ok: bad options, sizes, periods and folders are refused"

# compare <record>: every frame of the record is the golden record's frame of that number.
compare() {
    python3 - "$golden" "$1" <<'EOF' || fail "frames differ from the capture's"
import sys
gold = {int(l.split()[0]): l.split()[1] for l in open(sys.argv[1]) if l[0].isdigit()}
bad = n = 0
for l in open(sys.argv[2]):
    if not l[0].isdigit(): continue
    f, m = l.split()
    n += 1
    if gold.get(int(f)) != m:
        bad += 1
        if bad < 5: print("frame", f, "is", m, "the capture's", gold.get(int(f)))
print(n, "frames compared,", bad, "differ")
sys.exit(1 if bad or not n else 0)
EOF
}

# 2. Forward jump to period 6, then both periods shown in full.
log=$tmp/forward.log
(cd "$build" && exec timeout 300 "$prog" --size 640x360 --period 6 --record "$tmp/fwd.txt" --frames 924 --no-overlay) \
    >"$log" 2>&1 || fail "forward: status $?"
compare "$tmp/fwd.txt"
[ "$(grep -c '^[0-9]' "$tmp/fwd.txt")" -eq 924 ] || fail "forward: not 924 frames"
[ "$(head -n 2 "$tmp/fwd.txt" | tail -n 1 | cut -d' ' -f1)" = 1848 ] || fail "forward: did not start at period 6"
want=$(awk '$1 == "sound" { print $3 }' "$golden")
got=$(md5sum <"$tmp/fwd.txt.pcm" | cut -d' ' -f1)
[ "$got" = "$want" ] || fail "forward: the sound of periods 6-7 is not the capture's"
echo "ok: a forward jump to period 6 gives the capture's 924 frames and sound ($(grep -o 'ran [0-9]* frames in [0-9]* ms' "$log"))"

# 3. Start at period 7, then Left: back to period 6's saved start.
log=$tmp/back.log
(cd "$build" && exec "$prog" --size 640x360 --period 7 --record "$tmp/back.txt") >"$log" 2>&1 &
pid=$!
frames() { local c; c=$(grep -c '^[0-9]' "$tmp/back.txt" 2>/dev/null); echo "${c:-0}"; }
for i in $(seq 1 1200); do [ "$(frames)" -ge 20 ] && break; kill -0 $pid 2>/dev/null || fail "back: ended"; sleep 0.1; done
[ "$(frames)" -ge 20 ] || fail "back: period 7 never shown"
wid=$(xdotool search --all --pid $pid --name "M I R A D O R" | head -n 1)
[ -n "$wid" ] || fail "back: no window"
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key Left
for i in $(seq 1 300); do grep -q '^1878 ' "$tmp/back.txt" && break; sleep 0.1; done
grep -q '^1878 ' "$tmp/back.txt" || fail "back: period 6 never shown after Left"
xdotool key Escape
wait_ended $pid 20
[ $rc -eq 0 ] || fail "back: status $rc"
grep -q "period 6: saved start put back" "$log" || fail "back: the jump did not put the saved start back"
compare "$tmp/back.txt"
# Each frame's sound (735 stereo frames at 60 fps) is the capture's of that frame.
python3 - "$tmp/back.txt" "$tmp/fwd.txt.pcm" <<'EOF' || fail "back: the sound differs from the capture's"
import sys
frames = [int(l.split()[0]) for l in open(sys.argv[1]) if l[0].isdigit()]
got = open(sys.argv[1] + ".pcm", "rb").read()
ref = open(sys.argv[2], "rb").read()
n = 735 * 4
assert len(got) == n * len(frames), (len(got), len(frames))
bad = [f for i, f in enumerate(frames) if got[i * n:(i + 1) * n] != ref[(f - 1848) * n:(f - 1847) * n]]
print(len(frames), "frames of sound compared,", len(bad), "differ", bad[:5])
sys.exit(1 if bad else 0)
EOF
first7=$(grep -m1 '^[0-9]' "$tmp/back.txt" | cut -d' ' -f1)
[ "$first7" = 2310 ] || fail "back: started at frame $first7, not period 7's first (2310)"
echo "ok: period 7, then Left to period 6: every frame and its sound are the capture's ($(grep -o 'saved start put back in [0-9.]* ms' "$log" | head -n 1))"
