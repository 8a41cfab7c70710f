// draw.cpp - drawing for the asset generator: images with coverage, colours,
// deterministic maths, antialiased shapes, and text through FreeType.
#include "tools/mkdata/mkdata.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef MKDATA_HAVE_FREETYPE
#error "mkdata needs FreeType (Debian: libfreetype-dev) to draw the text of the pictures; run scripts/setup.sh"
#endif
#include <ft2build.h>
#include FT_FREETYPE_H

// ---- Images -----------------------------------------------------------------------

mk_image mk_new(int w, int h, uint32_t fill)
{
    mk_image img;
    img.w = w;
    img.h = h;
    img.px = (uint32_t *)malloc((size_t)w * (size_t)h * 4);
    if (!img.px) {
        fprintf(stderr, "mkdata: out of memory for a %dx%d picture\n", w, h);
        exit(1);
    }
    for (int i = 0; i < w * h; i++) img.px[i] = fill;
    return img;
}

void mk_free(mk_image *img)
{
    free(img->px);
    img->px = 0;
    img->w = img->h = 0;
}

uint32_t mk_get(const mk_image *img, int x, int y)
{
    if (x < 0 || y < 0 || x >= img->w || y >= img->h) return 0;
    return img->px[y * img->w + x];
}

void mk_set(mk_image *img, int x, int y, uint32_t c)
{
    if (x < 0 || y < 0 || x >= img->w || y >= img->h) return;
    img->px[y * img->w + x] = c;
}

void mk_blend(mk_image *img, int x, int y, uint32_t c, int cover)
{
    if (x < 0 || y < 0 || x >= img->w || y >= img->h || cover <= 0) return;
    if (cover > 255) cover = 255;
    uint32_t *p = &img->px[y * img->w + x];
    int sa = (int)(c >> 24) * cover / 255;
    if (sa == 0) return;
    int da = (int)(*p >> 24);
    int dw = da * (255 - sa) / 255;     // what is left of the destination
    int oa = sa + dw;
    uint32_t out = (uint32_t)oa << 24;
    for (int sh = 0; sh <= 16; sh += 8) {
        int s = (int)(c >> sh) & 255, d = (int)(*p >> sh) & 255;
        int v = (s * sa + d * dw + oa / 2) / oa;
        out |= (uint32_t)v << sh;
    }
    *p = out;
}

// A colour that the loader would take for the key is nudged off it.
static uint32_t unkey(uint32_t c)
{
    int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    if (r > 240 && g < 16 && b > 240) g = 16;
    return 0xFF000000u | (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b;
}

void mk_finish(mk_image *img)
{
    for (int i = 0; i < img->w * img->h; i++)
        img->px[i] = (img->px[i] >> 24) >= 128 ? unkey(img->px[i]) : MK_KEY;
}

void mk_opaque(mk_image *img)
{
    for (int i = 0; i < img->w * img->h; i++) img->px[i] = unkey(img->px[i]);
}

// ---- Colours ----------------------------------------------------------------------

const uint32_t mk_pal[PAL_COUNT] = {
    0xFF0B0A1Au, // NIGHT
    0xFF16122Eu, // INK
    0xFF251A52u, // INDIGO
    0xFF4A2A7Eu, // VIOLET
    0xFF7E2F86u, // PLUM
    0xFFB83A7Eu, // ROSE
    0xFFEC4D7Fu, // PINK
    0xFFFF7A5Cu, // CORAL
    0xFFFFA640u, // ORANGE
    0xFFFFD66Bu, // GOLD
    0xFFFFF1D2u, // CREAM
    0xFF20B2AAu, // TEAL
    0xFF7FF2DCu, // MINT
    0xFF5B8CFFu, // SKY
    0xFFFFFFFFu, // WHITE
};

static int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

uint32_t mk_rgb(int r, int g, int b)
{
    return 0xFF000000u | (uint32_t)clamp255(r) << 16 | (uint32_t)clamp255(g) << 8 |
           (uint32_t)clamp255(b);
}

uint32_t mk_lerp(uint32_t a, uint32_t b, int t)
{
    if (t < 0) t = 0;
    if (t > 256) t = 256;
    uint32_t out = 0;
    for (int sh = 0; sh <= 24; sh += 8) {
        int x = (int)(a >> sh) & 255, y = (int)(b >> sh) & 255;
        out |= (uint32_t)((x * (256 - t) + y * t) >> 8) << sh;
    }
    return out;
}

uint32_t mk_ramp(const uint32_t *stops, int n, int t)
{
    if (n == 1) return stops[0];
    if (t < 0) t = 0;
    if (t > 65535) t = 65535;
    int seg = t * (n - 1);            // < 65536 * 16
    int i = seg >> 16;
    int f = (seg & 0xFFFF) >> 8;
    if (i >= n - 1) return stops[n - 1];
    return mk_lerp(stops[i], stops[i + 1], f);
}

uint32_t mk_scale(uint32_t c, int s)
{
    int r = ((c >> 16) & 255) * s >> 8, g = ((c >> 8) & 255) * s >> 8, b = (c & 255) * s >> 8;
    return (c & 0xFF000000u) | (uint32_t)clamp255(r) << 16 | (uint32_t)clamp255(g) << 8 |
           (uint32_t)clamp255(b);
}

uint32_t mk_alpha(uint32_t c, int a) { return (c & 0xFFFFFFu) | (uint32_t)clamp255(a) << 24; }

// ---- Shapes -------------------------------------------------------------------------------

void mk_fill_rect(mk_image *img, int x, int y, int w, int h, uint32_t c)
{
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++) mk_blend(img, i, j, c, 255);
}

typedef int (*inside_fn)(double x, double y, const void *ctx);

// Covers the pixels of a box with 4x4 samples of an inside test.
static void cover_box(mk_image *img, double x0, double y0, double x1, double y1, uint32_t c,
                      inside_fn in, const void *ctx)
{
    int ix0 = (int)floor(x0) - 1, iy0 = (int)floor(y0) - 1;
    int ix1 = (int)ceil(x1) + 1, iy1 = (int)ceil(y1) + 1;
    if (ix0 < 0) ix0 = 0;
    if (iy0 < 0) iy0 = 0;
    if (ix1 > img->w) ix1 = img->w;
    if (iy1 > img->h) iy1 = img->h;
    for (int y = iy0; y < iy1; y++)
        for (int x = ix0; x < ix1; x++) {
            int n = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++)
                    n += in(x + (sx + 0.5) * 0.25, y + (sy + 0.5) * 0.25, ctx);
            if (n) mk_blend(img, x, y, c, n * 255 / 16);
        }
}

typedef struct { double cx, cy, r0, r1; } ring_ctx;

static int in_ring(double x, double y, const void *p)
{
    const ring_ctx *c = (const ring_ctx *)p;
    double d = (x - c->cx) * (x - c->cx) + (y - c->cy) * (y - c->cy);
    return d <= c->r1 * c->r1 && d >= c->r0 * c->r0;
}

void mk_disc(mk_image *img, double cx, double cy, double r, uint32_t c)
{
    ring_ctx k = {cx, cy, 0, r};
    cover_box(img, cx - r, cy - r, cx + r, cy + r, c, in_ring, &k);
}

void mk_ring(mk_image *img, double cx, double cy, double r, double width, uint32_t c)
{
    ring_ctx k = {cx, cy, r - width * 0.5, r + width * 0.5};
    cover_box(img, cx - k.r1, cy - k.r1, cx + k.r1, cy + k.r1, c, in_ring, &k);
}

typedef struct { double x0, y0, x1, y1, r; } cap_ctx;

static int in_capsule(double x, double y, const void *p)
{
    const cap_ctx *c = (const cap_ctx *)p;
    double dx = c->x1 - c->x0, dy = c->y1 - c->y0;
    double l = dx * dx + dy * dy;
    double t = l > 0 ? ((x - c->x0) * dx + (y - c->y0) * dy) / l : 0;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    double ex = x - (c->x0 + dx * t), ey = y - (c->y0 + dy * t);
    return ex * ex + ey * ey <= c->r * c->r;
}

void mk_capsule(mk_image *img, double x0, double y0, double x1, double y1, double r, uint32_t c)
{
    cap_ctx k = {x0, y0, x1, y1, r};
    cover_box(img, (x0 < x1 ? x0 : x1) - r, (y0 < y1 ? y0 : y1) - r, (x0 > x1 ? x0 : x1) + r,
              (y0 > y1 ? y0 : y1) + r, c, in_capsule, &k);
}

typedef struct { double x, y, w, h, r; } rr_ctx;

static int in_rrect(double x, double y, const void *p)
{
    const rr_ctx *c = (const rr_ctx *)p;
    if (x < c->x || y < c->y || x > c->x + c->w || y > c->y + c->h) return 0;
    double qx = x < c->x + c->r ? c->x + c->r - x : x > c->x + c->w - c->r ? x - (c->x + c->w - c->r) : 0;
    double qy = y < c->y + c->r ? c->y + c->r - y : y > c->y + c->h - c->r ? y - (c->y + c->h - c->r) : 0;
    return qx * qx + qy * qy <= c->r * c->r;
}

void mk_rrect(mk_image *img, double x, double y, double w, double h, double r, uint32_t c)
{
    rr_ctx k = {x, y, w, h, r};
    cover_box(img, x, y, x + w, y + h, c, in_rrect, &k);
}

typedef struct { const double *xy; int n; } poly_ctx;

static int in_poly(double x, double y, const void *p)
{
    const poly_ctx *c = (const poly_ctx *)p;
    int in = 0;
    for (int i = 0, j = c->n - 1; i < c->n; j = i++) {
        double xi = c->xy[2 * i], yi = c->xy[2 * i + 1], xj = c->xy[2 * j], yj = c->xy[2 * j + 1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

void mk_poly(mk_image *img, const double *xy, int n, uint32_t c)
{
    double x0 = xy[0], y0 = xy[1], x1 = xy[0], y1 = xy[1];
    for (int i = 1; i < n; i++) {
        if (xy[2 * i] < x0) x0 = xy[2 * i];
        if (xy[2 * i] > x1) x1 = xy[2 * i];
        if (xy[2 * i + 1] < y0) y0 = xy[2 * i + 1];
        if (xy[2 * i + 1] > y1) y1 = xy[2 * i + 1];
    }
    poly_ctx k = {xy, n};
    cover_box(img, x0, y0, x1, y1, c, in_poly, &k);
}

// ---- Masks and text --------------------------------------------------------------------------

mk_mask mk_mask_new(int w, int h)
{
    mk_mask m;
    m.w = w;
    m.h = h;
    m.a = (uint8_t *)calloc((size_t)(w > 0 ? w : 1) * (size_t)(h > 0 ? h : 1), 1);
    if (!m.a) {
        fprintf(stderr, "mkdata: out of memory for a %dx%d mask\n", w, h);
        exit(1);
    }
    return m;
}

void mk_mask_free(mk_mask *m)
{
    free(m->a);
    m->a = 0;
}

static FT_Library ft_lib;
static FT_Face ft_faces[3];
static const char *const ft_files[3] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
};

static FT_Face face_at(int face, int px)
{
    if (!ft_lib && FT_Init_FreeType(&ft_lib)) {
        fprintf(stderr, "mkdata: FreeType does not start\n");
        exit(1);
    }
    if (!ft_faces[face] && FT_New_Face(ft_lib, ft_files[face], 0, &ft_faces[face])) {
        fprintf(stderr, "mkdata: cannot load %s (Debian: fonts-dejavu-core)\n", ft_files[face]);
        exit(1);
    }
    FT_Set_Pixel_Sizes(ft_faces[face], 0, (FT_UInt)px);
    return ft_faces[face];
}

// Lays out text: calls draw for each glyph with its pen position (26.6) when m is given.
static int layout(int face, int px, int tracking, const char *text, mk_mask *m, int baseline)
{
    FT_Face f = face_at(face, px);
    long pen = 0;
    FT_UInt prev = 0;
    for (const unsigned char *s = (const unsigned char *)text; *s; s++) {
        FT_UInt gi = FT_Get_Char_Index(f, *s);
        if (prev && FT_HAS_KERNING(f)) {
            FT_Vector k;
            FT_Get_Kerning(f, prev, gi, FT_KERNING_DEFAULT, &k);
            pen += k.x;
        }
        if (FT_Load_Glyph(f, gi, FT_LOAD_RENDER)) continue;
        FT_GlyphSlot g = f->glyph;
        if (m) {
            int ox = (int)((pen + 32) >> 6) + g->bitmap_left + 2, oy = baseline - g->bitmap_top;
            for (unsigned r = 0; r < g->bitmap.rows; r++)
                for (unsigned c = 0; c < g->bitmap.width; c++) {
                    int x = ox + (int)c, y = oy + (int)r;
                    if (x < 0 || y < 0 || x >= m->w || y >= m->h) continue;
                    int v = g->bitmap.buffer[r * g->bitmap.pitch + c];
                    int old = m->a[y * m->w + x];
                    m->a[y * m->w + x] = (uint8_t)(old + v > 255 ? 255 : old + v);
                }
        }
        pen += g->advance.x + (long)tracking * 64;
        prev = gi;
    }
    if (*text) pen -= (long)tracking * 64;
    return (int)((pen + 63) >> 6);
}

int mk_text_advance(int face, int px, const char *text, int *ascent)
{
    FT_Face f = face_at(face, px);
    if (ascent) *ascent = (int)((f->size->metrics.ascender + 63) >> 6);
    return layout(face, px, 0, text, 0, 0);
}

mk_mask mk_text(int face, int px, int tracking, const char *text)
{
    FT_Face f = face_at(face, px);
    int asc = (int)((f->size->metrics.ascender + 63) >> 6);
    int desc = (int)((-f->size->metrics.descender + 63) >> 6);
    int w = layout(face, px, tracking, text, 0, 0) + 4;
    mk_mask m = mk_mask_new(w, asc + desc);
    layout(face, px, tracking, text, &m, asc);
    return m;
}

mk_mask mk_dilate(const mk_mask *m, int r)
{
    mk_mask o = mk_mask_new(m->w + 2 * r, m->h + 2 * r);
    for (int y = 0; y < o.h; y++)
        for (int x = 0; x < o.w; x++) {
            int best = 0;
            for (int dy = -r; dy <= r && best < 255; dy++)
                for (int dx = -r; dx <= r; dx++) {
                    if (dx * dx + dy * dy > r * r + r) continue;
                    int sx = x - r + dx, sy = y - r + dy;
                    if (sx < 0 || sy < 0 || sx >= m->w || sy >= m->h) continue;
                    int v = m->a[sy * m->w + sx];
                    if (v > best) best = v;
                }
            o.a[y * o.w + x] = (uint8_t)best;
        }
    return o;
}

void mk_paint_mask(mk_image *img, const mk_mask *m, int x, int y, const uint32_t *stops, int nstops)
{
    for (int j = 0; j < m->h; j++) {
        uint32_t c = mk_ramp(stops, nstops, m->h > 1 ? j * 65535 / (m->h - 1) : 0);
        for (int i = 0; i < m->w; i++) {
            int a = m->a[j * m->w + i];
            if (a) mk_blend(img, x + i, y + j, c, a);
        }
    }
}

int mk_caption(mk_image *img, int face, int px, int tracking, const char *text, int cx, int y,
               const uint32_t *stops, int nstops, uint32_t outline, int outline_r, int shadow)
{
    mk_mask t = mk_text(face, px, tracking, text);
    mk_mask o = mk_dilate(&t, outline_r);
    int x = cx - t.w / 2;
    if (shadow) {
        uint32_t sc = mk_alpha(mk_pal[PAL_NIGHT], 255);
        mk_paint_mask(img, &o, x - outline_r + shadow, y - outline_r + shadow, &sc, 1);
    }
    mk_paint_mask(img, &o, x - outline_r, y - outline_r, &outline, 1);
    mk_paint_mask(img, &t, x, y, stops, nstops);
    int w = t.w;
    mk_mask_free(&t);
    mk_mask_free(&o);
    return w;
}
