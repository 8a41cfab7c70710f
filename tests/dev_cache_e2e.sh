#!/usr/bin/env bash
# mirador-dev under Xvfb: saved points that outlive a session, against the capture's
# golden record of periods 6-7 at 640x360 (tests/data/capture):
# 1. a first start at period 7 runs periods 2-6 without presenting and leaves their
#    saved points in the cache folder ($XDG_CACHE_HOME/mirador);
# 2. a second start at period 6, and one at 7, read them (their logs say so), put the
#    saved start back without a run, and every frame is the record's;
# 3. cache files damaged (a byte changed), truncated and foreign are each ignored with
#    one line, and the show runs from the last good one to the record's frames;
# 4. a cache folder that cannot be made leaves the tool working, with one line.
# (No worker: what is in the cache is what these starts put there.)
# Usage: dev_cache_e2e.sh <builddir> <sourcedir>   (DISPLAY must name an X server)
set -u
build=$1
prog=$build/mirador-dev
. "$2/tests/e2e_lib.sh"
dev_begin "$2" python3
cache=$XDG_CACHE_HOME/mirador

# run <name> <period> <frames>: at 640x360 with a record; its log is $log.
run() {
    log=$tmp/$1.log
    (cd "$build" && exec timeout 300 "$prog" --size 640x360 --no-overlay --no-worker --period "$2" --frames "$3" \
        --record "$tmp/$1.txt") >"$log" 2>&1 || fail "$1: status $?"
}
# compare <name>: every frame of its record is the golden record's frame of that number.
compare() {
    python3 - "$golden" "$tmp/$1.txt" <<'PY' || fail "$1: frames differ from the capture's"
import sys
gold = {int(l.split()[0]): l.split()[1] for l in open(sys.argv[1]) if l[0].isdigit()}
got = [l.split() for l in open(sys.argv[2]) if l[0].isdigit()]
bad = [f for f, m in got if gold.get(int(f)) != m]
sys.exit(1 if bad or not got else 0)
PY
}
first() { grep -m1 '^[0-9]' "$tmp/$1.txt" | cut -d' ' -f1; }

# 1. The first start fills the cache.
run first 7 1
grep -q "the cache $cache holds 0 saved points" "$log" || fail "first: the cache was not empty or not named"
grep -q "ran [0-9]* frames" "$log" || fail "first: no run to period 7"
n=$(ls "$cache" | grep -c '\-p0[2-7]\.ckpt$')
[ "$n" -eq 6 ] || fail "first: $n saved points of periods 2-7 in the cache, not 6"
echo "ok: a first start at period 7 leaves periods 2-7 in the cache ($(du -sh "$cache" | cut -f1))"

# 2. Second starts use it.
for p in 6 7; do
    run second$p $p 60
    grep -q "the cache $cache holds [1-9][0-9]* saved points" "$log" || fail "second$p: the cache was not read"
    grep -q "period $p: saved start put back" "$log" || fail "second$p: period $p was not a saved start"
    grep -q "ran [0-9]* frames" "$log" && fail "second$p: ran frames to get there"
    compare second$p
    [ "$(first second$p)" = $(((p - 2) * 462)) ] || fail "second$p: did not start at period $p's first frame"
done
echo "ok: second starts at periods 6 and 7 put their saved starts back from the cache; frames are the capture's"

# 3. Damaged, truncated, foreign.
f() { ls "$cache"/*-p0$1.ckpt; }
python3 - "$(f 6)" <<'PY'
import sys
b = bytearray(open(sys.argv[1], "rb").read()); b[len(b) // 2] ^= 0x40
open(sys.argv[1], "wb").write(b)
PY
truncate -s 100000 "$(f 5)"
head -c 1100000 /dev/urandom >"$(f 4)"
run damaged 6 30
for w in "p06.ckpt: damaged" "p05.ckpt: truncated" "p04.ckpt: not a saved point"; do
    [ "$(grep -c "cache file .*$w.*: ignored" "$log")" -eq 1 ] || fail "damaged: not one line for $w"
done
[ "$(grep -c "cache file" "$log")" -eq 3 ] || fail "damaged: more lines about the cache files than three"
grep -q "from its saved start, ran 1386 frames" "$log" || fail "damaged: did not run from period 3's saved start"
compare damaged
echo "ok: damaged, truncated and foreign cache files are ignored with one line each; the frames are the capture's"

# 4. A cache folder that cannot be made.
touch "$tmp/afile"
XDG_CACHE_HOME=$tmp/afile run nofolder 6 10
[ "$(grep -c "cache folder" "$log")" -eq 1 ] || fail "nofolder: not one line about the cache folder"
grep -q "the cache folder $tmp/afile/mirador cannot be used" "$log" || fail "nofolder: no line naming the folder"
compare nofolder
echo "ok: a cache folder that cannot be made: one line, and the tool works"
