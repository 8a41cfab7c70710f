#!/usr/bin/env bash
# sync.sh - how far the sound of a live program lies behind its picture, end to end.
#
#   bash bench/sync.sh [--runs N] [--periods A-B] [--build DIR] [--driver D] [PROGRAM]
#
# --driver names SDL's audio driver (pulseaudio by default; alsa plays through ALSA's
# PulseAudio plug-in to the same server, as on a machine whose ALSA goes to a server).
#
# PROGRAM is mirador720 (the default), mirador1080 or mirador-dev from the build
# folder, "probe" (bench/sync_probe.py: a player whose flash and tone are in step by
# the sound server's own account, which measures the measuring chain itself), or
# "-- TITLE COMMAND...": any program that shows the show in a window called TITLE and
# plays to PulseAudio (the window's top left at 100,100 or wherever it opens), or
# web-chromium / web-firefox: the page of scripts/build-web.sh's folder (SYNC_WEB names
# another) served on 127.0.0.1 and shown in that browser in kiosk mode on a 1280x720
# screen, started with a click on its card once the page is ready.
#
# Each run starts a private Xvfb and a private PulseAudio with a null sink, the
# program on SDL's pulseaudio driver, and ffmpeg, which records the window (x11grab,
# 60 fps, every grab stamped with the wall clock) and the sink's monitor together on
# one clock. The show runs to the end of period B (then Escape; B = 22 plays the whole
# show); sync_analyse.py matches the recorded pictures and sound of periods A..B
# against mirador-capture's file of the same periods (made once per build folder and
# kept in it) and prints the offset: positive means the sound comes after the picture.
# Period 2 is left out of a measurement by default: in the live show the first frame's
# step spans the loading time, so that period's pictures run ahead of the capture's.
# The last line gives mean, spread and runs. SYNC_STALL=S:MS stops a native program
# (SIGSTOP) for MS ms at S s after its show starts, an underrun, to see how soon it is
# back in step; SYNC_DEBUG=1 prints each piece's offset and the pulses, SYNC_KEEP=1
# keeps the run's folder. Needs root for the packages it installs
# (pulseaudio, pulseaudio-utils, python3-numpy, libasound2-plugins, xvfb, ffmpeg, xdotool) when missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build=$src/build runs=3 periods=6-6 prog=mirador720 title="" cmd=() web=""
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --periods) periods=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --driver) export SDL_AUDIODRIVER=$2; shift 2 ;;
    --) title=$2; shift 2; cmd=("$@"); prog=command; break ;;
    -h|--help) sed -n '2,31p' "$0"; exit 0 ;;
    *) prog=$1; shift ;;
    esac
done
pa=${periods%-*} pb=${periods#*-}
case $prog in
mirador720|mirador1080) title="M I R A D O R"; cmd=("$build/$prog") ;;

mirador-dev) title="M I R A D O R - dev"; cmd=("$build/mirador-dev" --no-overlay --period "${periods%-*}") ;;
probe) title="sync probe" ;;
web-chromium) title="M I R A D O R - Chromium"; web=${SYNC_WEB:-$src/build-web} ;;
web-firefox) title="M I R A D O R — Mozilla Firefox"; web=${SYNC_WEB:-$src/build-web} ;;
command) ;;
*) echo "sync.sh: unknown program $prog"; exit 2 ;;
esac

# Packages: only what is missing, and only Debian's (scripts/lib.sh).
. "$(dirname "$0")/../scripts/lib.sh"
need_packages pulseaudio pulseaudio-utils xvfb ffmpeg xdotool python3-numpy libasound2-plugins ||
    { echo "sync.sh: could not install what it needs ($need_why)"; exit 1; }

# The reference: mirador-capture's file of the periods, kept beside the programs.
ref=""
if [ "$prog" != probe ]; then
    if [ -n "$web" ]; then
        [ -f "$web/index.html" ] || { echo "sync.sh: no page in $web (bash scripts/build-web.sh first)"; exit 1; }
        need_packages chromium firefox-esr || { echo "sync.sh: could not install the browsers ($need_why)"; exit 1; }
    else
        [ -x "${cmd[0]}" ] || [ "$prog" = command ] || { echo "sync.sh: no ${cmd[0]} (build it first)"; exit 1; }
    fi
    size=1280x720
    [ "$prog" = mirador1080 ] && size=1920x1080
    ref=$build/sync-ref/periods${periods}_$size.mkv
    if [ ! -f "$ref" ] || [ "$ref" -ot "$build/mirador-capture" ]; then
        mkdir -p "$build/sync-ref"
        echo "sync.sh: making the reference (mirador-capture, periods $periods at $size)"
        (cd "$build" && ./mirador-capture --size $size --fps 60 --periods "$periods" "$ref") >"$ref.log" 2>&1 ||
            { tail -3 "$ref.log"; exit 1; }
    fi
    first=$(tr '\r' '\n' <"$ref.log" | sed -n 's/.* frames from frame \([0-9]*\) .*/\1/p' | tail -n 1)
    from=$(awk -v a="$pa" 'BEGIN { print (a - 2) * 7.7 + 0.3 }')
    to=$(awk -v b="$pb" 'BEGIN { print (b - 1) * 7.7 }')
fi

one_run() {  # one_run <n>: prints the analyser's line
    local tmp disp=$((200 + RANDOM % 500)) pid ffpid xpid papid wid X Y WIDTH HEIGHT log rc=0
    tmp=$(mktemp -d)
    local screen=2048x1280x24 srvpid=""
    # A page in kiosk mode fills the screen: one the size of the show keeps it 1:1.
    [ -n "$web" ] && screen=1280x720x24
    Xvfb :$disp -screen 0 $screen -nolisten tcp >"$tmp/xvfb.log" 2>&1 & xpid=$!
    export DISPLAY=:$disp HOME=$tmp XDG_RUNTIME_DIR=$tmp PULSE_SERVER=unix:$tmp/pulse.sock
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
        -L "module-native-protocol-unix socket=$tmp/pulse.sock" \
        -L "module-null-sink sink_name=msink rate=44100 channels=2" >"$tmp/pulse.log" 2>&1 & papid=$!
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    pactl set-default-sink msink
    printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$tmp/.asoundrc"
    log=$tmp/prog.log
    if [ "$prog" = probe ]; then
        /usr/bin/python3 "$here/sync_probe.py" 12 >"$log" 2>&1 & pid=$!
    elif [ -n "$web" ]; then
        local port=$((20000 + RANDOM % 20000))
        MIRADOR_WEB_OUT=$web bash "$src/scripts/serve-web.sh" $port >"$tmp/serve.log" 2>&1 & srvpid=$!
        # The page's console (the module's own lines) goes to the browser's output.
        if [ "$prog" = web-chromium ]; then
            setsid chromium --kiosk --no-sandbox --no-first-run --user-data-dir="$tmp/browser" \
                --enable-logging=stderr --v=0 --enable-unsafe-swiftshader --ignore-gpu-blocklist --window-position=0,0 --window-size=1280,720 \
                "http://127.0.0.1:$port/${SYNC_WEB_QUERY:-}" >"$log" 2>&1 & pid=$!
        else
            mkdir -p "$tmp/browser"
            printf 'user_pref("%s", %s);\n' devtools.console.stdout.content true media.autoplay.default 0 \
                browser.shell.checkDefaultBrowser false datareporting.policy.dataSubmissionEnabled false \
                toolkit.telemetry.reportingpolicy.firstRun false browser.aboutwelcome.enabled false >"$tmp/browser/user.js"
            setsid firefox-esr --kiosk --width 1280 --height 720 --no-remote --profile "$tmp/browser" "http://127.0.0.1:$port/${SYNC_WEB_QUERY:-}" >"$log" 2>&1 & pid=$!
        fi
    else
        (cd "$build" && SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-pulseaudio} exec "${cmd[@]}") >"$log" 2>&1 & pid=$!
    fi
    wid=$(timeout 60 xdotool search --sync --name "^$title\$" | head -n 1)
    if [ -z "$wid" ]; then echo "no window"; kill $pid $papid $xpid 2>/dev/null; rm -rf "$tmp"; return; fi
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    # The middle fifth of the window, all its rows: enough to see a pulse, and cheap.
    ffmpeg -v error -nostdin -copyts -thread_queue_size 1024 -f x11grab -framerate 60 -video_size "$((WIDTH / 5))x${HEIGHT}" \
        -i "$DISPLAY+$((X + WIDTH * 2 / 5)),$Y" -thread_queue_size 1024 -f pulse -i msink.monitor -map 0:v -vf "scale=32:ih,format=gray" \
        -c:v rawvideo -fps_mode passthrough -enc_time_base:v -1 -map 1:a -c:a pcm_s16le -f nut "$tmp/rec.nut" \
        >"$tmp/ffmpeg.log" 2>&1 & ffpid=$!
    if [ "$prog" = probe ]; then
        wait $pid
    else
        # mirador-dev jumps to period A (its clock is the capture's: the jump runs
        # without presenting) and says so; the shows start when the music is loaded.
        local mark="Loading sound mirador4.wav" from_p=2
        [ "$prog" = mirador-dev ] && [ "$pa" -gt 2 ] && mark="^mirador-dev: period $pa" from_p=$pa
        # The page starts on a click on its card, which takes one once its data is in.
        for i in $(seq 1200); do
            grep -q "$mark" "$log" && break
            [ -n "$web" ] && [ $((i % 10)) -eq 0 ] && xdotool mousemove 640 360 click 1
            sleep 0.1
        done
        if [ -n "${SYNC_STALL:-}" ] && [ -z "$web" ]; then
            (sleep "${SYNC_STALL%:*}"; kill -STOP $pid; sleep "$(awk -v m="${SYNC_STALL#*:}" 'BEGIN { print m / 1000 }')"
             kill -CONT $pid) &
        fi
        if [ "$pb" -ge 22 ]; then
            wait $pid
        else
            sleep "$(awk -v a="$from_p" -v b="$pb" 'BEGIN { print (b - a + 1) * 7.7 + 1 }')"
            xdotool windowfocus --sync "$wid" 2>/dev/null; xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
            [ -z "$web" ] && for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
            [ -n "$web" ] && sleep 1 && kill -- -$pid 2>/dev/null
            kill $pid 2>/dev/null
        fi
    fi
    sleep 0.5
    kill -INT $ffpid 2>/dev/null; wait $ffpid 2>/dev/null
    if [ "$prog" = probe ]; then
        /usr/bin/python3 "$here/sync_analyse.py" probe "$tmp/rec.nut" || rc=1
    else
        /usr/bin/python3 "$here/sync_analyse.py" show "$tmp/rec.nut" "$ref" "$first" "$from" "$to" || rc=1
    fi
    grep -ah "underrun\|behind" "$log" | head -n 3
    kill $papid $xpid $srvpid 2>/dev/null; wait $papid $xpid $srvpid 2>/dev/null
    [ $rc -eq 0 ] && [ -z "${SYNC_KEEP:-}" ] && rm -rf "$tmp" || echo "kept $tmp"
}

start=$(date +%s)
offs=()
for n in $(seq "$runs"); do
    line=$(one_run "$n")
    echo "run $n: $line"
    o=$(echo "$line" | sed -n 's/^offset \(-\?[0-9.]*\) ms.*/\1/p' | head -n 1)
    [ -n "$o" ] && offs+=("$o")
done
printf '%s\n' "${offs[@]}" | awk -v prog="$prog" -v runs="$runs" -v secs=$(($(date +%s) - start)) '
    { v[NR] = $1; s += $1; if (NR == 1 || $1 < lo) lo = $1; if (NR == 1 || $1 > hi) hi = $1 }
    END {
        if (NR == 0) { printf "%s: no run measured (%d tried, %d s)\n", prog, runs, secs; exit 1 }
        m = s / NR; for (i = 1; i <= NR; i++) d += (v[i] - m) ^ 2
        printf "%s: sound after picture %.1f ms mean, sd %.1f, %.1f to %.1f, %d runs of %d, %d s\n",
            prog, m, sqrt(d / NR), lo, hi, NR, runs, secs }'
