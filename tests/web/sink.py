"""sink.py - what a viewer hears: a private PulseAudio server with a null sink, its
monitor recorded, the recording searched for gaps; and a private X display.

    with Sink(dir) as s:     # sets PULSE_SERVER for the browsers started inside
        s.record_start(); ...; pcm = s.record_stop()
    gaps(pcm) -> list of (start_s, length_ms)

The music has no stretch of digital silence longer than 5 ms before its last
0.3 s, so a stretch of the recording whose samples all lie within 2 of zero for
longer than that, after the music has begun, is a gap in what was played.
"""
import os
import shutil
import subprocess
import tempfile
import time

RATE = 44100


def _end(p):
    if p and p.poll() is None:
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


class Display:
    """Xvfb on a display number of its own; sets DISPLAY while it runs."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self.proc = None

    def __enter__(self):
        if not shutil.which("Xvfb"):
            raise RuntimeError("Xvfb is not installed")
        for n in range(140, 200):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            log = open(os.path.join(self.log_dir, "xvfb.log"), "ab")
            self.proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                         stdout=log, stderr=log)
            for _ in range(100):
                if os.path.exists("/tmp/.X11-unix/X%d" % n) or self.proc.poll() is not None:
                    break
                time.sleep(0.05)
            if self.proc.poll() is None:
                self.old = os.environ.get("DISPLAY")
                os.environ["DISPLAY"] = ":%d" % n
                return self
        raise RuntimeError("Xvfb did not start")

    def __exit__(self, *a):
        _end(self.proc)
        if self.old is None:
            os.environ.pop("DISPLAY", None)
        else:
            os.environ["DISPLAY"] = self.old


class Sink:
    def __init__(self, log_dir):
        self.log_dir = log_dir
        self.server = None
        self.rec = None

    def __enter__(self):
        if not shutil.which("pulseaudio") or not shutil.which("parec"):
            raise RuntimeError("pulseaudio or pulseaudio-utils is not installed")
        self.dir = tempfile.mkdtemp(prefix="mirador-pulse-")
        sock = os.path.join(self.dir, "native")
        env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir, PULSE_RUNTIME_PATH=self.dir)
        log = open(os.path.join(self.log_dir, "pulseaudio.log"), "ab")
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "-L", "module-native-protocol-unix socket=%s auth-anonymous=1" % sock,
             "-L", "module-null-sink sink_name=msink rate=%d channels=2" % RATE,
             "-L", "module-always-sink"], stdout=log, stderr=log, env=env)
        self.old = os.environ.get("PULSE_SERVER")
        os.environ["PULSE_SERVER"] = "unix:" + sock
        os.environ["PULSE_SINK"] = "msink"
        for _ in range(100):
            if subprocess.run(["pactl", "info"], capture_output=True).returncode == 0:
                subprocess.run(["pactl", "set-default-sink", "msink"], capture_output=True)
                return self
            if self.server.poll() is not None:
                break
            time.sleep(0.1)
        self.__exit__()
        raise RuntimeError("PulseAudio did not start (see pulseaudio.log)")

    def record_start(self):
        self.path = os.path.join(self.log_dir, "sink.raw")
        self.out = open(self.path, "wb")
        self.rec = subprocess.Popen(["parec", "-d", "msink.monitor", "--format=s16le", "--rate=%d" % RATE,
                                     "--channels=2", "--latency-msec=20"], stdout=self.out)

    def record_stop(self):
        _end(self.rec)
        self.rec = None
        self.out.close()
        return open(self.path, "rb").read()

    def __exit__(self, *a):
        if self.rec:
            self.record_stop()
        _end(self.server)
        if self.old is None:
            os.environ.pop("PULSE_SERVER", None)
        else:
            os.environ["PULSE_SERVER"] = self.old
        os.environ.pop("PULSE_SINK", None)
        shutil.rmtree(self.dir, ignore_errors=True)


def gaps(pcm, min_ms=5.0, tail_s=0.0):
    """Stretches of silence longer than min_ms after the first sound, and the seconds
    of sound from the first sound to the last; the last tail_s seconds are not read."""
    import array
    a = array.array("h")
    a.frombytes(pcm[:len(pcm) // 4 * 4])
    n = len(a) // 2
    if tail_s:
        n = max(0, n - int(tail_s * RATE))
    quiet_run = 0
    first = last = None
    found = []
    min_frames = int(min_ms * RATE / 1000)
    start = 0
    for i in range(n):
        l, r = a[2 * i], a[2 * i + 1]
        if -2 <= l <= 2 and -2 <= r <= 2:
            if quiet_run == 0:
                start = i
            quiet_run += 1
        else:
            if first is None:
                first = i
            elif quiet_run > min_frames:
                found.append((start / RATE, quiet_run * 1000.0 / RATE))
            quiet_run = 0
            last = i
    heard = 0.0 if first is None else (last - first) / RATE
    return found, heard
