#!/bin/bash
# test-web.sh - the web stage: the module and its page built with emscripten and
# tested, in three parts.
#   1. unit      the window-less tests that hold golden hashes (effects, TGA, WAV,
#                mixer, resource image) as node programs: the same hashes as natively
#   2. browser   the page in Chromium, Firefox ESR and WebKitGTK
#                (tests/web/run-browsers.sh, browser_test.py): data, start, intro,
#                later periods, sound (the worklet, a 48000 Hz context, the music
#                at a PulseAudio null sink), Escape and the end card, the message
#                for missing data
#   3. frame     a frame on the capture's fixed clock in the browser against the same
#                frame rendered natively by the page's own program, which must first
#                equal mirador-capture's frame (its MD5 in the capture's record)
#
#   bash scripts/test-web.sh
#
# Installs what it needs from Debian (emscripten, flac, googletest, chromium,
# chromium-driver, python3-selenium, python3-pil, firefox-esr, python3-websockets,
# webkit2gtk-driver, gstreamer1.0-pulseaudio, pulseaudio, pulseaudio-utils, xvfb).
# With MIRADOR_STAGE_REPORT naming a file, appends one line to it: "full: ...",
# "part: ..." (what was left out and why) or "skipped: ..." (nothing could run). An
# engine that cannot start here is named in a "part:" line; it never counts as
# passed. An engine is tried twice at most, and the line says when it was.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
cd "$root"
ROOT=$root
OUT=$ROOT/build-web
NATIVE=$ROOT/build-web-native
LOG=$(mktemp -d /tmp/mirador-test-web.XXXXXX)
trap 'rm -rf "$LOG"' EXIT

if ! need_packages emscripten flac googletest; then
  report "skipped: emscripten could not be installed ($need_why): nothing was built or run"
  exit 1
fi
# Without them only the browser checks are left out, which the verdict says.
need_packages chromium chromium-driver python3-selenium python3-pil firefox-esr python3-websockets \
  webkit2gtk-driver gstreamer1.0-pulseaudio pulseaudio pulseaudio-utils xvfb

# ---- Build -------------------------------------------------------------------------------
echo "test-web: building the module, the page and the node tests (scripts/build-web.sh --tests)"
if ! timeout 3600 bash scripts/build-web.sh --tests > "$LOG/build.log" 2>&1; then
  tail -20 "$LOG/build.log"
  report "skipped: scripts/build-web.sh failed: nothing was run"
  exit 1
fi
grep '^build-web:' "$LOG/build.log"

# ---- 1. Unit tests under node --------------------------------------------------------------
# Node 18 and later have a fetch of their own, with which emscripten 3.1.6's loader
# would try to fetch the .wasm as a URL: it is switched off.
unit_ok=1
unit_n=0
for t in $(cat "$OUT/tests/list.txt"); do
  if (cd "$OUT/tests" && timeout 900 node --no-experimental-fetch "$t.js") > "$LOG/$t.log" 2>&1 &&
     grep -q '^\[  PASSED  \] [0-9]* test' "$LOG/$t.log" && ! grep -q '^\[  FAILED  \]' "$LOG/$t.log"; then
    n=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$LOG/$t.log")
    unit_n=$((unit_n + n))
    echo "test-web: node $t: $n tests passed"
  else
    unit_ok=0
    echo "test-web: node $t FAILED:"
    grep -E '^\[  FAILED  \]|Failure|Expected|Which is|Aborted|Error' "$LOG/$t.log" | head -20
    tail -3 "$LOG/$t.log"
  fi
done

# ---- 3 (prepared first). The native reference frame ------------------------------------------
# The page's program built natively, off-screen on the machine's GL, as the capture
# renders; its frame must be mirador-capture's own (the same MD5) to stand for it.
GRAB=300
SIZE=640x360
ref=""
ref_why=""
if ! [ -x "$NATIVE/mirador-capture" ] || ! [ -x "$NATIVE/mirador-web-native" ]; then
  echo "test-web: building the capture and the page's program natively in build-web-native/"
fi
if { cmake -S . -B "$NATIVE" -G Ninja -DMIRADOR_TESTS=OFF -DMIRADOR_BENCH=OFF &&
     cmake --build "$NATIVE" -j2 --target mirador-capture mirador-web-native mirador_data; } \
     > "$LOG/native.log" 2>&1 || { tail -5 "$LOG/native.log"; false; }; then
  cp "$OUT/mirador.dat" "$LOG/mirador.dat"
  export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
  if (cd "$LOG" && timeout 600 "$NATIVE/mirador-capture" --size $SIZE --periods 2-2 --framemd5 p2.framemd5 p2.mkv) \
       > "$LOG/capture.log" 2>&1 &&
     (cd "$LOG" && timeout 600 "$NATIVE/mirador-web-native" --fixed-fps 60 --grab $GRAB --size $SIZE \
       --grab-file ref.rgba) > "$LOG/native-run.log" 2>&1; then
    want=$(sed -n "s/^$GRAB \([0-9a-f]*\)$/\1/p" "$LOG/p2.framemd5")
    # The native program prints its frame's MD5 as the capture's record has it.
    got=$(sed -n "s/^frame $GRAB: MD5 \([0-9a-f]*\)$/\1/p" "$LOG/native-run.log")
    if [ -n "$want" ] && [ "$want" = "$got" ]; then
      ref=$LOG/ref.rgba
      echo "test-web: the native frame $GRAB at $SIZE is the capture's (MD5 $got)"
    else
      ref_why="the native frame is not the capture's (MD5 $got, the capture's $want)"
    fi
  else
    ref_why="the capture or the native program failed ($(tail -1 "$LOG/capture.log" "$LOG/native-run.log" 2>/dev/null | tr '\n' ' '))"
  fi
else
  ref_why="no native build to render the reference frame with"
fi
[ -n "$ref_why" ] && echo "test-web: frame part left out: $ref_why"

# ---- 2 and 3. Chromium, Firefox, WebKitGTK -------------------------------------------------
args=()
[ -n "$ref" ] && args=(--reference "$ref" --grab $GRAB --size $SIZE)
bash tests/web/run-browsers.sh "$OUT" "$LOG/browsers" "${args[@]}" 2>&1 | tee "$LOG/browser.log"
browser_rc=${PIPESTATUS[0]}

# ---- Verdict -----------------------------------------------------------------------------------
for f in "$LOG"/browsers/*/checks.log; do
  [ -f "$f" ] || continue
  figs=$(sed -n 's/^figures: //p' "$f")
  [ -n "$figs" ] && echo "test-web: figures $(basename "$(dirname "$f")") $figs"
done
engines=$(sed -n 's/^browsers: \([a-z]*\) \(.*\)$/\1 \2/p' "$LOG/browser.log" | grep -v '^[0-9]' | paste -sd ';' | sed 's/;/; /g')
if [ $unit_ok = 0 ] || [ $browser_rc = 1 ] || [ $browser_rc -gt 2 ]; then
  report "part: FAILED (node unit tests $([ $unit_ok = 1 ] && echo passed || echo failed); browsers: $engines)"
  exit 1
fi
if [ $browser_rc = 2 ]; then
  report "part: node unit tests passed ($unit_n tests); no browser could start here ($engines): the browser checks and the frame comparison did not run"
  exit 0
fi
if grep -q '^browsers: [a-z]* could not start' "$LOG/browser.log"; then
  report "part: node unit tests ($unit_n) passed; browsers: $engines"
  exit 0
fi
if [ -z "$ref" ]; then
  report "part: node unit tests ($unit_n) and browser checks passed ($engines); frame comparison left out: $ref_why"
  exit 0
fi
report "full: node unit tests ($unit_n), browser checks and the fixed-clock frame against the capture's passed ($engines)"
exit 0
