#!/usr/bin/env bash
# The live programs' sound against their picture, end to end (bench/sync.sh: a private
# Xvfb and PulseAudio null sink, the program on SDL's pulseaudio driver, ffmpeg
# recording a strip of the window and the sink's monitor on one clock, matched against
# mirador-capture's file of period 6):
# 1. mirador720: the music heard within 45 ms of the picture;
# 2. mirador-dev at 1x: the music heard at the show's own speed (within 1 %), without
#    its gaps (10 ms of silence where the music is loud: fewer than one a second) and
#    within 45 ms of the picture.
# A run that found too little to judge (on a machine so busy that the show skips its
# pulses, shows them late or plays with gaps) is tried again, up to three times; a program out of step in two runs
# that could be judged fails. About three minutes; under the "long" label, since a
# sanitizer build's timing says nothing about sync. PulseAudio comes with
# scripts/setup.sh; without it the test says SKIP.
# Usage: sync_long_e2e.sh <builddir> <sourcedir>
set -u
build=$1 src=$2
fail() { echo "FAIL: $*"; exit 1; }
[ -x "$build/mirador720" ] && [ -x "$build/mirador-dev" ] && [ -x "$build/mirador-capture" ] ||
    fail "needs mirador720, mirador-dev and mirador-capture in $build"
if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "SKIP: no PulseAudio here (scripts/setup.sh installs pulseaudio and pulseaudio-utils)"; exit 0
fi

in_step() {
    local o
    o=$(echo "$1" | sed -n 's/^run 1: offset \(-\?[0-9.]*\) ms.*/\1/p')
    awk -v o="$o" 'BEGIN { exit !(o != "" && o >= -45 && o <= 45) }'
}

# speed_gaps <line>: "speed gaps seconds" of the analyser's line.
speed_gaps() {
    echo "$1" | sed -n 's/.* speed \([0-9.]*\) gaps \([0-9]*\) in \([0-9.]*\) s.*/\1 \2 \3/p'
}

# Right speed, and fewer gaps than one a second (the old pacing left 13 ms of silence
# every 46 ms, some twenty a second).
gapless() {
    speed_gaps "$1" | awk '{ exit !(NF == 3 && $1 >= 0.99 && $1 <= 1.01 && $3 >= 2 && $2 <= $3) }'
}

# judged <line> <check>: the analyser found enough to judge, and the program kept up. A
# program starved by a busy machine shows each picture late and plays with gaps: such
# a run says nothing about its sync (mirador720), and mirador-dev's gaps then come now
# and then, not twenty a second at the wrong speed.
judged() {
    local p m
    p=$(echo "$1" | sed -n 's/.*screen: \([0-9]*\) pulses.*/\1/p')
    m=$(echo "$1" | sed -n 's/.*ear: \([0-9]*\) of.*/\1/p')
    [ "${m:-0}" -ge 5 ] || return 1
    if [ "$2" = gapless_in_step ]; then
        [ "${p:-0}" -ge 2 ] || return 1
        speed_gaps "$1" | awk '{ exit ($1 >= 0.99 && $1 <= 1.01 && $2 > $3 && $2 <= 10 * $3) }'
    else
        [ "${p:-0}" -ge 2 ] && gapless "$1"
    fi
}

# measure <program> <check>: up to three runs; check <line> says whether it is right.
measure() {
    local prog=$1 check=$2 tries=0 bad=0 line
    while [ $tries -lt 3 ]; do
        tries=$((tries + 1))
        line=$(bash "$src/bench/sync.sh" --build "$build" --runs 1 --periods 6-6 "$prog" | grep "^run 1:")
        echo "$prog: $line"
        judged "$line" "$check" || continue
        if $check "$line"; then return 0; fi
        bad=$((bad + 1))
        [ $bad -ge 2 ] && return 1
    done
    echo "SKIP: $prog: too busy to measure ($bad of $tries runs could be judged, out of step)"
    return 2
}

gapless_in_step() { gapless "$1" && in_step "$1"; }

measure mirador720 in_step; rc=$?
[ $rc -eq 1 ] && fail "mirador720: the sound is not within 45 ms of the picture"
[ $rc -eq 0 ] && echo "ok: mirador720's music is heard within 45 ms of its picture"
measure mirador-dev gapless_in_step; rc=$?
[ $rc -eq 1 ] && fail "mirador-dev: the music has gaps, is not at the show's speed or not within 45 ms of the picture"
[ $rc -eq 0 ] && echo "ok: mirador-dev plays the music at the show's speed without a gap, in step with its picture"
exit 0
