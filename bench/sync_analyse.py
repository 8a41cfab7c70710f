#!/usr/bin/python3
# sync_analyse.py - the offset of sound against picture in one live recording.
#
#   sync_analyse.py show REC REF FIRST FROM TO   the show: REC is the live recording
#       (a small grey picture and the sink's sound, both stamped with the wall clock),
#       REF mirador-capture's file of the same periods, whose first frame is show frame
#       FIRST; only show times FROM..TO seconds are used.
#   sync_analyse.py probe REC                    sync_probe.py's flashes and tones.
#
# Show: every recorded grab that differs from the grab before (the onset of a new
# picture) is matched to the most similar frame of REF (each picture taken as zero
# mean and unit length, so a fade or a flash matters less than the shapes); grab time
# minus that frame's show time is when the show's clock stood at 0 on the screen. The
# sound is cut in 0.5 s pieces, each found in REF's sound by cross-correlation: piece
# time minus its place in REF is when the clock stood at 0 in the ear. The offset is
# ear minus screen, in ms: positive means the sound comes after the picture.
# Prints one line "offset MS ..." with the spread of both estimates, the sound's place
# at the first and last piece (a drift or an underrun shows as a change), how many
# pieces and pulses matched, the speed of the sound against the show's (1 is right)
# and the gaps: 10 ms stretches of silence heard where the music is loud.
import json, os, subprocess, sys

import numpy as np

RATE, FPS, COLS = 44100, 60, 32
DEBUG = bool(os.environ.get("SYNC_DEBUG"))
SPAN_S = 16.0  # the start's and the end's stretch of a long measurement


def probe_packets(path, stream):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                          "packet=pts_time", "-of", "csv=p=0", path], capture_output=True, text=True,
                         check=True).stdout.split()
    return np.array([float(x) for x in out if x and x != "N/A"])


def decode_video(path, crop="iw:ih:0:0"):
    """Every frame as its rows' mean grey levels (each row squeezed to COLS values),
    of the crop (w:h:x:y) given."""
    h = int(subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=height",
                            "-of", "csv=p=0", path], capture_output=True, text=True, check=True).stdout.split()[0])
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                          "crop=%s,scale=%d:%d,format=gray" % (crop, COLS, h), "-fps_mode", "passthrough", "-f", "rawvideo",
                          "-"], capture_output=True, check=True).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, h, COLS).astype(np.float32).mean(axis=2)


def sound_clock(path, rate=RATE):
    """The recording's time of every sample index: each packet of the sink's monitor is
    stamped with the wall clock, so a stretch the recorder lost (a busy machine) shifts
    nothing after it."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                          "packet=pts_time,duration_time", "-of", "csv=p=0", path], capture_output=True,
                         text=True, check=True).stdout.split()
    pts, dur = [], []
    for line in out:
        a, b = line.split(",")[:2]
        pts.append(float(a))
        dur.append(float(b))
    starts = np.concatenate([[0], np.cumsum(np.round(np.array(dur) * rate))]).astype(np.int64)
    pts = np.array(pts)

    def at(i):
        k = max(0, min(len(pts) - 1, int(np.searchsorted(starts, i, side="right")) - 1))
        return pts[k] + (i - starts[k]) / rate
    return at


def decode_sound(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar", str(RATE),
                          "-f", "s16le", "-"], capture_output=True, check=True).stdout
    return np.frombuffer(raw, np.int16).astype(np.float32)


def even_rows(h):
    """The rows that lie wholly in an even one of the picture's 540 bands (counted
    from the bottom, as the post shader counts them): the scan lines never darken them."""
    up = h - np.arange(h)  # a row's top edge, counted from the bottom
    lo, hi = np.floor((up - 1) * 540 / h), np.floor(up * 540 / h - 1e-9)
    return (lo == hi) & (lo % 2 == 0)


def pulses(rows, times):
    """Times of the show's pulses: the picture brightens at once by half or more."""
    e = rows[:, even_rows(rows.shape[1])].mean(axis=1)
    out = []
    for i in range(1, len(e)):
        if e[i] > 1.3 * e[i - 1] + 3 and (not out or times[i] - out[-1] > 0.5):
            out.append(times[i])
    return np.array(out)


def rough_zero(rows, times, ref_rows, ref_t):
    """Roughly where the show's clock stood at 0 on the screen: the shift, on a 10 ms
    grid, that best lines up the recording's brightness with the reference's (the fades
    and pulses of the whole window of periods). Good to a frame or two: the offset is
    measured around it."""
    e = rows[:, even_rows(rows.shape[1])].mean(axis=1)
    f = ref_rows[:, even_rows(ref_rows.shape[1])].mean(axis=1)
    f = (f - f.mean()) / max(f.std(), 1e-6)
    best, best_z = -2.0, None
    for z in np.arange(times[0] - ref_t[0], times[-1] - ref_t[-1], 0.01):
        g = np.interp(ref_t + z, times, e)
        sd = g.std()
        if sd < 1e-6:
            continue
        c = float(np.mean((g - g.mean()) / sd * f))
        if c > best:
            best, best_z = c, z
    return best_z


def robust(values, width):
    """Median of the values within width of the median, their spread, and how many."""
    m = np.median(values)
    near = values[np.abs(values - m) < width]
    if len(near) == 0:
        return m, float("nan"), 0
    m = np.median(near)
    return m, float(np.std(near)), len(near)


def show(rec, ref, first, t_from, t_to):
    # Screen: the pulses' onsets, recorded and in the reference.
    rv = decode_video(rec)
    rt = probe_packets(rec, "v:0")[:len(rv)]
    fv = decode_video(ref, "iw/5:ih:iw*2/5:0")  # the part of the window recorded
    ref_t = (first + np.arange(len(fv))) / FPS
    live_p = pulses(rv[:len(rt)], rt)
    ref_p = pulses(fv, ref_t)
    ref_p = ref_p[(ref_p >= t_from) & (ref_p <= t_to)]
    # Roughly where the show's clock stood at 0.
    keep = (ref_t >= t_from) & (ref_t <= t_to)
    gross = rough_zero(rv[:len(rt)], rt, fv[keep], ref_t[keep])
    if gross is None:
        print("offset nan ms (the recording does not cover periods of the reference)")
        return float("nan")
    # Ear: each piece is looked for within 0.9 s of where the rough zero puts it (the
    # music repeats bar by bar, so it is not looked for everywhere).
    rs = decode_sound(rec)
    clock = sound_clock(rec)
    fs = decode_sound(ref)
    s_from = int(round(first * RATE / FPS))  # the file's first sample is that frame's sound
    n = 1 << int(np.ceil(np.log2(len(fs) + RATE)))
    FS = np.fft.rfft(fs, n)
    energy = np.concatenate([[0.0], np.cumsum(fs.astype(np.float64) ** 2)])
    seg = RATE // 2
    zero_ear, ear_at = [], []
    for i in range(0, len(rs) - seg, seg):
        piece = rs[i:i + seg]
        if np.sqrt(np.mean(piece ** 2)) < 100:
            continue  # silence: nothing to find
        guess = clock(i) - gross  # show time of the piece, roughly
        lo = max(0, int((guess - 0.9) * RATE) - s_from)
        hi = min(len(fs) - seg, int((guess + 0.9) * RATE) - s_from)
        if hi <= lo:
            continue
        c = np.fft.irfft(np.conj(np.fft.rfft(piece, n)) * FS, n)[lo:hi]
        norm = np.sqrt(np.maximum(energy[lo + seg:hi + seg] - energy[lo:hi], 1e-9)) * np.linalg.norm(piece)
        cc = c / norm
        j = int(cc.argmax())
        show_t = (s_from + lo + j) / RATE
        if cc[j] < 0.9 or show_t < t_from or show_t > t_to:
            continue
        zero_ear.append(clock(i) - show_t)
        if DEBUG: print("piece at %.2f: show %.3f zero %.4f cc %.3f" % (clock(i) - clock(0), show_t, clock(i) - show_t, cc[j]), file=sys.stderr)
        ear_at.append(show_t)
    zero_ear = np.array(zero_ear)
    ear, ear_sd, near = robust(zero_ear, 0.05) if len(zero_ear) else (float("nan"), float("nan"), 0)
    # Each recorded pulse is the reference's pulse nearest to it by the sound's clock
    # (pulses come 1.92 s apart: offsets up to 0.9 s are told apart).
    zero_screen, pairs = [], []
    for t in live_p:
        if len(ref_p) == 0 or np.isnan(ear):
            break
        k = np.abs(ref_p - (t - ear)).argmin()
        if abs(ref_p[k] - (t - ear)) < 0.9:
            zero_screen.append(t - ref_p[k])
            pairs.append((ref_p[k], t))
    zero_screen = np.array(zero_screen)
    # The picture's speed: the pulses' spacing on the screen against the show's. Above
    # 1 the pictures run ahead within a period (and the offset drifts through it).
    pspeed = float("nan")
    steps = [(b[0] - a[0]) / (b[1] - a[1]) for a, b in zip(pairs, pairs[1:]) if b[0] > a[0] and b[1] > a[1]]
    if steps:
        pspeed = float(np.median(steps))
    if DEBUG: print("pulses: %d live, %d in the reference; zeros %s" % (len(live_p), len(ref_p), np.round(zero_screen - ear, 3)), file=sys.stderr)
    screen, screen_sd, nscreen = robust(zero_screen, 0.05) if len(zero_screen) else (float("nan"), float("nan"), 0)
    # Speed: the recording's time against the show's, over the pieces found; gaps:
    # 10 ms stretches of near silence in the recording where the music is loud.
    speed, gaps = float("nan"), 0
    if len(ear_at) >= 2:
        # The median of the steps from piece to piece: a piece found a beat off (the
        # music repeats) spoils two steps, not the whole figure.
        rec_at = np.array(ear_at) + zero_ear
        steps = np.diff(np.array(ear_at)) / np.maximum(np.diff(rec_at), 1e-9)
        speed = float(np.median(steps))
        w = RATE // 100
        for i in range(0, len(rs) - w, w):
            t = clock(i) - ear
            if t < ear_at[0] or t > ear_at[-1] + 0.5:
                continue
            j = int(round(t * RATE)) - s_from
            if j < 0 or j + w > len(fs):
                continue
            if np.sqrt(np.mean(rs[i:i + w] ** 2)) < 30 and np.sqrt(np.mean(fs[j:j + w] ** 2)) > 1000:
                gaps += 1
    off = (ear - screen) * 1000
    if DEBUG:
        for at, z in zip(ear_at, zero_ear):
            print("sound at show %.2f s: %.1f ms after the picture" % (at, (z - screen) * 1000), file=sys.stderr)
    # Over a long stretch (the whole show) the offset at its start and at its end, each
    # from the pulses and pieces of its first and last SPAN_S seconds: a picture that
    # falls behind over the show (each period lasts up to a frame longer than its
    # nominal 7700 ms) shows as a change, where the whole figure is the middle's.
    ends = ""
    if len(pairs) and len(ear_at) and ear_at[-1] - ear_at[0] >= 3 * SPAN_S:
        ref_at = np.array([p[0] for p in pairs])
        at = np.array(ear_at)
        for name, lo, hi in (("start", at[0], at[0] + SPAN_S), ("end", at[-1] - SPAN_S, at[-1] + 1)):
            zs = zero_screen[(ref_at >= lo) & (ref_at <= hi)]
            ze = zero_ear[(at >= lo) & (at <= hi)]
            e = (robust(ze, 0.05)[0] - robust(zs, 0.05)[0]) * 1000 if len(zs) and len(ze) else float("nan")
            ends += "; %s %.1f ms" % (name, e)
    first_ear = (zero_ear[0] - screen) * 1000 if len(zero_ear) else float("nan")
    last_ear = (zero_ear[-1] - screen) * 1000 if len(zero_ear) else float("nan")
    print("offset %.1f ms (screen: %d pulses, spread %.1f ms; ear: %d of %d pieces, spread %.1f ms; "
          "first piece %.1f ms at %.1f s, last %.1f ms at %.1f s%s) speed %.4f picture speed %.3f gaps %d in %.1f s" %
          (off, nscreen, screen_sd * 1000, near, len(zero_ear), ear_sd * 1000, first_ear,
           ear_at[0] if ear_at else 0, last_ear, ear_at[-1] if ear_at else 0, ends, speed, pspeed, gaps,
           ear_at[-1] + 0.5 - ear_at[0] if ear_at else 0))
    return off


def probe(rec):
    rv = decode_video(rec)
    rt = probe_packets(rec, "v:0")[:len(rv)]
    bright = rv[:len(rt)].mean(axis=1)
    on = rt[1:][(bright[1:] > 128) & (bright[:-1] <= 128)]
    rs = decode_sound(rec)
    clock = sound_clock(rec)
    loud = np.abs(rs) > 3000
    idx = np.flatnonzero(loud[1:] & ~loud[:-1]) + 1
    tones, last = [], -1e9
    for i in idx:  # the first loud sample after at least 0.3 s of quiet
        if i - last > 0.3 * RATE:
            tones.append(clock(i))
        last = i
    tones = np.array(tones)
    offs = []
    for t in on:
        if len(tones):
            k = np.abs(tones - t).argmin()
            if abs(tones[k] - t) < 0.4:
                offs.append((tones[k] - t) * 1000)
    offs = np.array(offs)
    if not len(offs):
        print("offset nan ms (no flash met a tone: %d flashes, %d tones)" % (len(on), len(tones)))
        return float("nan")
    m, sd, n = robust(offs, 30)
    print("offset %.1f ms (%d of %d flashes with their tones, spread %.1f ms)" % (m, n, len(offs), sd))
    return float(m)


if __name__ == "__main__":
    if sys.argv[1] == "show":
        show(sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6]))
    elif sys.argv[1] == "probe":
        probe(sys.argv[2])
    else:
        sys.exit("usage: sync_analyse.py show REC REF FIRST FROM TO | probe REC")
