#!/usr/bin/env bash
# Regenerates the reference data for the TGA tests with ImageMagick (convert).
# Run once from this folder; the results are committed so the tests do not need it.
#   *.png.rgba     the expected pictures beside the sample TGAs, as raw RGBA bytes
#   im/*.tga       pictures written by ImageMagick: types 1, 2, 3, 9, 10, 11 with 8,
#                  16, 24 and 32 bits, origin top-left (tl) and bottom-left (bl)
#   im/*.tga.rgba  ImageMagick's own decoding of each, oriented by the file's origin
#                  corner, raw RGBA, rows top to bottom
set -euo pipefail
cd "$(dirname "$0")"
for p in *.png; do convert "$p" -depth 8 "rgba:$p.rgba"; done

# 37x23 source: a smooth colour ramp (long runs in the top rows, varied pixels
# below), a magenta block (the key colour) and an alpha ramp.
src=im/source.pam
python3 - "$src" <<'PY'
import sys
w, h = 37, 23
out = bytearray()
for y in range(h):
    for x in range(w):
        if y < 4:
            px = (40, 200, 90, 255)
        elif 10 <= x < 14 and 8 <= y < 11:
            px = (255, 0, 255, 255)
        else:
            px = (255 * x // (w - 1), 255 * y // (h - 1), 255 * ((x * 7 + y * 13) % 37) // 36,
                  255 * (x + 1) // w)
        out += bytes(px)
hdr = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, h)
open(sys.argv[1], "wb").write(hdr.encode() + out)
PY
mk() { # name, convert options...
  local name=$1; shift
  for o in tl bl; do
    # Bottom-left is the writer's default. This ImageMagick writes the rows top
    # first whatever corner it records, and reads them back in file order unless
    # asked to orient the result (-auto-orient): a bottom-left file therefore holds
    # the source upside down, and its oriented decoding shows it so.
    local orient="-orient TopLeft"; [ $o = bl ] && orient=""
    convert "$src" "$@" $orient "im/${name}_$o.tga"
    convert "im/${name}_$o.tga" -auto-orient -depth 8 "rgba:im/${name}_$o.tga.rgba"
  done
}
mk t2_24 -alpha off -type TrueColor -compress None
mk t10_24 -alpha off -type TrueColor -compress RLE
mk t2_32 -type TrueColorAlpha -compress None
mk t10_32 -type TrueColorAlpha -compress RLE
mk t2_16 -alpha off -depth 5 -type TrueColor -compress None
mk t10_16 -alpha off -depth 5 -type TrueColor -compress RLE
mk t1_8 -alpha off -type Palette -compress None
mk t9_8 -alpha off -type Palette -compress RLE
mk t3_8 -alpha off -type Grayscale -compress None
mk t11_8 -alpha off -type Grayscale -compress RLE
