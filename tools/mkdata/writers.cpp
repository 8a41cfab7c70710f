// writers.cpp - the asset generator's file writers: TGA, WAV and PNG.
#include "tools/mkdata/writers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Growable byte buffer -------------------------------------------------------------
typedef struct mk_buf {
    uint8_t *data;
    uint32_t size, cap;
} mk_buf;

static void buf_put(mk_buf *b, const void *p, uint32_t n)
{
    if (b->size + n > b->cap) {
        uint32_t cap = b->cap ? b->cap : 4096;
        while (cap < b->size + n) cap *= 2;
        uint8_t *d = (uint8_t *)realloc(b->data, cap);
        if (!d) {
            fprintf(stderr, "mkdata: out of memory while encoding\n");
            exit(1);
        }
        b->data = d;
        b->cap = cap;
    }
    memcpy(b->data + b->size, p, n);
    b->size += n;
}

static void buf_u8(mk_buf *b, int v)
{
    uint8_t c = (uint8_t)v;
    buf_put(b, &c, 1);
}

static void buf_u16(mk_buf *b, int v)
{
    buf_u8(b, v & 255);
    buf_u8(b, (v >> 8) & 255);
}

static void buf_u32(mk_buf *b, uint32_t v)
{
    buf_u16(b, (int)(v & 0xFFFF));
    buf_u16(b, (int)(v >> 16));
}

static void buf_be32(mk_buf *b, uint32_t v)
{
    buf_u8(b, (int)(v >> 24));
    buf_u8(b, (int)(v >> 16) & 255);
    buf_u8(b, (int)(v >> 8) & 255);
    buf_u8(b, (int)v & 255);
}

// ---- TGA ---------------------------------------------------------------------------------

static const char tga_id[] = "mirador mkdata";

static int to16(uint32_t c)
{
    return 0x8000 | (int)((c >> 19) & 31) << 10 | (int)((c >> 11) & 31) << 5 | (int)((c >> 3) & 31);
}

// Appends one pixel value of `bytes` bytes, little-endian.
static void put_value(mk_buf *b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++) buf_u8(b, (int)(v >> (8 * i)) & 255);
}

uint8_t *mk_tga(const mk_image *img, int type, int depth, int mapbits, int origin, uint32_t *size)
{
    int mapped = (type == 1 || type == 9);
    int grey = (type == 3 || type == 11);
    int rle = type >= 9;
    uint32_t pal[256];
    int npal = 0;
    // Per-pixel values in file form, in the image's own (top-down) row order.
    uint32_t *val = (uint32_t *)malloc((size_t)img->w * (size_t)img->h * 4);
    if (!val) return 0;
    for (int i = 0; i < img->w * img->h; i++) {
        uint32_t c = img->px[i];
        if (mapped) {
            int k = 0;
            while (k < npal && pal[k] != c) k++;
            if (k == npal) {
                if (npal == 256) {
                    free(val);
                    return 0;
                }
                pal[npal++] = c;
            }
            val[i] = (uint32_t)k;
        } else if (grey) {
            val[i] = (c >> 8) & 255;
        } else if (depth == 16) {
            val[i] = (uint32_t)to16(c);
        } else if (depth == 24) {
            val[i] = c & 0xFFFFFF;
        } else {
            val[i] = c;
        }
    }
    int bytes = mapped || grey ? 1 : depth / 8;

    mk_buf b = {0, 0, 0};
    buf_u8(&b, (int)sizeof tga_id - 1);       // ID length
    buf_u8(&b, mapped ? 1 : 0);                // colour-map type
    buf_u8(&b, type);
    buf_u16(&b, 0);                            // first map index
    buf_u16(&b, mapped ? npal : 0);            // map length
    buf_u8(&b, mapped ? mapbits : 0);          // map entry size
    buf_u16(&b, 0);                            // x origin
    buf_u16(&b, 0);                            // y origin
    buf_u16(&b, img->w);
    buf_u16(&b, img->h);
    buf_u8(&b, mapped || grey ? 8 : depth);
    buf_u8(&b, origin | (depth == 32 ? 8 : depth == 16 ? 1 : 0));
    buf_put(&b, tga_id, (uint32_t)sizeof tga_id - 1);
    for (int k = 0; k < npal; k++) {
        if (mapbits == 16) buf_u16(&b, to16(pal[k]));
        else put_value(&b, pal[k] & 0xFFFFFF, 3);
    }
    for (int r = 0; r < img->h; r++) {
        int y = origin == MK_ORIGIN_TOP_LEFT ? r : img->h - 1 - r;
        const uint32_t *row = val + (size_t)y * img->w;
        if (!rle) {
            for (int x = 0; x < img->w; x++) put_value(&b, row[x], bytes);
            continue;
        }
        // Packets stay within a row, as most readers expect.
        int x = 0;
        while (x < img->w) {
            int run = 1;
            while (x + run < img->w && run < 128 && row[x + run] == row[x]) run++;
            if (run >= 2) {
                buf_u8(&b, 0x80 | (run - 1));
                put_value(&b, row[x], bytes);
                x += run;
                continue;
            }
            int n = 0;
            while (x + n < img->w && n < 128 && (x + n + 1 >= img->w || row[x + n] != row[x + n + 1]))
                n++;
            if (n == 0) n = 1;
            buf_u8(&b, n - 1);
            for (int i = 0; i < n; i++) put_value(&b, row[x + i], bytes);
            x += n;
        }
    }
    free(val);
    *size = b.size;
    return b.data;
}

// ---- WAV -------------------------------------------------------------------------------------

uint8_t *mk_wav(const int16_t *samples, uint32_t frames, int channels, int rate, uint32_t *size)
{
    uint32_t data = frames * (uint32_t)channels * 2;
    mk_buf b = {0, 0, 0};
    buf_put(&b, "RIFF", 4);
    buf_u32(&b, 36 + data);
    buf_put(&b, "WAVEfmt ", 8);
    buf_u32(&b, 16);
    buf_u16(&b, 1);
    buf_u16(&b, channels);
    buf_u32(&b, (uint32_t)rate);
    buf_u32(&b, (uint32_t)rate * (uint32_t)channels * 2);
    buf_u16(&b, channels * 2);
    buf_u16(&b, 16);
    buf_put(&b, "data", 4);
    buf_u32(&b, data);
    for (uint32_t i = 0; i < frames * (uint32_t)channels; i++) buf_u16(&b, (uint16_t)samples[i]);
    *size = b.size;
    return b.data;
}

// ---- PNG -------------------------------------------------------------------------------------

static uint32_t crc_table[256];

static uint32_t crc32_of(const uint8_t *p, uint32_t n)
{
    if (!crc_table[1])
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crc_table[i] = c;
        }
    uint32_t c = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < n; i++) c = crc_table[(c ^ p[i]) & 255] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

typedef struct {
    mk_buf *b;
    uint32_t bits;
    int nbits;
} bitw;

static void put_bits(bitw *w, uint32_t v, int n)
{
    w->bits |= v << w->nbits;
    w->nbits += n;
    while (w->nbits >= 8) {
        buf_u8(w->b, (int)(w->bits & 255));
        w->bits >>= 8;
        w->nbits -= 8;
    }
}

// Huffman codes go out most significant bit first.
static void put_code(bitw *w, uint32_t code, int n)
{
    uint32_t r = 0;
    for (int i = 0; i < n; i++) r |= ((code >> i) & 1) << (n - 1 - i);
    put_bits(w, r, n);
}

static void put_lit(bitw *w, int v)
{
    if (v < 144) put_code(w, 0x30 + v, 8);
    else if (v < 256) put_code(w, 0x190 + v - 144, 9);
    else if (v < 280) put_code(w, v - 256, 7);
    else put_code(w, 0xC0 + v - 280, 8);
}

static const int len_base[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                                 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const int len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                  3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const int dist_base[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
                                  257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145,
                                  8193, 12289, 16385, 24577};
static const int dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// One final deflate block with the fixed codes; matches found through a hash chain.
static void deflate_fixed(mk_buf *out, const uint8_t *p, uint32_t n)
{
    enum { HBITS = 15, WIN = 32768, CHAIN = 24 };
    int *head = (int *)malloc(sizeof(int) << HBITS);
    int *prev = (int *)malloc(sizeof(int) * (n ? n : 1));
    if (!head || !prev) {
        fprintf(stderr, "mkdata: out of memory while compressing\n");
        exit(1);
    }
    for (int i = 0; i < (1 << HBITS); i++) head[i] = -1;
    bitw w = {out, 0, 0};
    put_bits(&w, 1, 1);  // final block
    put_bits(&w, 1, 2);  // fixed Huffman codes
    uint32_t i = 0;
    while (i < n) {
        int best = 0, bestd = 0;
        if (i + 3 <= n) {
            uint32_t h = ((uint32_t)p[i] << 10 ^ (uint32_t)p[i + 1] << 5 ^ p[i + 2]) & ((1 << HBITS) - 1);
            int cand = head[h];
            for (int k = 0; k < CHAIN && cand >= 0 && i - (uint32_t)cand <= WIN; k++) {
                int l = 0;
                while (l < 258 && i + l < n && p[cand + l] == p[i + l]) l++;
                if (l > best) {
                    best = l;
                    bestd = (int)(i - (uint32_t)cand);
                }
                cand = prev[cand];
            }
            prev[i] = head[h];
            head[h] = (int)i;
        }
        if (best >= 3) {
            int c = 0;
            while (c < 28 && len_base[c + 1] <= best) c++;
            put_lit(&w, 257 + c);
            put_bits(&w, (uint32_t)(best - len_base[c]), len_extra[c]);
            int d = 0;
            while (d < 29 && dist_base[d + 1] <= bestd) d++;
            put_code(&w, (uint32_t)d, 5);
            put_bits(&w, (uint32_t)(bestd - dist_base[d]), dist_extra[d]);
            // Index the skipped positions too, so later matches can find them.
            for (uint32_t j = i + 1; j < i + (uint32_t)best && j + 3 <= n; j++) {
                uint32_t h = ((uint32_t)p[j] << 10 ^ (uint32_t)p[j + 1] << 5 ^ p[j + 2]) & ((1 << HBITS) - 1);
                prev[j] = head[h];
                head[h] = (int)j;
            }
            i += (uint32_t)best;
        } else {
            put_lit(&w, p[i]);
            i++;
        }
    }
    put_lit(&w, 256);
    if (w.nbits) put_bits(&w, 0, 8 - w.nbits);
    free(head);
    free(prev);
}

static void png_chunk(mk_buf *b, const char *type, const uint8_t *data, uint32_t n)
{
    buf_be32(b, n);
    uint32_t start = b->size;
    buf_put(b, type, 4);
    if (n) buf_put(b, data, n);
    buf_be32(b, crc32_of(b->data + start, n + 4));
}

int mk_png(const char *path, const mk_image *img)
{
    uint32_t rowbytes = (uint32_t)img->w * 3 + 1;
    uint32_t n = rowbytes * (uint32_t)img->h;
    uint8_t *raw = (uint8_t *)malloc(n);
    if (!raw) return 0;
    for (int y = 0; y < img->h; y++) {
        uint8_t *r = raw + (size_t)y * rowbytes;
        r[0] = 0;
        for (int x = 0; x < img->w; x++) {
            uint32_t c = img->px[y * img->w + x];
            r[1 + 3 * x] = (uint8_t)(c >> 16);
            r[2 + 3 * x] = (uint8_t)(c >> 8);
            r[3 + 3 * x] = (uint8_t)c;
        }
    }
    mk_buf z = {0, 0, 0};
    buf_u8(&z, 0x78);
    buf_u8(&z, 0x01);
    deflate_fixed(&z, raw, n);
    uint32_t a = 1, s = 0;
    for (uint32_t i = 0; i < n; i++) {
        a = (a + raw[i]) % 65521;
        s = (s + a) % 65521;
    }
    buf_be32(&z, s << 16 | a);
    free(raw);

    mk_buf b = {0, 0, 0};
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    buf_put(&b, sig, 8);
    mk_buf ih = {0, 0, 0};
    buf_be32(&ih, (uint32_t)img->w);
    buf_be32(&ih, (uint32_t)img->h);
    buf_u8(&ih, 8);   // bit depth
    buf_u8(&ih, 2);   // RGB
    buf_u8(&ih, 0);
    buf_u8(&ih, 0);
    buf_u8(&ih, 0);
    png_chunk(&b, "IHDR", ih.data, ih.size);
    png_chunk(&b, "IDAT", z.data, z.size);
    png_chunk(&b, "IEND", 0, 0);
    free(ih.data);
    free(z.data);
    FILE *f = fopen(path, "wb");
    int ok = f && fwrite(b.data, 1, b.size, f) == b.size;
    if (f && fclose(f)) ok = 0;
    free(b.data);
    return ok;
}
