#!/usr/bin/env bash
# The capture's speed against the show's own running time (161.7 s): the whole show
# captured to .mp4 at 1280x720 and at 1920x1080, 60 fps, one after the other on
# this machine, then the stage-by-stage benchmark at both sizes.
# Usage: bench/capture_speed.sh [builddir]   (no display needed)
set -eu
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
show=161.717
for size in 1280x720 1920x1080; do
    start=$(date +%s.%N)
    (cd "$build" && env -u DISPLAY ./mirador-capture --size $size "$tmp/show-$size.mp4" >/dev/null 2>"$tmp/$size.log")
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v show=$show -v size=$size \
        'BEGIN { printf "whole show at %s: %.1f s, %.2fx the show'\''s running time\n", size, e - s, (e - s) / show }'
    tail -n 1 "$tmp/$size.log"
done
for size in 1280x720 1920x1080; do
    echo "stages at $size:"
    (cd "$build" && env -u DISPLAY ./bench/capture_bench --size=$size 2>/dev/null | grep '^BM_')
done
