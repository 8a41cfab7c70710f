#!/bin/bash
# run-browsers.sh - the browser checks (browser_test.py) in each engine, one after
# the other, with the music recorded at a PulseAudio null sink.
#
#   tests/web/run-browsers.sh BUILD_WEB_DIR LOG_DIR [--reference F --grab K --size WxH]
#
# An engine whose checks fail or that does not start is tried once more, and the
# summary says so. Prints one line per engine ("browsers: ENGINE passed|passed on
# the second try|FAILED ...|could not start: ...") and last a line
# "browsers: N passed, N failed, N could not start". Exit status: 0 when every
# engine that started passed, 1 when one failed, 2 when none could start.
# MIRADOR_WEB_ENGINES picks the engines (default: chromium firefox webkit).
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=$1
LOGS=$2
shift 2
passed=0 failed=0 missing=0
for e in ${MIRADOR_WEB_ENGINES:-chromium firefox webkit}; do
  verdict=""
  for try in 1 2; do
    mkdir -p "$LOGS/$e-$try"
    timeout 420 /usr/bin/python3 "$HERE/browser_test.py" "$OUT" --engine "$e" --sink 1 --logs "$LOGS/$e-$try" "$@" \
      > "$LOGS/$e-$try/checks.log" 2>&1
    rc=$?
    sed "s/^/$e: /" "$LOGS/$e-$try/checks.log" | grep -v "^[a-z]*: ok " | grep -v "^[a-z]*: browser_test:"
    why=$(sed -n 's/^engine: //p' "$LOGS/$e-$try/checks.log" | head -1)
    [ $rc = 124 ] && why=""
    if [ $rc = 0 ]; then
      verdict="passed$([ $try = 2 ] && echo " on the second try")"
      passed=$((passed + 1))
      break
    fi
    if [ $try = 2 ]; then
      if [ $rc = 2 ] && [ -n "$why" ]; then
        verdict="could not start: $why"
        missing=$((missing + 1))
      else
        verdict="FAILED twice (exit $rc: $(sed -n 's/^browser_test: //p' "$LOGS/$e-$try/checks.log" | tail -1))"
        failed=$((failed + 1))
      fi
    fi
  done
  echo "browsers: $e $verdict"
done
echo "browsers: $passed passed, $failed failed, $missing could not start"
[ $failed -gt 0 ] && exit 1
[ $passed = 0 ] && exit 2
exit 0
