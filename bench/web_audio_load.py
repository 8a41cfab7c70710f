#!/usr/bin/env python3
"""web_audio_load.py - gaps in the web page's music under load, as heard.

    bench/web_audio_load.py BUILD_WEB_DIR [--engine chromium|firefox|webkit]
                            [--throttle 1,4,6] [--seconds 40] [--runs 1] [--query ?...]
                            [--busy N]

Serves the page, starts the show in the engine (tests/web/engines.py) with a private
PulseAudio null sink, slows Chromium's CPU with Emulation.setCPUThrottlingRate (as a
phone's) where asked, records the sink's monitor for the given seconds and prints per
run: the gaps over 5 ms at the sink (count, total, longest), the frames the page's
player played as silence because its queue ran dry (counted on the audio thread,
inside the worklet), the longest wait of that queue for the main thread, and the
frames a second, the depth the player's queue grew to, the length of each period as
heard (the music's seconds between the frames where the period changed: 7.7 s and a
frame, whatever the queue's depth, where the picture follows the sound), and the load
average. --busy N
keeps N processes spinning on the CPU through each run (a busy machine, made the same
for every run). Needs scripts/build-web.sh's output and the browser test's packages.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser_test  # noqa: E402
import engines  # noqa: E402
import sink  # noqa: E402


def spin(n):
    """n processes that keep one CPU each busy until they are ended."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(n)]


def run(d, url, rec, throttle, seconds, busy):
    d.get(url)
    if not browser_test.wait(d, "window.mirador && mirador.phase == 'ready'", 120):
        return {"error": "the page did not get ready"}
    # The music heard at the first frame of each period, read right after that frame.
    d.js("(() => { window.benchPeriods = []; const poll = () => { const m = mirador.module, p = window.benchPeriods;"
         " if (m && mirador.phase == 'running') { const s = m._mirador_web_scene();"
         " if (!p.length || p[p.length - 1][0] != s) p.push([s, mirador.audioHeard()]); }"
         " requestAnimationFrame(poll); }; requestAnimationFrame(poll); return 1; })()")
    spinners = spin(busy)
    if throttle > 1:
        d.cdp("Emulation.setCPUThrottlingRate", {"rate": throttle})
    rec.record_start()
    d.click("#card")
    browser_test.wait(d, "mirador.firstFrameMs", 120)
    f0 = d.js("[performance.now(), mirador.module._mirador_web_framecount()]")
    time.sleep(seconds)
    f1 = d.js("[performance.now(), mirador.module._mirador_web_framecount()]")
    starved, waited, player, rate, ahead = d.js("[mirador.audioStarved(), mirador.audioLongestWaitMs, mirador.player,"
                                                " mirador.audioRate, mirador.audioAhead]")
    load = os.getloadavg()[0]
    periods = d.js("window.benchPeriods")
    heard_lengths = [round((b[1] - a[1]) / 44100.0, 2) for a, b in zip(periods[1:], periods[2:])]
    for p in spinners:
        p.kill()
        p.wait()
    found, heard = sink.gaps(rec.record_stop())
    if throttle > 1:
        d.cdp("Emulation.setCPUThrottlingRate", {"rate": 1})
    d.escape()
    return {"throttle": throttle, "heard_s": round(heard, 1), "gaps": len(found),
            "gap_ms": round(sum(g[1] for g in found), 1), "longest_gap_ms": round(max([g[1] for g in found] or [0]), 1),
            "player_starved_frames": starved, "player_longest_wait_ms": round(waited),
            "fps": round((f1[1] - f0[1]) * 1000.0 / (f1[0] - f0[0]), 1), "player": player, "rate": rate,
            "queue_s": ahead and round(ahead, 2), "periods_heard_s": heard_lengths, "busy": busy, "load1": round(load, 2),
            "gaps_at": [[round(g[0], 2), round(g[1])] for g in found[:12]]}


def main():
    folder = sys.argv[1]
    opt = dict(zip(sys.argv[2::2], sys.argv[3::2]))
    name = opt.get("--engine", "chromium")
    throttles = [int(x) for x in opt.get("--throttle", "1").split(",")]
    seconds = float(opt.get("--seconds", "40"))
    runs = int(opt.get("--runs", "1"))
    busy = int(opt.get("--busy", "0"))
    logs = tempfile.mkdtemp(prefix="mirador-web-load-")
    srv, url = browser_test.serve(folder)
    url += opt.get("--query", "")
    import contextlib
    with contextlib.ExitStack() as stack:
        if name != "chromium":
            stack.enter_context(sink.Display(logs))
        rec = stack.enter_context(sink.Sink(logs))
        d = engines.start(name, logs, sound=True)
        try:
            for t in throttles:
                for _ in range(runs):
                    print(json.dumps(dict(run(d, url, rec, t, seconds, busy), engine=name)), flush=True)
        finally:
            d.quit()
            srv.shutdown()


if __name__ == "__main__":
    main()
