#!/usr/bin/env bash
# Sets up, builds and runs every test. GL, window and end-to-end tests run on
# their own Xvfb server, started here; sound goes through SDL's disk driver.
#   stage 1: the normal build, all tests (unit, GL, end to end)
#   stage 2: AddressSanitizer + UndefinedBehaviorSanitizer build, all tests but the long show
#   stage 3: ThreadSanitizer build, the tests labelled for threads
#   stage 4: libFuzzer targets built with clang and run over their seed corpora
#   stage 5: the Windows programs and window-less tests, cross-built, run under Wine
#   stage 6: the web build: unit tests under node, the page in Chromium, Firefox and WebKitGTK
# MIRADOR_TEST_QUICK=1 runs stage 1 only. Every stage runs, also after one failed;
# the last line names every stage and says whether it ran in full, in part (and what
# was left out), was skipped or FAILED, and the exit status is 1 when one failed.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-disk}
export SDL_DISKAUDIOFILE=${SDL_DISKAUDIOFILE:-/dev/null}
export LIBGL_ALWAYS_SOFTWARE=1
xrun() { xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$@"; }

# Each stage leaves its result as one line "full|part|skipped: what" in the file
# MIRADOR_STAGE_REPORT names: the stages below through report (scripts/lib.sh), the
# scripts of the other targets through their own.
summary=()
failed=0
MIRADOR_STAGE_REPORT=$(mktemp /tmp/mirador-stage.XXXXXX)
export MIRADOR_STAGE_REPORT
trap 'rm -f "$MIRADOR_STAGE_REPORT"' EXIT

# stage NAME FUNCTION: runs FUNCTION (which stops at its first failing command) as
# stage NAME and adds its result to the summary.
stage() {
    local name=$1 n=$(( ${#summary[@]} + 1 )) rc line how what
    echo "== stage $n: $name"
    : > "$MIRADOR_STAGE_REPORT"
    # Not tested with || or if: set -e would be off inside.
    (set -e; lib_started=$(date +%s); "$2")
    rc=$?
    line=$(tail -n 1 "$MIRADOR_STAGE_REPORT" 2>/dev/null || true)
    if [ "$rc" -ne 0 ]; then
        how=FAILED
        what=$line
        case $line in full:*|part:*|skipped:*) what=$(printf '%s' "${line#*:}" | sed 's/^ *//') ;; esac
        case $what in "FAILED ("*")") what=${what#FAILED (}; what=${what%)} ;; esac
        failed=1
    elif [ -n "$line" ]; then
        how=${line%%:*}
        what=""
        case $line in *:*) what=$(printf '%s' "${line#*:}" | sed 's/^ *//') ;; esac
    else
        how=part
        what="its script said nothing of what it ran"
    fi
    summary+=("$n $name: $how${what:+ ($what)}")
}

build_and_test() {
    bash "$root/scripts/build.sh" "$root/build"
    (cd "$root/build" && xrun ctest --output-on-failure -j2)
    report "full"
}
asan() {
    bash "$root/scripts/build.sh" "$root/build-asan" -DMIRADOR_ASAN=ON -DMIRADOR_BENCH=OFF
    (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 xrun ctest --output-on-failure -j2 -LE long)
    report "part: left out: the whole-show runs, label long"
}
tsan() {
    bash "$root/scripts/build.sh" "$root/build-tsan" -DMIRADOR_TSAN=ON -DMIRADOR_BENCH=OFF
    (cd "$root/build-tsan" && xrun ctest --output-on-failure -j2 -L threads)
    report "full: the tests labelled threads"
}
fuzz() {
    bash "$root/scripts/build.sh" "$root/build-fuzz" -DMIRADOR_FUZZ=ON -DMIRADOR_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
    local ran=0 left=() src name corpus
    for src in "$root"/fuzz/*_fuzz.cpp; do
        name=$(basename "$src" .cpp)
        corpus="$root/fuzz/corpus/${name%_fuzz}"
        [ -d "$corpus" ] || { left+=("$name: no corpus"); continue; }
        echo "-- $name over $corpus"
        "$root/build-fuzz/fuzz/$name" -runs=0 "$corpus" >/dev/null
        ran=$((ran + 1))
    done
    if [ ${#left[@]} -eq 0 ]; then report "full: $ran targets over their corpora"
    else report "part: $ran targets; left out: ${left[*]}"; fi
}
windows() { bash "$root/scripts/test-windows.sh"; }
web() { bash "$root/scripts/test-web.sh"; }
quick_skip() { report "skipped: MIRADOR_TEST_QUICK=1"; }

# The packages every stage builds with; one that cannot be had is said here, and
# the stages that need it fail for it below.
setup_ok=1
bash "$root/scripts/setup.sh" || setup_ok=0

stage "build and test" build_and_test
if [ "${MIRADOR_TEST_QUICK:-0}" = 1 ]; then
    for s in "ASan + UBSan" "TSan" "fuzz" "Windows" "web"; do stage "$s" quick_skip; done
else
    stage "ASan + UBSan" asan
    stage "TSan" tsan
    stage "fuzz" fuzz
    stage "Windows" windows
    stage "web" web
fi

line=""
for item in "${summary[@]}"; do line+="${line:+ | }$item"; done
[ "$setup_ok" -eq 1 ] || { line="setup: FAILED | $line"; failed=1; }
echo "stages: $line"
exit "$failed"
