#!/usr/bin/env bash
# Sets up, builds and runs every test. GL, window and end-to-end tests run on
# their own Xvfb server, started here; sound goes through SDL's disk driver.
#   stage 1: the normal build, all tests (unit, GL, end to end)
#   stage 2: AddressSanitizer + UndefinedBehaviorSanitizer build, all tests but the long show
#   stage 3: ThreadSanitizer build, the tests labelled for threads
#   stage 4: libFuzzer targets built with clang and run over their seed corpora
#   stage 5: the Windows programs and window-less tests, cross-built, run under Wine
# MIRADOR_TEST_QUICK=1 runs stage 1 only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-disk}
export SDL_DISKAUDIOFILE=${SDL_DISKAUDIOFILE:-/dev/null}
export LIBGL_ALWAYS_SOFTWARE=1
xrun() { xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$@"; }

echo "== stage 1: build and test"
bash "$root/scripts/build.sh" "$root/build"
(cd "$root/build" && xrun ctest --output-on-failure -j2)
[ "${MIRADOR_TEST_QUICK:-0}" = 1 ] && exit 0

echo "== stage 2: ASan + UBSan"
bash "$root/scripts/build.sh" "$root/build-asan" -DMIRADOR_ASAN=ON -DMIRADOR_BENCH=OFF
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 xrun ctest --output-on-failure -j2 -LE long)

echo "== stage 3: TSan"
bash "$root/scripts/build.sh" "$root/build-tsan" -DMIRADOR_TSAN=ON -DMIRADOR_BENCH=OFF
(cd "$root/build-tsan" && xrun ctest --output-on-failure -j2 -L threads)

echo "== stage 4: fuzz targets over their seed corpora"
if ls "$root"/fuzz/*_fuzz.cpp >/dev/null 2>&1; then
  bash "$root/scripts/build.sh" "$root/build-fuzz" -DMIRADOR_FUZZ=ON -DMIRADOR_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  for src in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$src" .cpp)
    corpus="$root/fuzz/corpus/${name%_fuzz}"
    [ -d "$corpus" ] || continue
    echo "-- $name over $corpus"
    "$root/build-fuzz/fuzz/$name" -runs=0 "$corpus" >/dev/null
  done
fi
echo "== stage 5: the Windows programs, cross-built and run under Wine"
bash "$root/scripts/test-windows.sh"
echo "all stages passed"
