#!/usr/bin/python3
# sync_probe.py - a player whose sync is known, to measure the measuring chain itself.
#
# Opens a window (plain Xlib) and a PulseAudio playback stream (the simple API), both
# through ctypes so nothing needs building. It streams silence in 5 ms pieces; once a
# second it writes a 100 ms tone of 1 kHz, asks the server how long until the last
# byte written is played (that is the server's own account of its buffer and the
# sink's latency), and turns the window white exactly when the tone's first sample
# reaches the sink, black again 100 ms later. Measured end to end, flash and tone
# should coincide; what the measurement finds instead is the chain's own offset.
# Usage: sync_probe.py SECONDS   (DISPLAY and PULSE_SERVER name the servers)
import ctypes, math, struct, sys, threading, time

RATE = 44100
secs = float(sys.argv[1]) if len(sys.argv) > 1 else 10

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XCreateSimpleWindow.restype = ctypes.c_ulong
x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                    ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                    ctypes.c_ulong]
for name in ("XMapWindow", "XClearWindow", "XSetWindowBackground", "XStoreName"):
    getattr(x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong] + (
        [ctypes.c_ulong] if name == "XSetWindowBackground" else
        [ctypes.c_char_p] if name == "XStoreName" else [])
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

dpy = x11.XOpenDisplay(None)
if not dpy:
    sys.exit("sync_probe: no display")
win = x11.XCreateSimpleWindow(dpy, x11.XDefaultRootWindow(dpy), 100, 100, 1280, 720, 0, 0, 0)
x11.XStoreName(dpy, win, b"sync probe")
x11.XMapWindow(dpy, win)
x11.XSync(dpy, 0)


def paint(colour):
    x11.XSetWindowBackground(dpy, win, colour)
    x11.XClearWindow(dpy, win)
    x11.XSync(dpy, 0)


class SampleSpec(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("rate", ctypes.c_uint32), ("channels", ctypes.c_uint8)]


class BufferAttr(ctypes.Structure):
    _fields_ = [(n, ctypes.c_uint32) for n in ("maxlength", "tlength", "prebuf", "minreq", "fragsize")]


pa = ctypes.CDLL("libpulse-simple.so.0")
pa.pa_simple_new.restype = ctypes.c_void_p
pa.pa_simple_new.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                             ctypes.c_char_p, ctypes.POINTER(SampleSpec), ctypes.c_void_p,
                             ctypes.POINTER(BufferAttr), ctypes.POINTER(ctypes.c_int)]
pa.pa_simple_write.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_int)]
pa.pa_simple_get_latency.restype = ctypes.c_uint64
pa.pa_simple_get_latency.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
fmt = SampleSpec(3, RATE, 2)  # PA_SAMPLE_S16LE
attr = BufferAttr(0xFFFFFFFF, 4 * RATE * 20 // 1000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
err = ctypes.c_int(0)
s = pa.pa_simple_new(None, b"sync probe", 1, None, b"probe", ctypes.byref(fmt), None, ctypes.byref(attr),
                     ctypes.byref(err))
if not s:
    sys.exit("sync_probe: no PulseAudio stream (error %d)" % err.value)

piece = RATE * 5 // 1000
silence = bytes(4 * piece)
tone = [b"".join(struct.pack("<hh", v, v) for v in
                 (int(12000 * math.sin(2 * math.pi * 1000 * (k * piece + i) / RATE)) for i in range(piece)))
        for k in range(20)]   # 100 ms in 5 ms pieces
flashes = []                  # when each tone's first sample reaches the sink
lock = threading.Lock()


def sound():
    """Writes without a break (a stream that ran dry would restart late); the server
    says after each write how long until the last byte written is played."""
    start = time.monotonic()
    k = -1
    while time.monotonic() - start < secs:
        t = time.monotonic() - start
        if k < 0 and t >= 2.5 + len(flashes):
            k = 0
        pa.pa_simple_write(s, tone[k] if k >= 0 else silence, 4 * piece, ctypes.byref(err))
        if k == 0:
            lat = pa.pa_simple_get_latency(s, ctypes.byref(err)) / 1e6
            with lock:
                flashes.append(time.monotonic() + lat - piece / RATE)
        if k >= 0:
            k = k + 1 if k < len(tone) - 1 else -1


paint(0)
th = threading.Thread(target=sound)
th.start()
done = 0
while th.is_alive():
    with lock:
        due = flashes[done] if done < len(flashes) else None
    if due is None:
        time.sleep(0.001)
        continue
    if due - time.monotonic() > 0.003:
        time.sleep(due - time.monotonic() - 0.002)
    while time.monotonic() < due:
        pass
    paint(0xFFFFFF)
    time.sleep(0.1)
    paint(0)
    done += 1
