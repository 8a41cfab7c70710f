#!/usr/bin/env bash
# The Windows stage: builds the Windows programs, 64-bit and 32-bit
# (scripts/build-windows.sh), and runs each build under Wine, in a fresh Wine prefix
# of its own (WINEARCH=win64 or win32), on a private Xvfb:
#   - the test programs that need no window, with Wine's audio drivers off (the
#     mixer runs only when a test calls it): the same golden hashes as on Linux;
#   - mirador720.exe: the window "M I R A D O R" appears, a screenshot shows the
#     intro, Escape held for 0.2 s ends it with status 0; the music reaches waveOut
#     (an ALSA file device records what Wine plays, which must not be silent);
#   - mirador720.exe and a close request: status 0;
#   - mirador720.exe without mirador.dat: it runs until Escape, status 0;
#   - mirador1080.exe with no sound device: waveOutOpen fails, the show runs on
#     silent and ends on Escape with status 0.
# The 64-bit build runs on every x86-64 machine. The 32-bit build runs where the
# kernel starts 32-bit programs (some virtual machines' kernels refuse them: there it
# is built and checked, and the stage says it did not run). Installs Wine (and, only
# where 32-bit programs run, the i386 architecture with Wine's 32-bit packages).
# Screenshots and logs are kept in build-win64/wine-test/ and build-win32/wine-test/.
# The stage ends with one line saying what it ran; when MIRADOR_STAGE_REPORT names a
# file it also appends that line there as "full: ...", "part: ..." or "skipped: ...".
set -euo pipefail
. "$(dirname "$0")/lib.sh"
fail() { echo "test-windows: FAILED: $*"; exit 1; }

# ---- Which builds can run here ---------------------------------------------------------------
# Wine runs x86 Windows programs on x86-64 Linux only. A 32-bit Windows program
# needs Wine's 32-bit loader, which needs the kernel's 32-bit support: the probe is
# the smallest 32-bit program (an i386 ELF that calls exit(0) through int 0x80), so
# that a kernel without that support costs no i386 packages.
run64=1
run32=1
why32=""
if [ "$(uname -m)" != x86_64 ]; then
  run64=0
  run32=0
fi
probe32() {
  local f elf out code=0
  f=$(mktemp /tmp/mirador-probe32.XXXXXX)
  elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'   # 32-bit, little-endian
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'  # executable, i386, entry, phoff
  elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'  # no sections, one program header
  elf+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'  # PT_LOAD of the file at 0x08048000
  elf+='\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00'  # 93 bytes, read and execute
  elf+='\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'              # exit(0) through int 0x80
  printf "$elf" > "$f"
  chmod +x "$f"
  out=$("$f" 2>&1) || code=$?
  rm -f "$f"
  out=$(printf '%s' "$out" | tail -n 1)
  [ "$code" -eq 0 ] || { echo "${out##*: }"; return 1; }  # the reason, without the file's name
}
if [ "$run32" -eq 1 ] && ! msg=$(probe32); then
  run32=0
  why32="no 32-bit support: the kernel refused a 32-bit program${msg:+ ($msg)}"
fi

# ---- Packages ------------------------------------------------------------------------------
# The 64-bit part's packages must install. The 32-bit part's need the i386
# architecture: where they cannot be had, the win32 build is built and checked but
# not run, and the architecture, when added for them, is removed again.
packages=(xvfb xauth x11-utils xdotool imagemagick sox libx11-dev)
[ "$run64" -eq 1 ] && packages+=(wine64 libgl1 libgl1-mesa-dri libglx-mesa0)
if ! need_packages "${packages[@]}"; then
  report "skipped: its packages could not be installed: $need_why"
  exit 1
fi
if [ "$run32" -eq 1 ] &&
   ! need_foreign_packages i386 wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386; then
  run32=0
  why32="its packages could not be installed: $need_why"
fi

# ---- Build -----------------------------------------------------------------------------------
bash "$root/scripts/build-windows.sh"
cmake --build "$root/build" --target xclose >/dev/null
xclose=$root/build/tests/xclose

# Wine's own 32-bit loader must start too (the kernel's support is not all it needs).
if [ "$run32" -eq 1 ] && ! probe=$(/usr/lib/wine/wine --version 2>&1); then
  run32=0
  why32="no 32-bit support: Wine's 32-bit loader did not start ($(printf '%s' "$probe" | tail -n 1))"
fi
if [ "$run64" -eq 0 ]; then
  report "part: win64 and win32 built and checked, not run (Wine runs x86 programs on x86-64 only, this is $(uname -m))"
  exit 0
fi

# ---- Xvfb ------------------------------------------------------------------------------------
work=$(mktemp -d /tmp/mirador-wine.XXXXXX)
xvfb_pid=""
cleanup() {
  local p
  for p in "$work"/prefix-*; do
    [ -d "$p" ] && WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 600); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
[ -s "$work/displayfd" ] || fail "Xvfb did not start within 60 s"
export DISPLAY=:$(head -n1 "$work/displayfd")
exec 3>&-

export WINEDEBUG=-all
# No Mono or Gecko installer dialogs: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Every time limit below is many times what a run takes with both cores kept busy
# by other work (measured at a load average of 14): a limit is there to end a hung
# program, not to measure speed.
unit_limit=600     # one test program (the slowest: 15 s, 53 s when busy)
window_limit=120   # from start to the window (2-3 s, 5.4 s when busy)
end_limit=60       # from Escape or the close request to the end (2.6 s when busy)
picture_limit=60   # from loading to the intro's first light (2 s)
close_limit=10000  # ms from the close request to the end (0.65 s, 0.83 s when busy)

set_audio() {  # set_audio alsa|off
  local driver=$1
  [ "$driver" = off ] && driver=""
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "$driver" /f >/dev/null 2>&1
}

# run_show NAME EXE DIR: starts EXE in DIR, its output in $logs/NAME.log; waits for
# the window; leaves its pid in show_pid and the X window in show_win.
run_show() {
  local name=$1 exe=$2 dir=$3
  local t0
  t0=$(date +%s%N)
  (cd "$dir" && exec "$WINE" "$exe" >"$logs/$name.log" 2>"$logs/$name.err") &
  show_pid=$!
  show_win=$(timeout "$window_limit" xdotool search --sync --name '^M I R A D O R$' | head -n1) ||
    fail "$arch $name: no window \"M I R A D O R\""
  echo "-- $arch $name: window after $(( ($(date +%s%N) - t0) / 1000000 )) ms"
}
# end_show NAME: waits for the show to end; fails unless status 0.
end_show() {
  local name=$1 code=0
  for _ in $(seq $((end_limit * 10))); do kill -0 "$show_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$show_pid" 2>/dev/null && { kill "$show_pid"; fail "$arch $name: still running"; }
  wait "$show_pid" || code=$?
  [ "$code" -eq 0 ] || fail "$arch $name: exit status $code"
  echo "-- $arch $name: ended with status 0, $(( ($(date +%s%N) - esc_t0) / 1000000 )) ms after Escape or the close request"
}
escape() {  # held for 0.2 s, as a person presses it; end_show reports the time from here
  esc_t0=$(date +%s%N)
  xdotool mousemove 700 500
  xdotool keydown Escape
  sleep 0.2
  xdotool keyup Escape
}
# shot NAME: waits for the intro's picture after loading (it fades in from black)
# and keeps a screenshot of it; fails when the window's area stays black.
shot() {
  local name=$1 mean=0 t0
  for _ in $(seq $((window_limit * 2))); do
    grep -q "Loading sound" "$logs/$name.log" 2>/dev/null && break
    sleep 0.5
  done
  t0=$(date +%s%N)
  sleep 2
  for _ in $(seq $((picture_limit * 2))); do
    import -window root "$logs/$name.png"
    mean=$(convert "$logs/$name.png" -crop 1280x720+100+100 +repage -colorspace gray -format '%[fx:mean]' info:)
    awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }' && break
    sleep 0.5
  done
  awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }' || fail "$arch $name: the picture stayed black (mean $mean)"
  echo "-- $arch $name: screenshot $logs/$name.png, mean grey $mean, $(( ($(date +%s%N) - t0) / 1000000 )) ms after loading"
}

# test_arch win64|win32: the window-less tests and the programs of one build.
test_arch() {
  arch=$1
  out=$root/build-$arch
  logs=$out/wine-test
  rm -rf "$logs"
  mkdir -p "$logs"
  case $arch in
    win64) WINE=/usr/lib/wine/wine64 ;;
    win32) WINE=/usr/lib/wine/wine ;;
  esac
  export WINEARCH=$arch WINEPREFIX=$work/prefix-$arch
  # HOME holds the ALSA configuration Wine's audio driver reads.
  export HOME=$work/home-$arch
  mkdir -p "$HOME"
  local t0
  t0=$(date +%s)
  DISPLAY= "$WINE" wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w      # the prefix is complete once its server has saved it
  echo "test-windows: $arch: new Wine prefix in $(( $(date +%s) - t0 )) s"

  # Unit tests
  set_audio off
  local t passed=0 failed=0 cases=0 n
  t0=$(date +%s)
  while read -r t; do
    [ -n "$t" ] || continue
    # Window-less: without DISPLAY, a test that finds no sound device (the drivers
    # are off) is skipped rather than failed (TU_NEED in tests/testutil_os.h).
    if (cd "$out" && DISPLAY= timeout "$unit_limit" "$WINE" "./tests/$t.exe" --gtest_brief=1 >"$logs/$t.log" 2>&1); then
      passed=$((passed + 1))
      n=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/$t.log" | head -n1)
      cases=$((cases + ${n:-0}))
      echo "-- $arch $t: $(grep -E '^\[  PASSED  \]' "$logs/$t.log" | head -n1)"
    else
      failed=$((failed + 1))
      echo "-- $arch $t: FAILED"
      cat "$logs/$t.log"
    fi
  done < "$out/windows_tests.txt"
  echo "test-windows: $arch: unit test programs under Wine: $passed passed, $failed failed ($cases tests, $(( $(date +%s) - t0 )) s)"
  [ "$failed" -eq 0 ] || exit 1
  [ "$passed" -gt 0 ] || fail "$arch: no test program ran ($out/windows_tests.txt is empty)"
  if grep -qx effects_golden_test "$out/windows_tests.txt"; then
    echo "test-windows: $arch: golden pictures equal tests/data/golden/hashes.txt ($(wc -l < "$root/tests/data/golden/hashes.txt") hashes)"
  fi

  # 1. mirador720 with sound through waveOut into an ALSA file device.
  set_audio alsa
  cat > "$HOME/.asoundrc" <<EOF
pcm.!default {
    type file
    slave.pcm "null"
    file "$work/played-$arch.wav"
    format "wav"
}
EOF
  run_show show720 mirador720.exe "$out"
  shot show720
  escape
  end_show show720
  grep -q "AUDIO: opening audio device succesful!" "$logs/show720.log" || fail "$arch show720: waveOut did not open"
  [ -s "$work/played-$arch.wav" ] || fail "$arch show720: nothing reached the sound device"
  local peak
  peak=$(sox "$work/played-$arch.wav" -n stat 2>&1 | awk '/^Maximum amplitude/ {print $3}')
  awk -v p="$peak" 'BEGIN { exit !(p > 0.05) }' || fail "$arch show720: the sound was silent (peak $peak)"
  echo "-- $arch show720: waveOut played $(soxi -D "$work/played-$arch.wav" 2>/dev/null) s of sound, peak $peak"

  # 2. A close request while the show runs.
  run_show close720 mirador720.exe "$out"
  sleep 3
  local ms
  t0=$(date +%s%N)
  esc_t0=$t0
  "$xclose" "$show_win"
  end_show close720
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  [ "$ms" -lt "$close_limit" ] || fail "$arch close720: took $ms ms to end"
  echo "-- $arch close720: ended $ms ms after the close request"

  # 3. No mirador.dat: the program alone in a folder.
  mkdir -p "$work/nodata-$arch"
  cp "$out/mirador720.exe" "$work/nodata-$arch/"
  run_show nodata720 mirador720.exe "$work/nodata-$arch"
  sleep 3
  kill -0 "$show_pid" 2>/dev/null || fail "$arch nodata720: ended before Escape"
  escape
  end_show nodata720

  # 4. mirador1080 with no sound device: waveOutOpen fails, the show goes on silent.
  set_audio off
  run_show show1080 mirador1080.exe "$out"
  shot show1080
  escape
  end_show show1080
  grep -q "waveOutOpen failed" "$logs/show1080.log" || fail "$arch show1080: a sound device was found after all"

  /usr/lib/wine/wineserver -k 2>/dev/null || true
  echo "test-windows: $arch: all checks passed"
}

test_arch win64
if [ "$run32" -eq 1 ]; then
  test_arch win32
  report "full: ran win64 and win32 in full"
else
  report "part: ran win64 in full; win32 built and checked, not run ($why32)"
fi
