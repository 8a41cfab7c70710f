// effects.cpp - particle rings, texture table, Julia fractal and dissolve.
#include "demo/effects.h"

#include <math.h>
#include <stdlib.h>

#include "demo/rand.h"

c_particle particle[MAXPARTICLES];
int startparticle = 0;
int *ofstab = 0;
int ofstab_w = 0, ofstab_h = 0;

// ---- Particle rings ------------------------------------------------------------------------
void SpawnTunnel(int x, int y, int angle)
{
    for (int i = 0; i < 30; i++) {
        // Wrapping add: a start angle near the int range must not overflow.
        int a = (int)((uint32_t)angle + 12u * (uint32_t)i);
        float px = (float)(sin(a * 0.017453292519943295) * 20 + x);
        float py = (float)(cos(a * 0.017453292519943295) * 20 + y);
        int colour = orb_rand() % 3;
        particle[startparticle].Spawn(px, py, a, 1, colour, 100);
        startparticle += 1;
        if (startparticle > MAXPARTICLES - 1) startparticle = 0;
    }
}

void DrawTunnel(void)
{
    for (int i = 0; i < MAXPARTICLES; i++) {
        particle[i].Draw();
        particle[i].Handle();
    }
}

// ---- Texture table ---------------------------------------------------------------------------
void InitTextureTab(int w, int h)
{
    free(ofstab);
    ofstab = 0;
    ofstab_w = ofstab_h = 0;
    if (w <= 0 || h <= 0) return;
    ofstab = (int *)malloc((size_t)w * (size_t)h * sizeof(int));
    if (!ofstab) return;
    ofstab_w = w;
    ofstab_h = h;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            int dx = x - w / 2;
            int dy = y - h / 2;
            // Angle from the downward axis, -128..128 around the centre.
            int a = (int)(atan2((double)dx, (double)dy) / M_PI * 128);
            ofstab[y * w + x] = 256 + ((3 * a) & 0xFF);
        }
    }
}

void DrawTextureTab(int cx, int cy, int rot, int shift, uint8_t shade, uint32_t *texels,
                    s_bitmap target)
{
    (void)cx;
    (void)cy;
    // The pass reads 480x270 table entries and up to 65536 texels: without a table
    // of that size or without a texture there is nothing to draw.
    if (!ofstab || ofstab_w * ofstab_h < TEXTAB_W * TEXTAB_H || !texels) return;
    if (!target.pixels) return;

    // Unsigned arithmetic: the 16-bit result is the same, and no shift value can
    // overflow a signed product.
    uint32_t add = ((0u - (uint32_t)shift) * 256u + (uint32_t)rot) & 0xFFFF;
    uint32_t s = shade;
    for (int y = 0; y < TEXTAB_H; y++) {
        const int *row = ofstab + y * TEXTAB_W;
        for (int x = 0; x < TEXTAB_W; x++) {
            uint32_t t = ((uint32_t)row[x] + add) & 0xFFFF;
            uint32_t c = texels[t];
            uint32_t r = ((c & 0xFF0000) * s >> 8) & 0xFF0000;
            uint32_t g = ((c & 0xFF00) * s >> 8) & 0xFF00;
            uint32_t b = ((c & 0xFF) * s >> 8) & 0xFF;
            ORB_DrawPixel(x, y, 0xFF000000u | r | g | b, target);
        }
    }
}

// ---- Julia fractal -----------------------------------------------------------------------------
void DrawJulia(int cr, int ci, int phase, s_bitmap target)
{
    if (!target.pixels) return;
    int W = target.width, H = target.height;
    int hw = W >> 1, hh = H >> 1;
    for (int y = 0; y < H; y++) {
        // phase 0 takes the odd columns of even rows and the even columns of odd
        // rows; phase 1 the other half.
        int off = phase == 0 ? ((y & 1) == 0 ? 1 : 0) : ((y & 1) == 0 ? 0 : 1);
        for (int x = 0; x < W; x += 2) {
            // 64-bit: equal to the 32-bit iteration wherever that one is defined,
            // and still defined for parameters near the int range.
            int64_t zx = x - hw, zy = y - hh;
            int n = 0;
            while (zx * zx + zy * zy <= 39999 && n <= 13) {
                int64_t p = cr + zx * zx - zy * zy;
                int64_t q = ci + 2 * zx * zy;
                zx = p >> 7;
                zy = q >> 6;
                n += 1;
            }
            uint32_t v = (uint32_t)n * 8;
            uint32_t colour = 0xFF000000u | v * 0x10000 | v * 0x100 | 2 * v;
            int px = x + off;
            ORB_DrawPixel(px, y, colour, target);
            ORB_DrawPixel(W - px, H - y, colour, target);
        }
    }
}

// ---- Dissolve ------------------------------------------------------------------------------------
static uint32_t dissolve_part(uint32_t ca, uint32_t cb, uint32_t m, uint32_t inv, uint32_t mix)
{
    return (((ca & m) * inv >> 8) & m) + (((cb & m) * mix >> 8) & m);
}

void DissolveBitmap(s_bitmap a, s_bitmap b, s_bitmap target, int mix)
{
    const int64_t need = (int64_t)TEXTAB_W * TEXTAB_H;
    // Both sources are read as 129600 consecutive words: a missing or smaller
    // picture would be read past its end.
    if (!a.pixels || !b.pixels || !target.pixels) return;
    if ((int64_t)a.width * a.height < need || (int64_t)b.width * b.height < need) return;

    uint32_t m = (uint32_t)mix, inv = 255u - (uint32_t)mix;
    const uint32_t *pa = a.pixels, *pb = b.pixels;
    for (int y = 0; y < TEXTAB_H; y++) {
        for (int x = 0; x < TEXTAB_W; x++) {
            uint32_t ca = *pa++, cb = *pb++;
            uint32_t c = 0xFF000000u | dissolve_part(ca, cb, 0xFF0000, inv, m) |
                         dissolve_part(ca, cb, 0xFF00, inv, m) | dissolve_part(ca, cb, 0xFF, inv, m);
            ORB_DrawPixel(x, y, c, target);
        }
    }
}
