// tga.cpp - Truevision TGA decoder and loader. See tga.h for what is read and refused.
#include "engine/tga.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "corefile/corefile.h"
#include "engine/video.h"

// ---- Small helpers ------------------------------------------------------------------

int ConvertTransp(int colour)
{
    uint32_t c = (uint32_t)colour;
    uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if (r > 240 && g < 16 && b > 240) return 0;
    return colour;
}

char *upcase(char *s)
{
    for (char *p = s; *p; p++)
        if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
    return s;
}

// 15/16-bit value to engine colour: five bits per channel moved to the top of the
// byte; the top bit (attribute/alpha in some writers) is ignored.
static inline uint32_t tga_rgb16(uint32_t v)
{
    uint32_t r = ((v >> 10) << 3) & 0xFF;
    uint32_t g = ((v >> 5) << 3) & 0xFF;
    uint32_t b = (v << 3) & 0xFF;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// One pixel of BYTES bytes at p to an engine colour 0xAARRGGBB. One-byte pixels are
// grey levels (GREY) or palette indices.
template <int BYTES, bool GREY>
static inline uint32_t tga_read(const uint8_t *p, const uint32_t *pal)
{
    if (BYTES == 1) return GREY ? 0xFF000000u + p[0] * 0x010101u : pal[p[0]];
    if (BYTES == 2) return tga_rgb16((uint32_t)p[0] | (uint32_t)p[1] << 8);
    if (BYTES == 3) return 0xFF000000u | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    memcpy(&v, p, 4);   // bytes blue, green, red, alpha are 0xAARRGGBB little-endian
    return v;
#else
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
#endif
}

// Keys an engine colour and turns it into buffer order (red and blue exchanged).
static inline uint32_t tga_store(uint32_t c)
{
    // ConvertTransp without branches, so the row loops can be vectorised.
    uint32_t key = (((c >> 16) & 0xFF) > 240) & (((c >> 8) & 0xFF) < 16) & ((c & 0xFF) > 240);
    c &= key - 1u;
    return (c & 0xFF00FF00u) | ((c >> 16) & 0xFF) | ((c & 0xFF) << 16);
}

// ---- Header -----------------------------------------------------------------------

int tga_readheader(const uint8_t *data, size_t len, s_tgainfo *h)
{
    memset(h, 0, sizeof(*h));
    if (!data || len < 18) return 0;
    h->idlength = data[0];
    h->cmaptype = data[1];
    h->type = data[2];
    h->cmapfirst = data[3] | data[4] << 8;
    h->cmaplength = data[5] | data[6] << 8;
    h->cmapbits = data[7];
    h->width = data[12] | data[13] << 8;
    h->height = data[14] | data[15] << 8;
    h->bpp = data[16];
    h->descriptor = data[17];

    int t = h->type;
    if (t != 1 && t != 2 && t != 3 && t != 9 && t != 10 && t != 11) return 0;
    int d = h->bpp;
    if (d != 8 && d != 15 && d != 16 && d != 24 && d != 32) return 0;
    if (h->width < 1 || h->height < 1 || h->width > TGA_MAXSIDE || h->height > TGA_MAXSIDE)
        return 0;
    if (t == 1 || t == 9) {
        // colour-mapped pictures need a map whose entries we can read
        if (!h->cmaptype) return 0;
        int e = h->cmapbits;
        if (e != 15 && e != 16 && e != 24) return 0;
    }
    return 1;
}

// ---- Pixel data -------------------------------------------------------------------

// n pixels from p into row, left to right. The pointers never overlap (file bytes
// and pixel buffer are separate blocks); saying so lets the compiler vectorise.
template <int B, bool G>
static void tga_row(const uint8_t *__restrict p, uint32_t *__restrict row, int n,
                    const uint32_t *pal)
{
    // Blocks of four pixels with a fixed count, which the compiler turns into
    // vector code at -O2; then the rest one by one.
    int x = 0;
    for (; x + 4 <= n; x += 4)
        for (int k = 0; k < 4; k++)
            row[x + k] = tga_store(tga_read<B, G>(p + (size_t)(x + k) * B, pal));
    for (; x < n; x++) row[x] = tga_store(tga_read<B, G>(p + (size_t)x * B, pal));
}

// Uncompressed rows. Pass j of an interleaved file holds the rows j, j + passes,
// j + 2 * passes ... counted from the origin corner, so every row is written once.
template <int B, bool G>
static int tga_raw(const uint8_t *p, const uint8_t *end, const s_tgainfo *h,
                   const uint32_t *pal, uint32_t *pix)
{
    int w = h->width, ht = h->height;
    int passes = (h->descriptor & 0x80) ? 4 : (h->descriptor & 0x40) ? 2 : 1;
    bool right = (h->descriptor & 0x10) != 0;
    bool top = (h->descriptor & 0x20) != 0;
    for (int j = 0; j < passes; j++) {
        for (int r = j; r < ht; r += passes) {
            uint32_t *row = pix + (size_t)(top ? r : ht - 1 - r) * (size_t)w;
            size_t avail = (size_t)(end - p) / B;
            int n = avail < (size_t)w ? (int)avail : w;
            if (right) {
                for (int x = 0; x < n; x++, p += B) row[w - 1 - x] = tga_store(tga_read<B, G>(p, pal));
            } else {
                tga_row<B, G>(p, row, n, pal);
                p += (size_t)n * B;
            }
            if (n < w) return -1;
        }
    }
    return 1;
}

// Run-length packets: a header byte, then one pixel repeated (bit 7 set) or
// (header & 0x7F) + 1 pixels (bit 7 clear). Packets may cross rows; interleave bits
// are not applied. Pixels beyond the last row are dropped.
template <int B, bool G>
static int tga_rle(const uint8_t *p, const uint8_t *end, const s_tgainfo *h,
                   const uint32_t *pal, uint32_t *pix)
{
    int w = h->width, ht = h->height;
    bool right = (h->descriptor & 0x10) != 0;
    bool top = (h->descriptor & 0x20) != 0;
    size_t total = (size_t)w * (size_t)ht, count = 0;
    int c = 0, r = 0;
    uint32_t *row = pix + (size_t)(top ? 0 : ht - 1) * (size_t)w;
    ptrdiff_t rowstep = top ? w : -(ptrdiff_t)w;
    while (count < total) {
        if (p >= end) return -1;
        int hdr = *p++;
        size_t n = (size_t)(hdr & 0x7F) + 1;
        if (n > total - count) n = total - count;
        bool run = (hdr & 0x80) != 0;
        uint32_t v = 0;
        if (run) {
            if (end - p < B) return -1;
            v = tga_store(tga_read<B, G>(p, pal));
            p += B;
        }
        for (size_t k = 0; k < n; k++) {
            if (!run) {
                if (end - p < B) return -1;
                v = tga_store(tga_read<B, G>(p, pal));
                p += B;
            }
            row[right ? w - 1 - c : c] = v;
            count++;
            if (++c == w) {
                c = 0;
                if (++r < ht) row += rowstep;
            }
        }
    }
    return 1;
}

typedef int (*tga_decodefn)(const uint8_t *, const uint8_t *, const s_tgainfo *,
                            const uint32_t *, uint32_t *);

int tga_decode(const uint8_t *data, size_t len, s_bitmap bmp)
{
    s_tgainfo h;
    if (!tga_readheader(data, len, &h)) return 0;
    if (!bmp.pixels || bmp.width != h.width || bmp.height != h.height ||
        (int64_t)bmp.numpixels < (int64_t)h.width * h.height)
        return 0;

    const uint8_t *end = data + len;
    size_t pos = 18 + (size_t)h.idlength;

    // Palette: 256 engine colours, cleared; entry i lands in slot first + i, entries
    // beyond slot 255 are consumed and dropped. Maps of other entry sizes are skipped
    // whole, so the pixels that follow are still found.
    uint32_t pal[256];
    memset(pal, 0, sizeof(pal));
    if (h.cmaptype) {
        int e = h.cmapbits;
        size_t eb = (e == 15 || e == 16) ? 2 : (e == 24) ? 3 : ((size_t)e + 7) / 8;
        for (int i = 0; i < h.cmaplength; i++) {
            if (pos > len || len - pos < eb) return -1;
            const uint8_t *q = data + pos;
            pos += eb;
            int slot = h.cmapfirst + i;
            if (slot > 255) continue;
            if (e == 24) pal[slot] = tga_read<3, false>(q, pal);
            else if (e == 15 || e == 16) pal[slot] = tga_read<2, false>(q, pal);
        }
    }
    if (pos > len) return -1;
    const uint8_t *p = data + pos;

    bool grey = (h.type == 3 || h.type == 11);
    bool rle = h.type >= 8;
    tga_decodefn fn;
    switch (h.bpp) {
    case 8:
        if (grey) fn = rle ? tga_rle<1, true> : tga_raw<1, true>;
        else fn = rle ? tga_rle<1, false> : tga_raw<1, false>;
        break;
    case 15:
    case 16: fn = rle ? tga_rle<2, false> : tga_raw<2, false>; break;
    case 24: fn = rle ? tga_rle<3, false> : tga_raw<3, false>; break;
    default: fn = rle ? tga_rle<4, false> : tga_raw<4, false>; break;
    }
    return fn(p, end, &h, pal, bmp.pixels);
}

// ---- Loading ------------------------------------------------------------------------

void LoadImageTGA(const char *name, s_bitmap *bmp)
{
    s_corefile f;
    memset(&f, 0, sizeof(f));
    if (!corefile_open(name, &f, 0)) {
        bmp->pixels = NULL;
        return;
    }
    size_t len = f.size > 0 ? (size_t)f.size : 0;
    // Zeroed, so bytes a short read leaves behind are defined.
    uint8_t *data = (uint8_t *)calloc(len ? len : 1, 1);
    if (!data) {
        corefile_close(&f);
        bmp->pixels = NULL;
        return;
    }
    if (len) corefile_read(data, 1, (int)len, &f);
    corefile_close(&f);

    s_tgainfo h;
    int ok = tga_readheader(data, len, &h);
    if (len >= 18) printf("width: %d, height: %d, bpp: %d\n", h.width, h.height, h.bpp);
    if (!ok) {
        free(data);
        bmp->pixels = NULL;
        return;
    }

    ORB_CreateBitmap(h.width, h.height, bmp);
    if (!bmp->pixels) {
        free(data);
        return;
    }
    // Pixels a short file does not reach come out transparent black, not as
    // whatever the allocator left there.
    memset(bmp->pixels, 0, (size_t)h.width * (size_t)h.height * 4);
    if (h.type >= 8) printf("TGA is RLE packed.");
    tga_decode(data, len, *bmp);
    free(data);
}

// ORB_LoadBitmap's work; 1 when a bitmap was loaded and uploaded.
static int tga_loadbitmap(const char *name, s_bitmap *bmp)
{
    // The extension runs from the last '.' (not the name's first character) to the
    // end; 16 characters or more cannot be a supported one.
    char ext[16] = "";
    const char *dot = strrchr(name, '.');
    if (dot && dot != name) {
        size_t n = strlen(dot);
        if (n < sizeof(ext)) memcpy(ext, dot, n + 1);
    }
    upcase(ext);
    if (strcmp(ext, ".TGA") != 0) {
        puts("File format not supported.");
        return 0;
    }
    printf("Loading TGA image.");
    LoadImageTGA(name, bmp);
    if (!bmp->pixels) {
        printf("- ERROR: Image %s not loaded.\n", name);
        return 0;
    }
    ORB_UpdateTexture(*bmp);
    return 1;
}

void ORB_LoadBitmap(const char *name, s_bitmap *bmp)
{
    tga_loadbitmap(name, bmp);
}

void ORB_LoadStaticBitmap(const char *name, s_bitmap *bmp)
{
    // Only a buffer this call loaded is freed: a refused name leaves the record,
    // and whatever it points at, alone.
    if (tga_loadbitmap(name, bmp)) {
        free(bmp->pixels);
        bmp->pixels = NULL;
    }
}
