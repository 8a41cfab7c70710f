#!/usr/bin/env python3
"""browser_test.py - the web page in a browser engine.

    browser_test.py BUILD_WEB_DIR [--engine chromium|firefox|webkit] [--sink 1]
                    [--reference FRAME.rgba --grab K --size WxH]

Serves BUILD_WEB_DIR on 127.0.0.1 (a port of its own) and drives the engine
(tests/web/engines.py: headless Chromium, or Firefox ESR and WebKitGTK in windows on
a private Xvfb). Groups of checks:
  show     the data arrives (the small FLAC download, rebuilt and hash-checked),
           the click starts the show, the intro is not black, later periods show
           other pictures, Escape ends the show and the end card appears, Play again
  sound    the audio context runs, the worklet plays, the mixer is asked for about
           44100 frames a second, an analyser on the output hears the music, and with
           --sink the music recorded at a PulseAudio null sink has no gap over 5 ms
  rate     a context at 48000 Hz (?rate=48000) plays the music resampled
  missing  a missing or damaged data file gives the page's message, not a blank
           canvas (another magic; cut off: start-up cannot load every picture)
  frame    (with --reference) a frame on the capture's fixed clock against the same
           frame rendered natively; prints the difference
With MIRADOR_WEB_FRAME=PATH the page's frame is also written to PATH. Prints one line
per check and the figures measured; exit status 0 only when every check ran and
passed; 2 when the engine could not start at all (the reason on a line "engine: ").
"""
import functools
import http.server
import io
import json
import os
import shutil
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engines  # noqa: E402
import sink  # noqa: E402

try:
    from PIL import Image
except ImportError as e:
    print("engine: cannot run: %s" % e)
    sys.exit(2)

failures = []
figures = {}


def check(name, ok, detail=""):
    print("%s %s%s" % ("ok  " if ok else "FAIL", name, (": " + detail) if detail else ""))
    if not ok:
        failures.append(name)
    return ok


def serve(folder):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                              **{".wasm": "application/wasm", ".js": "text/javascript"})

        def log_message(self, *args):
            pass
    class Server(http.server.ThreadingHTTPServer):
        def handle_error(self, request, client_address):
            pass  # a browser that leaves a page drops its downloads
    srv = Server(("127.0.0.1", 0), functools.partial(Quiet, directory=folder))
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    return srv, "http://127.0.0.1:%d/" % srv.server_address[1]


QUERY = os.environ.get("MIRADOR_WEB_QUERY", "")
LOGS = None


def js(d, expr):
    return d.js(expr)


def wait(d, expr, limit):
    """Waits until expr is true in the page; its last value."""
    end = time.time() + limit
    v = None
    while time.time() < end:
        v = js(d, expr)
        if v:
            return v
        time.sleep(0.2)
    return v


def canvas_picture(d):
    """The canvas as shown on the page (a screenshot of the element), as RGB."""
    png = d.element_png("#canvas")
    return Image.open(io.BytesIO(png)).convert("RGB")


def brightness(img):
    px = img.resize((64, 36)).getdata()
    return sum(sum(p) for p in px) / (3.0 * len(px))


def difference(a, b):
    """Mean absolute difference of two pictures of any size, 0..255, on 64x36."""
    pa, pb = a.resize((64, 36)).getdata(), b.resize((64, 36)).getdata()
    return sum(abs(x - y) for p, q in zip(pa, pb) for x, y in zip(p, q)) / (3.0 * len(pa))


def text(d, sel):
    return js(d, "document.querySelector(%s).innerText" % json.dumps(sel)) or ""


def shown(d, sel):
    return bool(js(d, "(() => { const e = document.querySelector(%s); return !e.hidden && e.offsetWidth > 0; })()"
                   % json.dumps(sel)))


RMS = """(() => { const a = mirador.analyser, b = new Float32Array(a.fftSize);
    a.getFloatTimeDomainData(b); let s = 0; for (const v of b) s += v * v;
    return Math.sqrt(s / b.length); })()"""


def hears_music(d):
    """The analyser's level, read again a little later when a read fell between notes."""
    rms = js(d, RMS)
    for _ in range(10):
        if rms > 0.01:
            break
        time.sleep(0.3)
        rms = max(rms, js(d, RMS))
    return rms


def sink_gaps(pcm, what, limit_ms=5.0):
    found, heard = sink.gaps(pcm)
    figures[what + "_sink_heard_s"] = round(heard, 1)
    figures[what + "_sink_gaps"] = len(found)
    figures[what + "_sink_gap_ms"] = round(sum(g[1] for g in found), 1)
    figures[what + "_sink_longest_gap_ms"] = round(max([g[1] for g in found] or [0]), 1)
    detail = "%.1f s heard, %d gaps over %.0f ms (%s)" % (heard, len(found), limit_ms,
             ", ".join("%.0f ms at %.2f s" % (g[1], g[0]) for g in found[:8]))
    return found, heard, detail


def group_show_and_sound(d, url, rec):
    d.get(url + QUERY)
    phase = wait(d, "window.mirador && ['ready','error'].includes(mirador.phase) && mirador.phase", 120)
    if not check("the data arrives and the page offers to start", phase == "ready",
                 "phase %s %s" % (phase, js(d, "window.mirador && mirador.message"))):
        return
    via, got, ready_ms = js(d, "[mirador.dataVia, mirador.dataBytes, mirador.dataReadyMs]")
    check("the data came as the small download (FLAC music, hash checked)", via == "flac",
          "%s, %d bytes" % (via, got))
    figures["data_downloaded_bytes"] = got
    figures["navigation_to_data_ready_ms"] = round(ready_ms)
    check("the title card says how to start", "to start" in text(d, "#start"))

    if rec:
        rec.record_start()
    d.click("#card")
    first = wait(d, "mirador.firstFrameMs", 60)
    if not check("the click starts the show", bool(first) and js(d, "mirador.phase") == "running",
                 "phase %s" % js(d, "mirador.phase")):
        return
    figures["navigation_to_first_frame_ms"] = round(first)
    figures["click_to_first_frame_ms"] = round(first - js(d, "mirador.clickMs"))

    # The intro: the first period fades in (by 2 of 256 a frame, so over 2 to 15 s
    # with 60 to 9 frames a second); its picture is read until it shows, within the
    # period. A black canvas reads 0.
    intro, level = None, 0.0
    end = time.time() + 7
    while time.time() < end and js(d, "mirador.module._mirador_web_scene()") == 2:
        intro = canvas_picture(d)
        level = brightness(intro)
        if level > 10:
            break
        time.sleep(0.5)
    check("the intro is not black", intro is not None and level > 10, "mean level %.1f" % level)
    if intro is None:
        return

    # Sound: measured over a few seconds of the page's own clock.
    probe = ("[performance.now(), mirador.module._plat_web_audio_mixed(), mirador.module._mirador_web_framecount(),"
             " mirador.audioHeard(), mirador.audioSent(), mirador.clockVia, mirador.audio.currentTime,"
             " mirador.audioQueued()]")
    s0 = js(d, probe)
    time.sleep(4)
    s1 = js(d, probe)
    secs = (s1[0] - s0[0]) / 1000.0
    fps = (s1[2] - s0[2]) / secs
    # Rates per second of the context's own time: on a busy machine a browser's
    # audio thread can fall behind the wall clock (what it misses is silence at the
    # sink, reported there); the page's part is to give the music's rate to it.
    ctx_secs = max(1e-3, s1[6] - s0[6])
    figures["context_speed"] = round(ctx_secs / secs, 3)
    # Less what the player's queue grew or shrank meanwhile: it is filled deep at
    # first and then drains to its working depth, with no pull for up to two seconds.
    rate = ((s1[1] - s0[1]) - (s1[7] - s0[7])) / ctx_secs
    figures["fps"] = round(fps, 1)
    figures["mixer_frames_per_second"] = round(rate)
    check("the audio context is running", js(d, "mirador.audio && mirador.audio.state") == "running",
          str(js(d, "mirador.audio && mirador.audio.state")))
    # Blocks of 2048 frames are pulled as the player uses them up: within a block or
    # two of 44100 a second over the 4 s measured.
    check("the mixer is asked for about 44100 frames a second of the context's", 36000 < rate < 52000,
          "%.0f (the context ran at %.2f of real time)" % (rate, ctx_secs / secs))
    # The show's clock follows the music as it reaches the ear: that position must
    # move at the music's rate, behind what the mixer has handed out by the queue
    # (filled deeper at first, kept half a second deep after that, deeper where the
    # main thread kept it waiting) and the output's latency.
    heard_rate = (s1[3] - s0[3]) / ctx_secs
    ahead_ms = (s1[4] - s1[3]) * 1000.0 / 44100
    queue_ms = 1000 * max(0.5, js(d, "mirador.audioAheadMax") or 0)
    figures["mixer_to_ear_ms"] = round(ahead_ms)
    figures["player_queue_deepest_ms"] = round(queue_ms)
    figures["clock_via"] = s1[5]
    check("the music heard moves at 44100 frames a second of the context's, behind the mixer",
          36000 < heard_rate < 52000 and 50 < ahead_ms < queue_ms + 1500,
          "%.0f a second, %.0f ms behind (%s)" % (heard_rate, ahead_ms, s1[5]))
    # The show's frame units (its pulses every 128) move with the music heard, 15 ms
    # each: a clock that jitters from frame to frame makes them run fast, as the show
    # counts any step shorter than a unit as one whole unit.
    units = music = 0.0
    last = None
    for _ in range(24):
        now = js(d, "[mirador.module._mirador_web_scene(), mirador.module._mirador_web_scenetime(), mirador.audioHeard()]")
        if last and now[0] == last[0] and now[1] > last[1]:
            units += now[1] - last[1]
            music += (now[2] - last[2]) * 1000.0 / 44100 / 15
        last = now
        time.sleep(0.15)
    figures["units_per_music_unit"] = round(units / music, 3) if music else None
    check("the show's frame units move with the music heard", music > 50 and abs(units / music - 1) < 0.04,
          "%.0f units in %.0f of the music's" % (units, music))
    player, ctx_rate = js(d, "[mirador.player, mirador.audioRate]")
    check("the audio worklet plays the music", player == "worklet", "%s at %s Hz" % (player, ctx_rate))
    rms = hears_music(d)
    figures["output_rms"] = round(rms, 4)
    check("the analyser hears the music", rms > 0.01, "rms %.4f" % rms)

    # Later periods: each is 7.7 s; the clock follows the music as heard.
    scene = wait(d, "mirador.module._mirador_web_scene() >= 4 && mirador.module._mirador_web_scene()", 60)
    time.sleep(2.5)
    later = canvas_picture(d)
    if LOGS:
        intro.save(os.path.join(LOGS, "intro.png"))
        later.save(os.path.join(LOGS, "later.png"))
    check("a later period is shown", bool(scene), "period %s" % scene)
    check("the later period's picture is another one", difference(intro, later) > 8 and brightness(later) > 5,
          "difference %.1f, level %.1f" % (difference(intro, later), brightness(later)))

    if rec:
        # At least 25 s of the music at the sink before the show is ended.
        wait(d, "performance.now() - mirador.clickMs > 26000", 30)
        starved, waited = js(d, "mirador.audioStarved ? [mirador.audioStarved(), mirador.audioLongestWaitMs] : [null, null]")
        figures["player_starved_frames"] = starved
        figures["player_longest_wait_ms"] = round(waited or 0)
    d.escape()
    if rec:
        found, heard, detail = sink_gaps(rec.record_stop(), "show")
        # What is judged is the page's own player, counted on the audio thread: its
        # queue must not run dry (a slow start-up or a main thread late by more than
        # the queue would). The gaps at the sink are reported in full: on a busy
        # machine the browser's own output path (its audio process, the sound
        # server) is starved now and then, whatever the page does.
        check("the music reaches the sink", heard > 20, detail)
        check("the player's queue never ran dry", starved is not None and starved < 0.01 * 44100 * heard,
              "%s frames of silence, the longest wait for the main thread %s ms" % (starved, figures["player_longest_wait_ms"]))
        print("info sink gaps: " + detail)
    phase = wait(d, "mirador.phase == 'ended' && mirador.phase", 20)
    check("Escape ends the show", phase == "ended", str(js(d, "mirador.phase")))
    check("the end card offers to play again", shown(d, "#endcard") and "Play again" in text(d, "#endcard"))
    frames_at_end = js(d, "mirador.module._mirador_web_framecount()")
    time.sleep(1)
    check("no frame is drawn after the end", js(d, "mirador.module._mirador_web_framecount()") == frames_at_end)

    # Play again: a fresh instance of the module, from the show's first period, with sound.
    d.click("#again")
    again = wait(d, "mirador.phase == 'running' && mirador.firstFrameMs && mirador.module._mirador_web_framecount() > 10", 60)
    check("Play again starts the show from its beginning", bool(again) and js(d, "mirador.module._mirador_web_scene()") == 2
          and js(d, "mirador.module._plat_web_audio_mixed()") > 0,
          "phase %s, period %s" % (js(d, "mirador.phase"), js(d, "mirador.module && mirador.module._mirador_web_scene()")))


def group_missing(d, url):
    for name, words, click in (("no-such-file.dat", "could not be loaded", False),
                               ("damaged-header.dat", "damaged", False),
                               ("damaged-truncated.dat", "damaged", True)):
        d.get(url + "?data=" + name)
        phase = wait(d, "window.mirador && ['ready','error'].includes(mirador.phase) && mirador.phase", 60)
        if click and phase == "ready":
            d.click("#card")
            phase = wait(d, "mirador.phase == 'error' && mirador.phase", 60)
        msg = js(d, "mirador.message") or ""
        check("%s gives the page's message" % name, phase == "error" and words in msg
              and shown(d, "#message"), msg)


def damaged_copies(folder):
    """A folder that serves folder's files and two damaged resource images: one with
    another magic, one cut off after its first quarter."""
    tmp = tempfile.mkdtemp(prefix="mirador-web-")
    for name in os.listdir(folder):
        os.symlink(os.path.join(os.path.abspath(folder), name), os.path.join(tmp, name))
    data = open(os.path.join(folder, "mirador.dat"), "rb").read()
    with open(os.path.join(tmp, "damaged-header.dat"), "wb") as f:
        f.write(b"JUNK" + data[4:1 << 20])
    with open(os.path.join(tmp, "damaged-truncated.dat"), "wb") as f:
        f.write(data[:len(data) // 4])
    return tmp


def group_frame(d, url, reference, grab, size):
    w, h = size
    d.get(url + "?fixed=60&grab=%d&size=%dx%d" % (grab, w, h))
    if wait(d, "window.mirador && ['ready','error'].includes(mirador.phase) && mirador.phase", 120) != "ready":
        check("fixed-clock frame: the page starts", False)
        return
    d.click("#card")
    got = wait(d, "mirador.module && mirador.module._mirador_web_grab()", 300)
    if not check("fixed-clock frame %d is drawn" % grab, bool(got)):
        return
    import base64
    web = base64.b64decode(js(d, """(() => { const m = mirador.module, p = m._mirador_web_grab();
        const b = m.HEAPU8.subarray(p, p + %d); let s = "";
        for (let i = 0; i < b.length; i += 0x8000) s += String.fromCharCode.apply(null, b.subarray(i, i + 0x8000));
        return btoa(s); })()""" % (w * h * 4)))
    if os.environ.get("MIRADOR_WEB_FRAME"):
        with open(os.environ["MIRADOR_WEB_FRAME"], "wb") as f:
            f.write(web)
    ref = open(reference, "rb").read()
    if not check("the reference frame has the size asked for", len(ref) == len(web), "%d bytes" % len(ref)):
        return
    n = w * h
    diffs = [abs(web[i] - ref[i]) for i in range(len(web)) if i % 4 != 3]
    differing = sum(1 for i in range(n) if any(web[4 * i + c] != ref[4 * i + c] for c in range(3)))
    mean = sum(diffs) / len(diffs)
    figures["frame_differing_pixels"] = differing
    figures["frame_differing_share"] = round(differing / n, 5)
    figures["frame_mean_abs_diff"] = round(mean, 4)
    figures["frame_max_abs_diff"] = max(diffs)
    # The effects are the same bits; only the GPU's arithmetic may differ. Measured at
    # 640x360, frame 300: in Chromium 566 pixels (0.25 %) differ, none by more than 2
    # of 255; in Firefox none; in WebKitGTK 2661 (1.2 %), none by more than 1.
    # Allowed: 5 % of the pixels, by at most 4.
    check("the frame equals the native one within the tolerance", differing / n < 0.05 and max(diffs) <= 4,
          "%d of %d pixels differ, mean |d| %.4f, max %d" % (differing, n, mean, max(diffs)))


def group_rate(d, url, rec, player):
    """A context at 48000 Hz: the music is resampled, not silent (by the player named)."""
    d.get(url + "?rate=48000&player=" + player)
    if wait(d, "window.mirador && ['ready','error'].includes(mirador.phase) && mirador.phase", 120) != "ready":
        check("48000 Hz: the page starts", False)
        return
    if rec:
        rec.record_start()
    d.click("#card")
    wait(d, "mirador.firstFrameMs && performance.now() - mirador.clickMs > 3000", 60)
    probe = "[performance.now(), mirador.module ? mirador.module._plat_web_audio_mixed() : 0, mirador.audioPlayed()]"
    m0 = js(d, probe)
    time.sleep(6)
    m1 = js(d, probe)
    rate = (m1[1] - m0[1]) * 1000.0 / (m1[0] - m0[0])
    # The player uses up 44100 of the mixer's frames for every 48000 it plays with
    # sound, exactly: counted by the player itself, so neither a starved queue nor a
    # callback the browser runs late or skips (its context frames then jump) moves it.
    step = None
    if m0[2] and m1[2]:
        played = (m1[2][0] - m0[2][0]) - (m1[2][1] - m0[2][1])
        if played > 0:
            step = (m1[2][2] - m0[2][2]) / played
    check("48000 Hz: the player uses 44100 frames of the mixer's for every 48000 it plays",
          step is not None and abs(step - 44100 / 48000.0) < 0.01, "%s" % (step and "%.4f" % step))
    want = player
    ctx_rate, player = js(d, "[mirador.audioRate, mirador.player]")
    check("48000 Hz: the context runs at 48000 Hz, the %s plays" % want, ctx_rate == 48000 and player == want,
          "%s Hz, %s" % (ctx_rate, player))
    # And the mixer keeps up with the player: what it made and what the player used
    # up differ by no more than the player's queue (at its deepest) and a block.
    queue = max(0.5, js(d, "mirador.audioAheadMax") or 0)
    kept = m0[2] and m1[2] and abs((m1[1] - m0[1]) - (m1[2][2] - m0[2][2])) < queue * 44100 + 4096
    check("48000 Hz: the mixer keeps up with the player", bool(kept), "%.0f frames a second" % rate)
    rms = hears_music(d)
    check("48000 Hz: the analyser hears the music", rms > 0.01, "rms %.4f" % rms)
    if rec:
        found, heard, detail = sink_gaps(rec.record_stop(), "rate48k")
        check("48000 Hz: the music reaches the sink", heard > 4, detail)


def main():
    folder = sys.argv[1]
    args = sys.argv[2:]
    opt = dict(zip(args[::2], args[1::2]))
    name = opt.get("--engine", "chromium")
    log_dir = opt.get("--logs") or tempfile.mkdtemp(prefix="mirador-web-logs-")
    os.makedirs(log_dir, exist_ok=True)
    global LOGS
    LOGS = log_dir
    served = damaged_copies(folder)
    srv, url = serve(served)
    import contextlib
    with contextlib.ExitStack() as stack:
        rec = None
        try:
            if name != "chromium":
                stack.enter_context(sink.Display(log_dir))
            if opt.get("--sink") == "1":
                rec = stack.enter_context(sink.Sink(log_dir))
            d = engines.start(name, log_dir, sound=rec is not None)
        except (engines.EngineMissing, RuntimeError) as e:
            print("engine: %s could not start: %s" % (name, e))
            srv.shutdown()
            shutil.rmtree(served, ignore_errors=True)
            sys.exit(2)
        try:
            group_show_and_sound(d, url, rec)
            # Chromium plays it through the fall-back player, the others through the worklet.
            group_rate(d, url, rec, "scriptprocessor" if name == "chromium" else "worklet")
            group_missing(d, url)
            if "--reference" in opt:
                w, h = (int(x) for x in opt["--size"].split("x"))
                group_frame(d, url, opt["--reference"], int(opt["--grab"]), (w, h))
        except Exception as e:
            check("the engine answers", False, "%s: %s" % (type(e).__name__, str(e).splitlines()[0] if str(e) else ""))
            if os.environ.get("MIRADOR_WEB_STACKS") and hasattr(d, "dump_stacks"):
                d.dump_stacks(os.path.join(log_dir, "stacks.txt"))
        finally:
            d.quit()
            srv.shutdown()
            shutil.rmtree(served, ignore_errors=True)
    print("figures: " + json.dumps(figures, sort_keys=True))
    if failures:
        print("browser_test: %d check(s) failed: %s" % (len(failures), ", ".join(failures)))
        sys.exit(1)
    print("browser_test: every check passed")


if __name__ == "__main__":
    main()
