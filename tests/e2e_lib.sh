# e2e_lib.sh - shared steps of the end-to-end scripts (sourced, not run).
# Gives fail(); e2e_begin makes the scratch folder $tmp.

# fail <message>: says what failed, with the end of the program's output ($log), and stops.
fail() { echo "FAIL: $*"; [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 20 "$log"; exit 1; }

# e2e_begin <program> <tool>...: checks the program, the display and the tools,
# points SDL at its disk audio driver (unless one is set) and makes $tmp, which is
# removed, and every program still running stopped, at exit.
e2e_begin() {
    local tool
    [ -x "$1" ] || fail "no $1"
    [ -n "${DISPLAY:-}" ] || fail "needs DISPLAY (run under xvfb-run)"
    shift
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "needs $tool"
    done
    export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-disk} SDL_DISKAUDIOFILE=${SDL_DISKAUDIOFILE:-/dev/null}
    tmp=$(mktemp -d)
    trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
}

# dev_begin <sourcedir> <tool>...: e2e_begin for mirador-dev ($prog), which also
# needs the build's mirador.dat ($build); $golden names the capture's golden record,
# and a cache folder of its own keeps saved points of earlier runs out of play.
dev_begin() {
    local src=$1
    shift
    e2e_begin "$prog" "$@"
    [ -f "$build/mirador.dat" ] || fail "no $build/mirador.dat"
    golden=$src/tests/data/capture/periods6-7_640x360.framemd5
    export XDG_CACHE_HOME=$tmp/cache
}

# Mean brightness (0..1) of a screenshot.
brightness() { convert "$1" -colorspace gray -format "%[fx:mean]" info:; }

# wait_started <pid> <log>: waits for the show's clock to start (the music is loaded
# right before it), at most 60 s; fails when the program ends first.
wait_started() {
    local pid=$1 log=$2 i
    for i in $(seq 1 600); do
        grep -q "Loading sound mirador4.wav" "$log" && return 0
        kill -0 "$pid" 2>/dev/null || fail "ended during start-up"
        sleep 0.1
    done
    fail "start-up did not finish in 60 s"
}

# wait_ended <pid> <seconds>: waits for the program to end; its status is in $rc.
wait_ended() {
    local pid=$1 i
    for i in $(seq 1 $(($2 * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "still running $2 s after Escape"
    wait "$pid"; rc=$?
}

# run_until_escape <name> <dir> <program>: starts the program in dir, waits for its
# window and for the show's clock to start, takes a screenshot of the window
# ($tmp/<name>.png) a few seconds in, holds Escape and expects status 0. The
# program's output is in $tmp/<name>.log ($log).
run_until_escape() {
    local name=$1 dir=$2 prog=$3 pid wid
    log=$tmp/$name.log
    (cd "$dir" && exec "$prog") >"$log" 2>&1 &
    pid=$!
    wid=$(timeout 60 xdotool search --sync --all --pid $pid --name "M I R A D O R" | head -n 1)
    [ -n "$wid" ] || fail "$name: window never appeared"
    wait_started $pid "$log"
    sleep 4
    kill -0 $pid 2>/dev/null || fail "$name: ended by itself"
    import -window "$wid" "$tmp/$name.png" 2>/dev/null || fail "$name: screenshot failed"
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
    wait_ended $pid 10
    [ $rc -eq 0 ] || fail "$name: status $rc"
    echo "ok: $name ran and ended on Escape, screen brightness $(brightness "$tmp/$name.png")"
}

# not_black <name>: the screenshot $tmp/<name>.png shows a picture.
not_black() {
    local b
    b=$(brightness "$tmp/$1.png")
    awk -v b="$b" 'BEGIN { exit !(b > 0.02) }' || fail "$1: the screen is black ($b)"
}
