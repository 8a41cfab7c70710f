// voxel.cpp - voxel landscape: height sampling, camera, line drawing, sky.
#include "demo/voxel.h"

#include <stdlib.h>

const int sin64tab[256] = {
         0,   1608,   3215,   4821,   6423,   8022,   9616,  11204,
     12785,  14359,  15923,  17479,  19024,  20557,  22078,  23586,
     25079,  26557,  28020,  29465,  30893,  32302,  33692,  35061,
     36409,  37736,  39039,  40319,  41575,  42806,  44011,  45189,
     46340,  47464,  48558,  49624,  50660,  51665,  52639,  53581,
     54491,  55368,  56212,  57022,  57797,  58538,  59243,  59913,
     60547,  61144,  61705,  62228,  62714,  63162,  63571,  63943,
     64276,  64571,  64826,  65043,  65220,  65358,  65457,  65516,
     65535,  65516,  65457,  65358,  65220,  65043,  64826,  64571,
     64276,  63943,  63571,  63162,  62714,  62228,  61705,  61144,
     60547,  59913,  59243,  58538,  57797,  57022,  56212,  55368,
     54491,  53581,  52639,  51665,  50660,  49624,  48558,  47464,
     46340,  45189,  44011,  42806,  41575,  40319,  39039,  37736,
     36409,  35061,  33692,  32302,  30893,  29465,  28020,  26557,
     25079,  23586,  22078,  20557,  19024,  17479,  15923,  14359,
     12785,  11204,   9616,   8022,   6423,   4821,   3215,   1608,
         0,  -1608,  -3215,  -4821,  -6423,  -8022,  -9616, -11204,
    -12785, -14359, -15923, -17479, -19024, -20557, -22078, -23586,
    -25079, -26557, -28020, -29465, -30893, -32302, -33692, -35061,
    -36409, -37736, -39039, -40319, -41575, -42806, -44011, -45189,
    -46340, -47464, -48558, -49624, -50660, -51665, -52639, -53581,
    -54491, -55368, -56212, -57022, -57797, -58538, -59243, -59913,
    -60547, -61144, -61705, -62228, -62714, -63162, -63571, -63943,
    -64276, -64571, -64826, -65043, -65220, -65358, -65457, -65516,
    -65535, -65516, -65457, -65358, -65220, -65043, -64826, -64571,
    -64276, -63943, -63571, -63162, -62714, -62228, -61705, -61144,
    -60547, -59913, -59243, -58538, -57797, -57022, -56212, -55368,
    -54491, -53581, -52639, -51665, -50660, -49624, -48558, -47464,
    -46340, -45189, -44011, -42806, -41575, -40319, -39039, -37736,
    -36409, -35061, -33692, -32302, -30893, -29465, -28020, -26557,
    -25079, -23586, -22078, -20557, -19024, -17479, -15923, -14359,
    -12785, -11204,  -9616,  -8022,  -6423,  -4821,  -3215,  -1608,
};

const int cos64tab[256] = {
     65535,  65516,  65457,  65358,  65220,  65043,  64826,  64571,
     64276,  63943,  63571,  63162,  62714,  62228,  61705,  61144,
     60547,  59913,  59243,  58538,  57797,  57022,  56212,  55368,
     54491,  53581,  52639,  51665,  50660,  49624,  48558,  47464,
     46340,  45189,  44011,  42806,  41575,  40319,  39039,  37736,
     36409,  35061,  33692,  32302,  30893,  29465,  28020,  26557,
     25079,  23586,  22078,  20557,  19024,  17479,  15923,  14359,
     12785,  11204,   9616,   8022,   6423,   4821,   3215,   1608,
         0,  -1608,  -3215,  -4821,  -6423,  -8022,  -9616, -11204,
    -12785, -14359, -15923, -17479, -19024, -20557, -22078, -23586,
    -25079, -26557, -28020, -29465, -30893, -32302, -33692, -35061,
    -36409, -37736, -39039, -40319, -41575, -42806, -44011, -45189,
    -46340, -47464, -48558, -49624, -50660, -51665, -52639, -53581,
    -54491, -55368, -56212, -57022, -57797, -58538, -59243, -59913,
    -60547, -61144, -61705, -62228, -62714, -63162, -63571, -63943,
    -64276, -64571, -64826, -65043, -65220, -65358, -65457, -65516,
    -65535, -65516, -65457, -65358, -65220, -65043, -64826, -64571,
    -64276, -63943, -63571, -63162, -62714, -62228, -61705, -61144,
    -60547, -59913, -59243, -58538, -57797, -57022, -56212, -55368,
    -54491, -53581, -52639, -51665, -50660, -49624, -48558, -47464,
    -46340, -45189, -44011, -42806, -41575, -40319, -39039, -37736,
    -36409, -35061, -33692, -32302, -30893, -29465, -28020, -26557,
    -25079, -23586, -22078, -20557, -19024, -17479, -15923, -14359,
    -12785, -11204,  -9616,  -8022,  -6423,  -4821,  -3215,  -1608,
         0,   1608,   3215,   4821,   6423,   8022,   9616,  11204,
     12785,  14359,  15923,  17479,  19024,  20557,  22078,  23586,
     25079,  26557,  28020,  29465,  30893,  32302,  33692,  35061,
     36409,  37736,  39039,  40319,  41575,  42806,  44011,  45189,
     46340,  47464,  48558,  49624,  50660,  51665,  52639,  53581,
     54491,  55368,  56212,  57022,  57797,  58538,  59243,  59913,
     60547,  61144,  61705,  62228,  62714,  63162,  63571,  63943,
     64276,  64571,  64826,  65043,  65220,  65358,  65457,  65516,
};

int scape_sintab[256], scape_costab[256];
uint8_t *voxel_heightmap = 0;
s_bitmap voxel_colorbmp, voxel_skybmp;
int lasty[VOXEL_MAXWIDTH];
int lastcr[VOXEL_MAXWIDTH], lastcg[VOXEL_MAXWIDTH], lastcb[VOXEL_MAXWIDTH];

// Map cell and fractions of a 16.16 position. Only bits 8..23 matter, so positions
// are carried as unsigned words: a camera that has flown far wraps around the map
// exactly as the signed arithmetic would, without overflowing.
typedef struct {
    int c, c1;      // column and its right neighbour, 0..255
    int r, r1;      // row x 256 and the row below, 0..0xFF00
    int fx, fy;     // fractions, 0..255
} s_mapcell;

static s_mapcell voxel_cell(uint32_t x, uint32_t y)
{
    s_mapcell m;
    m.c = (int)((x >> 16) & 0xFF);
    m.fx = (int)((x >> 8) & 0xFF);
    m.r = (int)((y >> 8) & 0xFF00);
    m.fy = (int)((y >> 8) & 0xFF);
    m.c1 = (m.c + 1) & 0xFF;
    m.r1 = (m.r + 0x100) & 0xFF00;
    return m;
}

// Bilinear height x 4 (0..1020).
static int voxel_height4(const s_mapcell *m)
{
    const uint8_t *map = voxel_heightmap;
    int h00 = map[m->r + m->c], h10 = map[m->r + m->c1];
    int h01 = map[m->r1 + m->c], h11 = map[m->r1 + m->c1];
    int top = h00 * 256 + (h10 - h00) * m->fx;
    int bottom = h01 * 256 + (h11 - h01) * m->fx;
    return (top * 256 + (bottom - top) * m->fy) >> 14;
}

// One channel of the colour map, bilinear, as 8.16 fixed point with a zero fraction.
static int voxel_channel(uint32_t q00, uint32_t q10, uint32_t q01, uint32_t q11, int shift,
                         int fx, int fy)
{
    int a00 = (int)((q00 >> shift) & 0xFF), a10 = (int)((q10 >> shift) & 0xFF);
    int a01 = (int)((q01 >> shift) & 0xFF), a11 = (int)((q11 >> shift) & 0xFF);
    int top = a00 * 256 + (a10 - a00) * fx;
    int bottom = a01 * 256 + (a11 - a01) * fx;
    return (top * 256 + (bottom - top) * fy) & 0xFF0000;
}

// The colour map is addressed as 256x256 texels: it needs 65536 pixels.
static int voxel_colours_ok(void)
{
    return voxel_colorbmp.pixels && (int64_t)voxel_colorbmp.width * voxel_colorbmp.height >= 65536;
}

void initvoxel(s_bitmap heights, s_bitmap colours, s_bitmap sky)
{
    voxel_colorbmp = colours;
    voxel_skybmp = sky;
    for (int i = 0; i < 256; i++) {
        scape_sintab[i] = sin64tab[i];
        scape_costab[i] = cos64tab[i];
    }
    if (!voxel_heightmap) voxel_heightmap = (uint8_t *)malloc(65536);
    if (!voxel_heightmap) return;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            voxel_heightmap[y * 256 + x] = (uint8_t)(ORB_GetPixel(x, y, heights) & 0xFF);
}

void calccamera(s_camera *c)
{
    int h4 = 0;
    if (voxel_heightmap) {
        s_mapcell m = voxel_cell((uint32_t)c->x, (uint32_t)c->y);
        h4 = voxel_height4(&m);
    }
    // 64-bit, saturated: an absurd eye height must not overflow the level.
    int64_t z = (int64_t)255 - h4 - c->height;
    if (z > INT32_MAX) z = INT32_MAX;
    if (z < INT32_MIN) z = INT32_MIN;
    c->z = (int32_t)z;
}

// Shared set-up of a line: nothing to draw without a height map, pixels, or a
// width of at least 2 (the horizon step divides by half the width).
static int voxel_linecols(s_bitmap target)
{
    if (!voxel_heightmap || !target.pixels || target.width < 2 || target.height <= 0) return 0;
    return target.width < VOXEL_MAXWIDTH ? target.width : VOXEL_MAXWIDTH;
}

void voxelline(int x1, int y1, int x2, int y2, int z, int scale, int roll, s_bitmap target)
{
    int cols = voxel_linecols(target);
    if (!cols || !voxel_colours_ok()) return;
    const uint32_t *cm = voxel_colorbmp.pixels;
    uint32_t *pix = target.pixels;
    int W = target.width, H = target.height;

    // 64-bit horizon and projection: the same numbers as 32-bit arithmetic for
    // any sensible roll and eye level, and no overflow for the others.
    int32_t mx = (int32_t)((uint32_t)x2 - (uint32_t)x1) / W;
    int32_t my = (int32_t)((uint32_t)y2 - (uint32_t)y1) / W;
    int64_t hs = (-(int64_t)roll * 65536) / (W >> 1);
    int64_t h = ((int64_t)roll + (H >> 1)) * 65536;
    uint32_t x = (uint32_t)x1, y = (uint32_t)y1;

    for (int i = 0; i < cols; i++) {
        s_mapcell m = voxel_cell(x, y);
        int h4 = voxel_height4(&m);

        // Colour: texels 16 apart per map cell, interpolated by the same fractions.
        int cc = (m.c << 4) & 0xFF, cc1 = (m.c1 << 4) & 0xFF;
        int rr = (m.r << 4) & 0xFF00, rr1 = (m.r1 << 4) & 0xFF00;
        uint32_t q00 = cm[rr + cc], q10 = cm[rr + cc1], q01 = cm[rr1 + cc], q11 = cm[rr1 + cc1];
        int CR = voxel_channel(q00, q10, q01, q11, 16, m.fx, m.fy);
        int CG = voxel_channel(q00, q10, q01, q11, 8, m.fx, m.fy);
        int CB = voxel_channel(q00, q10, q01, q11, 0, m.fx, m.fy);

        int64_t row = (h >> 16) + ((((int64_t)255 - h4) - z) * scale >> 11);
        if (row < lasty[i]) {
            if (lastcr[i] == -1) lastcr[i] = CR;
            if (lastcg[i] == -1) lastcg[i] = CG;
            if (lastcb[i] == -1) lastcb[i] = CB;
            int64_t n = lasty[i] - row;
            int64_t dR = (CR - lastcr[i]) / n, dG = (CG - lastcg[i]) / n, dB = (CB - lastcb[i]) / n;
            int64_t R = lastcr[i], G = lastcg[i], B = lastcb[i];
            int top = lasty[i];
            if (top >= H) {
                int64_t k = top - H + 1;
                R += dR * k;
                G += dG * k;
                B += dB * k;
                top = H - 1;
            }
            int stop = row < 0 ? 0 : (int)row;
            for (int j = top; j > stop; j--) {
                uint32_t c = ((uint32_t)R & 0xFF0000) + (((uint32_t)G & 0xFF0000) >> 8) +
                             (((uint32_t)B & 0xFF0000) >> 16);
                pix[(size_t)j * W + i] = c | 0xFF000000u;
                R += dR;
                G += dG;
                B += dB;
            }
            lasty[i] = stop;
        }
        // Hidden or not, this sample starts the next span of the column.
        lastcr[i] = CR;
        lastcg[i] = CG;
        lastcb[i] = CB;

        x += (uint32_t)mx;
        y += (uint32_t)my;
        h += hs;
    }
}

void voxelline_fast(int x1, int y1, int x2, int y2, int z, int scale, int roll, s_bitmap target)
{
    int cols = voxel_linecols(target);
    if (!cols || !voxel_colours_ok()) return;
    const uint32_t *cm = voxel_colorbmp.pixels;
    uint32_t *pix = target.pixels;
    int W = target.width, H = target.height;

    int32_t mx = (int32_t)((uint32_t)x2 - (uint32_t)x1) / W;
    int32_t my = (int32_t)((uint32_t)y2 - (uint32_t)y1) / W;
    int64_t hs = (-(int64_t)roll * 65536) / (W >> 1);
    int64_t h = ((int64_t)roll + (H >> 1)) * 65536;
    uint32_t x = (uint32_t)x1, y = (uint32_t)y1;

    for (int i = 0; i < cols; i++) {
        s_mapcell m = voxel_cell(x, y);
        int h4 = voxel_height4(&m);
        uint32_t c = cm[m.r + m.c] | 0xFF000000u;

        int64_t row = (h >> 16) + ((((int64_t)255 - h4) - z) * scale >> 11);
        if (row < lasty[i]) {
            int top = lasty[i] < H ? lasty[i] : H - 1;
            int stop = row < 0 ? 0 : (int)row;
            for (int j = top; j > stop; j--) pix[(size_t)j * W + i] = c;
            lasty[i] = stop;
        }
        x += (uint32_t)mx;
        y += (uint32_t)my;
        h += hs;
    }
}

// Occlusion and colour buffers back to "nothing drawn" for a W x H target.
static void voxel_reset(int W, int H)
{
    int cols = W < VOXEL_MAXWIDTH ? W : VOXEL_MAXWIDTH;
    for (int i = 0; i < cols; i++) {
        lasty[i] = H - 1;
        lastcr[i] = lastcg[i] = lastcb[i] = -1;
    }
}

// Ends of the line at distance d along the two edges of the view.
static void voxel_lineends(const s_camera *c, int d, int *x1, int *y1, int *x2, int *y2)
{
    int aL = (c->angle - c->fov) & 0xFF, aR = (c->angle + c->fov) & 0xFF;
    *x1 = (int32_t)((uint32_t)c->x + (uint32_t)(scape_costab[aL] * d));
    *y1 = (int32_t)((uint32_t)c->y + (uint32_t)(scape_sintab[aL] * d));
    *x2 = (int32_t)((uint32_t)c->x + (uint32_t)(scape_costab[aR] * d));
    *y2 = (int32_t)((uint32_t)c->y + (uint32_t)(scape_sintab[aR] * d));
}

void drawvoxel(s_camera *c, s_bitmap background, s_bitmap target)
{
    int W = target.width, H = target.height;
    voxel_reset(W, H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            ORB_DrawPixel(x, y, ORB_GetPixel(x, y, background), target);

    // Front to back: every map cell up to distance 63, then every second one.
    for (int d = 0; d <= 99; d += (d >> 6) + 1) {
        int x1, y1, x2, y2;
        voxel_lineends(c, d, &x1, &y1, &x2, &y2);
        voxelline(x1, y1, x2, y2, c->z, 25600 / (d + 1), c->roll, target);
    }
}

void drawvoxel_fast(s_camera *c, s_bitmap target)
{
    voxel_reset(target.width, target.height);
    for (int d = 0; d <= 255; d += (d >> 6) + 1) {
        int x1, y1, x2, y2;
        voxel_lineends(c, d, &x1, &y1, &x2, &y2);
        voxelline_fast(x1, y1, x2, y2, c->z, 25600 / (d + 1), c->roll, target);
    }
}

void drawsky(s_camera *c, s_bitmap target)
{
    const uint32_t *sky = voxel_skybmp.pixels;
    int W = target.width, H = target.height;
    if (!sky || !target.pixels || W < 2 || H <= 0) return;
    // The sky is addressed as rows of 256 texels; rows above or below the map
    // repeat its first or last row rather than read outside it.
    int64_t skyrows = ((int64_t)voxel_skybmp.width * voxel_skybmp.height) / 256;
    if (skyrows <= 0) return;

    int64_t p = (32 - (int64_t)c->roll) * 65536;
    int64_t step = ((int64_t)c->roll * 65536) / (W >> 1);
    int o = 4 * c->angle;
    int cols = W < VOXEL_MAXWIDTH ? W : VOXEL_MAXWIDTH;
    for (int i = 0; i < cols; i++) {
        int64_t srow = p >> 16;
        int scol = (o + i) & 0xFF;
        int last = lasty[i] < H - 1 ? lasty[i] : H - 1;
        for (int j = 0; j <= last; j++) {
            int64_t r = srow + j;
            if (r < 0) r = 0;
            if (r > skyrows - 1) r = skyrows - 1;
            target.pixels[(size_t)j * W + i] = sky[r * 256 + scol];
        }
        p += step;
    }
}
