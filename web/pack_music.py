#!/usr/bin/env python3
"""pack_music.py - the web page's smaller download of mirador.dat.

    pack_music.py build-web/mirador.dat build-web

The music is most of the resource image: one RIFF WAVE, 16-bit PCM, which hardly
compresses. Its samples are sent as FLAC (lossless), the rest of the image as it is:
  mirador-rest.dat.gz   the image without the music's sample bytes, gzipped
  music.flac            those sample bytes
  mirador-web.json      where they go back, and the SHA-256 of the whole image
The page decodes the FLAC at the music's own rate, turns each sample back into its
16-bit value, puts the bytes back and compares the result's SHA-256 with the one
recorded here; anything else (no FLAC or gzip decoder, another rate, another hash)
makes it fetch the plain mirador.dat. Without the flac tool, or without a 16-bit
PCM WAV in the image, only the plain file is offered.
"""
import gzip
import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def find_pcm(data):
    """(offset, length, rate, channels, bits) of the one WAV's sample bytes, or None."""
    i = data.find(b"RIFF")
    while i >= 0:
        if data[i + 8:i + 12] == b"WAVE":
            riff_end = i + 8 + struct.unpack_from("<I", data, i + 4)[0]
            p, fmt = i + 12, None
            while p + 8 <= min(riff_end, len(data)):
                cid, size = data[p:p + 4], struct.unpack_from("<I", data, p + 4)[0]
                if cid == b"fmt " and size >= 16:
                    fmt = struct.unpack_from("<HHIIHH", data, p + 8)
                if cid == b"data" and fmt and fmt[0] == 1 and fmt[5] == 16:
                    length = min(size, len(data) - (p + 8))
                    length -= length % (2 * fmt[1])
                    return p + 8, length, fmt[2], fmt[1], fmt[5]
                p += 8 + size + (size & 1)
        i = data.find(b"RIFF", i + 4)
    return None


def main():
    src, out = sys.argv[1], sys.argv[2]
    data = open(src, "rb").read()
    manifest = {"size": len(data), "sha256": hashlib.sha256(data).hexdigest(), "plain": "mirador.dat"}
    for stale in ("music.flac", "mirador-rest.dat.gz"):
        if os.path.exists(os.path.join(out, stale)):
            os.unlink(os.path.join(out, stale))
    pcm = find_pcm(data)
    if pcm and shutil.which("flac"):
        off, length, rate, channels, bits = pcm
        with tempfile.TemporaryDirectory() as tmp:
            raw = os.path.join(tmp, "music.raw")
            with open(raw, "wb") as f:
                f.write(data[off:off + length])
            subprocess.run(["flac", "--silent", "--best", "--force-raw-format", "--endian=little",
                            "--sign=signed", "--channels=%d" % channels, "--bps=%d" % bits,
                            "--sample-rate=%d" % rate, "-f", "-o", os.path.join(out, "music.flac"), raw],
                           check=True)
        with open(os.path.join(out, "mirador-rest.dat.gz"), "wb") as f:
            f.write(gzip.compress(data[:off] + data[off + length:], 9, mtime=0))
        manifest.update({"rest": "mirador-rest.dat.gz", "music": "music.flac", "pcm_offset": off,
                         "pcm_bytes": length, "rate": rate, "channels": channels,
                         "rest_bytes": os.path.getsize(os.path.join(out, "mirador-rest.dat.gz")),
                         "music_bytes": os.path.getsize(os.path.join(out, "music.flac"))})
    with open(os.path.join(out, "mirador-web.json"), "w") as f:
        json.dump(manifest, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
