// tga.h - Truevision TGA pictures into bitmaps.
//
// Reads image types 1, 2, 3 (uncompressed colour-mapped, true-colour, greyscale) and
// 9, 10, 11 (the same, run-length coded), pixel depths 8, 15, 16, 24 and 32, colour
// maps of 15-, 16- and 24-bit entries, all four origin corners, and two- and four-way
// interleaved rows. Magenta (red > 240, green < 16, blue > 240) is keyed out to 0,
// transparent black.
//
// Limits and failures: a file is refused (no bitmap is made) when it is shorter than
// its 18-byte header, when width or height is 0 or above TGA_MAXSIDE, when the image
// type or pixel depth is not one of the above, or when a colour-mapped image has no
// map or a map of another entry size. A file that ends before its pixels do is
// decoded as far as its bytes go; the remaining pixels stay 0. Decoding never reads
// outside the given bytes nor writes outside the bitmap.
//
// The decoder (tga_readheader, tga_decode) works on bytes in memory and touches no
// GL and no registry, so it can run headless; ORB_LoadBitmap adds the file access,
// the bitmap creation and the texture upload.
#ifndef ENGINE_TGA_H
#define ENGINE_TGA_H

#include <stddef.h>
#include <stdint.h>
#include "engine/bitmap.h"

#define TGA_MAXSIDE 16384

// Loads a ".tga" file (any case) into a new registered bitmap and uploads it.
// Prints "Loading TGA image." and the decoder's lines; on failure pixels is null and
// "- ERROR: Image <name> not loaded." is printed. Other extensions print
// "File format not supported." and leave the record unchanged.
void ORB_LoadBitmap(const char *name, s_bitmap *bmp);
// ORB_LoadBitmap, then frees the pixel buffer: only the texture remains.
void ORB_LoadStaticBitmap(const char *name, s_bitmap *bmp);
// Reads the file through corefile and decodes it into a bitmap made with
// ORB_CreateBitmap (no upload). pixels is null when nothing could be loaded.
void LoadImageTGA(const char *name, s_bitmap *bmp);
// The colour (0xAARRGGBB), or 0 when it is the magenta key.
int ConvertTransp(int colour);
// Turns the ASCII letters a-z of s into upper case in place; returns s.
char *upcase(char *s);

// ---- Decoder over bytes in memory ---------------------------------------------------

// The 18-byte header, fields widened to int.
typedef struct s_tgainfo {
    int idlength;       // bytes of the ID field after the header
    int cmaptype;       // nonzero: a colour map follows the ID field
    int type;           // image type
    int cmapfirst;      // palette slot of the first map entry
    int cmaplength;     // number of map entries
    int cmapbits;       // bits per map entry
    int width, height;
    int bpp;            // bits per pixel
    int descriptor;     // 0x30 origin corner, 0x40 two-way, 0x80 four-way interleave
} s_tgainfo;

// Fills info from the first 18 bytes. Returns 1 when the picture can be decoded,
// 0 when it is refused (info is still filled when len >= 18, all 0 otherwise).
int tga_readheader(const uint8_t *data, size_t len, s_tgainfo *info);
// Decodes the file's pixels into bmp's buffer (buffer order, keyed), which must be
// the header's width x height. Pixels the file does not reach are left untouched.
// Returns 1 when every pixel was decoded, -1 when the bytes ran out first, 0 when
// the header is refused or bmp does not match it (nothing written).
int tga_decode(const uint8_t *data, size_t len, s_bitmap bmp);

#endif
