#!/usr/bin/env bash
# Sets up, builds and runs every test. GL, window and end-to-end tests run on
# their own Xvfb server, started here; sound goes through SDL's disk driver.
#   stage 1: the normal build, all tests (unit, GL, end to end)
#   stage 2: AddressSanitizer + UndefinedBehaviorSanitizer build, all tests but the long show
#   stage 3: ThreadSanitizer build, the tests labelled for threads
#   stage 4: libFuzzer targets built with clang and run over their seed corpora
#   stage 5: the Windows programs and window-less tests, cross-built, run under Wine
#   stage 6: the web build: unit tests under node, the page in headless Chromium
# MIRADOR_TEST_QUICK=1 runs stage 1 only. The last line names every stage and says
# whether it ran in full, in part (and what was left out), or was skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-disk}
export SDL_DISKAUDIOFILE=${SDL_DISKAUDIOFILE:-/dev/null}
export LIBGL_ALWAYS_SOFTWARE=1
xrun() { xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$@"; }

# What each stage did, for the summary; the stage scripts of other targets add their
# own line through MIRADOR_STAGE_REPORT.
summary=()
current=""
report=$(mktemp /tmp/mirador-stage.XXXXXX)
export MIRADOR_STAGE_REPORT=$report
stage() {  # stage NAME: a stage begins
    current=$1
    echo "== stage $(( ${#summary[@]} + 1 )): $current"
}
done_stage() {  # done_stage full|part|skipped [what]
    local how=$1; shift
    summary+=("$(( ${#summary[@]} + 1 )) $current: $how${*:+ ($*)}")
    current=""
}
from_report() {  # the line the stage's own script left, or a plain failure
    local line
    line=$(tail -n 1 "$report" 2>/dev/null || true)
    : > "$report"
    [ -n "$line" ] || line="part: its script said nothing of what it ran"
    done_stage "${line%%:*}" "$(printf '%s' "${line#*:}" | sed 's/^ *//')"
}
finish() {
    local rc=$?
    [ -n "$current" ] && summary+=("$(( ${#summary[@]} + 1 )) $current: FAILED")
    rm -f "$report"
    local line="" item
    for item in "${summary[@]}"; do line+="${line:+ | }$item"; done
    echo "stages: $line"
    exit $rc
}
trap finish EXIT

stage "build and test"
bash "$root/scripts/build.sh" "$root/build"
(cd "$root/build" && xrun ctest --output-on-failure -j2)
done_stage full
if [ "${MIRADOR_TEST_QUICK:-0}" = 1 ]; then
    for s in "ASan + UBSan" "TSan" "fuzz" "Windows" "web"; do
        current=$s
        done_stage skipped "MIRADOR_TEST_QUICK=1"
    done
    exit 0
fi

stage "ASan + UBSan"
bash "$root/scripts/build.sh" "$root/build-asan" -DMIRADOR_ASAN=ON -DMIRADOR_BENCH=OFF
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 xrun ctest --output-on-failure -j2 -LE long)
done_stage part "left out: the whole-show runs, label long"

stage "TSan"
bash "$root/scripts/build.sh" "$root/build-tsan" -DMIRADOR_TSAN=ON -DMIRADOR_BENCH=OFF
(cd "$root/build-tsan" && xrun ctest --output-on-failure -j2 -L threads)
done_stage full "the tests labelled threads"

stage "fuzz"
bash "$root/scripts/build.sh" "$root/build-fuzz" -DMIRADOR_FUZZ=ON -DMIRADOR_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
ran=0 left=()
for src in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$src" .cpp)
    corpus="$root/fuzz/corpus/${name%_fuzz}"
    [ -d "$corpus" ] || { left+=("$name: no corpus"); continue; }
    echo "-- $name over $corpus"
    "$root/build-fuzz/fuzz/$name" -runs=0 "$corpus" >/dev/null
    ran=$((ran + 1))
done
if [ ${#left[@]} -eq 0 ]; then done_stage full "$ran targets over their corpora"
else done_stage part "$ran targets; left out: ${left[*]}"; fi

stage "Windows"
bash "$root/scripts/test-windows.sh"
from_report

stage "web"
bash "$root/scripts/test-web.sh"
from_report
